#pragma once
// The phone emulator's MPEG-2 transport-stream writer: one program, one H.264 or HEVC stream,
// one PES with a PTS per picture and, when enabled, the end-of-picture null packet after it.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "video/AccessUnit.h"

namespace mirandel::phone {

struct TsMuxerOptions {
  CodecKind codec = kCodecH264;  // 1 H.264 (stream_type 0x1B), 2 HEVC (0x24)
  bool markers = true;           // "Mirandel:AU-end" null packet after each picture
  bool boundedPes = false;       // write PES_packet_length when it fits in 16 bits, else 0
  std::uint16_t pmtPid = 0x1000, videoPid = 0x100;
};

// Owned by the emulator's stream thread; not thread-safe.
class TsMuxer {
 public:
  static constexpr std::size_t kPacketSize = 188;

  explicit TsMuxer(TsMuxerOptions options);

  // Appends the 188-byte packets of one coded picture (Annex-B bytes) to `out`:
  // PAT and PMT first on every key picture (and the very first picture), one PES with a
  // PTS (90 kHz), random_access_indicator on key pictures, stuffing via the adaptation
  // field in the last packet, continuity counters per PID, then the marker when enabled.
  // The first packet of each picture also carries a PCR equal to the PTS.
  void muxPicture(const std::uint8_t* data, std::size_t size, std::int64_t pts90k, bool key,
                  std::vector<std::uint8_t>& out);

 private:
  void writeSection(std::uint16_t pid, std::uint8_t& cc, const std::uint8_t* section,
                    std::size_t length, std::vector<std::uint8_t>& out);
  void writeTables(std::vector<std::uint8_t>& out);
  void writeMarker(std::vector<std::uint8_t>& out);

  TsMuxerOptions options_;
  bool tablesSent_ = false;
  std::uint8_t patCc_ = 0;
  std::uint8_t pmtCc_ = 0;
  std::uint8_t videoCc_ = 0;
};

// CRC-32 of MPEG-2 sections (polynomial 0x04C11DB7, initial value all ones, not reflected).
std::uint32_t mpegCrc32(const std::uint8_t* data, std::size_t length);

}  // namespace mirandel::phone
