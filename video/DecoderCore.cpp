#include "video/DecoderCore.h"

#include "base/ShownTexts.h"

#include <algorithm>
#include <string>

#include "video/AnnexB.h"
#include "video/PictureGeometry.h"

namespace mirandel {

class DecoderCore::Drain final : public PictureSink {
 public:
  Drain(DecoderCore& core, const AccessUnit& unit) : core_(core), unit_(unit) {}
  void picture(const YuvPicture& view, std::int64_t pts) override {
    core_.deliver(view, pts, unit_);
  }
  void refused(const PictureRefusal& refusal) override { core_.refuse(refusal); }

 private:
  DecoderCore& core_;
  const AccessUnit& unit_;
};

namespace {

void storeParameterSet(std::vector<std::uint8_t>& stored, const NalUnit& nal) {
  if (stored.size() != nal.size || !std::equal(stored.begin(), stored.end(), nal.data)) {
    stored.assign(nal.data, nal.data + nal.size);
  }
}

}  // namespace

DecoderCore::DecoderCore(std::unique_ptr<DecoderBackend> backend, FrameCallback onFrame,
                         ClockFn clock)
    : backend_(std::move(backend)), onFrame_(std::move(onFrame)), clock_(std::move(clock)) {}

DecoderCore::~DecoderCore() { backend_->close(); }

void DecoderCore::countSkipped(bool dropped) {
  MutexLock lock(mutex_);
  ++info_.skipped;
  if (dropped) ++info_.dropped;
}

bool DecoderCore::decode(AccessUnit& unit, CodecKind codec) {
  const Nanos t0 = clock_();

  // A damaged unit is never submitted, nor are its parameter sets kept; the
  // pictures after it, or after a gap, refer to what was lost and would show
  // as smears until the next key picture.
  if (unit.corrupt || unit.discontinuity) needKey_ = true;
  if (unit.corrupt) {
    countSkipped(true);
    return true;
  }

  // Parameter sets of another codec cannot open this one: a stream that
  // switches codec must bring its own before it is decoded.
  if (codec != paramsCodec_) {
    sps_.clear();
    pps_.clear();
    vps_.clear();
    paramsCodec_ = codec;
  }

  const bool hevc = codec == kCodecHevc;
  bool isKey = unit.randomAccess;
  bool hasPicture = false;
  NalReader reader(unit.bytes.data(), unit.bytes.size());
  NalUnit nal;
  while (reader.next(nal)) {
    const unsigned type = nalType(nal, codec);
    if (hevc) {
      if (type == 32) {
        storeParameterSet(vps_, nal);
      } else if (type == 33) {
        storeParameterSet(sps_, nal);
      } else if (type == 34) {
        storeParameterSet(pps_, nal);
      } else if (type < 32) {
        hasPicture = true;
        if (type >= 16 && type <= 23) isKey = true;
      }
    } else {
      if (type == 7) {
        storeParameterSet(sps_, nal);
      } else if (type == 8) {
        storeParameterSet(pps_, nal);
      } else if (type == 5) {
        isKey = true;
        hasPicture = true;
      } else if (type >= 1 && type <= 4) {
        hasPicture = true;
      }
    }
  }
  if (!hasPicture) {
    countSkipped(false);
    return true;
  }

  if (openCodec_ == kCodecNone || openCodec_ != codec) {
    const bool haveParams = !sps_.empty() && !pps_.empty() && (!hevc || !vps_.empty());
    if (!haveParams) {
      countSkipped(needKey_ && !isKey);
      return true;
    }
    if (!openBackend(codec)) {
      needKey_ = true;
      MutexLock lock(mutex_);
      ++info_.errors;
      return false;
    }
    needKey_ = true;
  }
  if (needKey_ && !isKey) {
    countSkipped(true);
    return true;
  }

  if (!backend_->submit(unit, isKey)) {
    needKey_ = true;
    MutexLock lock(mutex_);
    ++info_.errors;
    return false;
  }
  submitted_[nextSubmitted_] = {unit.pts, unit.completedAt};
  nextSubmitted_ = (nextSubmitted_ + 1) % submitted_.size();

  delivered_ = false;
  badPicture_ = false;
  Drain drain(*this, unit);
  const bool drained = backend_->drain(drain);
  const bool ok = drained && !badPicture_;
  needKey_ = !ok;

  MutexLock lock(mutex_);
  info_.lastDecodeMs = static_cast<double>(clock_() - t0) / 1'000'000.0;
  if (!ok) {
    ++info_.errors;
  } else if (delivered_) {
    ++info_.framesOut;
  }
  return ok;
}

bool DecoderCore::openBackend(CodecKind codec) {
  backend_->close();
  openCodec_ = kCodecNone;
  submitted_.fill({});
  // A stream whose decoder cannot open shows nothing, like one whose pictures
  // are refused, and says why the same way. Set once the open is over, so the
  // reason does not blink while each key picture tries again.
  const bool opened = backend_->open(codec);
  setRefusal(opened ? std::string() : backend_->openFailure());
  if (!opened) return false;
  openCodec_ = codec;
  const bool hardware = backend_->hardware();
  MutexLock lock(mutex_);
  info_.hardware = hardware;
  return true;
}

void DecoderCore::setRefusal(std::string text) {
  MutexLock lock(mutex_);
  info_.refusal = std::move(text);
}

void DecoderCore::refuse(const PictureRefusal& refusal) {
  badPicture_ = true;
  if (!refusal.format.empty()) {
    setRefusal(text::fillText(text::kUnsupportedFormat, {refusal.format}));
  } else if (refusal.width != 0 && refusal.height != 0) {
    setRefusal(text::fillText(text::kPictureTooLarge,
                              {std::to_string(refusal.width), std::to_string(refusal.height)}));
  }
}

DecoderCore::UnitStamps DecoderCore::stampsOf(std::int64_t pts, const AccessUnit& releasing) const {
  if (pts >= 0) {
    // Newest first: after a PTS wrap the recent unit is the one meant.
    for (std::size_t i = 1; i <= submitted_.size(); ++i) {
      const UnitStamps& s =
          submitted_[(nextSubmitted_ + submitted_.size() - i) % submitted_.size()];
      if (s.pts == pts) return s;
    }
    return {pts, releasing.completedAt};
  }
  return {releasing.pts, releasing.completedAt};
}

void DecoderCore::deliver(const YuvPicture& picture, std::int64_t pts,
                          const AccessUnit& releasing) {
  // Before anything is allocated for it.
  if (!pictureSizeAllowed(picture.width, picture.height)) {
    refuse({{}, picture.width, picture.height});
    return;
  }
  if (!pictureIsReadable(picture)) {
    badPicture_ = true;
    return;
  }
  OutputSize out;
  {
    MutexLock lock(mutex_);
    sourceWidth_ = picture.width;
    sourceHeight_ = picture.height;
    out = outputSize(picture.width, picture.height, maxDimension_);
    info_.outputWidth = out.width;
    info_.outputHeight = out.height;
    info_.refusal.clear();
  }
  if (out.width == 0 || out.height == 0) return;

  const std::size_t stride = static_cast<std::size_t>(out.width) * 4;
  pixels_.resize(stride * out.height);
  convertToBgraScaled(picture, out.width, out.height, pixels_.data());

  const UnitStamps own = stampsOf(pts, releasing);
  Frame frame;
  frame.data = pixels_.data();
  frame.stride = stride;
  frame.width = out.width;
  frame.height = out.height;
  frame.pts = own.pts;
  frame.decodedAt = clock_();
  frame.receivedAt = own.completedAt;
  delivered_ = true;
  if (onFrame_) onFrame_(frame);
}

void DecoderCore::reset() {
  backend_->close();
  openCodec_ = kCodecNone;
  submitted_.fill({});
  setRefusal({});
  sps_.clear();
  pps_.clear();
  vps_.clear();
  needKey_ = true;
}

void DecoderCore::setMaxDimension(std::uint32_t n) {
  MutexLock lock(mutex_);
  if (n == maxDimension_) return;
  maxDimension_ = n;
  const OutputSize out = outputSize(sourceWidth_, sourceHeight_, n);
  info_.outputWidth = out.width;
  info_.outputHeight = out.height;
}

DecoderInfo DecoderCore::info() const {
  MutexLock lock(mutex_);
  return info_;
}

}  // namespace mirandel
