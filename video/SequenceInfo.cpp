#include "video/SequenceInfo.h"

#include <algorithm>
#include <array>
#include <vector>

namespace mirandel {
namespace {

// Sides beyond this are malformed rather than merely too large to show; the
// size limit itself is the caller's business.
constexpr std::uint64_t kMaxCodedSide = 65536;

// Reads the bits of a NAL unit's payload with the emulation-prevention bytes
// (00 00 03) removed. Reading past the end sets failed() and yields zeros.
class BitReader {
 public:
  BitReader(const std::uint8_t* data, std::size_t size) {
    rbsp_.reserve(size);
    int zeros = 0;
    for (std::size_t i = 0; i < size; ++i) {
      if (zeros >= 2 && data[i] == 3) {
        zeros = 0;
        continue;
      }
      zeros = data[i] == 0 ? zeros + 1 : 0;
      rbsp_.push_back(data[i]);
    }
  }

  bool failed() const { return failed_; }

  std::uint32_t bit() {
    if (pos_ >= rbsp_.size() * 8) {
      failed_ = true;
      return 0;
    }
    const std::uint32_t b = (rbsp_[pos_ / 8] >> (7 - pos_ % 8)) & 1u;
    ++pos_;
    return b;
  }

  std::uint64_t bits(unsigned n) {
    std::uint64_t v = 0;
    for (unsigned i = 0; i < n; ++i) v = (v << 1) | bit();
    return v;
  }

  void skip(std::size_t n) {
    pos_ += n;
    if (pos_ > rbsp_.size() * 8) failed_ = true;
  }

  // Exp-Golomb ue(v); values of more than 32 bits are malformed here.
  std::uint64_t ue() {
    unsigned zeros = 0;
    while (bit() == 0) {
      if (failed_ || ++zeros > 32) {
        failed_ = true;
        return 0;
      }
    }
    return (std::uint64_t{1} << zeros) - 1 + bits(zeros);
  }

  std::int64_t se() {
    const std::uint64_t k = ue();
    const auto magnitude = static_cast<std::int64_t>((k + 1) / 2);
    return k % 2 == 1 ? magnitude : -magnitude;
  }

 private:
  std::vector<std::uint8_t> rbsp_;
  std::size_t pos_ = 0;
  bool failed_ = false;
};

// The start of the VUI, up to the colour description; H.264 and HEVC share it.
ColorCodes readVuiColor(BitReader& r) {
  ColorCodes c;
  if (r.bit() != 0) {        // aspect_ratio_info_present_flag
    if (r.bits(8) == 255) {  // aspect_ratio_idc: Extended_SAR
      r.skip(32);            // sar_width, sar_height
    }
  }
  if (r.bit() != 0) r.skip(1);  // overscan_info_present_flag, overscan_appropriate_flag
  if (r.bit() == 0) return c;   // video_signal_type_present_flag
  r.skip(3);                    // video_format
  c.fullRange = r.bit() != 0;
  if (r.bit() == 0) return c;  // colour_description_present_flag
  c.primaries = static_cast<std::uint8_t>(r.bits(8));
  c.transfer = static_cast<std::uint8_t>(r.bits(8));
  c.matrix = static_cast<std::uint8_t>(r.bits(8));
  return c;
}

// The visible area from the crop offsets, given in units of cropUnitX/Y
// samples; false when the offsets leave nothing.
bool applyCrop(SequenceInfo& s, const std::array<std::uint64_t, 4>& offsets, std::uint32_t unitX,
               std::uint32_t unitY) {
  const std::uint64_t left = offsets[0] * unitX, right = offsets[1] * unitX;
  const std::uint64_t top = offsets[2] * unitY, bottom = offsets[3] * unitY;
  if (left + right >= s.codedWidth || top + bottom >= s.codedHeight) return false;
  s.cropX = static_cast<std::uint32_t>(left);
  s.cropY = static_cast<std::uint32_t>(top);
  s.width = static_cast<std::uint32_t>(s.codedWidth - left - right);
  s.height = static_cast<std::uint32_t>(s.codedHeight - top - bottom);
  return true;
}

void skipH264ScalingList(BitReader& r, int size) {
  std::int64_t last = 8, next = 8;
  for (int j = 0; j < size && !r.failed(); ++j) {
    if (next != 0) next = ((last + r.se()) % 256 + 256) % 256;
    if (next != 0) last = next;
  }
}

std::optional<SequenceInfo> readH264(BitReader& r) {
  SequenceInfo s;
  const std::uint64_t profile = r.bits(8);
  r.skip(16);  // constraint flags, level_idc
  r.ue();      // seq_parameter_set_id
  bool separatePlanes = false;
  switch (profile) {
    case 100:
    case 110:
    case 122:
    case 244:
    case 44:
    case 83:
    case 86:
    case 118:
    case 128:
    case 138:
    case 139:
    case 134:
    case 135: {
      const std::uint64_t chroma = r.ue();
      if (chroma > 3) return std::nullopt;
      s.chromaFormat = static_cast<std::uint32_t>(chroma);
      if (chroma == 3) separatePlanes = r.bit() != 0;
      const std::uint64_t depth = r.ue() + 8;
      if (depth > 14) return std::nullopt;
      s.bitDepth = static_cast<std::uint32_t>(depth);
      r.ue();              // bit_depth_chroma_minus8
      r.skip(1);           // qpprime_y_zero_transform_bypass_flag
      if (r.bit() != 0) {  // seq_scaling_matrix_present_flag
        for (int i = 0; i < (chroma != 3 ? 8 : 12); ++i) {
          if (r.bit() != 0) skipH264ScalingList(r, i < 6 ? 16 : 64);
        }
      }
      break;
    }
    default:
      break;
  }
  r.ue();  // log2_max_frame_num_minus4
  const std::uint64_t pocType = r.ue();
  if (pocType == 0) {
    r.ue();  // log2_max_pic_order_cnt_lsb_minus4
  } else if (pocType == 1) {
    r.skip(1);  // delta_pic_order_always_zero_flag
    r.se();     // offset_for_non_ref_pic
    r.se();     // offset_for_top_to_bottom_field
    const std::uint64_t cycle = r.ue();
    if (cycle > 255) return std::nullopt;
    for (std::uint64_t i = 0; i < cycle && !r.failed(); ++i) r.se();
  } else if (pocType != 2) {
    return std::nullopt;
  }
  r.ue();     // max_num_ref_frames
  r.skip(1);  // gaps_in_frame_num_value_allowed_flag
  const std::uint64_t widthMbs = r.ue() + 1;
  const std::uint64_t heightMapUnits = r.ue() + 1;
  const bool frameMbsOnly = r.bit() != 0;
  if (!frameMbsOnly) r.skip(1);  // mb_adaptive_frame_field_flag
  r.skip(1);                     // direct_8x8_inference_flag
  std::array<std::uint64_t, 4> crop{};
  if (r.bit() != 0) {
    for (std::uint64_t& c : crop) c = r.ue();
  }
  if (r.bit() != 0) s.color = readVuiColor(r);
  if (r.failed()) return std::nullopt;

  const std::uint64_t codedWidth = widthMbs * 16;
  const std::uint64_t codedHeight = heightMapUnits * 16 * (frameMbsOnly ? 1 : 2);
  if (codedWidth > kMaxCodedSide || codedHeight > kMaxCodedSide) return std::nullopt;
  s.codedWidth = static_cast<std::uint32_t>(codedWidth);
  s.codedHeight = static_cast<std::uint32_t>(codedHeight);
  const std::uint32_t fieldFactor = frameMbsOnly ? 1 : 2;
  const bool chromaPlanes = !separatePlanes && s.chromaFormat != 0;
  const std::uint32_t unitX = chromaPlanes && s.chromaFormat != 3 ? 2 : 1;
  const std::uint32_t unitY = (chromaPlanes && s.chromaFormat == 1 ? 2 : 1) * fieldFactor;
  if (!applyCrop(s, crop, unitX, unitY)) return std::nullopt;
  return s;
}

void skipHevcScalingListData(BitReader& r) {
  for (int sizeId = 0; sizeId < 4; ++sizeId) {
    for (int matrixId = 0; matrixId < 6; matrixId += sizeId == 3 ? 3 : 1) {
      if (r.bit() == 0) {  // scaling_list_pred_mode_flag
        r.ue();            // scaling_list_pred_matrix_id_delta
        continue;
      }
      const int coefficients = std::min(64, 1 << (4 + (sizeId << 1)));
      if (sizeId > 1) r.se();  // scaling_list_dc_coef_minus8
      for (int i = 0; i < coefficients && !r.failed(); ++i) r.se();
    }
  }
}

// The delta POCs of one short-term reference picture set, as far as later
// sets predicted from it need them.
struct ShortTermSet {
  std::vector<std::int64_t> negative;  // DeltaPocS0, nearest first
  std::vector<std::int64_t> positive;  // DeltaPocS1, nearest first
};

// More entries than any level allows: the set is malformed.
constexpr std::size_t kMaxDeltaPocs = 32;

// st_ref_pic_set(index) as it appears in a sequence parameter set.
bool readShortTermSet(BitReader& r, std::vector<ShortTermSet>& sets) {
  const std::size_t index = sets.size();
  ShortTermSet set;
  if (index != 0 && r.bit() != 0) {  // inter_ref_pic_set_prediction_flag
    const ShortTermSet& ref = sets[index - 1];
    const std::int64_t sign = r.bit() != 0 ? -1 : 1;
    const std::uint64_t magnitude = r.ue() + 1;
    if (magnitude > (1u << 15)) return false;
    const std::int64_t deltaRps = sign * static_cast<std::int64_t>(magnitude);
    const std::size_t refCount = ref.negative.size() + ref.positive.size();
    std::vector<bool> useDelta(refCount + 1);
    for (std::size_t j = 0; j <= refCount; ++j) {
      const bool used = r.bit() != 0;
      useDelta[j] = used || r.bit() != 0;
    }
    const std::size_t negatives = ref.negative.size();
    for (std::size_t j = ref.positive.size(); j-- > 0;) {
      const std::int64_t d = ref.positive[j] + deltaRps;
      if (d < 0 && useDelta[negatives + j]) set.negative.push_back(d);
    }
    if (deltaRps < 0 && useDelta[refCount]) set.negative.push_back(deltaRps);
    for (std::size_t j = 0; j < negatives; ++j) {
      const std::int64_t d = ref.negative[j] + deltaRps;
      if (d < 0 && useDelta[j]) set.negative.push_back(d);
    }
    for (std::size_t j = negatives; j-- > 0;) {
      const std::int64_t d = ref.negative[j] + deltaRps;
      if (d > 0 && useDelta[j]) set.positive.push_back(d);
    }
    if (deltaRps > 0 && useDelta[refCount]) set.positive.push_back(deltaRps);
    for (std::size_t j = 0; j < ref.positive.size(); ++j) {
      const std::int64_t d = ref.positive[j] + deltaRps;
      if (d > 0 && useDelta[negatives + j]) set.positive.push_back(d);
    }
  } else {
    const std::uint64_t negatives = r.ue();
    const std::uint64_t positives = r.ue();
    if (negatives > kMaxDeltaPocs || positives > kMaxDeltaPocs) return false;
    std::int64_t poc = 0;
    for (std::uint64_t i = 0; i < negatives; ++i) {
      poc -= static_cast<std::int64_t>(r.ue()) + 1;
      r.skip(1);  // used_by_curr_pic_s0_flag
      set.negative.push_back(poc);
    }
    poc = 0;
    for (std::uint64_t i = 0; i < positives; ++i) {
      poc += static_cast<std::int64_t>(r.ue()) + 1;
      r.skip(1);  // used_by_curr_pic_s1_flag
      set.positive.push_back(poc);
    }
  }
  if (set.negative.size() + set.positive.size() > kMaxDeltaPocs) return false;
  sets.push_back(std::move(set));
  return !r.failed();
}

std::optional<SequenceInfo> readHevc(BitReader& r) {
  SequenceInfo s;
  r.skip(4);                                                // sps_video_parameter_set_id
  const auto subLayers = static_cast<unsigned>(r.bits(3));  // sps_max_sub_layers_minus1
  r.skip(1);                                                // sps_temporal_id_nesting_flag
  // profile_tier_level(1, subLayers): the general profile, tier and level...
  r.skip(2 + 1 + 5 + 32 + 48 + 8);
  // ...then each sub-layer's, when present.
  std::array<bool, 8> subProfile{}, subLevel{};
  for (unsigned i = 0; i < subLayers; ++i) {
    subProfile[i] = r.bit() != 0;
    subLevel[i] = r.bit() != 0;
  }
  if (subLayers > 0) r.skip(2 * (8 - subLayers));  // reserved_zero_2bits
  for (unsigned i = 0; i < subLayers; ++i) {
    if (subProfile[i]) r.skip(88);
    if (subLevel[i]) r.skip(8);
  }
  r.ue();  // sps_seq_parameter_set_id
  const std::uint64_t chroma = r.ue();
  if (chroma > 3) return std::nullopt;
  s.chromaFormat = static_cast<std::uint32_t>(chroma);
  bool separatePlanes = false;
  if (chroma == 3) separatePlanes = r.bit() != 0;
  const std::uint64_t width = r.ue();
  const std::uint64_t height = r.ue();
  std::array<std::uint64_t, 4> window{};
  if (r.bit() != 0) {  // conformance_window_flag
    for (std::uint64_t& w : window) w = r.ue();
  }
  const std::uint64_t depth = r.ue() + 8;
  if (depth > 16) return std::nullopt;
  s.bitDepth = static_cast<std::uint32_t>(depth);
  r.ue();  // bit_depth_chroma_minus8
  const std::uint64_t pocLsbBits = r.ue() + 4;
  if (pocLsbBits > 16) return std::nullopt;
  const bool orderingForEach = r.bit() != 0;  // sps_sub_layer_ordering_info_present_flag
  for (unsigned i = orderingForEach ? 0 : subLayers; i <= subLayers; ++i) {
    r.ue();  // sps_max_dec_pic_buffering_minus1
    r.ue();  // sps_max_num_reorder_pics
    r.ue();  // sps_max_latency_increase_plus1
  }
  for (int i = 0; i < 6; ++i) r.ue();  // coding and transform block sizes and depths
  if (r.bit() != 0 && r.bit() != 0) {  // scaling_list_enabled, sps_scaling_list_data_present
    skipHevcScalingListData(r);
  }
  r.skip(2);           // amp_enabled_flag, sample_adaptive_offset_enabled_flag
  if (r.bit() != 0) {  // pcm_enabled_flag
    r.skip(8);         // pcm sample bit depths
    r.ue();            // log2_min_pcm_luma_coding_block_size_minus3
    r.ue();            // log2_diff_max_min_pcm_luma_coding_block_size
    r.skip(1);         // pcm_loop_filter_disabled_flag
  }
  const std::uint64_t setCount = r.ue();
  if (setCount > 64) return std::nullopt;
  std::vector<ShortTermSet> sets;
  for (std::uint64_t i = 0; i < setCount; ++i) {
    if (!readShortTermSet(r, sets)) return std::nullopt;
  }
  if (r.bit() != 0) {  // long_term_ref_pics_present_flag
    const std::uint64_t longTerm = r.ue();
    if (longTerm > 32) return std::nullopt;
    for (std::uint64_t i = 0; i < longTerm; ++i) r.skip(pocLsbBits + 1);
  }
  r.skip(2);  // sps_temporal_mvp_enabled_flag, strong_intra_smoothing_enabled_flag
  if (r.bit() != 0) s.color = readVuiColor(r);
  if (r.failed() || width == 0 || height == 0 || width > kMaxCodedSide || height > kMaxCodedSide) {
    return std::nullopt;
  }
  s.codedWidth = static_cast<std::uint32_t>(width);
  s.codedHeight = static_cast<std::uint32_t>(height);
  const bool chromaPlanes = !separatePlanes && s.chromaFormat != 0;
  const std::uint32_t unitX = chromaPlanes && s.chromaFormat != 3 ? 2 : 1;
  const std::uint32_t unitY = chromaPlanes && s.chromaFormat == 1 ? 2 : 1;
  if (!applyCrop(s, window, unitX, unitY)) return std::nullopt;
  return s;
}

}  // namespace

std::optional<SequenceInfo> readSequenceInfo(const NalUnit& nal, CodecKind codec) {
  if (nal.data == nullptr) return std::nullopt;
  if (codec == kCodecHevc) {
    if (nal.size < 3 || nalType(nal, codec) != 33) return std::nullopt;
    BitReader r(nal.data + 2, nal.size - 2);
    return readHevc(r);
  }
  if (nal.size < 2 || nalType(nal, codec) != 7) return std::nullopt;
  BitReader r(nal.data + 1, nal.size - 1);
  return readH264(r);
}

}  // namespace mirandel
