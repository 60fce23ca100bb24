#include "ffglex/FFGLScopedBindings.h"

#include <cstddef>

namespace ffglex {
namespace {

GLint currentInteger(GLenum name) {
  GLint value = 0;
  glGetIntegerv(name, &value);
  return value;
}

struct BindingQuery {
  GLenum target;
  GLenum query;  // reads what is bound to the target
};
constexpr BindingQuery kTextureQueries[] = {
    {GL_TEXTURE_1D, GL_TEXTURE_BINDING_1D},
    {GL_TEXTURE_2D, GL_TEXTURE_BINDING_2D},
    {GL_TEXTURE_3D, GL_TEXTURE_BINDING_3D},
    {GL_TEXTURE_1D_ARRAY, GL_TEXTURE_BINDING_1D_ARRAY},
    {GL_TEXTURE_2D_ARRAY, GL_TEXTURE_BINDING_2D_ARRAY},
    {GL_TEXTURE_RECTANGLE, GL_TEXTURE_BINDING_RECTANGLE},
    {GL_TEXTURE_CUBE_MAP, GL_TEXTURE_BINDING_CUBE_MAP},
    {GL_TEXTURE_CUBE_MAP_ARRAY, GL_TEXTURE_BINDING_CUBE_MAP_ARRAY},
    {GL_TEXTURE_BUFFER, GL_TEXTURE_BINDING_BUFFER},
    {GL_TEXTURE_2D_MULTISAMPLE, GL_TEXTURE_BINDING_2D_MULTISAMPLE},
    {GL_TEXTURE_2D_MULTISAMPLE_ARRAY, GL_TEXTURE_BINDING_2D_MULTISAMPLE_ARRAY},
};
constexpr BindingQuery kBufferQueries[] = {
    {GL_ARRAY_BUFFER, GL_ARRAY_BUFFER_BINDING},
    {GL_ELEMENT_ARRAY_BUFFER, GL_ELEMENT_ARRAY_BUFFER_BINDING},
    {GL_PIXEL_PACK_BUFFER, GL_PIXEL_PACK_BUFFER_BINDING},
    {GL_PIXEL_UNPACK_BUFFER, GL_PIXEL_UNPACK_BUFFER_BINDING},
    {GL_UNIFORM_BUFFER, GL_UNIFORM_BUFFER_BINDING},
    {GL_TEXTURE_BUFFER, GL_TEXTURE_BUFFER_BINDING},
    {GL_COPY_READ_BUFFER, GL_COPY_READ_BUFFER_BINDING},
    {GL_COPY_WRITE_BUFFER, GL_COPY_WRITE_BUFFER_BINDING},
    {GL_TRANSFORM_FEEDBACK_BUFFER, GL_TRANSFORM_FEEDBACK_BUFFER_BINDING},
    {GL_DRAW_INDIRECT_BUFFER, GL_DRAW_INDIRECT_BUFFER_BINDING},
};

// What is bound to `target` now; 0 (the default, which the scope then ends
// at) for a target the table does not know.
template <std::size_t N>
GLint boundTo(const BindingQuery (&table)[N], GLenum target) {
  for (const BindingQuery& b : table)
    if (b.target == target) return currentInteger(b.query);
  return 0;
}

}  // namespace

ScopedShaderBinding::ScopedShaderBinding(GLuint program)
    : previous_(currentInteger(GL_CURRENT_PROGRAM)), bound_(true) {
  glUseProgram(program);
}
ScopedShaderBinding::~ScopedShaderBinding() { EndScope(); }
void ScopedShaderBinding::EndScope() {
  if (!bound_) return;
  bound_ = false;
  glUseProgram(static_cast<GLuint>(previous_));
}

ScopedSamplerActivation::ScopedSamplerActivation(GLuint unit)
    : previous_(currentInteger(GL_ACTIVE_TEXTURE)), bound_(true) {
  glActiveTexture(GL_TEXTURE0 + unit);
}
ScopedSamplerActivation::~ScopedSamplerActivation() { EndScope(); }
void ScopedSamplerActivation::EndScope() {
  if (!bound_) return;
  bound_ = false;
  glActiveTexture(static_cast<GLenum>(previous_));
}

ScopedTextureBinding::ScopedTextureBinding(GLenum target, GLuint texture)
    : target_(target), previous_(boundTo(kTextureQueries, target)), bound_(true) {
  glBindTexture(target, texture);
}
ScopedTextureBinding::~ScopedTextureBinding() { EndScope(); }
void ScopedTextureBinding::EndScope() {
  if (!bound_) return;
  bound_ = false;
  glBindTexture(target_, static_cast<GLuint>(previous_));
}

ScopedSamplerObjectUnbinding::ScopedSamplerObjectUnbinding(GLuint unit)
    : unit_(unit), previous_(currentInteger(GL_SAMPLER_BINDING)) {
  if (previous_ != 0) glBindSampler(unit_, 0);
}
ScopedSamplerObjectUnbinding::~ScopedSamplerObjectUnbinding() { EndScope(); }
void ScopedSamplerObjectUnbinding::EndScope() {
  if (previous_ == 0) return;
  glBindSampler(unit_, static_cast<GLuint>(previous_));
  previous_ = 0;
}

ScopedVAOBinding::ScopedVAOBinding(GLuint vertexArray)
    : previous_(currentInteger(GL_VERTEX_ARRAY_BINDING)), bound_(true) {
  glBindVertexArray(vertexArray);
}
ScopedVAOBinding::~ScopedVAOBinding() { EndScope(); }
void ScopedVAOBinding::EndScope() {
  if (!bound_) return;
  bound_ = false;
  glBindVertexArray(static_cast<GLuint>(previous_));
}

ScopedBufferBinding::ScopedBufferBinding(GLenum target, GLuint buffer)
    : target_(target), previous_(boundTo(kBufferQueries, target)), bound_(true) {
  glBindBuffer(target, buffer);
}
ScopedBufferBinding::~ScopedBufferBinding() { EndScope(); }
void ScopedBufferBinding::EndScope() {
  if (!bound_) return;
  bound_ = false;
  glBindBuffer(target_, static_cast<GLuint>(previous_));
}

ScopedCapability::ScopedCapability(GLenum capability, bool enabled)
    : capability_(capability), hostEnabled_(glIsEnabled(capability) == GL_TRUE) {
  if (hostEnabled_ == enabled) return;
  changed_ = true;
  if (enabled)
    glEnable(capability);
  else
    glDisable(capability);
}
ScopedCapability::~ScopedCapability() { EndScope(); }
void ScopedCapability::EndScope() {
  if (!changed_) return;
  changed_ = false;
  if (hostEnabled_)
    glEnable(capability_);
  else
    glDisable(capability_);
}

ScopedColorMask::ScopedColorMask(bool red, bool green, bool blue, bool alpha) {
  glGetBooleanv(GL_COLOR_WRITEMASK, host_);
  const bool wanted[4] = {red, green, blue, alpha};
  for (int i = 0; i < 4; ++i) changed_ = changed_ || (host_[i] == GL_TRUE) != wanted[i];
  if (changed_) glColorMask(red, green, blue, alpha);
}
ScopedColorMask::~ScopedColorMask() { EndScope(); }
void ScopedColorMask::EndScope() {
  if (!changed_) return;
  changed_ = false;
  glColorMask(host_[0], host_[1], host_[2], host_[3]);
}

ScopedFillPolygons::ScopedFillPolygons() {
  GLint modes[2] = {GL_FILL, GL_FILL};
  glGetIntegerv(GL_POLYGON_MODE, modes);
  host_ = modes[0];
  if (host_ != GL_FILL) glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
}
ScopedFillPolygons::~ScopedFillPolygons() { EndScope(); }
void ScopedFillPolygons::EndScope() {
  if (host_ == GL_FILL) return;
  glPolygonMode(GL_FRONT_AND_BACK, static_cast<GLenum>(host_));
  host_ = GL_FILL;
}

ScopedUnpackState::ScopedUnpackState() : active_(true) {
  for (Store& s : stores_) {
    s.host = currentInteger(s.name);
    if (s.host != s.packed) glPixelStorei(s.name, s.packed);
  }
}
ScopedUnpackState::~ScopedUnpackState() { EndScope(); }
void ScopedUnpackState::EndScope() {
  if (!active_) return;
  active_ = false;
  for (const Store& s : stores_)
    if (s.host != s.packed) glPixelStorei(s.name, s.host);
  noUnpackBuffer_.EndScope();
}

}  // namespace ffglex
