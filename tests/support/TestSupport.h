#pragma once
// Small helpers shared by every test executable.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace mirandel::test {

// Polls `condition` until it holds or `timeout` passes; answers whether it held.
// Tests wait on events with this instead of sleeping for a fixed time.
bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = std::chrono::seconds(5),
             std::chrono::milliseconds poll = std::chrono::milliseconds(2));

// Path of a file in the source tree / build tree.
std::string sourcePath(const std::string& relative);
std::string binaryPath(const std::string& relative);

// A whole file; empty when it cannot be read.
std::vector<std::uint8_t> readFile(const std::string& path);

// What a shell command writes to its standard output.
std::string commandOutput(const std::string& command);

}  // namespace mirandel::test
