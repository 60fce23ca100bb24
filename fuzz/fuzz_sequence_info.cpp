// Sequence parameter sets from the network, as the Windows decoder reads them
// to find the visible area and the range: any bytes are read or refused,
// never read past, and a set that is read describes a visible area inside
// its coded picture.
//
// Input: byte 0 picks the codec (bit 0: HEVC); the rest is one NAL unit,
// header included.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "video/SequenceInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const mirandel::CodecKind codec = (data[0] & 1) ? mirandel::kCodecHevc : mirandel::kCodecH264;
  // A copy of its own, so that AddressSanitizer sees where the unit ends.
  const std::vector<std::uint8_t> nal(data + 1, data + size);
  const std::optional<mirandel::SequenceInfo> s =
      mirandel::readSequenceInfo({nal.data(), nal.size()}, codec);
  if (s && (s->width == 0 || s->height == 0 || std::uint64_t{s->cropX} + s->width > s->codedWidth ||
            std::uint64_t{s->cropY} + s->height > s->codedHeight || s->chromaFormat > 3)) {
    __builtin_trap();
  }
  return 0;
}
