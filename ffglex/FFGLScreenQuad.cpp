#include "ffglex/FFGLScreenQuad.h"

#include "ffglex/FFGLScopedBindings.h"

namespace ffglex {
namespace {

struct Vertex {
  float u, v;
  float x, y, z;
};
static_assert(sizeof(Vertex) == 20);

constexpr Vertex kUpright[6] = {
    {0, 1, -1, 1, 0}, {1, 1, 1, 1, 0},   {0, 0, -1, -1, 0},
    {0, 0, -1, -1, 0}, {1, 1, 1, 1, 0}, {1, 0, 1, -1, 0},
};
constexpr Vertex kFlipped[6] = {
    {0, 0, -1, 1, 0}, {1, 0, 1, 1, 0},   {0, 1, -1, -1, 0},
    {0, 1, -1, -1, 0}, {1, 0, 1, 1, 0}, {1, 1, 1, -1, 0},
};

}  // namespace

bool FFGLScreenQuad::Initialise(bool flipped) {
  glGenVertexArrays(1, &vertexArray_);
  glGenBuffers(1, &vertexBuffer_);
  if (vertexArray_ == 0 || vertexBuffer_ == 0) {
    Release();
    return false;
  }
  ScopedVAOBinding vao(vertexArray_);
  ScopedVBOBinding vbo(vertexBuffer_);
  glBufferData(GL_ARRAY_BUFFER, sizeof kUpright, flipped ? kFlipped : kUpright, GL_STATIC_DRAW);
  glEnableVertexAttribArray(0);
  glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(Vertex),
                        reinterpret_cast<const void*>(offsetof(Vertex, x)));
  glEnableVertexAttribArray(1);
  glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, sizeof(Vertex),
                        reinterpret_cast<const void*>(offsetof(Vertex, u)));
  vbo.EndScope();
  vao.EndScope();
  return true;
}

void FFGLScreenQuad::Draw() {
  if (vertexArray_ == 0 || vertexBuffer_ == 0) return;
  ScopedVAOBinding vao(vertexArray_);
  glDrawArrays(GL_TRIANGLES, 0, 6);
}

void FFGLScreenQuad::Release() {
  if (vertexBuffer_) glDeleteBuffers(1, &vertexBuffer_);
  if (vertexArray_) glDeleteVertexArrays(1, &vertexArray_);
  vertexBuffer_ = 0;
  vertexArray_ = 0;
}

}  // namespace ffglex
