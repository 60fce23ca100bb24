#pragma once
// The hand-over of decoded pictures from the receive thread to the render
// thread: a double buffer where only the newest picture survives.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/ThreadSafety.h"
#include "base/Clock.h"

namespace mirandel {

class FrameSlot {
 public:
  // Receive thread. Copies one BGRA picture (rows `stride` bytes apart, top
  // row first) into the back buffer, replacing a picture not yet taken.
  // Answers false, copying nothing, when the geometry is inconsistent.
  bool deliver(const std::uint8_t* pixels, std::size_t stride, std::uint32_t width,
               std::uint32_t height, Nanos decodedAt);

  // Render thread. When a new picture is waiting, swaps it into `front`
  // (ownership only, no copy) and answers true with its size.
  bool take(std::vector<std::uint8_t>& front, std::uint32_t& width, std::uint32_t& height);

  // Any thread: the size of the last picture delivered.
  void lastSize(std::uint32_t& width, std::uint32_t& height) const;

 private:
  mutable Mutex mutex_;
  std::vector<std::uint8_t> back_ GUARDED_BY(mutex_);
  std::uint32_t width_ GUARDED_BY(mutex_) = 0;
  std::uint32_t height_ GUARDED_BY(mutex_) = 0;
  Nanos decodedAt_ GUARDED_BY(mutex_) = 0;
  bool newPicture_ GUARDED_BY(mutex_) = false;
};

}  // namespace mirandel
