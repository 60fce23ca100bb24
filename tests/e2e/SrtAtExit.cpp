// The SRT library's garbage-collection thread runs until srt_cleanup. The
// plug-in never cleans the library up, so at the end of a test process that
// thread can still be freeing closed sockets while exit() runs the library's
// static destructors, and the process dies after its tests passed. Once every
// test is over nothing uses SRT any more, so the test process shuts it down.
#include <gtest/gtest.h>
#include <srt/srt.h>

namespace {

class SrtCleanup : public ::testing::Environment {
 public:
  void TearDown() override { srt_cleanup(); }
};

[[maybe_unused]] const ::testing::Environment* const kRegistered =
    ::testing::AddGlobalTestEnvironment(new SrtCleanup);

}  // namespace
