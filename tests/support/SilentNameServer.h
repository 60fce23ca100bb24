#pragma once
// A name server that takes every query and never answers, for tests of what waits on name
// resolution. Constructing it moves the calling thread (and every thread it starts from then on)
// into a private mount namespace in which /etc/resolv.conf names 127.0.0.1, where this object
// holds the UDP port 53, and /etc/nsswitch.conf resolves hosts by "files dns" only. Nothing
// changes outside the namespace. Needs root and a private network namespace (NETNS tests); and
// it must come first in a test, before any thread that should see it is started.
#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <vector>

namespace mirandel::test {

class SilentNameServer {
 public:
  // A name that /etc/hosts does not know, so looking it up asks this server.
  static constexpr const char* kName = "phone.mirandel.test";
  static constexpr const char* kOtherName = "other.mirandel.test";

  SilentNameServer();
  ~SilentNameServer();
  SilentNameServer(const SilentNameServer&) = delete;
  SilentNameServer& operator=(const SilentNameServer&) = delete;

  // Empty when the set-up worked, else what failed.
  const std::string& failure() const { return failure_; }
  // Queries received so far. Test thread.
  int queries();
  // Answers every query received so far that is still unanswered with "no such name", so the
  // lookups waiting for them end. Test thread.
  void answerNoSuchName();

 private:
  // Empty when it worked, else what failed.
  std::string setUp();

  std::string failure_;
  std::string dir_;  // holds the files mounted over /etc
  int fd_ = -1;
  int queries_ = 0;
  struct Query {
    sockaddr_in from;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<Query> unanswered_;
};

}  // namespace mirandel::test
