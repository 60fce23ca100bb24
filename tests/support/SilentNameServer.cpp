#include "support/SilentNameServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

namespace mirandel::test {

namespace {

// Written in the private folder and mounted over their namesakes in /etc. Long timeouts: a
// lookup started in a test stays stuck for the whole test. Hosts by the files and the name
// server only: no cache daemon or other service gets the question.
constexpr std::pair<const char*, const char*> kFiles[] = {
    {"/resolv.conf", "nameserver 127.0.0.1\noptions timeout:30 attempts:5\n"},
    {"/nsswitch.conf", "hosts: files dns\n"}};

std::string failed(const std::string& what) { return what + ": " + std::strerror(errno); }

}  // namespace

SilentNameServer::SilentNameServer() { failure_ = setUp(); }

std::string SilentNameServer::setUp() {
  std::stringstream hosts;
  hosts << std::ifstream("/etc/hosts").rdbuf();
  if (hosts.str().find("mirandel.test") != std::string::npos)
    return "/etc/hosts names mirandel.test: the lookups would not reach the name server";

  if (unshare(CLONE_NEWNS) != 0) return failed("unshare(CLONE_NEWNS)");
  // Private first: without it the bind mounts below could show through in the namespace we
  // came from.
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return failed("making / private");

  char dir[] = "/tmp/mirandel-dns-XXXXXX";
  if (!mkdtemp(dir)) return failed("mkdtemp");
  dir_ = dir;
  for (const auto& [name, text] : kFiles) {
    const std::string path = dir_ + name, target = "/etc" + std::string(name);
    if (!(std::ofstream(path) << text)) return failed("writing " + path);
    if (mount(path.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0)
      return failed("mounting " + target);
  }
  // A running name service cache daemon is reached through a file socket, which no network
  // namespace fences off; an empty directory over its own hides it.
  struct stat nscd {};
  if (stat("/var/run/nscd", &nscd) == 0 &&
      mount("none", "/var/run/nscd", "tmpfs", 0, "size=4k") != 0)
    return failed("hiding nscd");

  fd_ = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(53);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd_ < 0 || bind(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0)
    return failed("binding 127.0.0.1:53");
  return {};
}

SilentNameServer::~SilentNameServer() {
  if (fd_ >= 0) close(fd_);
  if (dir_.empty()) return;
  for (const auto& [name, text] : kFiles) {
    umount2(("/etc" + std::string(name)).c_str(), MNT_DETACH);
    unlink((dir_ + name).c_str());
  }
  rmdir(dir_.c_str());
}

int SilentNameServer::queries() {
  Query q;
  q.bytes.resize(512);
  socklen_t size = sizeof q.from;
  for (;;) {
    const ssize_t n = recvfrom(fd_, q.bytes.data(), q.bytes.size(), MSG_DONTWAIT,
                               reinterpret_cast<sockaddr*>(&q.from), &size);
    if (n < 0) break;
    ++queries_;
    if (n < 12) continue;  // no DNS header
    unanswered_.push_back({q.from, {q.bytes.begin(), q.bytes.begin() + n}});
  }
  return queries_;
}

void SilentNameServer::answerNoSuchName() {
  queries();
  for (Query& q : unanswered_) {
    // The question itself, turned into a response (QR) with the code NXDOMAIN and no answers.
    q.bytes[2] |= 0x80;
    q.bytes[3] = 0x80 | 3;
    sendto(fd_, q.bytes.data(), q.bytes.size(), 0, reinterpret_cast<const sockaddr*>(&q.from),
           sizeof q.from);
  }
  unanswered_.clear();
}

}  // namespace mirandel::test
