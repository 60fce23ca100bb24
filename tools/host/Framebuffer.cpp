#include "tools/host/Framebuffer.h"

#include "tools/host/GlApi.h"

#include <algorithm>
#include <cstring>

namespace mirandel::host {

std::unique_ptr<Framebuffer> Framebuffer::create(std::uint32_t width, std::uint32_t height,
                                                 std::string* error, Encoding encoding) {
  if (width == 0 || height == 0) {
    if (error != nullptr) *error = "a framebuffer needs a non-zero size";
    return nullptr;
  }
  GLuint texture = 0;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexImage2D(GL_TEXTURE_2D, 0, encoding == Encoding::kSrgb ? GL_SRGB8_ALPHA8 : GL_RGBA8,
               static_cast<GLsizei>(width), static_cast<GLsizei>(height), 0, GL_RGBA,
               GL_UNSIGNED_BYTE, nullptr);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glBindTexture(GL_TEXTURE_2D, 0);

  GLuint fbo = 0;
  glGenFramebuffers(1, &fbo);
  glBindFramebuffer(GL_FRAMEBUFFER, fbo);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
  const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  if (status != GL_FRAMEBUFFER_COMPLETE) {
    glDeleteFramebuffers(1, &fbo);
    glDeleteTextures(1, &texture);
    if (error != nullptr) *error = "framebuffer incomplete (status " + std::to_string(status) + ")";
    return nullptr;
  }
  return std::unique_ptr<Framebuffer>(new Framebuffer(fbo, texture, width, height));
}

Framebuffer::Framebuffer(std::uint32_t fbo, std::uint32_t texture, std::uint32_t width,
                         std::uint32_t height)
    : fbo_(fbo), texture_(texture), width_(width), height_(height) {}

Framebuffer::~Framebuffer() {
  GLuint fbo = fbo_, texture = texture_;
  glDeleteFramebuffers(1, &fbo);
  glDeleteTextures(1, &texture);
}

void Framebuffer::bind() const {
  glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
  glViewport(0, 0, static_cast<GLsizei>(width_), static_cast<GLsizei>(height_));
}

void Framebuffer::clear(float r, float g, float b, float a) const {
  bind();
  glClearColor(r, g, b, a);
  glClear(GL_COLOR_BUFFER_BIT);
}

RgbaImage Framebuffer::read() const {
  RgbaImage image;
  image.width = width_;
  image.height = height_;
  const std::size_t row = static_cast<std::size_t>(width_) * 4;
  std::vector<std::uint8_t> bottomUp(row * height_);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, fbo_);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, static_cast<GLsizei>(width_), static_cast<GLsizei>(height_), GL_RGBA,
               GL_UNSIGNED_BYTE, bottomUp.data());
  image.pixels.resize(bottomUp.size());
  for (std::uint32_t y = 0; y < height_; ++y) {
    std::memcpy(image.pixels.data() + y * row, bottomUp.data() + (height_ - 1 - y) * row, row);
  }
  return image;
}

RgbaImage Framebuffer::readRegion(std::uint32_t x, std::uint32_t y, std::uint32_t width,
                                  std::uint32_t height) const {
  RgbaImage image;
  if (x >= width_ || y >= height_) return image;
  image.width = std::min(width, width_ - x);
  image.height = std::min(height, height_ - y);
  const std::size_t row = static_cast<std::size_t>(image.width) * 4;
  std::vector<std::uint8_t> bottomUp(row * image.height);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, fbo_);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  // GL counts rows from the bottom: the region's lowest row is GL row height_ - y - height.
  glReadPixels(static_cast<GLint>(x), static_cast<GLint>(height_ - y - image.height),
               static_cast<GLsizei>(image.width), static_cast<GLsizei>(image.height), GL_RGBA,
               GL_UNSIGNED_BYTE, bottomUp.data());
  image.pixels.resize(bottomUp.size());
  for (std::uint32_t r = 0; r < image.height; ++r) {
    std::memcpy(image.pixels.data() + r * row, bottomUp.data() + (image.height - 1 - r) * row, row);
  }
  return image;
}

}  // namespace mirandel::host
