#pragma once
// The codec-neutral decoder: the Annex-B walk, parameter-set tracking, the
// key-picture gate, the counters, the output-size rule and the conversion to
// BGRA, around a DecoderBackend that talks to the codec library.
#include <memory>
#include <mutex>
#include <vector>

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
  bool openBackend(CodecKind codec);
  // Receive thread, from the backend's drain: scale, convert, hand on.
  void deliver(const YuvPicture& picture, const AccessUnit& unit);
  void countSkipped();

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
  bool delivered_ = false;            // the current decode call handed on a picture
  bool badPicture_ = false;           // the current decode call met an unreadable picture
  std::vector<std::uint8_t> pixels_;  // BGRA, reused between pictures

  mutable std::mutex mutex_;
  DecoderInfo info_;                // guarded by mutex_
  std::uint32_t maxDimension_ = 0;  // guarded by mutex_
  std::uint32_t sourceWidth_ = 0;   // guarded by mutex_; size of the last decoded picture
  std::uint32_t sourceHeight_ = 0;  // guarded by mutex_
};

}  // namespace mirandel
