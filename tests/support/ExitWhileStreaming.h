#pragma once
// The set-up of a host that quits with clips still streaming: the emulator streams from a
// process of its own (so that nothing else in the exiting process uses SRT), and a forked
// child runs `streamThenExit`, which makes its clips, waits for their pictures and calls
// std::exit with them alive (0 once live, a code of its own when it could not start): exit()
// runs the SRT library's static teardown while the clips' receive threads are still inside it.
// The child must end with code 0.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "support/TestPlatform.h"

namespace mirandel::test {

inline void expectCleanExitWhileStreaming(const char* phoneProgram,
                                          const std::function<void()>& streamThenExit) {
  ChildProcess phone({phoneProgram, "--stream-now", "--size", "320x240", "--bitrate", "400"});
  ASSERT_GT(phone.pid(), 0);
  EXPECT_EXIT(streamThenExit(), ::testing::ExitedWithCode(0), "");
}

}  // namespace mirandel::test
