#include "video/MFDecoder.h"

// clang-format off
#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mftransform.h>
// clang-format on

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/ShownTexts.h"
#include "video/AnnexB.h"
#include "video/ComPtr.h"
#include "video/DecoderCore.h"
#include "video/MFOutputFormat.h"
#include "video/MFTransform.h"
#include "video/PictureGeometry.h"
#include "video/SequenceInfo.h"

namespace mirandel {

namespace {

// Low-latency decoders give each unit's picture in the same call; the cap
// only bounds a misbehaving one.
constexpr int kMaxDrainPasses = 8;

// Sequence parameter sets kept, newest first: pictures of the previous size
// still come out of the decoder after the next size's set went in.
constexpr std::size_t kKeptSequences = 4;

// A transform that never says it has no more output types.
constexpr DWORD kMaxOutputTypes = 64;

const char* codecName(CodecKind codec) { return codec == kCodecHevc ? "HEVC" : "H.264"; }

// A video subtype is a FourCC in its first 32 bits.
std::string fourCcOf(const GUID& subtype) {
  std::string name;
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>((subtype.Data1 >> (8 * i)) & 0xFF);
    if (c > ' ' && c < 127) name += c;
  }
  return name.empty() ? "unknown" : name;
}

// What sets a stream's pictures apart from 4:2:0 of 8 or 10 bits, in the
// words the Linux decoder uses; empty when they are that.
std::string formatName(const SequenceInfo& s) {
  std::string name = s.chromaFormat == 0   ? "monochrome"
                     : s.chromaFormat == 2 ? "4:2:2"
                     : s.chromaFormat == 3 ? "4:4:4"
                                           : "";
  if (s.bitDepth != 8 && s.bitDepth != 10) {
    name += (name.empty() ? "" : " ") + std::to_string(s.bitDepth) + "-bit";
  }
  return name;
}

// A format no NV12 or P010 picture can carry. Monochrome can: a decoder hands
// it out as 4:2:0 with neutral chroma.
bool unreadableFormat(const SequenceInfo& s) {
  return (s.chromaFormat != 0 && s.chromaFormat != 1) || (s.bitDepth != 8 && s.bitDepth != 10);
}

// The bytes of one output buffer: where the top row starts, how many bytes
// from there may be read, and the distance between rows.
struct BufferView {
  const std::uint8_t* base = nullptr;
  std::size_t length = 0;
  std::size_t pitch = 0;
};

// Keeps an output buffer locked for reading while it lives. The
// two-dimensional lock reads the decoder's own layout without a copy; a
// buffer without it, or whose rows run bottom-up, is read through the plain
// lock, which lays it out top-down with the negotiated stride.
class BufferLock {
 public:
  explicit BufferLock(ComPtr<IMFMediaBuffer> buffer) : buffer_(std::move(buffer)) {}
  ~BufferLock() {
    if (locked2d_) {
      buffer2d_->Unlock2D();
    } else if (lockedPlain_) {
      buffer_->Unlock();
    }
  }
  BufferLock(const BufferLock&) = delete;
  BufferLock& operator=(const BufferLock&) = delete;

  // plainPitch: the row distance of the plain lock's layout; rows: the rows
  // of that distance the format takes, for a 2D lock that does not say how
  // long its buffer is.
  std::optional<BufferView> lock(std::size_t plainPitch, std::size_t rows) {
    if (auto sized = buffer_.as<IMF2DBuffer2>(IID_IMF2DBuffer2)) {
      BYTE* scan0 = nullptr;
      BYTE* start = nullptr;
      LONG pitch = 0;
      DWORD length = 0;
      if (SUCCEEDED(
              sized->Lock2DSize(MF2DBuffer_LockFlags_Read, &scan0, &pitch, &start, &length))) {
        if (pitch > 0 && scan0 >= start && scan0 < start + length) {
          buffer2d_ = sized.as<IMF2DBuffer>(IID_IMF2DBuffer);
          if (buffer2d_) {
            locked2d_ = true;
            return BufferView{scan0, length - static_cast<std::size_t>(scan0 - start),
                              static_cast<std::size_t>(pitch)};
          }
        }
        sized->Unlock2D();
      }
    } else if (auto plain2d = buffer_.as<IMF2DBuffer>(IID_IMF2DBuffer)) {
      BYTE* scan0 = nullptr;
      LONG pitch = 0;
      if (SUCCEEDED(plain2d->Lock2D(&scan0, &pitch))) {
        if (pitch > 0 && scan0 != nullptr) {
          buffer2d_ = std::move(plain2d);
          locked2d_ = true;
          return BufferView{scan0, static_cast<std::size_t>(pitch) * rows,
                            static_cast<std::size_t>(pitch)};
        }
        plain2d->Unlock2D();
      }
    }
    BYTE* data = nullptr;
    DWORD maxLength = 0;
    DWORD length = 0;
    if (FAILED(buffer_->Lock(&data, &maxLength, &length)) || data == nullptr) return std::nullopt;
    lockedPlain_ = true;
    return BufferView{data, length, plainPitch};
  }

 private:
  ComPtr<IMFMediaBuffer> buffer_;
  ComPtr<IMF2DBuffer> buffer2d_;
  bool locked2d_ = false;
  bool lockedPlain_ = false;
};

class MFBackend final : public DecoderBackend {
 public:
  MFBackend() = default;
  ~MFBackend() override { close(); }
  MFBackend(const MFBackend&) = delete;
  MFBackend& operator=(const MFBackend&) = delete;

  bool open(CodecKind codec) override {
    close();
    openFailure_.clear();
    if (codec != kCodecH264 && codec != kCodecHevc) return false;
    const std::string name = codecName(codec);
    joinComApartment();
    const MediaFoundation& mf = mediaFoundation();
    if (FAILED(mf.started)) {
      openFailure_ = text::kNoMediaFoundation;
      return false;
    }

    DecoderTransforms decoders = findDecoderTransforms(codec);
    if (decoders.found.empty()) {
      openFailure_ = text::fillText(text::kNoDecoder, {name});
      return false;
    }
    ComPtr<IMFTransform> transform;
    const HRESULT hr = decoders.found[0]->ActivateObject(IID_IMFTransform, transform.putVoid());
    decoders.found.clear();
    if (FAILED(hr) || !transform) {
      openFailure_ = text::fillText(text::kDecoderDidNotStart, {name});
      return false;
    }
    requestLowLatency(*transform.get());
    if (FAILED(setInputType(*transform.get(), codec))) {
      openFailure_ = text::fillText(text::kDecoderRefused, {name});
      return false;
    }
    transform_ = std::move(transform);
    codec_ = codec;
    std::string offered;
    if (!selectOutput(offered)) {
      close();
      openFailure_ = text::fillText(text::kDecoderNoOutput, {name});
      return false;
    }
    transform_->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0);
    transform_->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0);
    return true;
  }

  void close() override {
    if (transform_) {
      transform_->ProcessMessage(MFT_MESSAGE_COMMAND_FLUSH, 0);
      transform_->ProcessMessage(MFT_MESSAGE_NOTIFY_END_STREAMING, 0);
      transform_.reset();
    }
    outputBuffer_.reset();
    outputBufferCapacity_ = 0;
    format_ = {};
    codec_ = kCodecNone;
    sequences_.clear();
    lastSequenceBytes_.clear();
    pendingRefusal_.reset();
  }

  std::string openFailure() const override { return openFailure_; }

  bool submit(const AccessUnit& unit, bool key) override {
    if (!transform_ || unit.bytes.empty() || unit.bytes.size() > MAXDWORD) return false;
    noteSequences(unit);
    // Pictures the conversion cannot read, or too large to take, never reach
    // the decoder: it would allocate their buffers first.
    if (!sequences_.empty()) {
      const SequenceInfo& s = sequences_.front();
      if (unreadableFormat(s)) {
        pendingRefusal_ = PictureRefusal{formatName(s), s.width, s.height};
        return true;
      }
      if (!pictureSizeAllowed(s.width, s.height)) {
        pendingRefusal_ = PictureRefusal{{}, s.width, s.height};
        return true;
      }
    }

    const ComPtr<IMFSample> sample = inputSample(unit, key);
    if (!sample) return false;
    timed_ = unit.pts >= 0;
    return SUCCEEDED(transform_->ProcessInput(0, sample.get(), 0));
  }

  bool drain(PictureSink& sink) override {
    if (!transform_) return false;
    if (pendingRefusal_) {
      sink.refused(*pendingRefusal_);
      pendingRefusal_.reset();
      return false;
    }
    bool ok = true;
    for (int pass = 0; pass < kMaxDrainPasses; ++pass) {
      ComPtr<IMFSample> given;
      if (!providesSamples_ && !outputSample(given)) return false;
      const OutputCall call = processOutput(*transform_.get(), given.get());
      if (call.result == MF_E_TRANSFORM_NEED_MORE_INPUT) return ok;
      if (call.result == MF_E_TRANSFORM_STREAM_CHANGE) {
        std::string offered;
        if (!selectOutput(offered)) {
          refuseOutput(sink, offered);
          return false;
        }
        continue;
      }
      if (FAILED(call.result)) return false;
      if (call.noSample) continue;
      if (call.picture != nullptr && !deliver(*call.picture, sink)) ok = false;
    }
    return ok;
  }

  bool hardware() const override { return false; }

 private:
  // Remembers the sequence parameter sets the unit carries, newest first.
  void noteSequences(const AccessUnit& unit) {
    NalReader reader(unit.bytes.data(), unit.bytes.size());
    NalUnit nal;
    while (reader.next(nal)) {
      if (nalType(nal, codec_) != (codec_ == kCodecHevc ? 33u : 7u)) continue;
      // The same set comes with every key picture.
      if (lastSequenceBytes_.size() == nal.size &&
          std::equal(lastSequenceBytes_.begin(), lastSequenceBytes_.end(), nal.data)) {
        continue;
      }
      lastSequenceBytes_.assign(nal.data, nal.data + nal.size);
      const std::optional<SequenceInfo> info = readSequenceInfo(nal, codec_);
      if (!info) continue;
      std::erase(sequences_, *info);
      sequences_.insert(sequences_.begin(), *info);
      if (sequences_.size() > kKeptSequences) sequences_.pop_back();
    }
  }

  // The newest sequence whose coded size is the frame size the transform
  // gives: its cropping tells the visible area when the transform does not.
  const SequenceInfo* sequenceCodedAs(std::uint32_t width, std::uint32_t height) const {
    for (const SequenceInfo& s : sequences_) {
      if (s.codedWidth == width && s.codedHeight == height) return &s;
    }
    return nullptr;
  }

  // Chooses NV12, or P010 first for a 10-bit stream, among the transform's
  // output types and reads the geometry of the one it takes. When it offers
  // neither, `offered` lists what it does offer.
  bool selectOutput(std::string& offered) {
    ComPtr<IMFMediaType> nv12, p010;
    for (DWORD i = 0; i < kMaxOutputTypes; ++i) {
      ComPtr<IMFMediaType> type;
      if (FAILED(transform_->GetOutputAvailableType(0, i, type.put())) || !type) break;
      GUID subtype{};
      if (FAILED(type->GetGUID(MF_MT_SUBTYPE, &subtype))) continue;
      if (subtype == MFVideoFormat_NV12) {
        if (!nv12) nv12 = std::move(type);
      } else if (subtype == MFVideoFormat_P010) {
        if (!p010) p010 = std::move(type);
      } else if (offered.find(fourCcOf(subtype)) == std::string::npos) {
        offered += (offered.empty() ? "" : ", ") + fourCcOf(subtype);
      }
    }
    const bool tenBit = !sequences_.empty() && sequences_.front().bitDepth > 8;
    ComPtr<IMFMediaType>* order[] = {tenBit ? &p010 : &nv12, tenBit ? &nv12 : &p010};
    for (ComPtr<IMFMediaType>* candidate : order) {
      if (!*candidate || FAILED(transform_->SetOutputType(0, candidate->get(), 0))) continue;
      const std::uint8_t bitDepth = candidate == &p010 ? 10 : 8;
      ComPtr<IMFMediaType> current;
      const bool haveCurrent =
          SUCCEEDED(transform_->GetOutputCurrentType(0, current.put())) && current;
      format_ = readOutputFormat(haveCurrent ? *current.get() : *candidate->get(), bitDepth);
      readStreamInfo();
      return true;
    }
    return false;
  }

  void readStreamInfo() {
    MFT_OUTPUT_STREAM_INFO info{};
    providesSamples_ = false;
    outputBufferSize_ = 0;
    outputAlignment_ = 0;
    if (SUCCEEDED(transform_->GetOutputStreamInfo(0, &info))) {
      providesSamples_ = (info.dwFlags & (MFT_OUTPUT_STREAM_PROVIDES_SAMPLES |
                                          MFT_OUTPUT_STREAM_CAN_PROVIDE_SAMPLES)) != 0;
      outputBufferSize_ = info.cbSize;
      outputAlignment_ = info.cbAlignment;
    }
    if (outputBufferSize_ == 0) {
      const std::uint64_t bytes =
          std::uint64_t{format_.width} * format_.height * 3 / 2 * (format_.bitDepth > 8 ? 2 : 1);
      outputBufferSize_ = static_cast<DWORD>(std::min<std::uint64_t>(bytes, MAXDWORD));
    }
  }

  // A new sample around the output buffer, which is kept between pictures.
  // The sample itself is new each time, so no picture inherits the time of
  // the one before.
  bool outputSample(ComPtr<IMFSample>& sample) {
    const MediaFoundation& mf = mediaFoundation();
    if (!outputBuffer_ || outputBufferCapacity_ != outputBufferSize_) {
      outputBuffer_.reset();
      const HRESULT hr = outputAlignment_ > 1
                             ? mf.createAlignedMemoryBuffer(outputBufferSize_, outputAlignment_ - 1,
                                                            outputBuffer_.put())
                             : mf.createMemoryBuffer(outputBufferSize_, outputBuffer_.put());
      if (FAILED(hr)) {
        outputBuffer_.reset();
        return false;
      }
      outputBufferCapacity_ = outputBufferSize_;
    }
    return SUCCEEDED(outputBuffer_->SetCurrentLength(0)) &&
           SUCCEEDED(mf.createSample(sample.put())) &&
           SUCCEEDED(sample->AddBuffer(outputBuffer_.get()));
  }

  // The output type's choices refused: named after what the stream is, when
  // its parameter set says, else after what the decoder offered.
  void refuseOutput(PictureSink& sink, const std::string& offered) {
    PictureRefusal refusal;
    if (!sequences_.empty()) {
      const SequenceInfo& s = sequences_.front();
      refusal = {formatName(s), s.width, s.height};
    }
    if (refusal.format.empty()) refusal.format = offered.empty() ? "no output type" : offered;
    sink.refused(refusal);
  }

  // The visible area of a picture in the negotiated output: the transform's
  // display aperture; else the cropping of the sequence coded at the frame
  // size (a decoder that pads 1080 rows to 1088 and says no more); else the
  // whole frame.
  Nv12Layout visibleLayout(const SequenceInfo* sequence) const {
    Nv12Layout l;
    l.width = format_.width;
    l.height = format_.height;
    l.planeHeight = format_.height;
    l.bitDepth = format_.bitDepth;
    if (format_.hasAperture) {
      l.cropX = format_.apertureX;
      l.cropY = format_.apertureY;
      l.width = format_.apertureWidth;
      l.height = format_.apertureHeight;
    } else if (sequence != nullptr) {
      l.cropX = sequence->cropX & ~1u;
      l.cropY = sequence->cropY & ~1u;
      l.width = sequence->width;
      l.height = sequence->height;
    }
    return l;
  }

  // One decoded picture to the sink; false when it cannot be read.
  bool deliver(IMFSample& sample, PictureSink& sink) {
    // A decoder may make up times for units that had none; those match no unit.
    LONGLONG time = 0;
    const std::int64_t pts =
        timed_ && SUCCEEDED(sample.GetSampleTime(&time)) && time >= 0 ? ptsOf(time) : -1;
    const SequenceInfo* sequence = sequenceCodedAs(format_.width, format_.height);
    Nv12Layout layout = visibleLayout(sequence);
    if (!pictureSizeAllowed(layout.width, layout.height)) {
      sink.refused({{}, layout.width, layout.height});
      return false;
    }
    ComPtr<IMFMediaBuffer> buffer;
    if (FAILED(sample.ConvertToContiguousBuffer(buffer.put())) || !buffer) return false;
    const std::size_t sampleBytes = format_.bitDepth > 8 ? 2 : 1;
    const std::size_t plainPitch = format_.stride > 0 ? static_cast<std::size_t>(format_.stride)
                                                      : std::size_t{format_.width} * sampleBytes;
    const std::size_t rows = std::size_t{format_.height} + (format_.height + 1) / 2;
    BufferLock lock(std::move(buffer));
    const std::optional<BufferView> view = lock.lock(plainPitch, rows);
    if (!view) return false;
    layout.pitch = view->pitch;
    std::optional<YuvPicture> picture = nv12Picture(view->base, view->length, layout);
    // A buffer shorter than its format says is never misread.
    if (!picture) return false;
    // The colour description: the output type's, field by field, where it
    // names one, else the sequence parameter set's. The range is the
    // stream's own flag, as the Linux decoder reads it, and the transform's
    // word only when the parameter set could not be read.
    const SequenceInfo* described = sequence != nullptr  ? sequence
                                    : sequences_.empty() ? nullptr
                                                         : &sequences_.front();
    ColorCodes codes = described != nullptr ? described->color : ColorCodes{};
    if (described == nullptr) codes.fullRange = format_.range == ColorRange::kFull;
    codes.matrix = format_.matrix.value_or(codes.matrix);
    codes.transfer = format_.transfer.value_or(codes.transfer);
    codes.primaries = format_.primaries.value_or(codes.primaries);
    setColorSpace(*picture, colorSpaceOf(codes, picture->height));
    sink.picture(*picture, pts);
    return true;
  }

  ComPtr<IMFTransform> transform_;
  CodecKind codec_ = kCodecNone;
  OutputFormat format_;
  bool providesSamples_ = false;
  DWORD outputBufferSize_ = 0;
  DWORD outputAlignment_ = 0;
  ComPtr<IMFMediaBuffer> outputBuffer_;  // reused while the size stays
  DWORD outputBufferCapacity_ = 0;
  std::vector<SequenceInfo> sequences_;           // newest first, at most kKeptSequences
  std::vector<std::uint8_t> lastSequenceBytes_;   // the last set read, to skip repeats
  std::optional<PictureRefusal> pendingRefusal_;  // reported by the next drain
  bool timed_ = false;                            // the last submitted unit had a pts
  std::string openFailure_;
};

}  // namespace

std::unique_ptr<DecoderBackend> makeMFBackend() { return std::make_unique<MFBackend>(); }

std::unique_ptr<Decoder> makeDecoder(FrameCallback onFrame, ClockFn clock) {
  return std::make_unique<DecoderCore>(makeMFBackend(), std::move(onFrame), std::move(clock));
}

}  // namespace mirandel
