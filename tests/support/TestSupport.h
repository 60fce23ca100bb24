#pragma once
// Small helpers shared by every test executable.
#include <chrono>
#include <functional>
#include <string>

namespace mirandel::test {

// Polls `condition` until it holds or `timeout` passes; answers whether it held.
// Tests wait on events with this instead of sleeping for a fixed time.
bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = std::chrono::seconds(5),
             std::chrono::milliseconds poll = std::chrono::milliseconds(2));

// Path of a file in the source tree / build tree.
std::string sourcePath(const std::string& relative);
std::string binaryPath(const std::string& relative);

}  // namespace mirandel::test
