#include "video/PictureGeometry.h"

#include <algorithm>

namespace mirandel {

bool pictureSizeAllowed(std::uint32_t width, std::uint32_t height) {
  return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
         std::uint64_t{width} * height <= kMaxPictureArea;
}

bool pictureIsReadable(const YuvPicture& p) {
  if (p.width == 0 || p.height == 0 || p.width > kMaxPictureSide || p.height > kMaxPictureSide) {
    return false;
  }
  if (p.bitDepth != 8 && p.bitDepth != 10) return false;
  const std::size_t sampleBytes = p.bitDepth > 8 ? 2 : 1;
  const std::size_t chromaBytes = (static_cast<std::size_t>(p.width) + 1) / 2 * sampleBytes;
  if (p.y == nullptr || p.u == nullptr || p.yStride < p.width * sampleBytes) return false;
  if (p.layout == ChromaLayout::kInterleaved) return p.uStride >= chromaBytes * 2;
  return p.v != nullptr && p.uStride >= chromaBytes && p.vStride >= chromaBytes;
}

std::optional<YuvPicture> nv12Picture(const std::uint8_t* base, std::size_t length,
                                      const Nv12Layout& l) {
  if (base == nullptr || l.width == 0 || l.height == 0 || l.width > kMaxPictureSide ||
      l.height > kMaxPictureSide || l.cropX > kMaxPictureSide || l.cropY > kMaxPictureSide ||
      l.planeHeight > kMaxPictureSide || l.pitch > 4 * std::size_t{kMaxPictureSide} ||
      (l.bitDepth != 8 && l.bitDepth != 10)) {
    return std::nullopt;
  }
  const std::size_t sampleBytes = l.bitDepth > 8 ? 2 : 1;
  const std::size_t planeHeight = l.planeHeight == 0 ? l.height : l.planeHeight;
  // The visible area must lie inside the luma plane, and chroma pairs are
  // addressed from an even column. Extents in bytes.
  const std::size_t left = std::size_t{l.cropX} * sampleBytes;
  const std::size_t right = left + std::size_t{l.width} * sampleBytes;
  const std::size_t chromaRight =
      left + ((std::size_t{l.width} + 1) & ~std::size_t{1}) * sampleBytes;
  if (std::max(right, chromaRight) > l.pitch || std::size_t{l.cropY} + l.height > planeHeight) {
    return std::nullopt;
  }
  const std::size_t lumaOffset = std::size_t{l.cropY} * l.pitch + left;
  const std::size_t chromaRow = std::size_t{l.cropY} / 2 + planeHeight;
  const std::size_t chromaRows = (std::size_t{l.height} + 1) / 2;
  const std::size_t chromaOffset = chromaRow * l.pitch + left;
  // The last chroma row ends within the buffer (the luma plane precedes it).
  if ((chromaRow + chromaRows - 1) * l.pitch + chromaRight > length) return std::nullopt;

  YuvPicture p;
  p.layout = ChromaLayout::kInterleaved;
  p.bitDepth = l.bitDepth;
  p.alignment = SampleAlignment::kHigh;
  p.width = l.width;
  p.height = l.height;
  p.y = base + lumaOffset;
  p.yStride = l.pitch;
  p.u = base + chromaOffset;
  p.uStride = l.pitch;
  return p;
}

OutputSize outputSize(std::uint32_t width, std::uint32_t height, std::uint32_t maxDimension) {
  const std::uint32_t m = std::max(width, height);
  if (maxDimension == 0 || m <= maxDimension) return {width, height};
  const double s = static_cast<double>(maxDimension) / m;
  const auto side = [s](std::uint32_t v) { return static_cast<std::uint32_t>(v * s + 0.5) & ~1u; };
  return {side(width), side(height)};
}

}  // namespace mirandel
