#pragma once
// Transport-stream packets built byte by byte, apart from the emulator's muxer.
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "video/TsDemuxer.h"

namespace mirandel::test {

using Bytes = std::vector<std::uint8_t>;

// The low byte of a value.
constexpr std::uint8_t byte(std::uint64_t v) { return static_cast<std::uint8_t>(v); }

// One 188-byte packet; payloads shorter than 184 bytes are padded with adaptation stuffing, and
// `randomAccess` puts an adaptation field with the indicator in.
inline Bytes tsPacket(int pid, int cc, const Bytes& payload, bool unitStart = false,
                      bool randomAccess = false) {
  Bytes p(188, 0xFF);
  p[0] = 0x47;
  p[1] = byte((unitStart ? 0x40 : 0) | (pid >> 8 & 0x1F));
  p[2] = byte(pid & 0xFF);
  const bool needField = randomAccess || payload.size() < 184;
  std::size_t offset = 4;
  if (needField) {
    const std::size_t fieldTotal = 184 - payload.size();  // length byte included
    p[4] = byte(fieldTotal - 1);
    if (fieldTotal >= 2) p[5] = randomAccess ? 0x40 : 0x00;
    offset += fieldTotal;
  }
  p[3] = byte((needField ? 0x30 : 0x10) | (cc & 0x0F));
  if (!payload.empty()) std::memcpy(p.data() + offset, payload.data(), 188 - offset);
  return p;
}

// PAT (program 1 at PID 0x1000) and PMT (one H.264 stream at PID 0x100) after their pointer
// fields; a filler stands in for the CRC, which is not checked.
inline const Bytes kPat = {0x00, 0x00, 0xB0, 0x0D, 0x00, 0x01, 0xC1, 0x00, 0x00,
                           0x00, 0x01, 0xF0, 0x00, 0xDE, 0xAD, 0xBE, 0xEF};
inline const Bytes kPmt = {0x00, 0x02, 0xB0, 0x12, 0x00, 0x01, 0xC1, 0x00, 0x00, 0xE1, 0x00,
                           0xF0, 0x00, 0x1B, 0xE1, 0x00, 0xF0, 0x00, 0xDE, 0xAD, 0xBE, 0xEF};

// PES header (stream_id 0xE0) with an optional PTS; `packetLength` is PES_packet_length.
inline Bytes pesHeader(std::optional<std::int64_t> pts, std::size_t packetLength = 0) {
  Bytes h = {0x00, 0x00, 0x01, 0xE0, byte(packetLength >> 8), byte(packetLength), 0x80, 0, 0};
  if (pts) {
    const std::int64_t v = *pts;
    h[7] = 0x80;
    h[8] = 5;
    h.insert(h.end(), {byte(0x21 | (v >> 29 & 0x0E)), byte(v >> 22), byte(v >> 14 | 1),
                       byte(v >> 7), byte(v << 1 | 1)});
  }
  return h;
}

inline Bytes markerPacket() {
  Bytes payload(184, 0xFF);
  std::memcpy(payload.data(), kPictureEndMarker.data(), kPictureEndMarker.size());
  return tsPacket(0x1FFF, 0, payload);
}

// A small stream writer keeping continuity counters, for whole pictures.
class TsWriter {
 public:
  static constexpr int kPmtPid = 0x1000;
  static constexpr int kVideoPid = 0x100;

  Bytes out;
  int videoCc = 0;

  void append(const Bytes& packet) { out.insert(out.end(), packet.begin(), packet.end()); }

  void tables(std::uint8_t streamType = 0x1B) {
    Bytes pmt = kPmt;
    pmt[13] = streamType;
    append(tsPacket(0, patCc_++, kPat, /*unitStart=*/true));
    append(tsPacket(kPmtPid, pmtCc_++, pmt, /*unitStart=*/true));
  }

  // One PES with the picture's bytes, split over as many packets as needed.
  void pes(const Bytes& data, std::optional<std::int64_t> pts, bool key = false,
           std::size_t packetLength = 0) {
    Bytes pes = pesHeader(pts, packetLength);
    pes.insert(pes.end(), data.begin(), data.end());
    std::size_t pos = 0;
    bool first = true;
    while (pos < pes.size()) {
      const std::size_t room = first && key ? 182 : 184;
      const std::size_t n = std::min(room, pes.size() - pos);
      append(tsPacket(kVideoPid, videoCc++, Bytes(pes.data() + pos, pes.data() + pos + n), first,
                      first && key));
      pos += n;
      first = false;
    }
  }

  void marker() { append(markerPacket()); }

  // A whole picture: its PES, then the end-of-picture marker.
  void picture(const Bytes& data, std::optional<std::int64_t> pts, bool key = false) {
    pes(data, pts, key);
    marker();
  }

 private:
  int patCc_ = 0;
  int pmtCc_ = 0;
};

// Picture-like bytes: a start code, then a pattern that never repeats the start code.
inline Bytes pictureBytes(std::size_t size, std::uint8_t seed) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = byte(seed + i * 7 + 1);
  if (size >= 5) b[0] = 0, b[1] = 0, b[2] = 0, b[3] = 1, b[4] = 0x65;
  return b;
}

}  // namespace mirandel::test
