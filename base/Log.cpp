#include "base/Log.h"

#include <atomic>
#include <cstdio>
#include <sstream>

#include "base/DebugOutput.h"

namespace mirandel {
namespace {
// Hosts set this once before creating objects; atomic only so a late change is
// still a clean pointer swap for threads that log.
std::atomic<LogCallback> gCallback{nullptr};
}  // namespace

void setLogCallback(LogCallback callback) { gCallback.store(callback); }

void hostLog(const char* text) {
  LogCallback cb = gCallback.load();
  if (cb && text) cb(text);
}

void debugLog(const char* prefix, const char* message) {
  std::ostringstream line;
  line << (prefix ? prefix : "") << (message ? message : "");
  const std::string text = line.str();
  writeDebuggerOutput(text.c_str());
  writeDebuggerOutput("\n");
  std::fputs(text.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace mirandel
