#pragma once
// Pictures as a decoder delivered them and as FFmpeg decoded them to raw planar 4:2:0, for the
// tests that hold a platform's decoder against FFmpeg's decode of the same stream.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "video/AccessUnit.h"
#include "video/Decoder.h"
#include "video/DecoderBackend.h"
#include "video/Yuv420ToBgra.h"

namespace mirandel::test {

// A delivered picture: the frame's stamps and its pixels, rows packed.
struct Delivered {
  std::uint32_t width = 0, height = 0;
  std::int64_t pts = -1;
  Nanos receivedAt = 0;
  std::vector<std::uint8_t> bgra;
};

inline std::vector<std::uint8_t> bgraOf(const Frame& f) {
  std::vector<std::uint8_t> out;
  for (std::uint32_t r = 0; r < f.height; ++r) {
    out.insert(out.end(), f.data + r * f.stride, f.data + r * f.stride + std::size_t{f.width} * 4);
  }
  return out;
}

inline Delivered delivered(const Frame& f) {
  return {f.width, f.height, f.pts, f.receivedAt, bgraOf(f)};
}

// One picture's planes as the backend handed them on, an 8-bit NV12 picture's chroma
// deinterleaved.
struct Planes {
  std::uint32_t width = 0, height = 0;
  std::uint8_t bitDepth = 0;
  ColorRange range = ColorRange::kLimited;
  ColorMatrix matrix = ColorMatrix::kBt709;
  std::vector<std::uint8_t> y, u, v;
};

// What a backend hands on, recorded on its way to `next` where there is one.
struct RecordingSink final : PictureSink {
  PictureSink* next = nullptr;
  std::vector<Planes> planes;
  std::vector<std::tuple<std::string, std::uint32_t, std::uint32_t>> refusals;

  void picture(const YuvPicture& p, std::int64_t pts) override {
    Planes out{p.width, p.height, p.bitDepth, p.range, p.matrix, {}, {}, {}};
    if (p.bitDepth == 8 && p.layout == ChromaLayout::kInterleaved) {
      for (std::uint32_t r = 0; r < p.height; ++r) {
        out.y.insert(out.y.end(), p.y + r * p.yStride, p.y + r * p.yStride + p.width);
      }
      for (std::uint32_t r = 0; r < (p.height + 1) / 2; ++r) {
        for (std::uint32_t c = 0; c < (p.width + 1) / 2; ++c) {
          out.u.push_back(p.u[r * p.uStride + 2 * c]);
          out.v.push_back(p.u[r * p.uStride + 2 * c + 1]);
        }
      }
    }
    planes.push_back(std::move(out));
    if (next) next->picture(p, pts);
  }
  void refused(const PictureRefusal& r) override {
    refusals.emplace_back(r.format, r.width, r.height);
    if (next) next->refused(r);
  }
};

// The bytes of one picture of a raw planar decode (10-bit: two bytes a sample).
inline std::size_t rawFrameBytes(std::size_t w, std::size_t h, std::uint8_t bitDepth) {
  return (w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2)) * (bitDepth > 8 ? 2 : 1);
}

// A view of picture n of a raw planar decode.
inline YuvPicture rawFrame(const std::uint8_t* raw, std::uint32_t width, std::uint32_t height,
                           std::uint8_t bitDepth, const ColorSpace& color, std::size_t n) {
  const std::size_t sample = bitDepth > 8 ? 2 : 1, cw = (width + 1) / 2 * sample;
  YuvPicture p;
  p.layout = ChromaLayout::kPlanar;
  p.bitDepth = bitDepth;
  setColorSpace(p, color);
  p.width = width;
  p.height = height;
  p.y = raw + n * rawFrameBytes(width, height, bitDepth);
  p.yStride = width * sample;
  p.u = p.y + p.yStride * height;
  p.uStride = p.vStride = cw;
  p.v = p.u + cw * ((height + 1) / 2);
  return p;
}

// The n-th picture must be the unit with the n-th smallest pts and carry that unit's
// completedAt: pictures in display order, each with its own unit's stamps.
inline void expectDisplayOrder(const std::vector<Delivered>& pictures,
                               const std::vector<AccessUnit>& units) {
  std::map<std::int64_t, Nanos> completedAt;
  for (const AccessUnit& u : units) completedAt[u.pts] = u.completedAt;
  auto unit = completedAt.begin();
  for (std::size_t n = 0; n < pictures.size() && unit != completedAt.end(); ++n, ++unit) {
    EXPECT_EQ(pictures[n].pts, unit->first) << "picture " << n;
    EXPECT_EQ(pictures[n].receivedAt, unit->second) << "picture " << n;
  }
}

}  // namespace mirandel::test
