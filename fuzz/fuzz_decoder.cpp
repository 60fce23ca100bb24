// The decoder with libavcodec behind it, fed arbitrary access units: the
// Annex-B walk, the key-picture gate, the codec library's output checks and
// the conversion must survive anything the network delivers.
//
// Input: byte 0 picks the codec (bit 0: HEVC) and the output limit (bits
// 1..2); then units, each a 16-bit little-endian length, a flags byte (bit 0:
// randomAccess, bit 1: reset before) and its bytes.
#include <cstddef>
#include <cstdint>

#include "video/Decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const mirandel::CodecKind codec = (data[0] & 1) ? mirandel::kCodecHevc : mirandel::kCodecH264;
  static constexpr std::uint32_t kLimits[] = {0, 64, 33, 2};
  std::uint64_t sum = 0;
  auto decoder = mirandel::makeDecoder([&sum](const mirandel::Frame& f) {
    // Touch every delivered byte so an out-of-bounds frame shows up.
    for (std::uint32_t r = 0; r < f.height; ++r) {
      for (std::uint64_t i = 0; i < std::uint64_t{f.width} * 4; ++i)
        sum += f.data[r * f.stride + i];
    }
  });
  decoder->setMaxDimension(kLimits[(data[0] >> 1) & 3]);
  std::size_t pos = 1;
  while (pos + 3 <= size) {
    const std::size_t length = data[pos] | (std::size_t{data[pos + 1]} << 8);
    const std::uint8_t flags = data[pos + 2];
    pos += 3;
    const std::size_t take = length < size - pos ? length : size - pos;
    mirandel::AccessUnit unit;
    unit.bytes.assign(data + pos, data + pos + take);
    unit.randomAccess = (flags & 1) != 0;
    pos += take;
    if (flags & 2) decoder->reset();
    decoder->decode(unit, codec);
  }
  (void)decoder->info();
  return sum == 1 ? 1 : 0;
}
