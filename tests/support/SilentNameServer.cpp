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

namespace mirandel::test {

namespace {

// Long timeouts: a lookup started in a test stays stuck for the whole test.
constexpr const char* kResolvConf = "nameserver 127.0.0.1\noptions timeout:30 attempts:5\n";
// Only the files and the name server: no cache daemon or other service gets the question.
constexpr const char* kNsswitchConf = "hosts: files dns\n";

bool writeFile(const std::string& path, const char* text) {
  std::ofstream out(path);
  out << text;
  return static_cast<bool>(out);
}

bool bindOver(const std::string& source, const char* target) {
  return mount(source.c_str(), target, nullptr, MS_BIND, nullptr) == 0;
}

std::string failed(const std::string& what) { return what + ": " + std::strerror(errno); }

}  // namespace

SilentNameServer::SilentNameServer() { failure_ = setUp(); }

std::string SilentNameServer::setUp() {
  std::ifstream hosts("/etc/hosts");
  std::stringstream text;
  text << hosts.rdbuf();
  if (text.str().find("mirandel.test") != std::string::npos) {
    return "/etc/hosts names mirandel.test: the lookups would not reach the name server";
  }

  if (unshare(CLONE_NEWNS) != 0) return failed("unshare(CLONE_NEWNS)");
  // Private first: without it the bind mounts below could show through in the namespace we
  // came from.
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return failed("making / private");

  char dir[] = "/tmp/mirandel-dns-XXXXXX";
  if (!mkdtemp(dir)) return failed("mkdtemp");
  dir_ = dir;
  if (!writeFile(dir_ + "/resolv.conf", kResolvConf) ||
      !writeFile(dir_ + "/nsswitch.conf", kNsswitchConf))
    return failed("writing the configuration");
  if (!bindOver(dir_ + "/resolv.conf", "/etc/resolv.conf")) return failed("mounting resolv.conf");
  if (!bindOver(dir_ + "/nsswitch.conf", "/etc/nsswitch.conf"))
    return failed("mounting nsswitch.conf");
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
  umount2("/etc/resolv.conf", MNT_DETACH);
  umount2("/etc/nsswitch.conf", MNT_DETACH);
  unlink((dir_ + "/resolv.conf").c_str());
  unlink((dir_ + "/nsswitch.conf").c_str());
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
