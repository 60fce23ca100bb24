// 4:2:0 to BGRA: the integer rule, picture layouts, and the SIMD rows held
// bit-exact against the scalar reference.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <sstream>
#include <vector>

#include "video/PictureGeometry.h"
#include "video/Yuv420ToBgra.h"

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace mirandel {
namespace {

using Bgra = std::array<std::uint8_t, 4>;

Bgra at(const std::uint8_t* p) { return Bgra{p[0], p[1], p[2], p[3]}; }

Bgra pixel(int y, int u, int v) {
  Bgra out{};
  yuvToBgraPixel(y, u, v, out.data());
  return out;
}

// Expected values worked out independently of the kernel (by hand and a
// separate script from the BT.709 constants, each within one level of the
// floating-point formula). Guards against wrong coefficients, a wrong
// rounding bias, missing or one-sided clamps, full-range pictures converted
// by the limited-range rule (Y 16 black, Y 235 white: crushed blacks and
// clipped whites) and 10-bit samples read on the 8-bit scale.
TEST(ConvertFormula, BoundaryValuesGiveTheExactIntegerResult) {
  struct Case {
    int y, u, v;
    Bgra bgra;
  };
  struct RuleCases {
    const char* name;
    std::uint32_t bitDepth;
    ColorRange range;
    std::vector<Case> cases;
  };
  const RuleCases rules[] = {
      {"8-bit limited",
       8,
       ColorRange::kLimited,
       {
           {16, 128, 128, {0, 0, 0, 255}},         // black
           {235, 128, 128, {255, 255, 255, 255}},  // white
           {0, 128, 128, {0, 0, 0, 255}},          // below black clamps to 0
           {255, 128, 128, {255, 255, 255, 255}},  // above white clamps to 255
           {126, 128, 128, {128, 128, 128, 255}},  // (110 * 298 + 128) >> 8
           // Limited-range primaries and secondaries: one channel lands just
           // off the rail, which a wrong bias or coefficient moves.
           {63, 102, 240, {0, 1, 255, 255}},    // red
           {173, 42, 26, {1, 255, 0, 255}},     // green
           {32, 240, 118, {255, 0, 1, 255}},    // blue
           {219, 16, 138, {0, 255, 254, 255}},  // yellow
           {81, 90, 240, {0, 24, 255, 255}},
           {145, 54, 34, {0, 216, 0, 255}},
           {41, 240, 110, {255, 15, 0, 255}},
           // Chroma at both extremes: every channel clamps the right way.
           {16, 0, 0, {0, 96, 0, 255}},
           {235, 255, 255, {255, 160, 255, 255}},
           {16, 102, 240, {0, 0, 201, 255}},
           {17, 127, 128, {0, 1, 1, 255}},  // B sum is -115: clamps from below
       }},
      {"8-bit full",
       8,
       ColorRange::kFull,
       {
           {0, 128, 128, {0, 0, 0, 255}},
           {255, 128, 128, {255, 255, 255, 255}},
           {128, 128, 128, {128, 128, 128, 255}},
           {16, 128, 128, {16, 16, 16, 255}},      // not black
           {235, 128, 128, {235, 235, 235, 255}},  // not white
           {54, 99, 255, {0, 0, 254, 255}},        // red
           {182, 30, 12, {0, 255, 0, 255}},        // green
           {18, 255, 116, {254, 0, 0, 255}},       // blue
           {100, 60, 200, {0, 79, 213, 255}},
           {0, 0, 0, {0, 84, 0, 255}},
           {255, 255, 255, {255, 172, 255, 255}},
       }},
      {"10-bit limited",
       10,
       ColorRange::kLimited,
       {
           {64, 512, 512, {0, 0, 0, 255}},
           {940, 512, 512, {255, 255, 255, 255}},
           {65, 512, 512, {0, 0, 0, 255}},     // a quarter step above black
           {66, 512, 512, {1, 1, 1, 255}},     // half a step rounds up
           {252, 408, 960, {0, 1, 255, 255}},  // the 8-bit red, times four
           {692, 168, 104, {1, 255, 0, 255}},  // green
           {128, 960, 472, {255, 0, 1, 255}},  // blue
           {400, 300, 700, {0, 84, 182, 255}},
           {0, 0, 0, {0, 77, 0, 255}},
           {1023, 1023, 1023, {255, 184, 255, 255}},
       }},
      {"10-bit full",
       10,
       ColorRange::kFull,
       {
           {0, 512, 512, {0, 0, 0, 255}},
           {1023, 512, 512, {255, 255, 255, 255}},
           {512, 512, 512, {128, 128, 128, 255}},
           {64, 512, 512, {16, 16, 16, 255}},
           {940, 512, 512, {234, 234, 234, 255}},
           {217, 395, 1023, {0, 0, 255, 255}},  // red
           {74, 1023, 465, {255, 0, 0, 255}},   // blue
           {732, 121, 49, {2, 255, 1, 255}},    // green
           {0, 0, 0, {0, 84, 0, 255}},
           {1023, 1023, 1023, {255, 172, 255, 255}},
       }},
  };
  for (const RuleCases& r : rules) {
    const YuvRule rule = yuvRule(r.bitDepth, r.range);
    for (const Case& c : r.cases) {
      Bgra out{};
      yuvToBgraPixel(rule, c.y, c.u, c.v, out.data());
      EXPECT_EQ(out, c.bgra) << r.name << " Y=" << c.y << " U=" << c.u << " V=" << c.v;
      if (r.bitDepth == 8 && r.range == ColorRange::kLimited) {
        EXPECT_EQ(pixel(c.y, c.u, c.v), c.bgra) << "fixed rule Y=" << c.y;
      }
    }
  }
}

// The 10-bit limited-range rule is the 8-bit one on a four times finer scale.
// Guards against 10-bit pictures coming out brighter, darker or tinted
// against the same picture sent in 8 bits.
TEST(ConvertFormula, TenBitSamplesFourTimesTheEightBitOnesGiveTheEightBitResult) {
  const YuvRule ten = yuvRule(10, ColorRange::kLimited);
  // Every third code, 0 and 255 included.
  for (int y = 0; y < 256; y += 3) {
    for (int u = 0; u < 256; u += 3) {
      for (int v = 0; v < 256; v += 3) {
        Bgra out{};
        yuvToBgraPixel(ten, 4 * y, 4 * u, 4 * v, out.data());
        if (out != pixel(y, u, v)) {
          FAIL() << "Y=" << y << " U=" << u << " V=" << v;
        }
      }
    }
  }
}

// ---- Buffers that end at a page boundary followed by an inaccessible page, so
// a kernel that reads or writes one byte too far faults at once.
class GuardedBuffer {
 public:
  explicit GuardedBuffer(std::size_t size) : size_(size) {
    page_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t rounded = (size + page_ - 1) / page_ * page_;
    total_ = rounded + page_;
    void* p = mmap(nullptr, total_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    base_ = p == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(p);
    if (base_ != nullptr) mprotect(base_ + rounded, page_, PROT_NONE);
    data_ = base_ == nullptr ? nullptr : base_ + rounded - size;
  }
  ~GuardedBuffer() {
    if (base_ != nullptr) munmap(base_, total_);
  }
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;
  std::uint8_t* data() { return data_; }
  std::size_t size() const { return size_; }

 private:
  std::size_t size_, page_ = 0, total_ = 0;
  std::uint8_t* base_ = nullptr;
  std::uint8_t* data_ = nullptr;
};

std::vector<SimdLevel> simdLevels() {
  std::vector<SimdLevel> levels;
  for (SimdLevel l : {SimdLevel::kSse2, SimdLevel::kAvx2}) {
    if (nv12RowsFunction(l) != nullptr) levels.push_back(l);
  }
  return levels;
}

std::uint32_t noise(std::uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

// Every (Y, U, V) triple, once per pixel: a 4096 x 4096 picture whose chroma
// sample k carries the pair k / 64 and whose 2 x 2 luma block carries the
// values 4 * (k % 64) + 0..3. Each row pair is converted with every SIMD level,
// as a pair sharing its chroma and as single rows, in both chroma layouts and
// both ranges, and compared with the scalar NV12 rows (the scalar rows are
// held to the plain per-pixel rule in the odd-size test below); and, for one
// row pair in eight, as 10-bit samples, planar and P010, against the scalar
// 10-bit rows.
// Guards against any lane, rounding or saturation slip in the SIMD rows.
TEST(ConvertSimd, EveryYuvTripleMatchesTheScalarReference) {
  constexpr std::uint32_t kWidth = 4096;
  constexpr std::uint32_t kChroma = kWidth / 2;
  constexpr std::size_t kRowBytes = kWidth * 4;
  const auto levels = simdLevels();
  if (levels.empty()) GTEST_SKIP() << "no SIMD rows on this CPU";

  std::vector<std::uint8_t> y(2 * kWidth), uv(kWidth), u(kChroma), v(kChroma);
  std::vector<std::uint8_t> want(2 * kRowBytes), got(2 * kRowBytes);
  // The same samples at 10 bits, four times the 8-bit ones plus two random
  // low bits: planar words, and P010 pairs with the value in the high bits.
  std::vector<std::uint16_t> y10(2 * kWidth), u10(kChroma), v10(kChroma), y010(2 * kWidth),
      uv010(kWidth);
  std::uint32_t seed = 5;
  const auto widen = [&](std::uint8_t s) {
    return static_cast<std::uint16_t>(4 * s + (noise(seed) & 3));
  };
  std::vector<bool> seen(1u << 24);
  for (std::uint32_t chromaRow = 0; chromaRow < kWidth / 2; ++chromaRow) {
    for (std::uint32_t cx = 0; cx < kChroma; ++cx) {
      const std::uint32_t k = chromaRow * kChroma + cx;
      const std::uint32_t pair = k / 64;
      u[cx] = uv[2 * cx] = static_cast<std::uint8_t>(pair >> 8);
      v[cx] = uv[2 * cx + 1] = static_cast<std::uint8_t>(pair & 0xFF);
      for (std::uint32_t dy = 0; dy < 2; ++dy) {
        for (std::uint32_t dx = 0; dx < 2; ++dx) {
          const std::uint32_t luma = 4 * (k % 64) + 2 * dy + dx;
          y[dy * kWidth + 2 * cx + dx] = static_cast<std::uint8_t>(luma);
          seen[(luma << 16) | pair] = true;
        }
      }
    }
    for (std::size_t i = 0; i < y.size(); ++i) {
      y10[i] = widen(y[i]);
      y010[i] = static_cast<std::uint16_t>(y10[i] << 6);
    }
    for (std::size_t i = 0; i < u.size(); ++i) {
      u10[i] = widen(u[i]);
      v10[i] = widen(v[i]);
      uv010[2 * i] = static_cast<std::uint16_t>(u10[i] << 6);
      uv010[2 * i + 1] = static_cast<std::uint16_t>(v10[i] << 6);
    }
    std::uint8_t* const y1 = y.data() + kWidth;
    for (ColorRange range : {ColorRange::kLimited, ColorRange::kFull}) {
      const char* r = range == ColorRange::kFull ? " full range" : "";
      nv12RowsFunction(SimdLevel::kScalar, range)(y.data(), y1, uv.data(), want.data(),
                                                  want.data() + kRowBytes, kWidth);
      for (SimdLevel level : levels) {
        const int l = static_cast<int>(level);
        const Nv12RowsFn nv12 = nv12RowsFunction(level, range);
        const I420RowsFn i420 = i420RowsFunction(level, range);
        nv12(y.data(), y1, uv.data(), got.data(), got.data() + kRowBytes, kWidth);
        ASSERT_EQ(got, want) << "NV12 pair " << chromaRow << " level " << l << r;
        i420(y.data(), y1, u.data(), v.data(), got.data(), got.data() + kRowBytes, kWidth);
        ASSERT_EQ(got, want) << "I420 pair " << chromaRow << " level " << l << r;
        // Single rows: the second row of the pair alone.
        std::fill(got.begin(), got.end(), 0);
        nv12(y1, nullptr, uv.data(), got.data(), nullptr, kWidth);
        ASSERT_TRUE(std::equal(got.begin(), got.begin() + kRowBytes, want.begin() + kRowBytes))
            << "NV12 single row " << chromaRow << " level " << l << r;
        i420(y1, nullptr, u.data(), v.data(), got.data(), nullptr, kWidth);
        ASSERT_TRUE(std::equal(got.begin(), got.begin() + kRowBytes, want.begin() + kRowBytes))
            << "I420 single row " << chromaRow << " level " << l << r;
      }
      // Every eighth row pair at 10 bits keeps the sanitizer builds quick.
      for (bool planar : {true, false}) {
        if (chromaRow % 8 != 0) break;
        YuvPicture p;
        p.layout = planar ? ChromaLayout::kPlanar : ChromaLayout::kInterleaved;
        p.bitDepth = 10;
        p.alignment = planar ? SampleAlignment::kLow : SampleAlignment::kHigh;
        p.range = range;
        p.width = kWidth;
        p.height = 2;
        p.y = reinterpret_cast<const std::uint8_t*>(planar ? y10.data() : y010.data());
        p.yStride = 2 * kWidth;
        p.u = reinterpret_cast<const std::uint8_t*>(planar ? u10.data() : uv010.data());
        p.uStride = planar ? kWidth : 2 * kWidth;
        p.v = reinterpret_cast<const std::uint8_t*>(v10.data());
        p.vStride = kWidth;
        wideRowsFunction(SimdLevel::kScalar)(p, 0, want.data(), want.data() + kRowBytes);
        for (SimdLevel level : levels) {
          const WideRowsFn wide = wideRowsFunction(level);
          if (wide == nullptr) continue;
          wide(p, 0, got.data(), got.data() + kRowBytes);
          ASSERT_EQ(got, want) << (planar ? "yuv420p10" : "P010") << " pair " << chromaRow
                               << " level " << static_cast<int>(level) << r;
        }
      }
    }
  }
  // The picture really covered all 2^24 triples.
  EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 1 << 24);
}

// The source formats the decoders hand out.
struct Format {
  const char* name;
  ChromaLayout layout;
  std::uint8_t bitDepth;
  SampleAlignment alignment;
  ColorRange range;
};

const Format kFormats[] = {
    {"NV12", ChromaLayout::kInterleaved, 8, SampleAlignment::kLow, ColorRange::kLimited},
    {"I420", ChromaLayout::kPlanar, 8, SampleAlignment::kLow, ColorRange::kLimited},
    {"NV12 full range", ChromaLayout::kInterleaved, 8, SampleAlignment::kLow, ColorRange::kFull},
    {"I420 full range", ChromaLayout::kPlanar, 8, SampleAlignment::kLow, ColorRange::kFull},
    {"yuv420p10", ChromaLayout::kPlanar, 10, SampleAlignment::kLow, ColorRange::kLimited},
    {"yuv420p10 full range", ChromaLayout::kPlanar, 10, SampleAlignment::kLow, ColorRange::kFull},
    {"P010", ChromaLayout::kInterleaved, 10, SampleAlignment::kHigh, ColorRange::kLimited},
    {"P010 full range", ChromaLayout::kInterleaved, 10, SampleAlignment::kHigh, ColorRange::kFull},
};

// What a test picture's samples may hold.
enum class Samples {
  kAny,    // every code value, and the bits a 16-bit word does not use set at
           // random (a decoder need not clear them)
  kLegal,  // within the range's legal codes, unused bits clear
};

// One picture of random samples in planes that end at guard pages, with
// padded rows; with the plain sample values beside.
class TestPicture {
 public:
  TestPicture(const Format& f, std::uint32_t width, std::uint32_t height, std::size_t pad,
              std::uint32_t& seed, Samples samples = Samples::kAny)
      : f_(f),
        width_(width),
        height_(height),
        cw_((width + 1) / 2),
        ch_((height + 1) / 2),
        unusedBitsSet_(samples == Samples::kAny) {
    const std::size_t bytes = f.bitDepth > 8 ? 2 : 1;
    const bool planar = f.layout == ChromaLayout::kPlanar;
    // Limited range: luma 16..235, chroma 16..240, scaled to the depth.
    const bool limited = samples == Samples::kLegal && f.range == ColorRange::kLimited;
    const int scale = 1 << (f.bitDepth - 8);
    const int low = limited ? 16 * scale : 0;
    const int lumaSpan = limited ? 219 * scale + 1 : 1 << f.bitDepth;
    const int chromaSpan = limited ? 224 * scale + 1 : 1 << f.bitDepth;
    const auto draw = [&](int span) { return low + static_cast<int>(noise(seed) % span); };
    y_ = makePlane(width, height, pad * bytes);
    u_ = makePlane(planar ? cw_ : 2 * cw_, ch_, pad * bytes);
    if (planar) v_ = makePlane(cw_, ch_, pad * bytes);
    for (std::uint32_t r = 0; r < height; ++r) {
      for (std::uint32_t x = 0; x < width; ++x) {
        ys_.push_back(draw(lumaSpan));
        put(y_, r, x, ys_.back(), seed);
      }
    }
    for (std::uint32_t r = 0; r < ch_; ++r) {
      for (std::uint32_t c = 0; c < cw_; ++c) {
        us_.push_back(draw(chromaSpan));
        vs_.push_back(draw(chromaSpan));
        put(u_, r, planar ? c : 2 * c, us_.back(), seed);
        put(planar ? v_ : u_, r, planar ? c : 2 * c + 1, vs_.back(), seed);
      }
    }
  }

  YuvPicture view() const {
    YuvPicture p;
    p.layout = f_.layout;
    p.bitDepth = f_.bitDepth;
    p.alignment = f_.alignment;
    p.range = f_.range;
    p.width = width_;
    p.height = height_;
    p.y = y_.buffer->data();
    p.yStride = y_.stride;
    p.u = u_.buffer->data();
    p.uStride = u_.stride;
    if (v_.buffer) {
      p.v = v_.buffer->data();
      p.vStride = v_.stride;
    }
    return p;
  }

  // Each pixel by the rule, from the plain values.
  std::vector<std::uint8_t> reference() const {
    const YuvRule rule = yuvRule(f_.bitDepth, f_.range);
    std::vector<std::uint8_t> out(std::size_t{width_} * height_ * 4);
    for (std::uint32_t r = 0; r < height_; ++r) {
      for (std::uint32_t x = 0; x < width_; ++x) {
        const std::size_t c = (r / 2) * cw_ + x / 2;
        yuvToBgraPixel(rule, ys_[std::size_t{r} * width_ + x], us_[c], vs_[c],
                       out.data() + (std::size_t{r} * width_ + x) * 4);
      }
    }
    return out;
  }

 private:
  struct Plane {
    std::unique_ptr<GuardedBuffer> buffer;
    std::size_t stride = 0;
  };
  // The last row ends exactly at the guard page.
  Plane makePlane(std::uint32_t samples, std::uint32_t rows, std::size_t padBytes) const {
    const std::size_t rowBytes = samples * std::size_t{f_.bitDepth > 8 ? 2u : 1u};
    Plane p;
    p.stride = rowBytes + padBytes;
    p.buffer = std::make_unique<GuardedBuffer>(p.stride * (rows - 1) + rowBytes);
    std::fill(p.buffer->data(), p.buffer->data() + p.buffer->size(), 0xA5);
    return p;
  }
  void put(const Plane& plane, std::uint32_t row, std::uint32_t i, int value,
           std::uint32_t& seed) const {
    std::uint8_t* at = plane.buffer->data() + row * plane.stride;
    if (f_.bitDepth == 8) {
      at[i] = static_cast<std::uint8_t>(value);
      return;
    }
    const std::uint32_t unused =
        unusedBitsSet_ ? noise(seed) & ((1u << (16 - f_.bitDepth)) - 1) : 0;
    const std::uint32_t v = static_cast<std::uint32_t>(value);
    const std::uint32_t word = f_.alignment == SampleAlignment::kHigh
                                   ? (v << (16 - f_.bitDepth)) | unused
                                   : v | (unused << f_.bitDepth);
    at[2 * i] = static_cast<std::uint8_t>(word);
    at[2 * i + 1] = static_cast<std::uint8_t>(word >> 8);
  }

  Format f_;
  std::uint32_t width_, height_, cw_, ch_;
  bool unusedBitsSet_;
  Plane y_, u_, v_;
  std::vector<int> ys_, us_, vs_;  // plain values, row by row
};

// Widths around every step size and tail length, odd heights, padded strides,
// with each plane and the output ending at a guard page, in every format:
// the whole picture, each level's rows, and the picture sampled down.
// Guards against over-reads of the last chroma pair, tail mistakes, rows
// addressed with the width instead of the stride, 16-bit samples read from
// the wrong end of their word or with their unused bits, and the wrong rule
// for a format.
TEST(ConvertLayout, EveryFormatMatchesTheReferenceAtOddSizesWithoutOverreads) {
  std::vector<SimdLevel> levels = simdLevels();
  levels.insert(levels.begin(), SimdLevel::kScalar);
  std::uint32_t seed = 12345;
  for (const Format& format : kFormats) {
    for (std::uint32_t width :
         {1u, 2u, 3u, 15u, 16u, 17u, 31u, 32u, 33u, 47u, 63u, 64u, 65u, 99u}) {
      for (std::uint32_t height : {1u, 2u, 3u, 5u}) {
        for (std::size_t pad : {0u, 1u, 7u}) {
          const TestPicture picture(format, width, height, pad, seed);
          const YuvPicture p = picture.view();
          const std::vector<std::uint8_t> want = picture.reference();
          const std::size_t rowBytes = std::size_t{width} * 4;
          GuardedBuffer out(rowBytes * height);
          std::ostringstream where;
          where << format.name << " " << width << "x" << height << " pad " << pad;

          convertToBgra(p, out.data(), rowBytes);
          ASSERT_TRUE(std::equal(want.begin(), want.end(), out.data())) << where.str();

          // Row pairs as the picture conversion walks them, the last row of
          // an odd height alone.
          for (SimdLevel level : levels) {
            const WideRowsFn wide = wideRowsFunction(level);
            if (format.bitDepth > 8 && wide == nullptr) continue;
            std::fill(out.data(), out.data() + out.size(), 0);
            for (std::uint32_t r = 0; r < height; r += 2) {
              const bool pair = r + 1 < height;
              std::uint8_t* dst0 = out.data() + r * rowBytes;
              std::uint8_t* dst1 = pair ? dst0 + rowBytes : nullptr;
              const std::uint8_t* y0 = p.y + r * p.yStride;
              const std::uint8_t* y1 = pair ? y0 + p.yStride : nullptr;
              const std::uint8_t* u = p.u + (r / 2) * p.uStride;
              if (format.bitDepth > 8) {
                wide(p, r, dst0, dst1);
              } else if (p.layout == ChromaLayout::kPlanar) {
                i420RowsFunction(level, p.range)(y0, y1, u, p.v + (r / 2) * p.vStride, dst0, dst1,
                                                 width);
              } else {
                nv12RowsFunction(level, p.range)(y0, y1, u, dst0, dst1, width);
              }
            }
            ASSERT_TRUE(std::equal(want.begin(), want.end(), out.data()))
                << where.str() << " level " << static_cast<int>(level);
          }

          // Nearest neighbour to about half the size.
          const std::uint32_t ow = (width + 1) / 2, oh = (height + 1) / 2;
          GuardedBuffer scaled(std::size_t{ow} * oh * 4);
          convertToBgraScaled(p, ow, oh, scaled.data());
          for (std::uint32_t oy = 0; oy < oh; ++oy) {
            for (std::uint32_t ox = 0; ox < ow; ++ox) {
              const std::size_t from =
                  (std::size_t{oy} * height / oh * width + ox * width / ow) * 4;
              ASSERT_EQ(at(scaled.data() + (std::size_t{oy} * ow + ox) * 4), at(want.data() + from))
                  << where.str() << " scaled " << ox << "," << oy;
            }
          }
        }
      }
    }
  }
}

AVPixelFormat swscaleFormat(const Format& f) {
  if (f.bitDepth == 10) {
    return f.layout == ChromaLayout::kPlanar ? AV_PIX_FMT_YUV420P10LE : AV_PIX_FMT_P010LE;
  }
  return f.layout == ChromaLayout::kPlanar ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_NV12;
}

// Random pictures in every format against libswscale's BT.709 conversion at
// its accurate setting, chroma point-sampled like ours. Legal codes only:
// libswscale wraps around on some limited-range codes beyond white.
// Guards against a rule that strays from FFmpeg's: a wrong range, a wrong
// scale for 10-bit samples, or P010 read as plain 16-bit values.
TEST(ConvertLayout, EveryFormatStaysWithinOneLevelOfLibswscale) {
  constexpr std::uint32_t kW = 256, kH = 256;
  std::uint32_t seed = 99;
  for (const Format& format : kFormats) {
    const TestPicture picture(format, kW, kH, 0, seed, Samples::kLegal);
    const YuvPicture p = picture.view();
    std::vector<std::uint8_t> ours(kW * kH * 4);
    convertToBgra(p, ours.data(), kW * 4);

    SwsContext* sws = sws_getContext(kW, kH, swscaleFormat(format), kW, kH, AV_PIX_FMT_BGRA,
                                     SWS_POINT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr,
                                     nullptr, nullptr);
    ASSERT_NE(sws, nullptr) << format.name;
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(sws, bt709, format.range == ColorRange::kFull ? 1 : 0, bt709, 1, 0,
                             1 << 16, 1 << 16);
    std::vector<std::uint8_t> theirs(kW * kH * 4);
    const std::uint8_t* src[4] = {p.y, p.u, p.v, nullptr};
    const int srcStride[4] = {static_cast<int>(p.yStride), static_cast<int>(p.uStride),
                              static_cast<int>(p.vStride), 0};
    std::uint8_t* dst[4] = {theirs.data(), nullptr, nullptr, nullptr};
    const int dstStride[4] = {kW * 4, 0, 0, 0};
    sws_scale(sws, src, srcStride, 0, kH, dst, dstStride);
    sws_freeContext(sws);

    int maxDiff = 0;
    for (std::size_t i = 0; i < ours.size(); ++i) {
      const int d = std::abs(int{ours[i]} - int{theirs[i]});
      maxDiff = std::max(maxDiff, d);
    }
    EXPECT_LE(maxDiff, 1) << format.name;
  }
}

// A decoder buffer of 1920 x 1088 whose visible area is 1920 x 1080, cropped
// at (2, 0): the chroma plane starts after all 1088 luma rows. NV12 and
// P010, whose 10-bit samples are four times the 8-bit ones here.
// Guards against locating chroma from the visible height, which shifts every
// colour eight rows and reads luma as chroma, and against crop offsets or
// pitches counted in samples instead of bytes for P010.
TEST(ConvertLayout, CroppedNv12AndP010ReadChromaFromBelowTheFullLumaPlane) {
  constexpr std::uint32_t kW = 1920, kFullH = 1088, kH = 1080, kCropX = 2;
  for (std::uint8_t depth : {8, 10}) {
    const std::size_t bytes = depth > 8 ? 2 : 1;
    const std::size_t pitch = kW * bytes;
    std::vector<std::uint8_t> buffer(pitch * kFullH * 3 / 2);
    // Writes an 8-bit value as the format stores it (P010: times four, in
    // the high bits).
    const auto put = [&](std::size_t sample, int v) {
      if (depth == 8) {
        buffer[sample] = static_cast<std::uint8_t>(v);
      } else {
        const unsigned word = static_cast<unsigned>(v) << 8;
        buffer[2 * sample] = static_cast<std::uint8_t>(word);
        buffer[2 * sample + 1] = static_cast<std::uint8_t>(word >> 8);
      }
    };
    // Luma rows 1080..1087 (padding) are 200, the visible ones 16; chroma
    // that starts at row 1088 is neutral (128), while rows 1080.. would read
    // 200. The first two columns, cropped away, are 235 with red chroma.
    for (std::size_t i = 0; i < std::size_t{kW} * kFullH; ++i) {
      put(i, i % kW < kCropX ? 235 : i < std::size_t{kW} * kH ? 16 : 200);
    }
    for (std::size_t i = std::size_t{kW} * kFullH; i < std::size_t{kW} * kFullH * 3 / 2; ++i) {
      put(i, i % kW < kCropX ? (i % 2 == 0 ? 102 : 240) : 128);
    }
    // One pixel pair of colour in the last chroma row: a red block at the
    // bottom left of the visible area.
    const std::size_t lastChroma = std::size_t{kW} * (kFullH + kH / 2 - 1) + kCropX;
    put(lastChroma, 102);
    put(lastChroma + 1, 240);

    Nv12Layout layout{kW - kCropX, kH, kFullH, kCropX, 0, pitch};
    layout.bitDepth = depth;
    const auto picture = nv12Picture(buffer.data(), buffer.size(), layout);
    ASSERT_TRUE(picture.has_value()) << int{depth};
    std::vector<std::uint8_t> out(std::size_t{kW - kCropX} * kH * 4);
    convertToBgra(*picture, out.data(), std::size_t{kW - kCropX} * 4);
    EXPECT_EQ(at(out.data()), (Bgra{0, 0, 0, 255})) << int{depth};
    const std::size_t bottom = (std::size_t{kH} - 1) * (kW - kCropX) * 4;
    // Y 16 with the red chroma: B and G clamp to 0, R = (0 + 459*112 + 128) >> 8.
    EXPECT_EQ(at(out.data() + bottom), (Bgra{0, 0, 201, 255})) << int{depth};
    EXPECT_EQ(at(out.data() + bottom + 8), (Bgra{0, 0, 0, 255})) << int{depth};
  }
}

// Guards against crop offsets and sizes from a platform decoder that would
// point the conversion outside the buffer it handed over.
TEST(ConvertLayout, Nv12AndP010LayoutsThatDoNotFitTheBufferAreRefused) {
  std::vector<std::uint8_t> buffer(64 * 48 * 3 / 2 * 2);
  const std::size_t nv12 = buffer.size() / 2;
  struct Case {
    const char* what;
    Nv12Layout layout;
    std::size_t length;
    bool accepted;
  };
  const Case cases[] = {
      {"exact fit", {64, 48, 48, 0, 0, 64}, nv12, true},
      {"cropped inside", {60, 44, 48, 2, 2, 64}, nv12, true},
      {"odd visible size", {63, 47, 48, 0, 0, 64}, nv12, true},
      {"buffer one byte short", {64, 48, 48, 0, 0, 64}, nv12 - 1, false},
      {"width past the pitch", {66, 48, 48, 0, 0, 64}, nv12, false},
      {"crop past the right edge", {64, 48, 48, 2, 0, 64}, nv12, false},
      {"crop past the plane height", {64, 46, 48, 0, 4, 64}, nv12, false},
      {"zero width", {0, 48, 48, 0, 0, 64}, nv12, false},
      {"huge height", {64, 0x7FFFFFFF, 0, 0, 0, 64}, nv12, false},
      {"P010 exact fit", {64, 48, 48, 0, 0, 128, 10}, buffer.size(), true},
      {"P010 cropped inside", {60, 44, 48, 2, 2, 128, 10}, buffer.size(), true},
      {"P010 one byte short", {64, 48, 48, 0, 0, 128, 10}, buffer.size() - 1, false},
      {"P010 with an NV12 pitch", {64, 48, 48, 0, 0, 64, 10}, buffer.size(), false},
      {"P010 crop past the right edge", {64, 48, 48, 2, 0, 128, 10}, buffer.size(), false},
      {"12-bit", {64, 48, 48, 0, 0, 128, 12}, buffer.size(), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(nv12Picture(buffer.data(), c.length, c.layout).has_value(), c.accepted) << c.what;
  }
}

// Scaling samples the nearest source pixel and chroma pair without filtering.
// Guards against rounding the source column the wrong way, or taking chroma
// from an odd byte of the pair.
TEST(ConvertScaled, NearestNeighbourPicksTheRuleSourcePixels) {
  constexpr std::uint32_t kW = 6, kH = 4;
  std::array<std::uint8_t, kW * kH> y{};
  std::array<std::uint8_t, kW * kH / 2> uv{};
  for (std::size_t i = 0; i < y.size(); ++i) y[i] = static_cast<std::uint8_t>(20 + 9 * i);
  for (std::size_t i = 0; i < uv.size(); ++i) uv[i] = static_cast<std::uint8_t>(60 + 13 * i);
  YuvPicture p;
  p.width = kW;
  p.height = kH;
  p.y = y.data();
  p.yStride = kW;
  p.u = uv.data();
  p.uStride = kW;
  constexpr std::uint32_t kOw = 4, kOh = 2;
  std::vector<std::uint8_t> out(kOw * kOh * 4);
  convertToBgraScaled(p, kOw, kOh, out.data());
  for (std::uint32_t oy = 0; oy < kOh; ++oy) {
    for (std::uint32_t ox = 0; ox < kOw; ++ox) {
      const std::uint32_t sy = oy * kH / kOh, sx = ox * kW / kOw;
      const Bgra want = pixel(y[sy * kW + sx], uv[(sy / 2) * kW + (sx & ~1u)],
                              uv[(sy / 2) * kW + (sx & ~1u) + 1]);
      const std::size_t o = (std::size_t{oy} * kOw + ox) * 4;
      EXPECT_EQ(at(out.data() + o), want) << ox << "," << oy;
    }
  }
}

}  // namespace
}  // namespace mirandel
