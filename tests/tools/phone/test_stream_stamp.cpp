#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <vector>

#include "tools/phone/Stamp.h"
#include "tools/phone/TestPattern.h"
#include "tools/phone/VideoEncoder.h"

namespace mirandel::phone {
namespace {

// Decodes Annex-B pictures with libavcodec and answers luma-only BGRA pictures (B = G = R = the
// full-range expansion of Y), which is all the stamp reader looks at.
class GreyDecoder {
 public:
  explicit GreyDecoder(CodecKind codec) {
    const AVCodec* c =
        avcodec_find_decoder(codec == kCodecHevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
    ctx_ = avcodec_alloc_context3(c);
    avcodec_open2(ctx_, c, nullptr);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
  }
  ~GreyDecoder() {
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&ctx_);
  }
  // Feeds one picture (or nullptr to drain); appends decoded BGRA pictures.
  void decode(const std::vector<std::uint8_t>* bytes, std::vector<std::vector<std::uint8_t>>& out) {
    if (bytes) {
      av_new_packet(packet_, static_cast<int>(bytes->size()));
      std::copy(bytes->begin(), bytes->end(), packet_->data);
      avcodec_send_packet(ctx_, packet_);
      av_packet_unref(packet_);
    } else {
      avcodec_send_packet(ctx_, nullptr);
    }
    while (avcodec_receive_frame(ctx_, frame_) == 0) {
      width = frame_->width;
      height = frame_->height;
      std::vector<std::uint8_t> bgra(static_cast<std::size_t>(width) * height * 4);
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          const int l = frame_->data[0][y * frame_->linesize[0] + x];
          const auto g = static_cast<std::uint8_t>(std::clamp((l - 16) * 255 / 219, 0, 255));
          std::uint8_t* p = &bgra[(static_cast<std::size_t>(y) * width + x) * 4];
          p[0] = p[1] = p[2] = g;
          p[3] = 255;
        }
      }
      out.push_back(std::move(bgra));
    }
  }
  int width = 0, height = 0;

 private:
  AVCodecContext* ctx_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
};

// Guards the latency measurement's foundation: a stamp drawn into the pattern must survive a
// real encode at a modest bit rate and decode back to exactly the frame number and time sent.
TEST(StreamStamp, SurvivesEncodingAndDecodesExactly) {
  struct Case {
    CodecKind codec;
    int width, height, kbps;
  };
  for (const Case& c : {Case{kCodecH264, 320, 240, 300}, Case{kCodecH264, 1280, 720, 1500},
                        Case{kCodecHevc, 320, 240, 300}}) {
    SCOPED_TRACE(c.width);
    EncoderOptions o;
    o.codec = c.codec;
    o.width = c.width;
    o.height = c.height;
    o.bitrateKbps = c.kbps;
    o.keyInterval = 10;
    VideoEncoder encoder(o);
    GreyDecoder decoder(c.codec);
    std::vector<Stamp> sent;
    std::vector<std::vector<std::uint8_t>> pictures;
    YuvPicture picture;
    for (int i = 0; i < 12; ++i) {
      const Stamp s{static_cast<std::uint32_t>(0x80000000u + i * 7919u),
                    0x0123456789ABCDEFull + static_cast<std::uint64_t>(i) * 33333};
      sent.push_back(s);
      renderTestPattern(s, o.width, o.height, picture);
      std::vector<EncodedPicture> coded;
      ASSERT_TRUE(encoder.encode(picture, i, false, coded));
      for (const EncodedPicture& p : coded) decoder.decode(&p.bytes, pictures);
    }
    decoder.decode(nullptr, pictures);
    ASSERT_EQ(pictures.size(), sent.size());
    for (std::size_t i = 0; i < pictures.size(); ++i) {
      const auto read =
          readStamp(pictures[i].data(), decoder.width * 4u, decoder.width, decoder.height);
      ASSERT_TRUE(read.has_value()) << "picture " << i;
      EXPECT_EQ(*read, sent[i]);
    }
  }
}

// Guards against the reader inventing a stamp from a picture that carries none.
TEST(StreamStamp, RejectsPicturesWithoutAStamp) {
  std::vector<std::uint8_t> grey(320 * 240 * 4, 128), white(320 * 240 * 4, 255);
  EXPECT_FALSE(readStamp(grey.data(), 320 * 4, 320, 240).has_value());
  EXPECT_FALSE(readStamp(white.data(), 320 * 4, 320, 240).has_value());
  EXPECT_FALSE(readStamp(grey.data(), 64 * 4, 64, 48).has_value());  // too small to carry one
}

}  // namespace
}  // namespace mirandel::phone
