#include "base/DebugOutput.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace mirandel {

#ifdef _WIN32
void writeDebuggerOutput(const char* text) { OutputDebugStringA(text); }
#else
void writeDebuggerOutput(const char*) {}
#endif

}  // namespace mirandel
