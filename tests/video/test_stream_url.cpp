#include <gtest/gtest.h>

#include <string>

#include "video/StreamUrl.h"

namespace mirandel {
namespace {

// Guards against slips in white space, the exact-case scheme, the cut at '?' or '/', one colon
// versus several, texts that leave the port, and an unusable address (a port beyond 1..65535)
// without a reason, or throwing on the host's thread when the port overflows the conversion. A
// port without a host and a bare scheme are read, with their reasons, in
// ClipStream.EachUnusableAddressShowsItsOwnReason.
TEST(ParseStreamUrl, FollowsTheAddressRulesAndNamesWhyAnAddressIsUnusable) {
  struct Case {
    const char* text;
    const char* host;  // nullptr: unusable
    int port;          // when usable (9010 when the text names none)
    const char* why = "";
  };
  const Case cases[] = {
      {"srt://192.168.1.20:7001?latency=80", "192.168.1.20", 7001},
      {"192.168.1.20", "192.168.1.20", 9010},
      {"phone.local:", "phone.local", 9010},
      {"srt:// 10.0.0.7 : 9020 /live", "10.0.0.7", 9020},
      {"\t10.0.0.7\n", "10.0.0.7", 9010},
      {"SRT://10.0.0.7", "SRT", 9010},
      {"fe80::1", "fe80::1", 9010},
      {"[fe80::1]:9020", "[fe80::1]:9020", 9010},
      {"10.0.0.7:90a0", "10.0.0.7", 9010},
      {"10.0.0.7:+80", "10.0.0.7", 9010},
      {"10.0.0.7/x:1", "10.0.0.7", 9010},
      {"10.0.0.7:1", "10.0.0.7", 1},
      {"10.0.0.7:65535", "10.0.0.7", 65535},
      {"10.0.0.7:0009010", "10.0.0.7", 9010},
      {"", nullptr, 0},
      {"   ", nullptr, 0},
      {"srt://?latency=80", nullptr, 0},
      {"/live", nullptr, 0},
      {"10.0.0.7:0", nullptr, 0, "port"},
      {"10.0.0.7:65536", nullptr, 0, "port"},
      {"10.0.0.7:2147483647", nullptr, 0, "port"},
      {"10.0.0.7:2147483648", nullptr, 0, "port"},
      {"10.0.0.7:99999999999999999999999999999999", nullptr, 0, "port"},
      {"srt://10.0.0.7:00000", nullptr, 0, "port"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string host = "unset", why;
    std::int32_t port = 9010;
    bool ok = false;
    EXPECT_NO_THROW(ok = parseStreamUrl(c.text, host, port, &why));
    ASSERT_EQ(ok, c.host != nullptr);
    if (ok) {
      EXPECT_EQ(host, c.host);
      EXPECT_EQ(port, c.port);
    } else {
      EXPECT_FALSE(why.empty());
      EXPECT_NE(why.find(c.why), std::string::npos) << why;
    }
  }
}

}  // namespace
}  // namespace mirandel
