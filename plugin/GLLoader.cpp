#include "plugin/GLLoader.h"

#include <GL/glew.h>

namespace mirandel {

bool loadGLEntryPoints() {
  // Core profiles report no extension string through glGetString; without this
  // GLEW would leave most post-1.1 entry points unloaded.
  glewExperimental = GL_TRUE;
  const GLenum status = glewInit();
  // Debian's GLEW is built for GLX. In a context made with EGL its window-system
  // half fails with GLEW_ERROR_NO_GLX_DISPLAY after every GL function was
  // already loaded, so that answer is acceptable; whether the context is usable
  // is decided below from the context itself.
#ifdef GLEW_ERROR_NO_GLX_DISPLAY
  if (status != GLEW_OK && status != GLEW_ERROR_NO_GLX_DISPLAY) return false;
#else
  if (status != GLEW_OK) return false;
#endif
  // No current context: GL answers nothing.
  if (glGetString(GL_VERSION) == nullptr) return false;
  GLint major = 0, minor = 0;
  glGetIntegerv(GL_MAJOR_VERSION, &major);
  glGetIntegerv(GL_MINOR_VERSION, &minor);
  if (major < 4 || (major == 4 && minor < 1)) return false;

  const void* required[] = {
      reinterpret_cast<const void*>(glCreateShader),
      reinterpret_cast<const void*>(glShaderSource),
      reinterpret_cast<const void*>(glCompileShader),
      reinterpret_cast<const void*>(glGetShaderiv),
      reinterpret_cast<const void*>(glGetShaderInfoLog),
      reinterpret_cast<const void*>(glDeleteShader),
      reinterpret_cast<const void*>(glCreateProgram),
      reinterpret_cast<const void*>(glAttachShader),
      reinterpret_cast<const void*>(glLinkProgram),
      reinterpret_cast<const void*>(glGetProgramiv),
      reinterpret_cast<const void*>(glGetProgramInfoLog),
      reinterpret_cast<const void*>(glDeleteProgram),
      reinterpret_cast<const void*>(glUseProgram),
      reinterpret_cast<const void*>(glTransformFeedbackVaryings),
      reinterpret_cast<const void*>(glGetUniformLocation),
      reinterpret_cast<const void*>(glUniform1i),
      reinterpret_cast<const void*>(glUniform1f),
      reinterpret_cast<const void*>(glUniform1ui),
      reinterpret_cast<const void*>(glUniform2f),
      reinterpret_cast<const void*>(glGenVertexArrays),
      reinterpret_cast<const void*>(glBindVertexArray),
      reinterpret_cast<const void*>(glDeleteVertexArrays),
      reinterpret_cast<const void*>(glGenBuffers),
      reinterpret_cast<const void*>(glBindBuffer),
      reinterpret_cast<const void*>(glBufferData),
      reinterpret_cast<const void*>(glDeleteBuffers),
      reinterpret_cast<const void*>(glEnableVertexAttribArray),
      reinterpret_cast<const void*>(glVertexAttribPointer),
      reinterpret_cast<const void*>(glActiveTexture),
  };
  for (const void* fn : required)
    if (fn == nullptr) return false;
  return true;
}

}  // namespace mirandel
