#include "tools/phone/VideoEncoder.h"

#include <cstring>
#include <stdexcept>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

namespace mirandel::phone {

struct VideoEncoder::Av {
  AVCodecContext* context = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  ~Av() {
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
  }
};

namespace {

struct ColourFlags {
  AVColorPrimaries primaries;
  AVColorTransferCharacteristic transfer;
  AVColorSpace matrix;
};

ColourFlags flagsOf(StreamColour colour) {
  switch (colour) {
    case StreamColour::kBt601:
      return {AVCOL_PRI_SMPTE170M, AVCOL_TRC_SMPTE170M, AVCOL_SPC_SMPTE170M};
    case StreamColour::kBt2020Hlg:
      return {AVCOL_PRI_BT2020, AVCOL_TRC_ARIB_STD_B67, AVCOL_SPC_BT2020_NCL};
    default:
      return {AVCOL_PRI_BT709, AVCOL_TRC_BT709, AVCOL_SPC_BT709};
  }
}

}  // namespace

VideoEncoder::VideoEncoder(const EncoderOptions& options)
    : options_(options), av_(std::make_unique<Av>()) {
  // The encoders' per-run summaries would bury the emulator's own output.
  av_log_set_level(AV_LOG_ERROR);
  // HDR goes out in 10 bits, as a phone sends it, unless this encoder build takes 8 only.
  const bool tenBit = options.colour == StreamColour::kBt2020Hlg;
  if (!open(tenBit) && !(tenBit && open(false))) {
    throw std::runtime_error("cannot open the encoder");
  }
}

bool VideoEncoder::open(bool tenBit) {
  av_ = std::make_unique<Av>();
  tenBit_ = tenBit;
  const EncoderOptions& options = options_;
  const bool hevc = options.codec == kCodecHevc;
  const AVCodec* codec = avcodec_find_encoder_by_name(hevc ? "libx265" : "libx264");
  if (!codec) throw std::runtime_error(hevc ? "libx265 not available" : "libx264 not available");
  const AVPixelFormat format = tenBit ? AV_PIX_FMT_YUV420P10LE : AV_PIX_FMT_YUV420P;
  AVCodecContext* c = av_->context = avcodec_alloc_context3(codec);
  c->width = options.width;
  c->height = options.height;
  c->pix_fmt = format;
  // Both encoder wrappers write these into the VUI.
  const ColourFlags flags = flagsOf(options.colour);
  c->color_primaries = flags.primaries;
  c->color_trc = flags.transfer;
  c->colorspace = flags.matrix;
  c->color_range = AVCOL_RANGE_MPEG;
  c->time_base = AVRational{1, options.fps};
  c->framerate = AVRational{options.fps, 1};
  c->bit_rate = static_cast<std::int64_t>(options.bitrateKbps) * 1000;
  c->rc_max_rate = c->bit_rate;
  c->rc_buffer_size = static_cast<int>(c->bit_rate / options.fps * 2);
  c->gop_size = options.keyInterval;
  c->max_b_frames = 0;
  c->thread_count = 1;
  // No AV_CODEC_FLAG_GLOBAL_HEADER: parameter sets travel in-band before each key picture.
  av_opt_set(c->priv_data, "preset", "ultrafast", 0);
  av_opt_set(c->priv_data, "tune", "zerolatency", 0);
  av_opt_set(c->priv_data, "forced-idr", "1", 0);
  if (hevc) {
    av_opt_set(c->priv_data, "x265-params",
               "repeat-headers=1:bframes=0:log-level=error:info=0:pools=1:frame-threads=1", 0);
  } else {
    av_opt_set(c->priv_data, "x264-params", "repeat-headers=1:bframes=0", 0);
  }
  if (avcodec_open2(c, codec, nullptr) < 0) return false;
  av_->frame = av_frame_alloc();
  av_->frame->format = format;
  av_->frame->width = options.width;
  av_->frame->height = options.height;
  if (av_frame_get_buffer(av_->frame, 0) < 0) throw std::runtime_error("no frame buffer");
  av_->packet = av_packet_alloc();
  return true;
}

VideoEncoder::~VideoEncoder() = default;

bool VideoEncoder::encode(const YuvPicture& picture, std::int64_t index, bool forceKey,
                          std::vector<EncodedPicture>& out) {
  if (picture.width != options_.width || picture.height != options_.height) return false;
  AVFrame* f = av_->frame;
  if (av_frame_make_writable(f) < 0) return false;
  const int cw = picture.width / 2;
  // One row of a plane: the bytes as they are, or 10-bit words four times their value.
  const auto copyRow = [this](std::uint8_t* to, const std::uint8_t* from, int samples) {
    if (!tenBit_) {
      std::memcpy(to, from, static_cast<std::size_t>(samples));
      return;
    }
    for (int i = 0; i < samples; ++i) {
      const auto word = static_cast<std::uint16_t>(from[i] << 2);
      std::memcpy(to + 2 * i, &word, sizeof word);
    }
  };
  for (int row = 0; row < picture.height; ++row) {
    copyRow(f->data[0] + row * f->linesize[0], picture.y.data() + row * picture.width,
            picture.width);
  }
  for (int row = 0; row < picture.height / 2; ++row) {
    copyRow(f->data[1] + row * f->linesize[1], picture.u.data() + row * cw, cw);
    copyRow(f->data[2] + row * f->linesize[2], picture.v.data() + row * cw, cw);
  }
  f->pts = index;
  f->pict_type = forceKey ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  if (avcodec_send_frame(av_->context, f) < 0) return false;
  for (;;) {
    const int r = avcodec_receive_packet(av_->context, av_->packet);
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
    if (r < 0) return false;
    EncodedPicture p;
    p.bytes.assign(av_->packet->data, av_->packet->data + av_->packet->size);
    p.pts90k = av_->packet->pts * 90000 / options_.fps;
    p.key = (av_->packet->flags & AV_PKT_FLAG_KEY) != 0;
    out.push_back(std::move(p));
    av_packet_unref(av_->packet);
  }
  return true;
}

}  // namespace mirandel::phone
