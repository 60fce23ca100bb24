#include "video/LavcDecoder.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "video/DecoderCore.h"
#include "video/PictureGeometry.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
#include <libavutil/pixfmt.h>
}

namespace mirandel {

namespace {

// A unit in yields its picture at once; the cap only bounds a misbehaving
// decoder.
constexpr int kMaxDrainPasses = 8;

// libavcodec reports every damaged slice on stderr by default; damaged
// network input is dropped silently here, and the host's output stays clean.
void quietLibraryLog() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

// The short name the status line gives a format that cannot be converted:
// what sets it apart from 8- or 10-bit 4:2:0.
std::string formatName(int format) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
  if (d == nullptr) return "unknown";
  std::string name;
  if (d->nb_components < 3) {
    name = "monochrome";
  } else if ((d->flags & AV_PIX_FMT_FLAG_RGB) != 0) {
    name = "RGB";
  } else if (d->log2_chroma_w == 0 && d->log2_chroma_h == 0) {
    name = "4:4:4";
  } else if (d->log2_chroma_w == 1 && d->log2_chroma_h == 0) {
    name = "4:2:2";
  } else if (d->log2_chroma_w == 2 && d->log2_chroma_h == 0) {
    name = "4:1:1";
  }
  const int depth = d->comp[0].depth;
  if (depth != 8 && depth != 10) {
    // Appended piece by piece: `const char* + std::string` inserts at the front, where
    // GCC 12 at -O3 warns -Wrestrict falsely, and the release build treats that as an error.
    if (!name.empty()) name += ' ';
    name += std::to_string(depth) + "-bit";
  }
  return name.empty() ? std::string(d->name) : name;
}

class LavcBackend final : public DecoderBackend {
 public:
  LavcBackend() : packet_(av_packet_alloc()), frame_(av_frame_alloc()) {}
  ~LavcBackend() override {
    close();
    av_frame_free(&frame_);
    av_packet_free(&packet_);
  }
  LavcBackend(const LavcBackend&) = delete;
  LavcBackend& operator=(const LavcBackend&) = delete;

  bool open(CodecKind codec) override {
    close();
    if (packet_ == nullptr || frame_ == nullptr) return false;
    quietLibraryLog();
    AVCodecID id;
    if (codec == kCodecH264) {
      id = AV_CODEC_ID_H264;
    } else if (codec == kCodecHevc) {
      id = AV_CODEC_ID_HEVC;
    } else {
      return false;
    }
    const AVCodec* decoder = avcodec_find_decoder(id);
    if (decoder == nullptr) return false;
    context_ = avcodec_alloc_context3(decoder);
    if (context_ == nullptr) return false;
    // Output each picture as soon as it is decoded. Frame threading would add
    // a picture of delay per thread and uneven latency; slice threading adds
    // none and splits a picture coded in several slices across cores.
    context_->flags |= AV_CODEC_FLAG_LOW_DELAY;
    context_->thread_type = FF_THREAD_SLICE;
    context_->thread_count =
        static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
    // Refuse oversized pictures before their buffers are allocated.
    context_->max_pixels = static_cast<std::int64_t>(kMaxPictureArea);
    if (avcodec_open2(context_, decoder, nullptr) < 0) {
      avcodec_free_context(&context_);
      return false;
    }
    return true;
  }

  void close() override {
    if (context_ != nullptr) avcodec_free_context(&context_);
  }

  bool submit(const AccessUnit& unit, bool key) override {
    if (context_ == nullptr || unit.bytes.empty() ||
        unit.bytes.size() > static_cast<std::size_t>(INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE)) {
      return false;
    }
    // libavcodec reads a few bytes past the end of the data; give it zeroed
    // padding in a buffer kept between units.
    input_.resize(unit.bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE);
    std::copy(unit.bytes.begin(), unit.bytes.end(), input_.begin());
    std::fill(input_.begin() + static_cast<std::ptrdiff_t>(unit.bytes.size()), input_.end(), 0);
    av_packet_unref(packet_);
    packet_->data = input_.data();
    packet_->size = static_cast<int>(unit.bytes.size());
    packet_->pts = unit.pts >= 0 ? unit.pts : AV_NOPTS_VALUE;
    packet_->flags = key ? AV_PKT_FLAG_KEY : 0;
    const int result = avcodec_send_packet(context_, packet_);
    packet_->data = nullptr;
    packet_->size = 0;
    return result >= 0 || oversized();
  }

  bool drain(PictureSink& sink) override {
    if (context_ == nullptr) return false;
    bool ok = true;
    bool any = false;
    for (int pass = 0; pass < kMaxDrainPasses; ++pass) {
      const int result = avcodec_receive_frame(context_, frame_);
      if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) break;
      if (result < 0) return false;
      any = true;
      YuvPicture picture;
      const std::int64_t pts = frame_->pts == AV_NOPTS_VALUE ? -1 : frame_->pts;
      if (!convertible(frame_->format)) {
        sink.refused({formatName(frame_->format), static_cast<std::uint32_t>(frame_->width),
                      static_cast<std::uint32_t>(frame_->height)});
        ok = false;
      } else if (viewOf(*frame_, picture)) {
        sink.picture(picture, pts);
      } else {
        ok = false;  // a malformed frame: never misread it
      }
      av_frame_unref(frame_);
    }
    if (!any && oversized()) {
      // The decoder refused to allocate the picture; its size is known from
      // the parameter sets.
      sink.refused({{},
                    static_cast<std::uint32_t>(context_->width),
                    static_cast<std::uint32_t>(context_->height)});
      return false;
    }
    return ok;
  }

  bool hardware() const override { return false; }

 private:
  static bool convertible(int format) {
    return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P ||
           format == AV_PIX_FMT_YUV420P10LE;
  }

  // The stream's pictures, as the parameter sets describe them, are over the
  // size limit that max_pixels enforces.
  bool oversized() const {
    return context_ != nullptr && context_->width > 0 && context_->height > 0 &&
           !pictureSizeAllowed(static_cast<std::uint32_t>(context_->width),
                               static_cast<std::uint32_t>(context_->height));
  }

  // Checks the frame before any arithmetic on its sizes and strides.
  static bool viewOf(const AVFrame& f, YuvPicture& p) {
    if (!convertible(f.format)) return false;
    if (f.width <= 0 || f.height <= 0) return false;
    for (int plane = 0; plane < 3; ++plane) {
      if (f.data[plane] == nullptr || f.linesize[plane] <= 0) return false;
    }
    p.layout = ChromaLayout::kPlanar;
    p.bitDepth = f.format == AV_PIX_FMT_YUV420P10LE ? 10 : 8;
    p.alignment = SampleAlignment::kLow;
    // libavcodec's colour fields carry the VUI's codes as they are.
    ColorCodes codes;
    codes.primaries = static_cast<std::uint8_t>(f.color_primaries);
    codes.transfer = static_cast<std::uint8_t>(f.color_trc);
    codes.matrix = static_cast<std::uint8_t>(f.colorspace);
    codes.fullRange = f.format == AV_PIX_FMT_YUVJ420P || f.color_range == AVCOL_RANGE_JPEG;
    setColorSpace(p, colorSpaceOf(codes, static_cast<std::uint32_t>(f.height)));
    p.width = static_cast<std::uint32_t>(f.width);
    p.height = static_cast<std::uint32_t>(f.height);
    p.y = f.data[0];
    p.yStride = static_cast<std::size_t>(f.linesize[0]);
    p.u = f.data[1];
    p.uStride = static_cast<std::size_t>(f.linesize[1]);
    p.v = f.data[2];
    p.vStride = static_cast<std::size_t>(f.linesize[2]);
    return pictureIsReadable(p);
  }

  AVCodecContext* context_ = nullptr;
  AVPacket* packet_;
  AVFrame* frame_;
  std::vector<std::uint8_t> input_;  // the unit plus zeroed padding, reused
};

}  // namespace

std::unique_ptr<DecoderBackend> makeLavcBackend() { return std::make_unique<LavcBackend>(); }

std::unique_ptr<Decoder> makeDecoder(FrameCallback onFrame, ClockFn clock) {
  return std::make_unique<DecoderCore>(makeLavcBackend(), std::move(onFrame), std::move(clock));
}

}  // namespace mirandel
