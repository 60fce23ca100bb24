#include "tools/host/LogCollector.h"

#include <mutex>

namespace mirandel::host {

namespace {

std::mutex& linesMutex() {
  static std::mutex m;
  return m;
}

// Guarded by linesMutex().
std::vector<std::string>& collected() {
  static std::vector<std::string> v;
  return v;
}

void onLine(const char* line) {
  if (line == nullptr) return;
  std::string copy(line);
  std::lock_guard<std::mutex> lock(linesMutex());
  collected().push_back(std::move(copy));
}

}  // namespace

LogCallbackFn LogCollector::callback() { return &onLine; }

std::vector<std::string> LogCollector::lines() {
  std::lock_guard<std::mutex> lock(linesMutex());
  return collected();
}

std::vector<std::string> LogCollector::take() {
  std::lock_guard<std::mutex> lock(linesMutex());
  std::vector<std::string> out;
  out.swap(collected());
  return out;
}

void LogCollector::clear() {
  std::lock_guard<std::mutex> lock(linesMutex());
  collected().clear();
}

}  // namespace mirandel::host
