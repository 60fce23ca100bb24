#include "support/TestSupport.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

#include "support/TestPlatform.h"

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

int processThreadCount() {
  // Sanitizer runtimes start a helper thread along with the first thread a process makes: made
  // here first, it is in every count a test compares.
  static const bool warmedUp = (std::thread([] {}).join(), true);
  (void)warmedUp;
  // A joined thread leaves the list within microseconds; a count unchanged over
  // a few milliseconds has no such thread left in it.
  int count = listedThreadCount();
  for (int i = 0; i < 100; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const int again = listedThreadCount();
    if (again == count) break;
    count = again;
  }
  return count;
}

std::string sourcePath(const std::string& relative) {
  return std::string(MIRANDEL_SOURCE_DIR) + "/" + relative;
}
std::string binaryPath(const std::string& relative) {
  return std::string(MIRANDEL_BINARY_DIR) + "/" + relative;
}

std::vector<std::uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string commandOutput(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[65536];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  pclose(pipe);
  return output;
}

}  // namespace mirandel::test
