#pragma once
// A framebuffer object with one RGBA8 colour texture (or SRGB8_ALPHA8, as
// hosts that blend in linear light make their layers), standing in for the
// host's render target. Every operation needs a current GL context and runs on
// its thread.
#include <cstdint>
#include <memory>
#include <string>

#include "tools/host/RgbaImage.h"

namespace mirandel::host {

class Framebuffer {
 public:
  enum class Encoding { kPlain, kSrgb };
  // Answers null and fills `error` when the size is zero or the object is
  // incomplete.
  static std::unique_ptr<Framebuffer> create(std::uint32_t width, std::uint32_t height,
                                             std::string* error,
                                             Encoding encoding = Encoding::kPlain);
  ~Framebuffer();

  Framebuffer(const Framebuffer&) = delete;
  Framebuffer& operator=(const Framebuffer&) = delete;

  // Binds the object for drawing and reading and sets the viewport to cover it.
  void bind() const;
  // Fills it with one colour (components 0 to 1).
  void clear(float r, float g, float b, float a) const;
  // Reads every pixel back, top row first (GL's own order is bottom row first).
  RgbaImage read() const;
  // Reads the rectangle whose top-left pixel is (x, y), counted from the top-left corner,
  // clipped to the object; top row first. Cheaper than read() when only a corner matters.
  RgbaImage readRegion(std::uint32_t x, std::uint32_t y, std::uint32_t width,
                       std::uint32_t height) const;

  std::uint32_t id() const { return fbo_; }
  std::uint32_t texture() const { return texture_; }
  std::uint32_t width() const { return width_; }
  std::uint32_t height() const { return height_; }

 private:
  Framebuffer(std::uint32_t fbo, std::uint32_t texture, std::uint32_t width, std::uint32_t height);

  std::uint32_t fbo_;
  std::uint32_t texture_;
  std::uint32_t width_;
  std::uint32_t height_;
};

}  // namespace mirandel::host
