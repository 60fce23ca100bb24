#include "video/PictureGeometry.h"

#include <algorithm>

namespace mirandel {

bool pictureIsReadable(const YuvPicture& p) {
  if (p.width == 0 || p.height == 0 || p.width > kMaxPictureSide || p.height > kMaxPictureSide) {
    return false;
  }
  const std::size_t chromaWidth = (static_cast<std::size_t>(p.width) + 1) / 2;
  if (p.y == nullptr || p.u == nullptr || p.yStride < p.width) return false;
  if (p.layout == ChromaLayout::kInterleaved) return p.uStride >= chromaWidth * 2;
  return p.v != nullptr && p.uStride >= chromaWidth && p.vStride >= chromaWidth;
}

std::optional<YuvPicture> nv12Picture(const std::uint8_t* base, std::size_t length,
                                      const Nv12Layout& l) {
  if (base == nullptr || l.width == 0 || l.height == 0 || l.width > kMaxPictureSide ||
      l.height > kMaxPictureSide || l.cropX > kMaxPictureSide || l.cropY > kMaxPictureSide ||
      l.planeHeight > kMaxPictureSide || l.pitch > 4 * std::size_t{kMaxPictureSide}) {
    return std::nullopt;
  }
  const std::size_t planeHeight = l.planeHeight == 0 ? l.height : l.planeHeight;
  // The visible area must lie inside the luma plane, and chroma pairs are
  // addressed from an even column.
  const std::size_t right = std::size_t{l.cropX} + l.width;
  const std::size_t chromaRight =
      std::size_t{l.cropX} + ((std::size_t{l.width} + 1) & ~std::size_t{1});
  if (std::max(right, chromaRight) > l.pitch || std::size_t{l.cropY} + l.height > planeHeight) {
    return std::nullopt;
  }
  const std::size_t lumaOffset = std::size_t{l.cropY} * l.pitch + l.cropX;
  const std::size_t chromaRow = std::size_t{l.cropY} / 2 + planeHeight;
  const std::size_t chromaRows = (std::size_t{l.height} + 1) / 2;
  const std::size_t chromaOffset = chromaRow * l.pitch + l.cropX;
  // The last chroma row ends within the buffer (the luma plane precedes it).
  if ((chromaRow + chromaRows - 1) * l.pitch + chromaRight > length) return std::nullopt;

  YuvPicture p;
  p.layout = ChromaLayout::kInterleaved;
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
