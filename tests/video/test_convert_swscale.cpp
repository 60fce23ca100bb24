// 4:2:0 to BGRA against FFmpeg's libswscale (Linux: the tests link FFmpeg).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "video/test_convert_pictures.h"

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace mirandel {
namespace {

using test::Format;
using test::kFormats;
using test::TestPicture;

AVPixelFormat swscaleFormat(const Format& f) {
  if (f.bitDepth == 10) {
    return f.layout == ChromaLayout::kPlanar ? AV_PIX_FMT_YUV420P10LE : AV_PIX_FMT_P010LE;
  }
  return f.layout == ChromaLayout::kPlanar ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_NV12;
}

// Against libswscale, accurate and point-sampled, on legal codes (it wraps some beyond white).
// Guards against a rule straying from FFmpeg's: a wrong range, a wrong scale for 10-bit
// samples, P010 read as plain 16-bit values, or one matrix's constants in another's place.
TEST(ConvertLayout, EveryFormatAndMatrixStaysWithinTwoLevelsOfLibswscale) {
  constexpr std::uint32_t kW = 256, kH = 256;
  std::uint32_t seed = 99;
  for (const Format& format : kFormats) {
    for (const test::Description& d : test::kDescriptions) {
      if (d.transfer != ColorTransfer::kSdr || d.primaries != ColorPrimaries::kBt709) continue;
      TestPicture picture(format, kW, kH, 0, d);
      picture.randomise(seed, true);
      const YuvPicture& p = picture.view();
      std::vector<std::uint8_t> ours(kW * kH * 4);
      convertToBgra(p, ours.data(), kW * 4);

      SwsContext* sws = sws_getContext(kW, kH, swscaleFormat(format), kW, kH, AV_PIX_FMT_BGRA,
                                       SWS_POINT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr,
                                       nullptr, nullptr);
      ASSERT_NE(sws, nullptr) << format.name;
      const int* coefficients =
          sws_getCoefficients(d.matrix == ColorMatrix::kBt601    ? SWS_CS_ITU601
                              : d.matrix == ColorMatrix::kBt2020 ? SWS_CS_BT2020
                                                                 : SWS_CS_ITU709);
      sws_setColorspaceDetails(sws, coefficients, format.range == ColorRange::kFull ? 1 : 0,
                               coefficients, 1, 0, 1 << 16, 1 << 16);
      std::vector<std::uint8_t> theirs(kW * kH * 4);
      const std::uint8_t* src[4] = {p.y, p.u, p.v, nullptr};
      const int srcStride[4] = {static_cast<int>(p.yStride), static_cast<int>(p.uStride),
                                static_cast<int>(p.vStride), 0};
      std::uint8_t* dst[4] = {theirs.data(), nullptr, nullptr, nullptr};
      const int dstStride[4] = {kW * 4, 0, 0, 0};
      sws_scale(sws, src, srcStride, 0, kH, dst, dstStride);
      sws_freeContext(sws);

      int worst = 0;
      for (std::size_t i = 0; i < ours.size(); ++i) {
        worst = std::max(worst, std::abs(int{ours[i]} - int{theirs[i]}));
      }
      EXPECT_LE(worst, d.matrix == ColorMatrix::kBt709 ? 1 : 2) << format.name << " " << d.name;
    }
  }
}

}  // namespace
}  // namespace mirandel
