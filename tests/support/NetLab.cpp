#include "support/NetLab.h"

#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <future>

namespace mirandel::test {

NetLab::NetLab() {
  thread_ = std::thread(&NetLab::serve, this);
  std::unique_lock lock(mutex_);
  wake_.wait(lock, [&] { return ready_; });
  const bool unshared = unshared_;
  lock.unlock();
  ok_ = unshared && ipPeer("link set lo up");
}

NetLab::~NetLab() {
  for (const std::string& link : hostLinks_) ipHost("link del " + link);
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void NetLab::serve() {
  // Namespaces belong to threads: unsharing here moves only this thread (and
  // threads it starts) into the new namespace.
  const bool unshared = ::unshare(CLONE_NEWNET) == 0;
  {
    std::lock_guard lock(mutex_);
    peerTid_ = static_cast<int>(::syscall(SYS_gettid));
    unshared_ = unshared;
    ready_ = true;
  }
  wake_.notify_all();
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return stop_ || !tasks_.empty(); });
      if (tasks_.empty()) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }
}

void NetLab::runInPeer(const std::function<void()>& task) {
  std::promise<void> done;
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back([&] {
      task();
      done.set_value();
    });
  }
  wake_.notify_all();
  done.get_future().wait();
}

bool NetLab::shell(const std::string& command) {
  const std::string quiet = command + " >/dev/null 2>&1";
  return std::system(quiet.c_str()) == 0;
}

bool NetLab::ipHost(const std::string& args) { return shell("ip " + args); }

bool NetLab::ipPeer(const std::string& args) {
  return shell("nsenter --net=/proc/" + std::to_string(peerTid_) + "/ns/net ip " + args);
}

bool NetLab::addLink(const std::string& hostIf, const std::string& hostCidr,
                     const std::string& peerIf, const std::string& peerCidr) {
  if (!ipHost("link add " + hostIf + " type veth peer name " + peerIf + " netns " +
              std::to_string(peerTid_))) {
    return false;
  }
  hostLinks_.push_back(hostIf);
  return ipHost("addr add " + hostCidr + " brd + dev " + hostIf) &&
         ipHost("link set " + hostIf + " up") &&
         ipPeer("addr add " + peerCidr + " brd + dev " + peerIf) &&
         ipPeer("link set " + peerIf + " up");
}

}  // namespace mirandel::test
