// 4:2:0 to BGRA at 1920 x 1080: our conversion against libswscale converting
// the same picture with BT.709 coefficients, and our scalar rows for scale,
// for each source format the decoders hand out: 8-bit planar and NV12
// (limited range), 8-bit planar full range, 10-bit planar (libavcodec) and
// P010 (platform decoders).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "video/Yuv420ToBgra.h"

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace {

using mirandel::ChromaLayout;
using mirandel::ColorRange;
using mirandel::SampleAlignment;
using mirandel::YuvPicture;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

enum class Format { kI420, kNv12, kI420Full, kI420Ten, kP010 };

// Random samples in every format's planes; 16-bit planes hold 10-bit values
// placed as the format wants them.
struct Source {
  std::vector<std::uint8_t> y, u, v, uv;                  // 8-bit
  std::vector<std::uint16_t> y10, u10, v10, y010, uv010;  // 10-bit low, P010
  Source()
      : y(kWidth * kHeight),
        u(kWidth * kHeight / 4),
        v(u.size()),
        uv(2 * u.size()),
        y10(y.size()),
        u10(u.size()),
        v10(u.size()),
        y010(y.size()),
        uv010(uv.size()) {
    std::mt19937 rng(7);
    for (std::size_t i = 0; i < y.size(); ++i) {
      y10[i] = static_cast<std::uint16_t>(rng() & 0x3FF);
      y010[i] = static_cast<std::uint16_t>(y10[i] << 6);
      y[i] = static_cast<std::uint8_t>(rng());
    }
    for (std::size_t i = 0; i < u.size(); ++i) {
      uv[2 * i] = u[i] = static_cast<std::uint8_t>(rng());
      uv[2 * i + 1] = v[i] = static_cast<std::uint8_t>(rng());
      u10[i] = static_cast<std::uint16_t>(rng() & 0x3FF);
      v10[i] = static_cast<std::uint16_t>(rng() & 0x3FF);
      uv010[2 * i] = static_cast<std::uint16_t>(u10[i] << 6);
      uv010[2 * i + 1] = static_cast<std::uint16_t>(v10[i] << 6);
    }
  }
  YuvPicture picture(Format f) const {
    YuvPicture p;
    p.width = kWidth;
    p.height = kHeight;
    const auto bytes = [](const std::vector<std::uint16_t>& plane) {
      return reinterpret_cast<const std::uint8_t*>(plane.data());
    };
    switch (f) {
      case Format::kI420:
      case Format::kI420Full:
        p.layout = ChromaLayout::kPlanar;
        p.range = f == Format::kI420Full ? ColorRange::kFull : ColorRange::kLimited;
        p.y = y.data();
        p.yStride = kWidth;
        p.u = u.data();
        p.uStride = kWidth / 2;
        p.v = v.data();
        p.vStride = kWidth / 2;
        break;
      case Format::kNv12:
        p.layout = ChromaLayout::kInterleaved;
        p.y = y.data();
        p.yStride = kWidth;
        p.u = uv.data();
        p.uStride = kWidth;
        break;
      case Format::kI420Ten:
        p.layout = ChromaLayout::kPlanar;
        p.bitDepth = 10;
        p.y = bytes(y10);
        p.yStride = kWidth * 2;
        p.u = bytes(u10);
        p.uStride = kWidth;
        p.v = bytes(v10);
        p.vStride = kWidth;
        break;
      case Format::kP010:
        p.layout = ChromaLayout::kInterleaved;
        p.bitDepth = 10;
        p.alignment = SampleAlignment::kHigh;
        p.y = bytes(y010);
        p.yStride = kWidth * 2;
        p.u = bytes(uv010);
        p.uStride = kWidth * 2;
        break;
    }
    return p;
  }
};

const Source& source() {
  static const Source s;
  return s;
}

void oursConvert(benchmark::State& state, Format format) {
  const YuvPicture p = source().picture(format);
  std::vector<std::uint8_t> out(std::size_t{kWidth} * kHeight * 4);
  for (auto _ : state) {
    mirandel::convertToBgra(p, out.data(), kWidth * 4);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

// The scalar reference rows, for scale.
void scalarConvert(benchmark::State& state, Format format) {
  const YuvPicture p = source().picture(format);
  std::vector<std::uint8_t> out(std::size_t{kWidth} * kHeight * 4);
  const auto nv12 = mirandel::nv12RowsFunction(mirandel::SimdLevel::kScalar, p.range);
  const auto i420 = mirandel::i420RowsFunction(mirandel::SimdLevel::kScalar, p.range);
  const auto wide = mirandel::wideRowsFunction(mirandel::SimdLevel::kScalar);
  for (auto _ : state) {
    for (int r = 0; r < kHeight; ++r) {
      std::uint8_t* dst = out.data() + std::size_t{kWidth} * 4 * r;
      const std::uint8_t* yRow = p.y + p.yStride * r;
      if (p.bitDepth > 8) {
        wide(p, static_cast<std::uint32_t>(r), dst, nullptr);
      } else if (p.layout == ChromaLayout::kPlanar) {
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

AVPixelFormat swsFormat(Format f) {
  switch (f) {
    case Format::kNv12:
      return AV_PIX_FMT_NV12;
    case Format::kI420Ten:
      return AV_PIX_FMT_YUV420P10LE;
    case Format::kP010:
      return AV_PIX_FMT_P010LE;
    default:
      return AV_PIX_FMT_YUV420P;
  }
}

void swscaleConvert(benchmark::State& state, Format format) {
  const YuvPicture p = source().picture(format);
  SwsContext* sws = sws_getContext(kWidth, kHeight, swsFormat(format), kWidth, kHeight,
                                   AV_PIX_FMT_BGRA, SWS_POINT, nullptr, nullptr, nullptr);
  const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
  sws_setColorspaceDetails(sws, bt709, p.range == ColorRange::kFull ? 1 : 0, bt709, 1, 0, 1 << 16,
                           1 << 16);
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

BENCHMARK_CAPTURE(oursConvert, I420, Format::kI420)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(swscaleConvert, I420, Format::kI420)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(scalarConvert, I420, Format::kI420)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(oursConvert, Nv12, Format::kNv12)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(swscaleConvert, Nv12, Format::kNv12)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(scalarConvert, Nv12, Format::kNv12)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(oursConvert, I420Full, Format::kI420Full)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(swscaleConvert, I420Full, Format::kI420Full)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(scalarConvert, I420Full, Format::kI420Full)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(oursConvert, I420Ten, Format::kI420Ten)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(swscaleConvert, I420Ten, Format::kI420Ten)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(scalarConvert, I420Ten, Format::kI420Ten)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(oursConvert, P010, Format::kP010)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(swscaleConvert, P010, Format::kP010)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(scalarConvert, P010, Format::kP010)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
