// 4:2:0 to BGRA: the integer rule, picture layouts, and the SIMD rows against the scalar ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <map>
#include <string>
#include <tuple>

#include "video/PictureGeometry.h"
#include "video/test_convert_pictures.h"

namespace mirandel {
namespace {

using test::Format;
using test::GuardedBuffer;
using test::kDescriptions;
using test::kFormats;
using test::TestPicture;

using Bgra = std::array<std::uint8_t, 4>;

Bgra at(const std::uint8_t* p) { return Bgra{p[0], p[1], p[2], p[3]}; }

Bgra pixel(int y, int u, int v) {
  Bgra out{};
  yuvToBgraPixel(y, u, v, out.data());
  return out;
}

// Expected values worked out apart from the kernel (by hand and by a script from the BT.709
// constants). Guards against wrong coefficients or rounding bias, missing or one-sided clamps,
// full-range pictures converted by the limited-range rule, and 10-bit samples on the 8-bit scale.
TEST(ConvertFormula, BoundaryValuesGiveTheExactIntegerResult) {
  constexpr ColorRange kLimited = ColorRange::kLimited, kFull = ColorRange::kFull;
  struct Case {
    std::uint32_t bitDepth;
    ColorRange range;
    int y, u, v;
    Bgra bgra;
  };
  const Case cases[] = {
      {8, kLimited, 16, 128, 128, {0, 0, 0, 255}},         // black
      {8, kLimited, 235, 128, 128, {255, 255, 255, 255}},  // white
      {8, kLimited, 0, 128, 128, {0, 0, 0, 255}},          // below black clamps to 0
      {8, kLimited, 255, 128, 128, {255, 255, 255, 255}},  // above white clamps to 255
      {8, kLimited, 126, 128, 128, {128, 128, 128, 255}},  // (110 * 298 + 128) >> 8
      // Primaries and secondaries: one channel lands just off the rail.
      {8, kLimited, 63, 102, 240, {0, 1, 255, 255}},    // red
      {8, kLimited, 173, 42, 26, {1, 255, 0, 255}},     // green
      {8, kLimited, 32, 240, 118, {255, 0, 1, 255}},    // blue
      {8, kLimited, 219, 16, 138, {0, 255, 254, 255}},  // yellow
      {8, kLimited, 81, 90, 240, {0, 24, 255, 255}},
      {8, kLimited, 145, 54, 34, {0, 216, 0, 255}},
      {8, kLimited, 41, 240, 110, {255, 15, 0, 255}},
      // Chroma at both extremes: every channel clamps the right way.
      {8, kLimited, 16, 0, 0, {0, 96, 0, 255}},
      {8, kLimited, 235, 255, 255, {255, 160, 255, 255}},
      {8, kLimited, 16, 102, 240, {0, 0, 201, 255}},
      {8, kLimited, 17, 127, 128, {0, 1, 1, 255}},  // B sum is -115: clamps from below
      // Greys (16 and 235 neither black nor white), red, green, blue, then chroma extremes.
      {8, kFull, 0, 128, 128, {0, 0, 0, 255}},
      {8, kFull, 255, 128, 128, {255, 255, 255, 255}},
      {8, kFull, 128, 128, 128, {128, 128, 128, 255}},
      {8, kFull, 16, 128, 128, {16, 16, 16, 255}},
      {8, kFull, 235, 128, 128, {235, 235, 235, 255}},
      {8, kFull, 54, 99, 255, {0, 0, 254, 255}},
      {8, kFull, 182, 30, 12, {0, 255, 0, 255}},
      {8, kFull, 18, 255, 116, {254, 0, 0, 255}},
      {8, kFull, 100, 60, 200, {0, 79, 213, 255}},
      {8, kFull, 0, 0, 0, {0, 84, 0, 255}},
      {8, kFull, 255, 255, 255, {255, 172, 255, 255}},
      // Four times the 8-bit codes are held by the next test; these lie between and beyond:
      // a quarter step above black, and half a step, which rounds up.
      {10, kLimited, 65, 512, 512, {0, 0, 0, 255}},
      {10, kLimited, 66, 512, 512, {1, 1, 1, 255}},
      {10, kLimited, 1023, 1023, 1023, {255, 184, 255, 255}},
      // Greys, red, blue, green, then chroma extremes.
      {10, kFull, 0, 512, 512, {0, 0, 0, 255}},
      {10, kFull, 1023, 512, 512, {255, 255, 255, 255}},
      {10, kFull, 512, 512, 512, {128, 128, 128, 255}},
      {10, kFull, 64, 512, 512, {16, 16, 16, 255}},
      {10, kFull, 940, 512, 512, {234, 234, 234, 255}},
      {10, kFull, 217, 395, 1023, {0, 0, 255, 255}},
      {10, kFull, 74, 1023, 465, {255, 0, 0, 255}},
      {10, kFull, 732, 121, 49, {2, 255, 1, 255}},
      {10, kFull, 0, 0, 0, {0, 84, 0, 255}},
      {10, kFull, 1023, 1023, 1023, {255, 172, 255, 255}},
  };
  for (const Case& c : cases) {
    Bgra out{};
    yuvToBgraPixel(yuvRule(c.bitDepth, c.range), c.y, c.u, c.v, out.data());
    EXPECT_EQ(out, c.bgra) << c.bitDepth << "-bit" << (c.range == kFull ? " full" : " limited")
                           << " Y=" << c.y << " U=" << c.u << " V=" << c.v;
    if (c.bitDepth == 8 && c.range == kLimited) {
      EXPECT_EQ(pixel(c.y, c.u, c.v), c.bgra) << "fixed rule Y=" << c.y;
    }
  }
}

// Guards against 10-bit pictures brighter, darker or tinted against the same picture in 8 bits.
TEST(ConvertFormula, TenBitSamplesFourTimesTheEightBitOnesGiveTheEightBitResult) {
  const YuvRule ten = yuvRule(10, ColorRange::kLimited);
  // Every third code, 0 and 255 included.
  for (int y = 0; y < 256; y += 3) {
    for (int u = 0; u < 256; u += 3) {
      for (int v = 0; v < 256; v += 3) {
        Bgra out{};
        yuvToBgraPixel(ten, 4 * y, 4 * u, 4 * v, out.data());
        if (out != pixel(y, u, v)) FAIL() << "Y=" << y << " U=" << u << " V=" << v;
      }
    }
  }
}

// One pixel by the exact formula in double precision: the matrix's Kr and Kb, then through
// linear light by the transfer formulas where the description asks for it, with no tables.
Bgra formulaPixel(std::uint32_t depth, ColorRange range, const test::Description& d, int y, int u,
                  int v) {
  const auto [kr, kb] = d.matrix == ColorMatrix::kBt601    ? std::pair{0.299, 0.114}
                        : d.matrix == ColorMatrix::kBt2020 ? std::pair{0.2627, 0.0593}
                                                           : std::pair{0.2126, 0.0722};
  const double scale = 1 << (depth - 8), maxCode = (1 << depth) - 1;
  const bool limited = range == ColorRange::kLimited;
  const double luma = (y - (limited ? 16 * scale : 0)) / (limited ? 219 * scale : maxCode);
  const double pb = (u - 128 * scale) / (limited ? 224 * scale : maxCode);
  const double pr = (v - 128 * scale) / (limited ? 224 * scale : maxCode);
  const double r = luma + 2 * (1 - kr) * pr, b = luma + 2 * (1 - kb) * pb;
  std::array<double, 3> rgb = {r, (luma - kr * r - kb * b) / (1 - kr - kb), b};
  if (d.transfer != ColorTransfer::kSdr || d.primaries != ColorPrimaries::kBt709) {
    std::array<double, 3> light{};
    for (int i = 0; i < 3; ++i) light[i] = displayLightOf(d.transfer, rgb[i]);
    for (int i = 0; i < 3; ++i) {
      double x = light[i];
      if (d.primaries == ColorPrimaries::kBt2020) {
        x = kBt2020ToBt709[3 * i] * light[0] + kBt2020ToBt709[3 * i + 1] * light[1] +
            kBt2020ToBt709[3 * i + 2] * light[2];
      }
      rgb[i] = sdrSignalOf(x);
    }
  }
  const auto level = [](double c) {
    return static_cast<std::uint8_t>(std::lround(255 * std::clamp(c, 0.0, 1.0)));
  };
  return {level(rgb[2]), level(rgb[1]), level(rgb[0]), 255};
}

// Every rule at both depths and ranges on a grid of codes, within one level of the exact
// formula. Guards against a matrix's weights or signs mixed up, chroma scaled as luma, a
// linear-light table off by a step or read from the wrong end, the primaries' rows swapped, and
// an output table that rounds whole steps away.
TEST(ConvertFormula, EveryRuleStaysWithinOneLevelOfTheExactFormula) {
  for (std::uint32_t depth : {8u, 10u}) {
    for (ColorRange range : {ColorRange::kLimited, ColorRange::kFull}) {
      for (const test::Description& d : kDescriptions) {
        YuvPicture p;
        p.bitDepth = static_cast<std::uint8_t>(depth);
        setColorSpace(p, {d.matrix, d.transfer, d.primaries, range});
        const int step = depth == 8 ? 5 : 19, top = (1 << depth) - 1;
        int worst = 0;
        for (int y = 0; y <= top; y += step) {
          for (int u = 0; u <= top; u += step) {
            for (int v = 0; v <= top; v += step) {
              Bgra ours{};
              test::rulePixel(p, y, u, v, ours.data());
              const Bgra exact = formulaPixel(depth, range, d, y, u, v);
              for (int c = 0; c < 4; ++c) worst = std::max(worst, std::abs(ours[c] - exact[c]));
            }
          }
        }
        EXPECT_LE(worst, 1) << d.name << " " << depth << "-bit"
                            << (range == ColorRange::kFull ? " full" : " limited");
      }
    }
  }
}

// Known points of the transfers. Guards against reference white (HLG's 75 % signal, PQ's
// 203 cd/m2) placed anywhere but at SDR white, HLG without its system gamma, PQ in the wrong
// units, and a tone curve that dents the mid-tones or turns back down in the highlights.
TEST(ConvertFormula, TransfersPutReferenceWhiteAtSdrWhite) {
  struct Point {
    const char* what;
    ColorTransfer transfer;
    double signal, light;
  };
  const Point points[] = {
      {"SDR mid grey", ColorTransfer::kSdr, 0.5, 0.18946},  // 0.5^2.4
      {"SDR white", ColorTransfer::kSdr, 1.0, 1.0},
      {"HLG reference white", ColorTransfer::kHlg, 0.75, 1.0015},
      {"HLG half signal", ColorTransfer::kHlg, 0.5, 0.24943},  // (1/12)^1.2 * 1000/203
      {"HLG peak", ColorTransfer::kHlg, 1.0, 1000.0 / 203},
      {"PQ 203 cd/m2", ColorTransfer::kPq, 0.58069, 1.0},
      {"PQ 50 cd/m2", ColorTransfer::kPq, 0.43994, 50.0 / 203},
      {"PQ 1000 cd/m2", ColorTransfer::kPq, 0.75183, 1.0},
      {"PQ black", ColorTransfer::kPq, 0.0, 0.0},
  };
  for (const Point& p : points) {
    EXPECT_NEAR(displayLightOf(p.transfer, p.signal), p.light, 0.001 * std::max(1.0, p.light))
        << p.what;
  }
  double last = 0;
  for (double x = 0; x <= 2; x += 1.0 / 64) {
    const double t = pqToneCurve(x);
    EXPECT_GE(t, last) << x;
    if (x <= 0.5) {
      EXPECT_EQ(t, x);
    }
    last = t;
  }
  EXPECT_EQ(pqToneCurve(1.0), 1.0);
}

// Rows `row` and `row + 1` (out1 null: `row` alone) by one level's row function; false when
// this CPU or build lacks the level.
bool convertRows(SimdLevel level, const YuvPicture& p, std::uint32_t row, std::uint8_t* out0,
                 std::uint8_t* out1) {
  const std::uint8_t* y0 = p.y + row * p.yStride;
  const std::uint8_t* y1 = out1 != nullptr ? y0 + p.yStride : nullptr;
  const std::uint8_t* u = p.u + (row / 2) * p.uStride;
  if (p.bitDepth > 8 || needsLinearLight(p)) {
    const WideRowsFn wide =
        needsLinearLight(p) ? linearRowsFunction(level) : wideRowsFunction(level);
    if (wide != nullptr) wide(p, row, out0, out1);
    return wide != nullptr;
  }
  if (p.layout == ChromaLayout::kPlanar) {
    const I420RowsFn i420 = i420RowsFunction(level, p.range, p.matrix);
    if (i420 != nullptr) i420(y0, y1, u, p.v + (row / 2) * p.vStride, out0, out1, p.width);
    return i420 != nullptr;
  }
  const Nv12RowsFn nv12 = nv12RowsFunction(level, p.range, p.matrix);
  if (nv12 != nullptr) nv12(y0, y1, u, out0, out1, p.width);
  return nv12 != nullptr;
}

// The picture through each level's rows from `first` on, as row pairs and as single rows, into
// an output ending at a guard page; names the first that differs from `want`, or answers "".
std::string firstMismatch(const YuvPicture& p, const std::vector<std::uint8_t>& want,
                          SimdLevel first = SimdLevel::kScalar) {
  const std::size_t rowBytes = std::size_t{p.width} * 4;
  GuardedBuffer out(rowBytes * p.height);
  for (SimdLevel level : {SimdLevel::kScalar, SimdLevel::kSse2, SimdLevel::kAvx2}) {
    if (level < first) continue;
    for (std::uint32_t step : {2u, 1u}) {
      std::memset(out.data(), 0, out.size());
      bool available = true;
      for (std::uint32_t r = 0; r < p.height && available; r += step) {
        std::uint8_t* dst = out.data() + r * rowBytes;
        available =
            convertRows(level, p, r, dst, step == 2 && r + 1 < p.height ? dst + rowBytes : nullptr);
      }
      if (available && !std::equal(want.begin(), want.end(), out.data())) {
        return "level " + std::to_string(static_cast<int>(level)) +
               (step == 2 ? " row pairs" : " single rows");
      }
    }
  }
  return "";
}

// Every (Y, U, V) triple, a row pair of a 4096-wide picture at a time (10-bit: times four plus
// varying low bits, one pair in eight, BT.709 and HLG only), held to the scalar rows. Guards
// against any lane, rounding or saturation slip in the SIMD rows, such as a 16-bit sum that
// overflows for one matrix's constants only.
TEST(ConvertSimd, EveryYuvTripleMatchesTheScalarRowsInEveryFormat) {
  constexpr std::uint32_t kWidth = 4096, kChroma = kWidth / 2;
  const auto code = [](const Format& f, std::uint32_t v, std::uint32_t position) {
    return static_cast<int>(f.bitDepth > 8 ? 4 * v + (position * 2654435761u >> 30) : v);
  };
  struct Case {
    const Format* format;
    const test::Description* description;
  };
  std::vector<Case> cases;
  std::vector<TestPicture> pictures;
  for (const Format& f : kFormats) {
    for (const test::Description& d : kDescriptions) {
      const bool matrixRule =
          d.transfer == ColorTransfer::kSdr && d.primaries == ColorPrimaries::kBt709;
      if (f.bitDepth > 8 ? (d.matrix == ColorMatrix::kBt709 || d.transfer == ColorTransfer::kHlg)
                         : matrixRule) {
        cases.push_back({&f, &d});
        TestPicture& picture = pictures.emplace_back(f, kWidth, 2, 0, d);
        for (std::uint32_t x = 0; x < 2 * kWidth; ++x) {
          picture.setLuma(x % kWidth, x / kWidth,
                          code(f, 4 * (x / 2 % 64) + x / kWidth * 2 + x % 2, x));
        }
      }
    }
  }
  for (std::uint32_t pairRow = 0; pairRow < kChroma; ++pairRow) {
    std::map<std::tuple<int, ColorRange, const test::Description*>, std::vector<std::uint8_t>>
        wanted;
    for (std::size_t i = 0; i < cases.size(); ++i) {
      const Format& f = *cases[i].format;
      if (f.bitDepth > 8 && pairRow % 8 != 0) continue;
      for (std::uint32_t c = 0; c < kChroma; ++c) {
        const std::uint32_t pair = 32 * pairRow + c / 64, at = pairRow * kChroma + c;
        pictures[i].setChroma(c, 0, code(f, pair >> 8, at), code(f, pair & 0xFF, ~at));
      }
      const YuvPicture& p = pictures[i].view();
      std::vector<std::uint8_t>& want = wanted[{f.bitDepth, f.range, cases[i].description}];
      if (want.empty()) {
        want.resize(kWidth * 2 * 4);
        convertRows(SimdLevel::kScalar, p, 0, want.data(), want.data() + kWidth * 4);
      }
      ASSERT_EQ(firstMismatch(p, want, SimdLevel::kSse2), "")
          << f.name << " " << cases[i].description->name << " row pair " << pairRow;
    }
  }
}

// Widths around every step and tail, odd heights, padded strides, planes and output ending at
// guard pages, in every format: the picture, each level's rows, and the picture sampled down to
// about half (nearest pixel). Guards against over-reads of the last chroma pair, tail mistakes,
// rows addressed by width instead of stride, 16-bit samples read from the wrong end or with their
// unused bits, the wrong rule for a format, and scaling that rounds the source column the wrong
// way or takes chroma from the odd byte of a pair.
TEST(ConvertLayout, EveryFormatMatchesTheReferenceAtOddSizesWithoutOverreads) {
  std::uint32_t seed = 12345;
  for (const Format& format : kFormats) {
    for (std::uint32_t width :
         {1u, 2u, 3u, 15u, 16u, 17u, 31u, 32u, 33u, 47u, 63u, 64u, 65u, 99u}) {
      for (std::uint32_t height : {1u, 2u, 3u, 5u}) {
        for (std::size_t pad : {0u, 1u, 7u}) {
          // The colour descriptions take turns across the sizes.
          const test::Description& description =
              kDescriptions[(width + height + pad) % std::size(kDescriptions)];
          TestPicture picture(format, width, height, pad, description);
          picture.randomise(seed, false);
          const YuvPicture& p = picture.view();
          const std::vector<std::uint8_t> want = picture.reference();
          SCOPED_TRACE(testing::Message() << format.name << " " << description.name << " " << width
                                          << "x" << height << " pad " << pad);
          GuardedBuffer out(want.size());
          convertToBgra(p, out.data(), std::size_t{width} * 4);
          ASSERT_TRUE(std::equal(want.begin(), want.end(), out.data()));
          ASSERT_EQ(firstMismatch(p, want), "");

          const std::uint32_t ow = (width + 1) / 2, oh = (height + 1) / 2;
          GuardedBuffer scaled(std::size_t{ow} * oh * 4);
          convertToBgraScaled(p, ow, oh, scaled.data());
          for (std::uint32_t oy = 0; oy < oh; ++oy) {
            for (std::uint32_t ox = 0; ox < ow; ++ox) {
              const std::size_t from =
                  (std::size_t{oy} * height / oh * width + ox * width / ow) * 4;
              ASSERT_EQ(at(scaled.data() + (std::size_t{oy} * ow + ox) * 4), at(want.data() + from))
                  << "scaled " << ox << "," << oy;
            }
          }
        }
      }
    }
  }
}

// A platform decoder's NV12 or P010 buffer of 64 x 48 samples, seen through its layout. Guards
// against chroma located from the visible height instead of planeHeight (1920 x 1088 showing
// 1080), P010 crops or pitches counted in samples or read from the low bits, and crops and sizes
// that would point the conversion outside the buffer.
TEST(ConvertLayout, Nv12AndP010LayoutsAreViewedFromTheirCropAndRefusedWhenTheyDoNotFit) {
  std::vector<std::uint8_t> buffer(64 * 48 * 3 / 2 * 2);
  const std::size_t nv12 = buffer.size() / 2, p010 = buffer.size();
  struct Case {
    const char* what;
    Nv12Layout layout;
    std::size_t length;
    std::ptrdiff_t luma, chroma;  // where the view's planes start; -1: refused
  };
  const Case cases[] = {
      {"exact fit", {64, 48, 48, 0, 0, 64}, nv12, 0, 3072},
      {"cropped inside", {60, 44, 48, 2, 2, 64}, nv12, 2 * 64 + 2, 49 * 64 + 2},
      {"odd visible size", {63, 47, 48, 0, 0, 64}, nv12, 0, 3072},
      {"buffer one byte short", {64, 48, 48, 0, 0, 64}, nv12 - 1, -1, -1},
      {"width past the pitch", {66, 48, 48, 0, 0, 64}, nv12, -1, -1},
      {"crop past the right edge", {64, 48, 48, 2, 0, 64}, nv12, -1, -1},
      {"crop past the plane height", {64, 46, 48, 0, 4, 64}, nv12, -1, -1},
      {"zero width", {0, 48, 48, 0, 0, 64}, nv12, -1, -1},
      {"huge height", {64, 0x7FFFFFFF, 0, 0, 0, 64}, nv12, -1, -1},
      {"P010 exact fit", {64, 48, 48, 0, 0, 128, 10}, p010, 0, 6144},
      {"P010 cropped inside", {60, 44, 48, 2, 2, 128, 10}, p010, 2 * 128 + 4, 49 * 128 + 4},
      {"P010 one byte short", {64, 48, 48, 0, 0, 128, 10}, p010 - 1, -1, -1},
      {"P010 with an NV12 pitch", {64, 48, 48, 0, 0, 64, 10}, p010, -1, -1},
      {"P010 crop past the right edge", {64, 48, 48, 2, 0, 128, 10}, p010, -1, -1},
      {"12-bit", {64, 48, 48, 0, 0, 128, 12}, p010, -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto p = nv12Picture(buffer.data(), c.length, c.layout);
    ASSERT_EQ(p.has_value(), c.luma >= 0);
    if (!p) continue;
    EXPECT_EQ(std::tuple(p->y - buffer.data(), p->u - buffer.data(), p->yStride, p->uStride,
                         p->width, p->height, p->layout, p->bitDepth,
                         c.layout.bitDepth == 8 || p->alignment == SampleAlignment::kHigh),
              std::tuple(c.luma, c.chroma, c.layout.pitch, c.layout.pitch, c.layout.width,
                         c.layout.height, ChromaLayout::kInterleaved, c.layout.bitDepth, true));
  }
}

}  // namespace
}  // namespace mirandel
