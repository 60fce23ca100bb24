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

VideoEncoder::VideoEncoder(const EncoderOptions& options)
    : options_(options), av_(std::make_unique<Av>()) {
  // The encoders' per-run summaries would bury the emulator's own output.
  av_log_set_level(AV_LOG_ERROR);
  const bool hevc = options.codec == kCodecHevc;
  const AVCodec* codec = avcodec_find_encoder_by_name(hevc ? "libx265" : "libx264");
  if (!codec) throw std::runtime_error(hevc ? "libx265 not available" : "libx264 not available");
  AVCodecContext* c = av_->context = avcodec_alloc_context3(codec);
  c->width = options.width;
  c->height = options.height;
  c->pix_fmt = AV_PIX_FMT_YUV420P;
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
  if (avcodec_open2(c, codec, nullptr) < 0) throw std::runtime_error("cannot open the encoder");
  av_->frame = av_frame_alloc();
  av_->frame->format = AV_PIX_FMT_YUV420P;
  av_->frame->width = options.width;
  av_->frame->height = options.height;
  if (av_frame_get_buffer(av_->frame, 0) < 0) throw std::runtime_error("no frame buffer");
  av_->packet = av_packet_alloc();
}

VideoEncoder::~VideoEncoder() = default;

bool VideoEncoder::encode(const YuvPicture& picture, std::int64_t index, bool forceKey,
                          std::vector<EncodedPicture>& out) {
  if (picture.width != options_.width || picture.height != options_.height) return false;
  AVFrame* f = av_->frame;
  if (av_frame_make_writable(f) < 0) return false;
  const int cw = picture.width / 2;
  for (int row = 0; row < picture.height; ++row) {
    std::memcpy(f->data[0] + row * f->linesize[0], picture.y.data() + row * picture.width,
                picture.width);
  }
  for (int row = 0; row < picture.height / 2; ++row) {
    std::memcpy(f->data[1] + row * f->linesize[1], picture.u.data() + row * cw, cw);
    std::memcpy(f->data[2] + row * f->linesize[2], picture.v.data() + row * cw, cw);
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
