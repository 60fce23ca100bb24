#pragma once
// Annex-B byte streams: NAL units separated by 00 00 01 start codes. Reads in
// place, never copies; any thread.
#include <cstddef>
#include <cstdint>

#include "video/AccessUnit.h"

namespace mirandel {

struct NalUnit {
  const std::uint8_t* data = nullptr;  // first header byte, start code excluded
  std::size_t size = 0;                // never 0
};

// Walks the NAL units of one access unit. Each runs from just after a start
// code to the next one, less one 00 that belongs to a four-byte start code.
// Bytes before the first start code are ignored; empty units are skipped.
class NalReader {
 public:
  NalReader(const std::uint8_t* data, std::size_t size);
  bool next(NalUnit& nal);

 private:
  // Offset of the next 00 00 01 at or after `from`, or size_ when none.
  std::size_t findStartCode(std::size_t from) const;

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_;  // payload start of the next unit; size_ when done
};

// NAL unit types. H.264 is assumed for every codec other than HEVC.
inline unsigned nalType(const NalUnit& nal, CodecKind codec) {
  return codec == kCodecHevc ? (nal.data[0] >> 1) & 0x3Fu : nal.data[0] & 0x1Fu;
}

// Whether the unit holds a key picture: an IDR slice (H.264, type 5) or an
// IRAP picture (HEVC, types 16 to 23).
bool holdsKeyPicture(const std::uint8_t* data, std::size_t size, CodecKind codec);

}  // namespace mirandel
