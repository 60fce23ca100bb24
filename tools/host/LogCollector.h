#pragma once
// Collects the lines a plug-in hands to the log callback given through
// SetLogCallback. The callback is a plain function pointer without a context
// argument, so the collected lines live in one process-wide list behind a
// static trampoline.
#include <string>
#include <vector>

#include "tools/host/FfglAbi.h"

namespace mirandel::host {

class LogCollector {
 public:
  // The function to give to SetLogCallback. Any thread (plug-ins may log from
  // their own threads); the text is copied before it returns.
  static LogCallbackFn callback();

  // The lines collected so far, oldest first. Any thread.
  static std::vector<std::string> lines();

  // Takes and removes the lines collected so far. Any thread.
  static std::vector<std::string> take();

  static void clear();
};

}  // namespace mirandel::host
