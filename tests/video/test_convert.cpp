// 4:2:0 to BGRA: the integer rule, picture layouts, and the SIMD rows held
// bit-exact against the scalar reference.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "video/PictureGeometry.h"
#include "video/Yuv420ToBgra.h"

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
// separate script). Guards against wrong coefficients, a wrong rounding bias
// and missing or one-sided clamps.
TEST(ConvertFormula, BoundaryValuesGiveTheExactIntegerResult) {
  struct Case {
    int y, u, v;
    Bgra bgra;
  };
  const Case cases[] = {
      {16, 128, 128, {0, 0, 0, 255}},         // black
      {235, 128, 128, {255, 255, 255, 255}},  // white
      {0, 128, 128, {0, 0, 0, 255}},          // below black clamps to 0
      {255, 128, 128, {255, 255, 255, 255}},  // above white clamps to 255
      {126, 128, 128, {128, 128, 128, 255}},  // (110 * 298 + 128) >> 8
      // Limited-range primaries and secondaries: one channel lands just off
      // the rail, which a wrong bias or coefficient moves.
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
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pixel(c.y, c.u, c.v), c.bgra) << "Y=" << c.y << " U=" << c.u << " V=" << c.v;
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

// Every (Y, U, V) triple, once per pixel: a 4096 x 4096 picture whose chroma
// sample k carries the pair k / 64 and whose 2 x 2 luma block carries the
// values 4 * (k % 64) + 0..3. Each row pair is converted with every SIMD level,
// as a pair sharing its chroma and as single rows, in both chroma layouts, and
// compared with the NV12 reference (the planar reference is held to the NV12
// one in the odd-size test below).
// Guards against any lane, rounding or saturation slip in the SIMD rows.
TEST(ConvertSimd, EveryYuvTripleMatchesTheScalarReference) {
  constexpr std::uint32_t kWidth = 4096;
  constexpr std::uint32_t kChroma = kWidth / 2;
  constexpr std::size_t kRowBytes = kWidth * 4;
  const auto levels = simdLevels();
  if (levels.empty()) GTEST_SKIP() << "no SIMD rows on this CPU";

  std::vector<std::uint8_t> y(2 * kWidth), uv(kWidth), u(kChroma), v(kChroma);
  std::vector<std::uint8_t> want(2 * kRowBytes), got(2 * kRowBytes);
  const Nv12RowsFn nv12Ref = nv12RowsFunction(SimdLevel::kScalar);
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
    std::uint8_t* const y1 = y.data() + kWidth;
    nv12Ref(y.data(), y1, uv.data(), want.data(), want.data() + kRowBytes, kWidth);
    for (SimdLevel level : levels) {
      const int l = static_cast<int>(level);
      nv12RowsFunction(level)(y.data(), y1, uv.data(), got.data(), got.data() + kRowBytes, kWidth);
      ASSERT_EQ(got, want) << "NV12 pair " << chromaRow << " level " << l;
      i420RowsFunction(level)(y.data(), y1, u.data(), v.data(), got.data(), got.data() + kRowBytes,
                              kWidth);
      ASSERT_EQ(got, want) << "I420 pair " << chromaRow << " level " << l;
      // Single rows: the second row of the pair alone.
      std::fill(got.begin(), got.end(), 0);
      nv12RowsFunction(level)(y1, nullptr, uv.data(), got.data(), nullptr, kWidth);
      ASSERT_TRUE(std::equal(got.begin(), got.begin() + kRowBytes, want.begin() + kRowBytes))
          << "NV12 single row " << chromaRow << " level " << l;
      i420RowsFunction(level)(y1, nullptr, u.data(), v.data(), got.data(), nullptr, kWidth);
      ASSERT_TRUE(std::equal(got.begin(), got.begin() + kRowBytes, want.begin() + kRowBytes))
          << "I420 single row " << chromaRow << " level " << l;
    }
  }
  // The picture really covered all 2^24 triples.
  EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 1 << 24);
}

std::uint8_t noise(std::uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return static_cast<std::uint8_t>(state >> 24);
}

// Widths around every step size and tail length, odd heights, padded strides,
// with each plane and the output ending at a guard page.
// Guards against over-reads of the last chroma pair, tail mistakes, and rows
// addressed with the width instead of the stride.
TEST(ConvertSimd, OddSizesAndPaddedStridesMatchTheReferenceWithoutOverreads) {
  const auto levels = simdLevels();
  std::uint32_t seed = 12345;
  for (std::uint32_t width : {1u, 2u, 3u, 15u, 16u, 17u, 31u, 32u, 33u, 47u, 63u, 64u, 65u, 99u}) {
    for (std::uint32_t height : {1u, 2u, 3u, 5u}) {
      for (std::uint32_t pad : {0u, 1u, 7u}) {
        const std::uint32_t cw = (width + 1) / 2;
        const std::uint32_t ch = (height + 1) / 2;
        const std::size_t yStride = width + pad;
        const std::size_t uvStride = 2 * cw + pad;
        const std::size_t cStride = cw + pad;
        // The last row of each plane ends exactly at the guard page.
        GuardedBuffer yPlane(yStride * (height - 1) + width);
        GuardedBuffer uvPlane(uvStride * (ch - 1) + 2 * cw);
        GuardedBuffer uPlane(cStride * (ch - 1) + cw);
        GuardedBuffer vPlane(cStride * (ch - 1) + cw);
        GuardedBuffer out(std::size_t{width} * 4 * height);
        for (GuardedBuffer* b : {&yPlane, &uvPlane, &uPlane, &vPlane}) {
          for (std::size_t i = 0; i < b->size(); ++i) b->data()[i] = noise(seed);
        }
        // Planar chroma equal to the NV12 pairs, so both layouts must agree.
        for (std::uint32_t r = 0; r < ch; ++r) {
          for (std::uint32_t c = 0; c < cw; ++c) {
            uPlane.data()[r * cStride + c] = uvPlane.data()[r * uvStride + 2 * c];
            vPlane.data()[r * cStride + c] = uvPlane.data()[r * uvStride + 2 * c + 1];
          }
        }
        std::vector<std::uint8_t> want(std::size_t{width} * 4 * height);
        for (std::uint32_t r = 0; r < height; ++r) {
          for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint8_t* pair = uvPlane.data() + (r / 2) * uvStride + (x & ~1u);
            yuvToBgraPixel(yPlane.data()[r * yStride + x], pair[0], pair[1],
                           want.data() + (std::size_t{r} * width + x) * 4);
          }
        }
        std::vector<SimdLevel> all = levels;
        all.insert(all.begin(), SimdLevel::kScalar);
        for (SimdLevel level : all) {
          for (bool planar : {false, true}) {
            std::fill(out.data(), out.data() + out.size(), 0);
            // Row pairs as the picture conversion walks them, the last
            // row of an odd height alone.
            for (std::uint32_t r = 0; r < height; r += 2) {
              const bool pair = r + 1 < height;
              std::uint8_t* dst0 = out.data() + std::size_t{r} * width * 4;
              std::uint8_t* dst1 = pair ? dst0 + std::size_t{width} * 4 : nullptr;
              const std::uint8_t* y0 = yPlane.data() + r * yStride;
              const std::uint8_t* y1 = pair ? y0 + yStride : nullptr;
              if (planar) {
                i420RowsFunction(level)(y0, y1, uPlane.data() + (r / 2) * cStride,
                                        vPlane.data() + (r / 2) * cStride, dst0, dst1, width);
              } else {
                nv12RowsFunction(level)(y0, y1, uvPlane.data() + (r / 2) * uvStride, dst0, dst1,
                                        width);
              }
            }
            ASSERT_TRUE(std::equal(want.begin(), want.end(), out.data()))
                << width << "x" << height << " pad " << pad << " level " << static_cast<int>(level)
                << (planar ? " planar" : " nv12");
          }
        }
      }
    }
  }
}

// A decoder buffer of 1920 x 1088 whose visible area is 1920 x 1080: the
// chroma plane starts after all 1088 luma rows.
// Guards against locating chroma from the visible height, which shifts every
// colour eight rows and reads luma as chroma.
TEST(ConvertLayout, CroppedNv12ReadsChromaFromBelowTheFullLumaPlane) {
  constexpr std::uint32_t kW = 1920, kFullH = 1088, kH = 1080;
  std::vector<std::uint8_t> buffer(kW * kFullH * 3 / 2);
  // Luma rows 1080..1087 (padding) are 200, the visible ones 16; chroma that
  // starts at row 1088 is neutral (128), while rows 1080.. would read 200.
  std::fill(buffer.begin(), buffer.begin() + kW * kH, 16);
  std::fill(buffer.begin() + kW * kH, buffer.begin() + kW * kFullH, 200);
  std::fill(buffer.begin() + kW * kFullH, buffer.end(), 128);
  // One pixel pair of colour in the last chroma row: a red block at the bottom.
  std::uint8_t* lastChroma = buffer.data() + std::size_t{kW} * (kFullH + kH / 2 - 1);
  lastChroma[0] = 102;
  lastChroma[1] = 240;

  const auto picture =
      nv12Picture(buffer.data(), buffer.size(), Nv12Layout{kW, kH, kFullH, 0, 0, std::size_t{kW}});
  ASSERT_TRUE(picture.has_value());
  std::vector<std::uint8_t> out(std::size_t{kW} * kH * 4);
  convertToBgra(*picture, out.data(), std::size_t{kW} * 4);
  EXPECT_EQ(at(out.data()), (Bgra{0, 0, 0, 255}));
  const std::size_t bottom = (std::size_t{kH} - 1) * kW * 4;
  // Y 16 with the red chroma: B and G clamp to 0, R = (0 + 459*112 + 128) >> 8.
  EXPECT_EQ(at(out.data() + bottom), pixel(16, 102, 240));
  EXPECT_EQ(out[bottom + 2], 201);
}

// Guards against crop offsets and sizes from a platform decoder that would
// point the conversion outside the buffer it handed over.
TEST(ConvertLayout, Nv12LayoutsThatDoNotFitTheBufferAreRefused) {
  std::vector<std::uint8_t> buffer(64 * 48 * 3 / 2);
  struct Case {
    const char* what;
    Nv12Layout layout;
    std::size_t length;
    bool accepted;
  };
  const Case cases[] = {
      {"exact fit", {64, 48, 48, 0, 0, 64}, buffer.size(), true},
      {"cropped inside", {60, 44, 48, 2, 2, 64}, buffer.size(), true},
      {"odd visible size", {63, 47, 48, 0, 0, 64}, buffer.size(), true},
      {"buffer one byte short", {64, 48, 48, 0, 0, 64}, buffer.size() - 1, false},
      {"width past the pitch", {66, 48, 48, 0, 0, 64}, buffer.size(), false},
      {"crop past the right edge", {64, 48, 48, 2, 0, 64}, buffer.size(), false},
      {"crop past the plane height", {64, 46, 48, 0, 4, 64}, buffer.size(), false},
      {"zero width", {0, 48, 48, 0, 0, 64}, buffer.size(), false},
      {"huge height", {64, 0x7FFFFFFF, 0, 0, 0, 64}, buffer.size(), false},
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
