#pragma once
// Two triangles over the whole clip space with texture coordinates.
// Attribute 0: position (x, y, z); attribute 1: texture coordinate (u, v).
// Host GL thread only.
#include <GL/glew.h>

namespace ffglex {

class FFGLScreenQuad {
 public:
  FFGLScreenQuad() = default;
  FFGLScreenQuad(const FFGLScreenQuad&) = delete;
  FFGLScreenQuad& operator=(const FFGLScreenQuad&) = delete;

  bool Initialise(bool flipped = false);
  void Draw();
  void Release();

 private:
  GLuint vertexArray_ = 0;
  GLuint vertexBuffer_ = 0;
};

}  // namespace ffglex
