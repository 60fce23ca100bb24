#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/Log.h"

namespace {

std::vector<std::string> first, second;
void toFirst(const char* t) { first.emplace_back(t); }
void toSecond(const char* t) { second.emplace_back(t); }

// Hosts hand over their log sink once; replacing it must take effect for the
// next line, and a null text must never reach the host.
TEST(HostLog, CallbackIsReplacedAndANullTextNeverReachesIt) {
  first.clear();
  second.clear();
  mirandel::hostLog("before any callback");
  mirandel::setLogCallback(&toFirst);
  mirandel::hostLog("Mirandel: one");
  mirandel::hostLog(static_cast<const char*>(nullptr));
  mirandel::setLogCallback(&toSecond);
  mirandel::hostLog("Mirandel: two");
  EXPECT_EQ(first, std::vector<std::string>{"Mirandel: one"});
  EXPECT_EQ(second, std::vector<std::string>{"Mirandel: two"});
}

// Shader diagnostics with an empty log still mark the failure with a line.
TEST(DebugLog, EmptyMessageStillWritesThePrefixAsAWholeLine) {
  testing::internal::CaptureStdout();
  mirandel::debugLog("Vertex Shader error: ", "");
  mirandel::debugLog("Fragment Shader error: ", "0:1(1): syntax error");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Vertex Shader error: \nFragment Shader error: 0:1(1): syntax error\n");
}

}  // namespace
