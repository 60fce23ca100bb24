#pragma once
// The codec-neutral decoder: the Annex-B walk, parameter-set tracking, the
// key-picture gate, the counters, the size limit and the output-size rule,
// each picture's own timing, and the conversion to BGRA, around a
// DecoderBackend that talks to the codec library.
#include <array>
#include <memory>
#include <vector>

#include "base/ThreadSafety.h"
#include "video/Decoder.h"
#include "video/DecoderBackend.h"

namespace mirandel {

class DecoderCore final : public Decoder {
 public:
  DecoderCore(std::unique_ptr<DecoderBackend> backend, FrameCallback onFrame, ClockFn clock);
  ~DecoderCore() override;

  bool decode(AccessUnit& unit, CodecKind codec) override;
  void reset() override;
  void setMaxDimension(std::uint32_t n) override;
  DecoderInfo info() const override;

 private:
  // The stamps a picture's own unit was submitted with.
  struct UnitStamps {
    std::int64_t pts = -1;
    Nanos completedAt = 0;
  };
  // Receives the backend's pictures during one decode call.
  class Drain;

  bool openBackend(CodecKind codec);
  // Receive thread, from the backend's drain: check, scale, convert, hand on
  // with the stamps of the unit the picture was decoded from (`releasing`,
  // the unit just submitted, when they cannot be found).
  void deliver(const YuvPicture& picture, std::int64_t pts, const AccessUnit& releasing);
  // Receive thread: fails the decode call and names the reason in the info.
  void refuse(const PictureRefusal& refusal);
  UnitStamps stampsOf(std::int64_t pts, const AccessUnit& releasing) const;
  // Receive thread; takes the mutex.
  void setRefusal(std::string text) EXCLUDES(mutex_);
  // `dropped`: a picture lost to damage or to the wait for a key picture.
  void countSkipped(bool dropped) EXCLUDES(mutex_);

  std::unique_ptr<DecoderBackend> backend_;
  const FrameCallback onFrame_;
  const ClockFn clock_;

  // Receive thread only.
  std::vector<std::uint8_t> sps_;
  std::vector<std::uint8_t> pps_;
  std::vector<std::uint8_t> vps_;
  CodecKind paramsCodec_ = kCodecNone;  // codec the stored parameter sets belong to
  CodecKind openCodec_ = kCodecNone;    // codec of the open backend, none when closed
  bool needKey_ = true;
  bool delivered_ = false;   // the current decode call handed on a picture
  bool badPicture_ = false;  // the current decode call met an unreadable or refused picture
  std::vector<std::uint8_t> pixels_;  // BGRA, reused between pictures
  // Stamps of the last submitted units, oldest overwritten first: more than
  // the 16 pictures an H.264 or HEVC decoder may hold back for reordering.
  std::array<UnitStamps, 32> submitted_{};
  std::size_t nextSubmitted_ = 0;

  mutable Mutex mutex_;
  DecoderInfo info_ GUARDED_BY(mutex_);
  std::uint32_t maxDimension_ GUARDED_BY(mutex_) = 0;
  // Size of the last decoded picture.
  std::uint32_t sourceWidth_ GUARDED_BY(mutex_) = 0;
  std::uint32_t sourceHeight_ GUARDED_BY(mutex_) = 0;
};

}  // namespace mirandel
