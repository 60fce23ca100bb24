#pragma once
// The GL declarations the host draws and reads with.
//
// Linux: libOpenGL's own exports, called directly. The plug-in loads its entry points
// through the shared libGLEW, whose table is one per process; a host that filled it would
// hide a plug-in that never loads its own.
//
// Windows: opengl32.dll exports GL 1.1 only, so the host loads the rest through a static
// GLEW of its own (GlContextWgl.cpp), apart from the one linked into the plug-in DLL.
#ifdef _WIN32
#include <GL/glew.h>
#else
#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>
#endif
