#include "support/TestSupport.h"

#include <thread>

#ifndef MIRANDEL_SOURCE_DIR
#define MIRANDEL_SOURCE_DIR "."
#endif
#ifndef MIRANDEL_BINARY_DIR
#define MIRANDEL_BINARY_DIR "."
#endif

namespace mirandel::test {

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
             std::chrono::milliseconds poll) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(poll);
  }
}

std::string sourcePath(const std::string& relative) {
  return std::string(MIRANDEL_SOURCE_DIR) + "/" + relative;
}
std::string binaryPath(const std::string& relative) {
  return std::string(MIRANDEL_BINARY_DIR) + "/" + relative;
}

}  // namespace mirandel::test
