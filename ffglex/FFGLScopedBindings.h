#pragma once
// Scoped GL bindings: each binds on construction and restores the default
// binding when it ends, so the host's GL state is left as found. Host GL
// thread only.
#include <GL/glew.h>

namespace ffglex {

class ScopedShaderBinding {
 public:
  explicit ScopedShaderBinding(GLuint program);
  ~ScopedShaderBinding();
  void EndScope();
  ScopedShaderBinding(const ScopedShaderBinding&) = delete;
  ScopedShaderBinding& operator=(const ScopedShaderBinding&) = delete;

 private:
  bool bound_ = false;
};

class ScopedSamplerActivation {
 public:
  explicit ScopedSamplerActivation(GLuint unit);
  ~ScopedSamplerActivation();
  void EndScope();
  ScopedSamplerActivation(const ScopedSamplerActivation&) = delete;
  ScopedSamplerActivation& operator=(const ScopedSamplerActivation&) = delete;

 private:
  bool bound_ = false;
};

class ScopedTextureBinding {
 public:
  ScopedTextureBinding(GLenum target, GLuint texture);
  virtual ~ScopedTextureBinding();
  void EndScope();
  ScopedTextureBinding(const ScopedTextureBinding&) = delete;
  ScopedTextureBinding& operator=(const ScopedTextureBinding&) = delete;

 private:
  GLenum target_;
  bool bound_ = false;
};

class Scoped2DTextureBinding : public ScopedTextureBinding {
 public:
  explicit Scoped2DTextureBinding(GLuint texture) : ScopedTextureBinding(GL_TEXTURE_2D, texture) {}
};

class ScopedVAOBinding {
 public:
  explicit ScopedVAOBinding(GLuint vertexArray);
  ~ScopedVAOBinding();
  void EndScope();
  ScopedVAOBinding(const ScopedVAOBinding&) = delete;
  ScopedVAOBinding& operator=(const ScopedVAOBinding&) = delete;

 private:
  bool bound_ = false;
};

class ScopedBufferBinding {
 public:
  ScopedBufferBinding(GLenum target, GLuint buffer);
  virtual ~ScopedBufferBinding();
  void EndScope();
  ScopedBufferBinding(const ScopedBufferBinding&) = delete;
  ScopedBufferBinding& operator=(const ScopedBufferBinding&) = delete;

 private:
  GLenum target_;
  bool bound_ = false;
};

class ScopedVBOBinding : public ScopedBufferBinding {
 public:
  explicit ScopedVBOBinding(GLuint buffer) : ScopedBufferBinding(GL_ARRAY_BUFFER, buffer) {}
};

}  // namespace ffglex
