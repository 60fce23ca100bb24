#pragma once
// Platform seam: the debugger's output channel. Windows has one
// (OutputDebugString); on Linux there is none, and standard output carries the
// diagnostics alone.
namespace mirandel {
void writeDebuggerOutput(const char* text);
}
