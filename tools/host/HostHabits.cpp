#include "tools/host/HostHabits.h"

#include "tools/host/GlApi.h"

namespace mirandel::host {

HostGlLeftovers::HostGlLeftovers() {
  GLuint sampler = 0;
  glGenSamplers(1, &sampler);
  glSamplerParameteri(sampler, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
  sampler_ = sampler;
}

HostGlLeftovers::~HostGlLeftovers() {
  const GLuint sampler = sampler_;
  glDeleteSamplers(1, &sampler);
}

void HostGlLeftovers::leave() const {
  glBindSampler(0, sampler_);
  glEnable(GL_FRAMEBUFFER_SRGB);
  glEnable(GL_CULL_FACE);
  glCullFace(GL_FRONT_AND_BACK);
  glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
  glEnable(GL_BLEND);
  glBlendFunc(GL_ZERO, GL_ONE);
  glEnable(GL_SCISSOR_TEST);
  glScissor(0, 0, 1, 1);
  glColorMask(GL_FALSE, GL_TRUE, GL_FALSE, GL_TRUE);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 7);
  glActiveTexture(GL_TEXTURE3);
}

}  // namespace mirandel::host
