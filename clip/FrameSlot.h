#pragma once
// The hand-over of decoded pictures from the receive thread to the render
// thread: a double buffer where only the newest picture survives.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "plugin/Clock.h"

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
  mutable std::mutex mutex_;
  std::vector<std::uint8_t> back_;  // guarded by mutex_
  std::uint32_t width_ = 0;         // guarded by mutex_
  std::uint32_t height_ = 0;        // guarded by mutex_
  Nanos decodedAt_ = 0;             // guarded by mutex_
  bool newPicture_ = false;         // guarded by mutex_
};

}  // namespace mirandel
