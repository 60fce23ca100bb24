#pragma once
// Pictures in the decoders' 4:2:0 formats for the conversion tests: samples in planes that end
// at guard pages, and the per-pixel rule's answer for them.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "support/TestPlatform.h"
#include "video/LinearLight.h"
#include "video/Yuv420ToBgra.h"

namespace mirandel::test {

inline std::uint32_t noise(std::uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

// One pixel by the per-pixel rule of the picture's colour description.
inline void rulePixel(const YuvPicture& p, int y, int u, int v, std::uint8_t* out) {
  if (needsLinearLight(p)) return linearPixel(linearRuleFor(p), y, u, v, out);
  yuvToBgraPixel(yuvRule(p.bitDepth, p.range, p.matrix), y, u, v, out);
}

// The source formats the decoders hand out.
struct Format {
  const char* name;
  ChromaLayout layout;
  std::uint8_t bitDepth;
  SampleAlignment alignment;
  ColorRange range;
};

inline const Format kFormats[] = {
    {"NV12", ChromaLayout::kInterleaved, 8, SampleAlignment::kLow, ColorRange::kLimited},
    {"I420", ChromaLayout::kPlanar, 8, SampleAlignment::kLow, ColorRange::kLimited},
    {"NV12 full range", ChromaLayout::kInterleaved, 8, SampleAlignment::kLow, ColorRange::kFull},
    {"I420 full range", ChromaLayout::kPlanar, 8, SampleAlignment::kLow, ColorRange::kFull},
    {"yuv420p10", ChromaLayout::kPlanar, 10, SampleAlignment::kLow, ColorRange::kLimited},
    {"yuv420p10 full range", ChromaLayout::kPlanar, 10, SampleAlignment::kLow, ColorRange::kFull},
    {"P010", ChromaLayout::kInterleaved, 10, SampleAlignment::kHigh, ColorRange::kLimited},
    {"P010 full range", ChromaLayout::kInterleaved, 10, SampleAlignment::kHigh, ColorRange::kFull},
};

// The colour descriptions: each matrix rule and each linear-light path.
struct Description {
  const char* name;
  ColorMatrix matrix;
  ColorTransfer transfer;
  ColorPrimaries primaries;
};

inline const Description kBt709 = {"BT.709", ColorMatrix::kBt709, ColorTransfer::kSdr,
                                   ColorPrimaries::kBt709};
inline const Description kDescriptions[] = {
    kBt709,
    {"BT.601", ColorMatrix::kBt601, ColorTransfer::kSdr, ColorPrimaries::kBt709},
    {"BT.2020 matrix", ColorMatrix::kBt2020, ColorTransfer::kSdr, ColorPrimaries::kBt709},
    {"BT.2020 SDR", ColorMatrix::kBt2020, ColorTransfer::kSdr, ColorPrimaries::kBt2020},
    {"BT.2020 HLG", ColorMatrix::kBt2020, ColorTransfer::kHlg, ColorPrimaries::kBt2020},
    {"BT.2020 PQ", ColorMatrix::kBt2020, ColorTransfer::kPq, ColorPrimaries::kBt2020},
    {"BT.709 HLG", ColorMatrix::kBt709, ColorTransfer::kHlg, ColorPrimaries::kBt709},
};

// A picture in planes ending at guard pages, rows `pad` samples long, plain values beside.
class TestPicture {
 public:
  TestPicture(const Format& f, std::uint32_t width, std::uint32_t height, std::size_t pad = 0,
              const Description& d = kBt709)
      : cw_((width + 1) / 2),
        ys_(std::size_t{width} * height),
        us_(std::size_t{cw_} * ((height + 1) / 2)),
        vs_(us_.size()) {
    const bool planar = f.layout == ChromaLayout::kPlanar;
    p_.layout = f.layout;
    p_.bitDepth = f.bitDepth;
    p_.alignment = f.alignment;
    p_.width = width;
    p_.height = height;
    setColorSpace(p_, {d.matrix, d.transfer, d.primaries, f.range});
    p_.y = plane(width, height, pad, p_.yStride);
    p_.u = plane(planar ? cw_ : 2 * cw_, (height + 1) / 2, pad, p_.uStride);
    if (planar) p_.v = plane(cw_, (height + 1) / 2, pad, p_.vStride);
  }

  const YuvPicture& view() const { return p_; }

  // `unused` goes into the bits of a 16-bit word the depth leaves free (decoders need not clear
  // them).
  void setLuma(std::uint32_t x, std::uint32_t row, int value, std::uint32_t unused = 0) {
    ys_[std::size_t{row} * p_.width + x] = value;
    put(0, row, x, value, unused);
  }
  void setChroma(std::uint32_t c, std::uint32_t row, int u, int v, std::uint32_t unused = 0) {
    us_[std::size_t{row} * cw_ + c] = u;
    vs_[std::size_t{row} * cw_ + c] = v;
    const bool planar = p_.layout == ChromaLayout::kPlanar;
    put(1, row, planar ? c : 2 * c, u, unused);
    put(planar ? 2 : 1, row, planar ? c : 2 * c + 1, v, unused);
  }

  // Random samples: any code with random unused bits, or only legal codes with them clear.
  void randomise(std::uint32_t& seed, bool legalOnly) {
    const int scale = 1 << (p_.bitDepth - 8);
    const bool limited = legalOnly && p_.range == ColorRange::kLimited;
    const auto draw = [&](int span) {
      return (limited ? 16 * scale : 0) +
             static_cast<int>(noise(seed) % (limited ? span * scale + 1 : 256 * scale));
    };
    const auto unused = [&] { return legalOnly ? 0 : noise(seed); };
    for (std::uint32_t r = 0; r < p_.height; ++r) {
      for (std::uint32_t x = 0; x < p_.width; ++x) setLuma(x, r, draw(219), unused());
    }
    for (std::uint32_t r = 0; r < (p_.height + 1) / 2; ++r) {
      for (std::uint32_t c = 0; c < cw_; ++c) setChroma(c, r, draw(224), draw(224), unused());
    }
  }

  // Each pixel by the per-pixel rule of its colour description, from the plain values.
  std::vector<std::uint8_t> reference() const {
    std::vector<std::uint8_t> out(ys_.size() * 4);
    for (std::size_t i = 0; i < ys_.size(); ++i) {
      const std::size_t c = i / p_.width / 2 * cw_ + i % p_.width / 2;
      rulePixel(p_, ys_[i], us_[c], vs_[c], out.data() + i * 4);
    }
    return out;
  }

 private:
  // A plane whose last row ends exactly at a guard page.
  std::uint8_t* plane(std::uint32_t samples, std::uint32_t rows, std::size_t pad,
                      std::size_t& stride) {
    const std::size_t bytes = p_.bitDepth > 8 ? 2 : 1;
    stride = (samples + pad) * bytes;
    planes_.push_back(std::make_unique<GuardedBuffer>(stride * (rows - 1) + samples * bytes));
    std::memset(planes_.back()->data(), 0xA5, planes_.back()->size());
    return planes_.back()->data();
  }
  void put(std::size_t plane, std::uint32_t row, std::uint32_t i, int value, std::uint32_t unused) {
    const std::size_t strides[] = {p_.yStride, p_.uStride, p_.vStride};
    std::uint8_t* at = planes_[plane]->data() + row * strides[plane];
    if (p_.bitDepth == 8) {
      at[i] = static_cast<std::uint8_t>(value);
      return;
    }
    const std::uint32_t free = 16 - p_.bitDepth, v = static_cast<std::uint32_t>(value);
    unused &= (1u << free) - 1;
    const std::uint32_t word =
        p_.alignment == SampleAlignment::kHigh ? v << free | unused : v | unused << p_.bitDepth;
    at[2 * i] = static_cast<std::uint8_t>(word);
    at[2 * i + 1] = static_cast<std::uint8_t>(word >> 8);
  }

  YuvPicture p_;
  std::uint32_t cw_;
  std::vector<std::unique_ptr<GuardedBuffer>> planes_;
  std::vector<int> ys_, us_, vs_;  // plain values, row by row
};

}  // namespace mirandel::test
