// 4:2:0 to BGRA at 1920 x 1080: our conversion against libswscale converting
// the same picture by the same matrix, and our scalar rows for scale, for
// each source format the decoders hand out: 8-bit planar and NV12 (limited
// range), 8-bit planar full range, 10-bit planar (libavcodec) and P010
// (platform decoders), by BT.709; 8-bit planar by BT.601. The linear-light
// paths (10-bit BT.2020 SDR, HLG and PQ, planar and P010) against libzimg,
// the library behind FFmpeg's zscale, converting to 8-bit planar RGB with
// point-sampled chroma on one thread.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "video/Yuv420ToBgra.h"

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}
#include <zimg.h>

namespace {

using mirandel::ChromaLayout;
using mirandel::ColorRange;
using mirandel::SampleAlignment;
using mirandel::YuvPicture;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

enum class Format {
  kI420,
  kNv12,
  kI420Full,
  kI420Ten,
  kP010,
  kI420Bt601,
  kI420TenBt2020,
  kI420TenHlg,
  kP010Hlg,
  kI420TenPq,
};

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
      case Format::kI420Bt601:
        p.layout = ChromaLayout::kPlanar;
        p.matrix =
            f == Format::kI420Bt601 ? mirandel::ColorMatrix::kBt601 : mirandel::ColorMatrix::kBt709;
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
      case Format::kI420TenBt2020:
      case Format::kI420TenHlg:
      case Format::kI420TenPq:
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
      case Format::kP010Hlg:
        p.layout = ChromaLayout::kInterleaved;
        p.bitDepth = 10;
        p.alignment = SampleAlignment::kHigh;
        p.y = bytes(y010);
        p.yStride = kWidth * 2;
        p.u = bytes(uv010);
        p.uStride = kWidth * 2;
        break;
    }
    if (f == Format::kI420TenBt2020 || f == Format::kI420TenHlg || f == Format::kP010Hlg ||
        f == Format::kI420TenPq) {
      p.matrix = mirandel::ColorMatrix::kBt2020;
      p.primaries = mirandel::ColorPrimaries::kBt2020;
      p.transfer = f == Format::kI420TenBt2020 ? mirandel::ColorTransfer::kSdr
                   : f == Format::kI420TenPq   ? mirandel::ColorTransfer::kPq
                                               : mirandel::ColorTransfer::kHlg;
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
  const auto nv12 = mirandel::nv12RowsFunction(mirandel::SimdLevel::kScalar, p.range, p.matrix);
  const auto i420 = mirandel::i420RowsFunction(mirandel::SimdLevel::kScalar, p.range, p.matrix);
  const auto wide = mirandel::needsLinearLight(p)
                        ? mirandel::linearRowsFunction(mirandel::SimdLevel::kScalar)
                        : mirandel::wideRowsFunction(mirandel::SimdLevel::kScalar);
  for (auto _ : state) {
    for (int r = 0; r < kHeight; ++r) {
      std::uint8_t* dst = out.data() + std::size_t{kWidth} * 4 * r;
      const std::uint8_t* yRow = p.y + p.yStride * r;
      if (p.bitDepth > 8 || mirandel::needsLinearLight(p)) {
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
  const int* matrix = sws_getCoefficients(
      p.matrix == mirandel::ColorMatrix::kBt601 ? SWS_CS_ITU601 : SWS_CS_ITU709);
  sws_setColorspaceDetails(sws, matrix, p.range == ColorRange::kFull ? 1 : 0, matrix, 1, 0, 1 << 16,
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

// libzimg from the 10-bit planes to 8-bit planar RGB, BT.709 SDR with 203 cd/m2 as white.
void zimgConvert(benchmark::State& state, Format format) {
  const YuvPicture p = source().picture(format);
  zimg_image_format in, out;
  zimg_image_format_default(&in, ZIMG_API_VERSION);
  zimg_image_format_default(&out, ZIMG_API_VERSION);
  in.width = out.width = kWidth;
  in.height = out.height = kHeight;
  in.pixel_type = ZIMG_PIXEL_WORD;
  in.depth = 10;
  in.subsample_w = in.subsample_h = 1;
  in.color_family = ZIMG_COLOR_YUV;
  in.matrix_coefficients = ZIMG_MATRIX_BT2020_NCL;
  in.color_primaries = ZIMG_PRIMARIES_BT2020;
  in.transfer_characteristics = p.transfer == mirandel::ColorTransfer::kHlg ? ZIMG_TRANSFER_ARIB_B67
                                : p.transfer == mirandel::ColorTransfer::kPq
                                    ? ZIMG_TRANSFER_ST2084
                                    : ZIMG_TRANSFER_BT2020_10;
  in.pixel_range = ZIMG_RANGE_LIMITED;
  out.pixel_type = ZIMG_PIXEL_BYTE;
  out.depth = 8;
  out.color_family = ZIMG_COLOR_RGB;
  out.matrix_coefficients = ZIMG_MATRIX_RGB;
  out.color_primaries = ZIMG_PRIMARIES_BT709;
  out.transfer_characteristics = ZIMG_TRANSFER_BT709;
  out.pixel_range = ZIMG_RANGE_FULL;
  zimg_graph_builder_params params;
  zimg_graph_builder_params_default(&params, ZIMG_API_VERSION);
  params.resample_filter_uv = ZIMG_RESIZE_POINT;
  params.nominal_peak_luminance = 203;
  zimg_filter_graph* graph = zimg_filter_graph_build(&in, &out, &params);
  if (graph == nullptr) {
    state.SkipWithError("libzimg cannot build the graph");
    return;
  }
  size_t tmpSize = 0;
  zimg_filter_graph_get_tmp_size(graph, &tmpSize);
  // libzimg wants its planes 32-byte aligned: planar copies of the source.
  const auto aligned = [](std::size_t bytes) {
    return std::unique_ptr<std::uint8_t, decltype(&std::free)>(
        static_cast<std::uint8_t*>(std::aligned_alloc(64, (bytes + 63) / 64 * 64)), &std::free);
  };
  const Source& s = source();
  auto y = aligned(s.y10.size() * 2), u = aligned(s.u10.size() * 2), v = aligned(s.v10.size() * 2);
  std::memcpy(y.get(), s.y10.data(), s.y10.size() * 2);
  std::memcpy(u.get(), s.u10.data(), s.u10.size() * 2);
  std::memcpy(v.get(), s.v10.data(), s.v10.size() * 2);
  auto tmp = aligned(tmpSize);
  auto r = aligned(kWidth * kHeight), g = aligned(kWidth * kHeight), b = aligned(kWidth * kHeight);
  zimg_image_buffer_const src{};
  src.version = ZIMG_API_VERSION;
  const std::uint8_t* planes[3] = {y.get(), u.get(), v.get()};
  const ptrdiff_t strides[3] = {kWidth * 2, kWidth, kWidth};
  for (int i = 0; i < 3; ++i) src.plane[i] = {planes[i], strides[i], ZIMG_BUFFER_MAX};
  zimg_image_buffer dst{};
  dst.version = ZIMG_API_VERSION;
  std::uint8_t* outPlanes[3] = {r.get(), g.get(), b.get()};
  for (int i = 0; i < 3; ++i) dst.plane[i] = {outPlanes[i], kWidth, ZIMG_BUFFER_MAX};
  for (auto _ : state) {
    zimg_filter_graph_process(graph, &src, &dst, tmp.get(), nullptr, nullptr, nullptr, nullptr);
    benchmark::DoNotOptimize(r.get());
  }
  zimg_filter_graph_free(graph);
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

#define MIRANDEL_PATH(name, reference)                                                  \
  BENCHMARK_CAPTURE(oursConvert, name, Format::k##name)->Unit(benchmark::kMicrosecond); \
  BENCHMARK_CAPTURE(reference, name, Format::k##name)->Unit(benchmark::kMicrosecond);   \
  BENCHMARK_CAPTURE(scalarConvert, name, Format::k##name)->Unit(benchmark::kMicrosecond)

MIRANDEL_PATH(I420, swscaleConvert);
MIRANDEL_PATH(Nv12, swscaleConvert);
MIRANDEL_PATH(I420Full, swscaleConvert);
MIRANDEL_PATH(I420Ten, swscaleConvert);
MIRANDEL_PATH(P010, swscaleConvert);
MIRANDEL_PATH(I420Bt601, swscaleConvert);
MIRANDEL_PATH(I420TenBt2020, zimgConvert);
MIRANDEL_PATH(I420TenHlg, zimgConvert);
MIRANDEL_PATH(P010Hlg, zimgConvert);
MIRANDEL_PATH(I420TenPq, zimgConvert);

}  // namespace

BENCHMARK_MAIN();
