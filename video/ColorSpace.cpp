#include "video/ColorSpace.h"

namespace mirandel {

ColorSpace colorSpaceOf(const ColorCodes& codes, std::uint32_t height) {
  ColorSpace s;
  switch (codes.matrix) {
    case 1:
      s.matrix = ColorMatrix::kBt709;
      break;
    case 5:
    case 6:
      s.matrix = ColorMatrix::kBt601;
      break;
    case 9:
    case 10:
      s.matrix = ColorMatrix::kBt2020;
      break;
    default:
      s.matrix = height < 720 ? ColorMatrix::kBt601 : ColorMatrix::kBt709;
      break;
  }
  s.transfer = codes.transfer == 16   ? ColorTransfer::kPq
               : codes.transfer == 18 ? ColorTransfer::kHlg
                                      : ColorTransfer::kSdr;
  s.primaries = codes.primaries == 9 ? ColorPrimaries::kBt2020 : ColorPrimaries::kBt709;
  s.range = codes.fullRange ? ColorRange::kFull : ColorRange::kLimited;
  return s;
}

}  // namespace mirandel
