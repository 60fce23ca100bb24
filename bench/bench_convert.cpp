// 4:2:0 to BGRA at 1920 x 1080: our rows against libswscale converting the
// same picture with BT.709 limited-range coefficients, planar and NV12.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "video/Yuv420ToBgra.h"

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace {

using mirandel::ChromaLayout;
using mirandel::YuvPicture;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

struct Source {
  std::vector<std::uint8_t> y, u, v, uv;
  Source() : y(kWidth * kHeight), u(kWidth * kHeight / 4), v(u.size()), uv(2 * u.size()) {
    std::mt19937 rng(7);
    for (auto& b : y) b = static_cast<std::uint8_t>(rng());
    for (std::size_t i = 0; i < u.size(); ++i) {
      uv[2 * i] = u[i] = static_cast<std::uint8_t>(rng());
      uv[2 * i + 1] = v[i] = static_cast<std::uint8_t>(rng());
    }
  }
  YuvPicture picture(ChromaLayout layout) const {
    YuvPicture p;
    p.layout = layout;
    p.width = kWidth;
    p.height = kHeight;
    p.y = y.data();
    p.yStride = kWidth;
    if (layout == ChromaLayout::kPlanar) {
      p.u = u.data();
      p.uStride = kWidth / 2;
      p.v = v.data();
      p.vStride = kWidth / 2;
    } else {
      p.u = uv.data();
      p.uStride = kWidth;
    }
    return p;
  }
};

const Source& source() {
  static const Source s;
  return s;
}

void oursConvert(benchmark::State& state, ChromaLayout layout) {
  const YuvPicture p = source().picture(layout);
  std::vector<std::uint8_t> out(std::size_t{kWidth} * kHeight * 4);
  for (auto _ : state) {
    mirandel::convertToBgra(p, out.data(), kWidth * 4);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

// The scalar reference rows, for scale.
void scalarConvert(benchmark::State& state, ChromaLayout layout) {
  const YuvPicture p = source().picture(layout);
  std::vector<std::uint8_t> out(std::size_t{kWidth} * kHeight * 4);
  const auto nv12 = mirandel::nv12RowsFunction(mirandel::SimdLevel::kScalar);
  const auto i420 = mirandel::i420RowsFunction(mirandel::SimdLevel::kScalar);
  for (auto _ : state) {
    for (int r = 0; r < kHeight; ++r) {
      std::uint8_t* dst = out.data() + std::size_t{kWidth} * 4 * r;
      const std::uint8_t* yRow = p.y + p.yStride * r;
      if (layout == ChromaLayout::kPlanar) {
        i420(yRow, nullptr, p.u + p.uStride * (r / 2), p.v + p.vStride * (r / 2), dst, nullptr,
             kWidth);
      } else {
        nv12(yRow, nullptr, p.u + p.uStride * (r / 2), dst, nullptr, kWidth);
      }
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void swscaleConvert(benchmark::State& state, ChromaLayout layout) {
  const YuvPicture p = source().picture(layout);
  const AVPixelFormat format =
      layout == ChromaLayout::kPlanar ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_NV12;
  SwsContext* sws = sws_getContext(kWidth, kHeight, format, kWidth, kHeight, AV_PIX_FMT_BGRA,
                                   SWS_POINT, nullptr, nullptr, nullptr);
  const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
  sws_setColorspaceDetails(sws, bt709, 0, bt709, 1, 0, 1 << 16, 1 << 16);
  std::vector<std::uint8_t> out(std::size_t{kWidth} * kHeight * 4);
  const std::uint8_t* src[4] = {p.y, p.u, p.v, nullptr};
  const int srcStride[4] = {static_cast<int>(p.yStride), static_cast<int>(p.uStride),
                            static_cast<int>(p.vStride), 0};
  std::uint8_t* dst[4] = {out.data(), nullptr, nullptr, nullptr};
  const int dstStride[4] = {kWidth * 4, 0, 0, 0};
  for (auto _ : state) {
    sws_scale(sws, src, srcStride, 0, kHeight, dst, dstStride);
    benchmark::DoNotOptimize(out.data());
  }
  sws_freeContext(sws);
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

BENCHMARK_CAPTURE(oursConvert, I420, ChromaLayout::kPlanar)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(swscaleConvert, I420, ChromaLayout::kPlanar)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(scalarConvert, I420, ChromaLayout::kPlanar)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(oursConvert, Nv12, ChromaLayout::kInterleaved)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(swscaleConvert, Nv12, ChromaLayout::kInterleaved)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(scalarConvert, Nv12, ChromaLayout::kInterleaved)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
