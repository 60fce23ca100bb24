#include "support/NetLab.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

namespace mirandel::test {

NetLab::NetLab() {
  // Namespaces belong to threads: unsharing moves only this passing thread, and the open file
  // keeps its namespace once the thread has ended.
  std::thread([this] {
    if (::unshare(CLONE_NEWNET) == 0)
      peer_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  }).join();
  ok_ = peer_ >= 0 && ipPeer("link set lo up");
}

NetLab::~NetLab() {
  for (const std::string& link : hostLinks_) ipHost("link del " + link);
  if (peer_ >= 0) ::close(peer_);
}

void NetLab::runInPeer(const std::function<void()>& task) {
  std::thread([&] {
    if (::setns(peer_, CLONE_NEWNET) == 0) task();
  }).join();
}

bool NetLab::ipHost(const std::string& args) {
  return std::system(("ip " + args + " >/dev/null 2>&1").c_str()) == 0;
}

// A child process starts in the namespace of the thread that forked it.
bool NetLab::ipPeer(const std::string& args) {
  bool done = false;
  runInPeer([&] { done = ipHost(args); });
  return done;
}

bool NetLab::addLink(const std::string& hostIf, const std::string& hostCidr,
                     const std::string& peerIf, const std::string& peerCidr) {
  const std::string peer = "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(peer_);
  if (!ipHost("link add " + hostIf + " type veth peer name " + peerIf + " netns " + peer))
    return false;
  hostLinks_.push_back(hostIf);
  return ipHost("addr add " + hostCidr + " brd + dev " + hostIf) &&
         ipHost("link set " + hostIf + " up") &&
         ipPeer("addr add " + peerCidr + " brd + dev " + peerIf) &&
         ipPeer("link set " + peerIf + " up");
}

}  // namespace mirandel::test
