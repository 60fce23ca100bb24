#pragma once
// A second network namespace for two-host tests: a "peer" (the phone's side)
// joined to the test's own namespace by veth pairs. Must itself run inside a
// private namespace (tests registered with NETNS), as root.
#include <functional>
#include <string>
#include <vector>

namespace mirandel::test {

class NetLab {
 public:
  // Creates the peer namespace with its loopback up. Check ok().
  NetLab();
  // Removes the links made by addLink and lets the peer namespace go.
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

  // Runs `task` on a thread of the peer namespace and waits for it. Sockets opened there belong
  // to the peer, whichever thread uses them later, and so do the threads and processes it starts.
  void runInPeer(const std::function<void()>& task);

 private:
  int peer_ = -1;  // the peer namespace, held open
  bool ok_ = false;
  std::vector<std::string> hostLinks_;
};

}  // namespace mirandel::test
