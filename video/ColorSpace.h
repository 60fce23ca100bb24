#pragma once
// What a stream says about its colours, and what the conversion to BGRA makes
// of it. The codes are those of the H.264 and HEVC VUI (ITU-T H.273), which
// libavcodec's frame fields use as they are and Media Foundation's output
// type attributes are mapped onto. Any thread.
#include <cstdint>

namespace mirandel {

enum class ColorRange : std::uint8_t {
  kLimited,  // luma 16..235, chroma 16..240 (scaled by 2^(n-8) for n bits)
  kFull,     // every code value used (video_full_range_flag, yuvj420p)
};

// The Y'CbCr matrix the samples were made with.
enum class ColorMatrix : std::uint8_t {
  kBt709,   // Kr 0.2126, Kb 0.0722
  kBt601,   // Kr 0.299, Kb 0.114
  kBt2020,  // Kr 0.2627, Kb 0.0593, non-constant luminance
};

// How the R'G'B' values encode light.
enum class ColorTransfer : std::uint8_t {
  kSdr,  // the BT.709 / BT.601 / BT.2020 camera curve, shown by a BT.1886 display
  kHlg,  // ARIB STD-B67, ITU-R BT.2100
  kPq,   // SMPTE ST 2084
};

enum class ColorPrimaries : std::uint8_t {
  kBt709,  // also BT.601's 525- and 625-line primaries, taken as BT.709's as players do
  kBt2020,
};

// The description as coded; 2 means unspecified.
struct ColorCodes {
  std::uint8_t primaries = 2;  // colour_primaries
  std::uint8_t transfer = 2;   // transfer_characteristics
  std::uint8_t matrix = 2;     // matrix_coefficients
  bool fullRange = false;      // video_full_range_flag
  bool operator==(const ColorCodes&) const = default;
};

struct ColorSpace {
  ColorMatrix matrix = ColorMatrix::kBt709;
  ColorTransfer transfer = ColorTransfer::kSdr;
  ColorPrimaries primaries = ColorPrimaries::kBt709;
  ColorRange range = ColorRange::kLimited;
  bool operator==(const ColorSpace&) const = default;
};

// How a picture `height` rows high with these codes is converted. A matrix
// the stream leaves unspecified (or codes as one we do not convert by) is
// BT.601 below 720 rows and BT.709 from 720 rows, as players take it; the
// constant-luminance BT.2020 matrix (10) is converted as the non-constant one.
ColorSpace colorSpaceOf(const ColorCodes& codes, std::uint32_t height);

}  // namespace mirandel
