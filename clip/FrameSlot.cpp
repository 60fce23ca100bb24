#include "clip/FrameSlot.h"

#include <cstring>
#include <limits>

namespace mirandel {

bool FrameSlot::deliver(const std::uint8_t* pixels, std::size_t stride, std::uint32_t width,
                        std::uint32_t height, Nanos decodedAt) {
  const std::size_t row = static_cast<std::size_t>(width) * 4;
  // Sizes come from a decoder fed by the network: check them before any
  // arithmetic that could wrap or read past the picture.
  if (width != 0 && height != 0 &&
      (!pixels || stride < row || height > std::numeric_limits<std::size_t>::max() / stride))
    return false;
  MutexLock lock(mutex_);
  back_.resize(row * height);
  if (stride == row) {
    if (!back_.empty()) std::memcpy(back_.data(), pixels, back_.size());
  } else {
    for (std::uint32_t r = 0; r < height; ++r)
      std::memcpy(back_.data() + r * row, pixels + r * stride, row);
  }
  width_ = width;
  height_ = height;
  decodedAt_ = decodedAt;
  newPicture_ = true;
  return true;
}

bool FrameSlot::take(std::vector<std::uint8_t>& front, std::uint32_t& width,
                     std::uint32_t& height) {
  MutexLock lock(mutex_);
  if (!newPicture_) return false;
  back_.swap(front);
  width = width_;
  height = height_;
  newPicture_ = false;
  return true;
}

void FrameSlot::lastSize(std::uint32_t& width, std::uint32_t& height) const {
  MutexLock lock(mutex_);
  width = width_;
  height = height_;
}

}  // namespace mirandel
