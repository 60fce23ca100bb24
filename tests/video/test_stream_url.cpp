#include <gtest/gtest.h>

#include <string>

#include "video/StreamUrl.h"

namespace mirandel {
namespace {

struct UrlCase {
  const char* text;
  bool ok;
  const char* host;  // expected host when ok
  int port;          // expected port when ok (9010 when the text names none)
};

// Guards the address rules the clip relies on: white space removal, the exact-case scheme,
// the cut at '?' or '/', one colon versus several, and which texts leave the port untouched.
const UrlCase kCases[] = {
    {"srt://192.168.1.20:7001?latency=80", true, "192.168.1.20", 7001},
    {"192.168.1.20", true, "192.168.1.20", 9010},
    {"phone.local:", true, "phone.local", 9010},
    {":7001", false, "", 0},
    {"srt:// 10.0.0.7 : 9020 /live", true, "10.0.0.7", 9020},
    {"\t10.0.0.7\n", true, "10.0.0.7", 9010},
    {"SRT://10.0.0.7", true, "SRT", 9010},
    {"fe80::1", true, "fe80::1", 9010},
    {"[fe80::1]:9020", true, "[fe80::1]:9020", 9010},
    {"10.0.0.7:90a0", true, "10.0.0.7", 9010},
    {"10.0.0.7:+80", true, "10.0.0.7", 9010},
    {"10.0.0.7/x:1", true, "10.0.0.7", 9010},
    {"10.0.0.7:1", true, "10.0.0.7", 1},
    {"10.0.0.7:65535", true, "10.0.0.7", 65535},
    {"10.0.0.7:0009010", true, "10.0.0.7", 9010},
    {"", false, "", 0},
    {"   ", false, "", 0},
    {"srt://", false, "", 0},
    {"srt://?latency=80", false, "", 0},
    {"/live", false, "", 0},
};

TEST(ParseStreamUrl, FollowsTheAddressRulesForEveryExample) {
  for (const UrlCase& c : kCases) {
    SCOPED_TRACE(c.text);
    std::string host = "unset";
    std::int32_t port = 9010;
    ASSERT_EQ(parseStreamUrl(c.text, host, port), c.ok);
    if (c.ok) {
      EXPECT_EQ(host, c.host);
      EXPECT_EQ(port, c.port);
    }
  }
}

// Guards against a port text that overflows the conversion throwing on the host's thread,
// and against ports no socket can use being handed to the receiver.
TEST(ParseStreamUrl, RejectsUnusablePortsWithAReasonInsteadOfThrowing) {
  const char* kBad[] = {
      "10.0.0.7:0",
      "10.0.0.7:65536",
      "10.0.0.7:2147483647",
      "10.0.0.7:2147483648",
      "10.0.0.7:99999999999999999999999999999999",
      "srt://10.0.0.7:00000",
  };
  for (const char* text : kBad) {
    SCOPED_TRACE(text);
    std::string host;
    std::int32_t port = 9010;
    std::string why;
    bool ok = true;
    EXPECT_NO_THROW(ok = parseStreamUrl(text, host, port, &why));
    EXPECT_FALSE(ok);
    EXPECT_NE(why.find("port"), std::string::npos) << why;
  }
}

// The caller shows the reason for every failure, so an empty host must explain itself too.
TEST(ParseStreamUrl, ExplainsAMissingHost) {
  std::string host;
  std::int32_t port = 9010;
  std::string why;
  EXPECT_FALSE(parseStreamUrl(":7001", host, port, &why));
  EXPECT_FALSE(why.empty());
}

}  // namespace
}  // namespace mirandel
