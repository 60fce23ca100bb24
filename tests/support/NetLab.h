#pragma once
// A second network namespace for two-host tests: a "peer" (the phone's side)
// joined to the test's own namespace by veth pairs. Must itself run inside a
// private namespace (tests registered with NETNS), as root.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mirandel::test {

class NetLab {
 public:
  // Creates the peer namespace (held by a thread of this process) with its loopback up. Check ok().
  NetLab();
  // Removes the links made by addLink and ends the peer namespace.
  ~NetLab();
  NetLab(const NetLab&) = delete;
  NetLab& operator=(const NetLab&) = delete;

  bool ok() const { return ok_; }

  // A veth pair: `hostIf` with `hostCidr` (e.g. "169.254.1.1/16") here,
  // `peerIf` with `peerCidr` in the peer, both up with their subnet broadcast.
  bool addLink(const std::string& hostIf, const std::string& hostCidr, const std::string& peerIf,
               const std::string& peerCidr);
  // Runs `ip <args>` here / in the peer; true on success.
  bool ipHost(const std::string& args);
  bool ipPeer(const std::string& args);

  // Runs `task` on a thread that lives in the peer namespace and waits for it.
  // Sockets opened there belong to the peer, whichever thread uses them later.
  void runInPeer(const std::function<void()>& task);

 private:
  void serve();
  bool shell(const std::string& command);

  std::thread thread_;
  int peerTid_ = 0;
  bool ok_ = false;
  std::vector<std::string> hostLinks_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;  // guarded by mutex_
  bool stop_ = false;                        // guarded by mutex_
  bool ready_ = false;                       // guarded by mutex_
  bool unshared_ = false;                    // guarded by mutex_
};

}  // namespace mirandel::test
