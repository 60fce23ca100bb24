#pragma once
// The two kinds of log lines: user-facing lines to the host's log callback,
// and developer diagnostics (shader logs) to the debugger output and stdout.
#include <string>

using LogCallback = void (*)(const char* text);

namespace mirandel {

// Replaces the process-wide host callback; null switches host logging off.
// The host sets it before creating plug-in objects.
void setLogCallback(LogCallback callback);

// Passes text unchanged to the host's callback, if any. Any thread.
void hostLog(const char* text);
inline void hostLog(const std::string& text) { hostLog(text.c_str()); }

// One line, prefix immediately followed by message. Drawing thread.
void debugLog(const char* prefix, const char* message);

}  // namespace mirandel
