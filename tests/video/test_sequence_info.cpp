// Sequence parameter sets, which say what a decoder padding 1080 rows to 1088 does not: from
// FFmpeg's encoders, and hand-built with what they never write (checked with trace_headers).
#include <gtest/gtest.h>

#include <bit>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "video/AnnexB.h"
#include "video/SequenceInfo.h"
#include "video/test_decoder_clips.h"

namespace mirandel {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::optional<SequenceInfo> firstSequenceIn(const std::vector<AccessUnit>& units, CodecKind codec) {
  for (const AccessUnit& u : units) {
    NalReader reader(u.bytes.data(), u.bytes.size());
    NalUnit nal;
    while (reader.next(nal)) {
      if (nalType(nal, codec) == (codec == kCodecHevc ? 33u : 7u)) {
        return readSequenceInfo(nal, codec);
      }
    }
  }
  return std::nullopt;
}

}  // namespace

void PrintTo(const SequenceInfo& s, std::ostream* os) {
  *os << "coded " << s.codedWidth << "x" << s.codedHeight << ", " << s.width << "x" << s.height
      << " at " << s.cropX << "," << s.cropY << ", chroma format " << s.chromaFormat << ", "
      << s.bitDepth << "-bit" << (s.color.fullRange ? ", full range" : "") << ", colour "
      << int{s.color.primaries} << "/" << int{s.color.transfer} << "/" << int{s.color.matrix};
}

namespace {

struct ClipCase {
  const char* name;
  test::ClipRecipe recipe;
  SequenceInfo want;
};

// coded size, visible area, chroma format, bit depth, full range, colour description
SequenceInfo info(std::uint32_t codedWidth, std::uint32_t codedHeight, std::uint32_t width,
                  std::uint32_t height, std::uint32_t chroma = 1, std::uint32_t depth = 8,
                  bool full = false, ColorCodes color = {}) {
  color.fullRange = full;
  return {codedWidth, codedHeight, 0, 0, width, height, chroma, depth, color};
}

const ColorCodes kBt601Codes{6, 6, 6};
const ColorCodes kHlgCodes{9, 18, 9};

// A recipe with a colour description flagged in its VUI.
test::ClipRecipe described(test::ClipRecipe recipe, ColorCodes color) {
  recipe.color = color;
  return recipe;
}

const ClipCase kClips[] = {
    {"H264", {kCodecH264, 200, 120, 6}, info(208, 128, 200, 120)},
    {"H264FullHd",
     {kCodecH264, 1920, 1080, 1, "yuv420p", false, false, /*flat=*/true},
     info(1920, 1088, 1920, 1080)},
    {"H264Cropped1918x1078", {kCodecH264, 1918, 1078, 3}, info(1920, 1088, 1918, 1078)},
    {"H264High10", {kCodecH264, 200, 120, 4, "yuv420p10le"}, info(208, 128, 200, 120, 1, 10)},
    {"H264FullRange", {kCodecH264, 200, 120, 4, "yuvj420p"}, info(208, 128, 200, 120, 1, 8, true)},
    {"H264444", {kCodecH264, 64, 48, 2, "yuv444p"}, info(64, 48, 64, 48, 3)},
    {"H264422", {kCodecH264, 64, 48, 2, "yuv422p"}, info(64, 48, 64, 48, 2)},
    // x265's fastest preset codes in blocks of 16.
    {"Hevc", {kCodecHevc, 198, 118, 6}, info(208, 128, 198, 118)},
    {"HevcMain10FullRange",
     {kCodecHevc, 198, 118, 4, "yuv420p10le", /*fullRange=*/true},
     info(208, 128, 198, 118, 1, 10, true)},
    {"Hevc12Bit", {kCodecHevc, 64, 48, 2, "yuv420p12le"}, info(64, 48, 64, 48, 1, 12)},
    // The colour description of the VUI, after the range flag.
    {"H264Bt601", described({kCodecH264, 200, 120, 2}, kBt601Codes),
     info(208, 128, 200, 120, 1, 8, false, kBt601Codes)},
    {"HevcMain10Hlg", described({kCodecHevc, 198, 118, 2, "yuv420p10le"}, kHlgCodes),
     info(208, 128, 198, 118, 1, 10, false, kHlgCodes)},
    {"HevcMain10HlgFullRange", described({kCodecHevc, 198, 118, 2, "yuv420p10le", true}, kHlgCodes),
     info(208, 128, 198, 118, 1, 10, true, kHlgCodes)},
};

void PrintTo(const ClipCase& c, std::ostream* os) { *os << c.name; }

class ClipSequence : public ::testing::TestWithParam<ClipCase> {};

INSTANTIATE_TEST_SUITE_P(Encoders, ClipSequence, ::testing::ValuesIn(kClips),
                         [](const auto& param) { return std::string(param.param.name); });

// Guards against 1080p shown with 8 padding rows, cropping in pixels instead of chroma samples,
// full range lost, 10-bit or non-4:2:0 taken for 8-bit 4:2:0, and the colour description lost
// or read from the wrong bits.
TEST_P(ClipSequence, ReadsSizeCroppingSamplingRangeAndColourAsTheEncoderWroteThem) {
  const ClipCase& c = GetParam();
  const std::string path = test::makeClip(c.recipe, test::binaryPath("tests/video/decoder-clips"));
  EXPECT_EQ(firstSequenceIn(test::readAccessUnits(path), c.recipe.codec), c.want);
}

// Writes a NAL unit bit by bit, as an encoder would.
class BitWriter {
 public:
  BitWriter& bits(std::uint64_t value, unsigned count) {
    for (unsigned i = count; i-- > 0;) bits_.push_back(((value >> i) & 1) != 0);
    return *this;
  }
  BitWriter& bit(bool b) { return bits(b ? 1 : 0, 1); }
  BitWriter& ue(std::uint64_t value) {
    const unsigned width = static_cast<unsigned>(std::bit_width(value + 1));
    return bits(0, width - 1).bits(value + 1, width);
  }
  BitWriter& se(std::int64_t value) {
    return ue(value > 0 ? 2 * static_cast<std::uint64_t>(value) - 1
                        : 2 * static_cast<std::uint64_t>(-value));
  }

  // The header, then the payload with its stop bit and emulation-prevention bytes.
  Bytes nal(std::initializer_list<std::uint8_t> header) const {
    std::vector<bool> payload = bits_;
    payload.push_back(true);
    while (payload.size() % 8 != 0) payload.push_back(false);
    Bytes out(header);
    int zeros = 0;
    for (std::size_t i = 0; i < payload.size(); i += 8) {
      std::uint8_t byte = 0;
      for (std::size_t j = 0; j < 8; ++j)
        byte = static_cast<std::uint8_t>(byte << 1 | payload[i + j]);
      if (zeros >= 2 && byte <= 3) {
        out.push_back(3);
        zeros = 0;
      }
      out.push_back(byte);
      zeros = byte == 0 ? zeros + 1 : 0;
    }
    return out;
  }

 private:
  std::vector<bool> bits_;
};

// 1080i H.264 High (the crop counts four rows a unit), scaling lists, picture order type 1, and
// an extended aspect ratio ahead of the range flag.
Bytes interlacedH264Sps() {
  BitWriter w;
  w.bits(100, 8).bits(0, 8).bits(40, 8).ue(0);  // High, level 4.0, id 0
  w.ue(1).ue(0).ue(0).bit(false);               // 4:2:0, 8-bit, no bypass
  w.bit(true);                                  // seq_scaling_matrix_present_flag
  for (int i = 0; i < 8; ++i) {
    const bool present = i == 0 || i == 6 || i == 7;
    w.bit(present);
    if (i == 0) {
      for (int j = 0; j < 16; ++j) w.se(j % 3 == 0 ? 5 : -2);
    } else if (i == 6) {
      for (int j = 0; j < 64; ++j) w.se(j % 2 == 0 ? 7 : -6);
    } else if (i == 7) {
      w.se(-8);  // next scale 0 at once: the default list, no more deltas
    }
  }
  w.ue(0).ue(1);  // log2_max_frame_num_minus4, pic_order_cnt_type 1
  w.bit(false).se(-3).se(2).ue(3).se(1).se(-1).se(5);
  w.ue(4).bit(false);                                // max_num_ref_frames, gaps
  w.ue(119).ue(33);                                  // 120 x 34 map units of 16 x 32
  w.bit(false).bit(true).bit(true);                  // fields, mb_adaptive, direct_8x8
  w.bit(true).ue(0).ue(0).ue(0).ue(2);               // crop: 2 x 4 rows at the bottom
  w.bit(true);                                       // vui_parameters_present_flag
  w.bit(true).bits(255, 8).bits(4, 16).bits(3, 16);  // Extended_SAR 4:3
  w.bit(true).bit(false);                            // overscan
  w.bit(true).bits(5, 3).bit(true).bit(false);       // video_format 5, full range, no colours
  w.bit(false).bit(false).bit(false).bit(false).bit(false).bit(false);  // the rest absent
  return w.nal({0x67});
}

// 1080p HEVC Main 10 with sub-layers, scaling lists, PCM, predicted short-term reference sets,
// long-term pictures, and an extended aspect ratio ahead of the range flag.
Bytes richHevcSps() {
  BitWriter w;
  w.bits(0, 4).bits(2, 3).bit(true);  // VPS 0, three sub-layers, temporal nesting
  // profile_tier_level: Main 10, level 4.1, then the sub-layers'.
  w.bits(0, 2).bit(false).bits(2, 5).bits(0x20000000, 32).bits(0x9, 4).bits(0, 44).bits(123, 8);
  w.bit(true).bit(true).bit(false).bit(true);  // sub-layer 0: profile, level; 1: level
  for (int i = 2; i < 8; ++i) w.bits(0, 2);
  w.bits(0, 2).bit(false).bits(2, 5).bits(0x20000000, 32).bits(0x9, 4).bits(0, 44).bits(90, 8);
  w.bits(93, 8);
  w.ue(0).ue(1).ue(1920).ue(1088);      // id 0, 4:2:0, coded size
  w.bit(true).ue(0).ue(0).ue(0).ue(4);  // conformance window: 4 x 2 rows at the bottom
  w.ue(2).ue(2).ue(4);                  // 10-bit, log2_max_pic_order_cnt_lsb 8
  w.bit(true);                          // ordering info for each sub-layer
  for (int i = 0; i < 3; ++i) w.ue(4).ue(2).ue(0);
  w.ue(0).ue(3).ue(0).ue(3).ue(1).ue(1);  // block sizes and depths
  w.bit(true).bit(true);                  // scaling lists, with data
  for (int size = 0; size < 4; ++size) {
    for (int matrix = 0; matrix < 6; matrix += size == 3 ? 3 : 1) {
      if ((size + matrix) % 2 == 0) {
        w.bit(false).ue(matrix > 0 ? 1 : 0);  // predicted from a reference list
      } else {
        w.bit(true);
        if (size > 1) w.se(4);
        const int coefficients = size == 0 ? 16 : 64;
        for (int k = 0; k < coefficients; ++k) w.se(k % 2 == 0 ? 3 : -3);
      }
    }
  }
  w.bit(true).bit(true);                                          // amp, sao
  w.bit(true).bits(7, 4).bits(7, 4).ue(0).ue(1).bit(false);       // PCM
  w.ue(3);                                                        // three short-term sets
  w.ue(2).ue(1).ue(0).bit(true).ue(1).bit(true).ue(1).bit(true);  // {-1, -3 | +2}
  // {-1, -3 | +2} moved by +1: 0 and -2 and +3, and +1 itself.
  w.bit(true).bit(false).ue(0);
  w.bit(true).bit(false).bit(true).bit(true).bit(true);
  // Predicted from {-2 | +1, +3} by -2: -4, -1, +1, and -2 itself, one left out.
  w.bit(true).bit(true).ue(1);
  w.bit(true).bit(false).bit(false).bit(true).bit(true);
  w.bit(true).ue(2).bits(17, 8).bit(true).bits(200, 8).bit(false);  // two long-term pictures
  w.bit(true).bit(true);                             // temporal MVP, strong intra smoothing
  w.bit(true);                                       // vui_parameters_present_flag
  w.bit(true).bits(255, 8).bits(1, 16).bits(1, 16);  // Extended_SAR 1:1
  w.bit(false);                                      // no overscan info
  w.bit(true).bits(5, 3).bit(true).bit(false);       // video_format 5, full range, no colours
  for (int i = 0; i < 7; ++i) w.bit(false);          // the rest of the VUI absent
  w.bit(false);                                      // sps_extension_present_flag
  return w.nal({0x42, 0x01});
}

const Bytes kInterlacedH264 = interlacedH264Sps();
const Bytes kRichHevc = richHevcSps();

std::optional<SequenceInfo> read(const Bytes& nal, CodecKind codec, std::size_t size) {
  return readSequenceInfo(NalUnit{nal.data(), size}, codec);
}

// Guards against seldom-written fields (the phone's HEVC encoder writes its reference picture
// sets, FFmpeg's never do) skipped by the wrong number of bits, misreading the range at the end.
TEST(SequenceInfo, ReadsPastEverythingThatPrecedesTheRange) {
  EXPECT_EQ(read(kInterlacedH264, kCodecH264, kInterlacedH264.size()),
            info(1920, 1088, 1920, 1080, 1, 8, true));
  EXPECT_EQ(read(kRichHevc, kCodecHevc, kRichHevc.size()),
            info(1920, 1088, 1920, 1080, 1, 10, true));
}

// Guards against a set cut short read with zeros for its missing bits instead of refused.
TEST(SequenceInfo, RefusesSetsCutShortAndUnitsOfOtherTypes) {
  for (const auto& [nal, codec] :
       {std::pair{kInterlacedH264, kCodecH264}, {kRichHevc, kCodecHevc}}) {
    // The last few bytes hold only fields after the range flag.
    for (std::size_t size = 0; size + 3 < nal.size(); ++size) {
      EXPECT_FALSE(read(nal, codec, size).has_value()) << size << " bytes";
    }
  }
  EXPECT_FALSE(read(Bytes{0x68, 0xCE, 0x3C, 0x80}, kCodecH264, 4).has_value());  // a PPS
  EXPECT_FALSE(read(kInterlacedH264, kCodecHevc, kInterlacedH264.size()).has_value());
}

}  // namespace
}  // namespace mirandel
