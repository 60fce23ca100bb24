#include "video/MFOutputFormat.h"

// clang-format off
#include <mfapi.h>
// clang-format on

#include <algorithm>

namespace mirandel {

namespace {

// Media Foundation's names for a stream's colour description, as the VUI's
// codes (ColorSpace.h); nothing for "unknown" or an attribute not there.
std::optional<std::uint8_t> matrixCode(UINT32 v) {
  switch (v) {
    case MFVideoTransferMatrix_BT709:
      return 1;
    case MFVideoTransferMatrix_BT601:
      return 6;
    case MFVideoTransferMatrix_SMPTE240M:
      return 7;
    case MFVideoTransferMatrix_BT2020_10:
    case MFVideoTransferMatrix_BT2020_12:
      return 9;
    default:
      return std::nullopt;
  }
}

// Every transfer other than PQ and HLG is an SDR curve to the conversion.
std::optional<std::uint8_t> transferCode(UINT32 v) {
  if (v == MFVideoTransFunc_Unknown) return std::nullopt;
  if (v == MFVideoTransFunc_2084) return 16;
  if (v == MFVideoTransFunc_HLG) return 18;
  return 1;
}

// Every set of primaries other than BT.2020's is shown as BT.709's.
std::optional<std::uint8_t> primariesCode(UINT32 v) {
  if (v == MFVideoPrimaries_Unknown || v == MFVideoPrimaries_reserved) return std::nullopt;
  return v == MFVideoPrimaries_BT2020 ? 9 : 1;
}

std::optional<std::uint8_t> readCode(IMFMediaType& type, const GUID& key,
                                     std::optional<std::uint8_t> (*code)(UINT32)) {
  UINT32 v = 0;
  if (FAILED(type.GetUINT32(key, &v))) return std::nullopt;
  return code(v);
}

// Reads a display area attribute; the area must lie inside the frame. An
// area covering the whole frame says nothing the frame size does not.
bool readAperture(IMFMediaType& type, const GUID& key, OutputFormat& f) {
  MFVideoArea area{};
  UINT32 size = 0;
  if (FAILED(type.GetBlob(key, reinterpret_cast<UINT8*>(&area), sizeof area, &size)) ||
      size != sizeof area) {
    return false;
  }
  // Chroma pairs start at even columns and rows.
  const std::int64_t x = std::max<std::int64_t>(area.OffsetX.value, 0) & ~std::int64_t{1};
  const std::int64_t y = std::max<std::int64_t>(area.OffsetY.value, 0) & ~std::int64_t{1};
  const std::int64_t cx = area.Area.cx, cy = area.Area.cy;
  if (cx <= 1 || cy <= 1 || x + cx > f.width || y + cy > f.height) return false;
  if (x == 0 && y == 0 && cx == f.width && cy == f.height) return false;
  f.hasAperture = true;
  f.apertureX = static_cast<std::uint32_t>(x);
  f.apertureY = static_cast<std::uint32_t>(y);
  f.apertureWidth = static_cast<std::uint32_t>(cx);
  f.apertureHeight = static_cast<std::uint32_t>(cy);
  return true;
}

}  // namespace

OutputFormat readOutputFormat(IMFMediaType& type, std::uint8_t bitDepth) {
  OutputFormat f;
  f.bitDepth = bitDepth;
  UINT64 size = 0;
  if (SUCCEEDED(type.GetUINT64(MF_MT_FRAME_SIZE, &size))) {
    f.width = static_cast<std::uint32_t>(size >> 32);
    f.height = static_cast<std::uint32_t>(size & 0xFFFFFFFFu);
  }
  UINT32 stride = 0;
  if (SUCCEEDED(type.GetUINT32(MF_MT_DEFAULT_STRIDE, &stride))) {
    f.stride = static_cast<std::int32_t>(stride);
  }
  if (!readAperture(type, MF_MT_MINIMUM_DISPLAY_APERTURE, f)) {
    readAperture(type, MF_MT_GEOMETRIC_APERTURE, f);
  }
  UINT32 range = 0;
  if (SUCCEEDED(type.GetUINT32(MF_MT_VIDEO_NOMINAL_RANGE, &range))) {
    if (range == MFNominalRange_0_255) f.range = ColorRange::kFull;
    if (range == MFNominalRange_16_235) f.range = ColorRange::kLimited;
  }
  f.matrix = readCode(type, MF_MT_YUV_MATRIX, &matrixCode);
  f.transfer = readCode(type, MF_MT_TRANSFER_FUNCTION, &transferCode);
  f.primaries = readCode(type, MF_MT_VIDEO_PRIMARIES, &primariesCode);
  return f;
}

}  // namespace mirandel
