#pragma once
// Scoped GL bindings and state: each sets what a draw or an upload needs on
// construction and puts back the value the host had when it ends (destruction,
// or an explicit EndScope that makes the later destruction do nothing), so the
// host finds its GL state as it left it. Host GL thread only.
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
  GLint previous_ = 0;
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
  GLint previous_ = GL_TEXTURE0;
  bool bound_ = false;
};

// Binds on the active texture unit, so it must end while that unit is still
// active (open it inside the unit's ScopedSamplerActivation).
class ScopedTextureBinding {
 public:
  ScopedTextureBinding(GLenum target, GLuint texture);
  virtual ~ScopedTextureBinding();
  void EndScope();
  ScopedTextureBinding(const ScopedTextureBinding&) = delete;
  ScopedTextureBinding& operator=(const ScopedTextureBinding&) = delete;

 private:
  GLenum target_;
  GLint previous_ = 0;
  bool bound_ = false;
};

// Unbinds any sampler object from `unit` for the scope: a host's sampler
// overrides the texture's own filtering, and one with a mipmapping
// minification filter makes a texture without mipmaps incomplete (drawn
// black). GL reads the binding of the active unit, so `unit` must be active
// (open it inside the unit's ScopedSamplerActivation).
class ScopedSamplerObjectUnbinding {
 public:
  explicit ScopedSamplerObjectUnbinding(GLuint unit);
  ~ScopedSamplerObjectUnbinding();
  void EndScope();
  ScopedSamplerObjectUnbinding(const ScopedSamplerObjectUnbinding&) = delete;
  ScopedSamplerObjectUnbinding& operator=(const ScopedSamplerObjectUnbinding&) = delete;

 private:
  GLuint unit_;
  GLint previous_ = 0;
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
  GLint previous_ = 0;
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
  GLint previous_ = 0;
  bool bound_ = false;
};

class ScopedVBOBinding : public ScopedBufferBinding {
 public:
  explicit ScopedVBOBinding(GLuint buffer) : ScopedBufferBinding(GL_ARRAY_BUFFER, buffer) {}
};

// One glEnable/glDisable capability (GL_CULL_FACE, GL_BLEND, ...) switched on
// or off for the scope. Touches GL only when the host's setting differs.
class ScopedCapability {
 public:
  ScopedCapability(GLenum capability, bool enabled);
  ~ScopedCapability();
  void EndScope();
  ScopedCapability(const ScopedCapability&) = delete;
  ScopedCapability& operator=(const ScopedCapability&) = delete;

 private:
  GLenum capability_;
  bool hostEnabled_ = false;
  bool changed_ = false;
};

// The colour write mask for the scope.
class ScopedColorMask {
 public:
  ScopedColorMask(bool red, bool green, bool blue, bool alpha);
  ~ScopedColorMask();
  void EndScope();
  ScopedColorMask(const ScopedColorMask&) = delete;
  ScopedColorMask& operator=(const ScopedColorMask&) = delete;

 private:
  GLboolean host_[4] = {GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE};
  bool changed_ = false;
};

// Filled polygons for the scope: a host that draws wireframes of its own and
// leaves the mode set would get the picture's outline only.
class ScopedFillPolygons {
 public:
  ScopedFillPolygons();
  ~ScopedFillPolygons();
  void EndScope();
  ScopedFillPolygons(const ScopedFillPolygons&) = delete;
  ScopedFillPolygons& operator=(const ScopedFillPolygons&) = delete;

 private:
  GLint host_ = GL_FILL;  // the core profile keeps one mode for both faces
};

// Pixel uploads read tightly packed rows straight from client memory: no row
// alignment padding, no row length or skips, no byte swapping and no pixel
// unpack buffer. Any of these left set by the host would make GL read the
// picture sheared, shifted, or past the end of the caller's buffer.
class ScopedUnpackState {
 public:
  ScopedUnpackState();
  ~ScopedUnpackState();
  void EndScope();
  ScopedUnpackState(const ScopedUnpackState&) = delete;
  ScopedUnpackState& operator=(const ScopedUnpackState&) = delete;

 private:
  struct Store {
    GLenum name;
    GLint packed;  // what an upload of packed rows needs
    GLint host = 0;
  };
  Store stores_[5] = {{GL_UNPACK_ALIGNMENT, 1},
                      {GL_UNPACK_ROW_LENGTH, 0},
                      {GL_UNPACK_SKIP_PIXELS, 0},
                      {GL_UNPACK_SKIP_ROWS, 0},
                      {GL_UNPACK_SWAP_BYTES, GL_FALSE}};
  ScopedBufferBinding noUnpackBuffer_{GL_PIXEL_UNPACK_BUFFER, 0};
  bool active_ = false;
};

}  // namespace ffglex
