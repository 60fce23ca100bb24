#include "ffglex/FFGLScopedBindings.h"

namespace ffglex {

ScopedShaderBinding::ScopedShaderBinding(GLuint program) : bound_(true) { glUseProgram(program); }
ScopedShaderBinding::~ScopedShaderBinding() { EndScope(); }
void ScopedShaderBinding::EndScope() {
  if (!bound_) return;
  bound_ = false;
  glUseProgram(0);
}

ScopedSamplerActivation::ScopedSamplerActivation(GLuint unit) : bound_(true) {
  glActiveTexture(GL_TEXTURE0 + unit);
}
ScopedSamplerActivation::~ScopedSamplerActivation() { EndScope(); }
void ScopedSamplerActivation::EndScope() {
  if (!bound_) return;
  bound_ = false;
  glActiveTexture(GL_TEXTURE0);
}

ScopedTextureBinding::ScopedTextureBinding(GLenum target, GLuint texture)
    : target_(target), bound_(true) {
  glBindTexture(target, texture);
}
ScopedTextureBinding::~ScopedTextureBinding() { EndScope(); }
void ScopedTextureBinding::EndScope() {
  if (!bound_) return;
  bound_ = false;
  glBindTexture(target_, 0);
}

ScopedVAOBinding::ScopedVAOBinding(GLuint vertexArray) : bound_(true) {
  glBindVertexArray(vertexArray);
}
ScopedVAOBinding::~ScopedVAOBinding() { EndScope(); }
void ScopedVAOBinding::EndScope() {
  if (!bound_) return;
  bound_ = false;
  glBindVertexArray(0);
}

ScopedBufferBinding::ScopedBufferBinding(GLenum target, GLuint buffer)
    : target_(target), bound_(true) {
  glBindBuffer(target, buffer);
}
ScopedBufferBinding::~ScopedBufferBinding() { EndScope(); }
void ScopedBufferBinding::EndScope() {
  if (!bound_) return;
  bound_ = false;
  glBindBuffer(target_, 0);
}

}  // namespace ffglex
