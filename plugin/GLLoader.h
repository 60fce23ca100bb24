#pragma once
// Loads the OpenGL entry points the renderer uses, in the calling thread's
// current context. Host GL thread, once per process (the dispatcher remembers
// the outcome).
namespace mirandel {

// True when an OpenGL 4.1 (or later) context is current and every entry point
// the renderer calls is available.
bool loadGLEntryPoints();

}  // namespace mirandel
