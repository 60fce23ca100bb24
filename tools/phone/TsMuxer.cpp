#include "tools/phone/TsMuxer.h"

#include "video/TsDemuxer.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace mirandel::phone {
namespace {

constexpr std::size_t kPayloadSize = 184;
constexpr std::uint16_t kPatPid = 0x0000;
constexpr std::uint16_t kNullPid = 0x1FFF;

constexpr std::array<std::uint32_t, 256> makeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i << 24;
    for (int bit = 0; bit < 8; ++bit) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
    table[i] = c;
  }
  return table;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = makeCrcTable();

std::uint8_t* appendPacket(std::vector<std::uint8_t>& out) {
  out.resize(out.size() + TsMuxer::kPacketSize);
  return out.data() + out.size() - TsMuxer::kPacketSize;
}

void writeHeader(std::uint8_t* p, std::uint16_t pid, bool unitStart, bool adaptation,
                 std::uint8_t cc) {
  p[0] = 0x47;
  p[1] = static_cast<std::uint8_t>((unitStart ? 0x40 : 0x00) | (pid >> 8 & 0x1F));
  p[2] = static_cast<std::uint8_t>(pid);
  p[3] = static_cast<std::uint8_t>((adaptation ? 0x30 : 0x10) | (cc & 0x0F));
}

}  // namespace

std::uint32_t mpegCrc32(const std::uint8_t* data, std::size_t length) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < length; ++i) crc = crc << 8 ^ kCrcTable[(crc >> 24 ^ data[i]) & 0xFF];
  return crc;
}

TsMuxer::TsMuxer(TsMuxerOptions options) : options_(options) {}

// A section small enough for one packet: pointer field 0, the section, 0xFF after it.
void TsMuxer::writeSection(std::uint16_t pid, std::uint8_t& cc, const std::uint8_t* section,
                           std::size_t length, std::vector<std::uint8_t>& out) {
  std::uint8_t* p = appendPacket(out);
  writeHeader(p, pid, true, false, cc);
  cc = (cc + 1) & 0x0F;
  p[4] = 0x00;
  std::memcpy(p + 5, section, length);
  const std::uint32_t crc = mpegCrc32(section, length);
  std::uint8_t* c = p + 5 + length;
  c[0] = static_cast<std::uint8_t>(crc >> 24);
  c[1] = static_cast<std::uint8_t>(crc >> 16);
  c[2] = static_cast<std::uint8_t>(crc >> 8);
  c[3] = static_cast<std::uint8_t>(crc);
  std::memset(c + 4, 0xFF, kPacketSize - (5 + length + 4));
}

void TsMuxer::writeTables(std::vector<std::uint8_t>& out) {
  const std::uint16_t pmt = options_.pmtPid, video = options_.videoPid;
  // Transport stream 1, version 0, program 1 at the PMT PID; section_length 13.
  const std::uint8_t pat[] = {0x00,
                              0xB0,
                              0x0D,
                              0x00,
                              0x01,
                              0xC1,
                              0x00,
                              0x00,
                              0x00,
                              0x01,
                              static_cast<std::uint8_t>(0xE0 | pmt >> 8),
                              static_cast<std::uint8_t>(pmt)};
  writeSection(kPatPid, patCc_, pat, sizeof pat, out);
  // Program 1, PCR on the video PID, no program descriptors, one stream; section_length 18.
  const std::uint8_t streamType = options_.codec == kCodecHevc ? 0x24 : 0x1B;
  const std::uint8_t pmtSection[] = {0x02,
                                     0xB0,
                                     0x12,
                                     0x00,
                                     0x01,
                                     0xC1,
                                     0x00,
                                     0x00,
                                     static_cast<std::uint8_t>(0xE0 | video >> 8),
                                     static_cast<std::uint8_t>(video),
                                     0xF0,
                                     0x00,
                                     streamType,
                                     static_cast<std::uint8_t>(0xE0 | video >> 8),
                                     static_cast<std::uint8_t>(video),
                                     0xF0,
                                     0x00};
  writeSection(pmt, pmtCc_, pmtSection, sizeof pmtSection, out);
}

void TsMuxer::writeMarker(std::vector<std::uint8_t>& out) {
  std::uint8_t* p = appendPacket(out);
  writeHeader(p, kNullPid, false, false, 0);
  std::memset(p + 4, 0xFF, kPayloadSize);
  std::memcpy(p + 4, kPictureEndMarker.data(), kPictureEndMarker.size());
}

void TsMuxer::muxPicture(const std::uint8_t* data, std::size_t size, std::int64_t pts90k, bool key,
                         std::vector<std::uint8_t>& out) {
  if (key || !tablesSent_) {
    writeTables(out);
    tablesSent_ = true;
  }

  const std::uint64_t pts = static_cast<std::uint64_t>(pts90k) & ((std::uint64_t{1} << 33) - 1);
  constexpr std::size_t kPesHeaderSize = 14;
  const std::size_t pesLength = size + kPesHeaderSize - 6;
  const std::size_t announced = options_.boundedPes && pesLength <= 0xFFFF ? pesLength : 0;
  const std::uint8_t pesHeader[kPesHeaderSize] = {
      0x00,
      0x00,
      0x01,
      0xE0,  // video stream 0
      static_cast<std::uint8_t>(announced >> 8),
      static_cast<std::uint8_t>(announced),
      0x80,
      0x80,
      0x05,  // PTS only, five header bytes
      static_cast<std::uint8_t>(0x21 | (pts >> 29 & 0x0E)),
      static_cast<std::uint8_t>(pts >> 22),
      static_cast<std::uint8_t>(pts >> 14 | 1),
      static_cast<std::uint8_t>(pts >> 7),
      static_cast<std::uint8_t>(pts << 1 | 1)};

  const std::size_t total = kPesHeaderSize + size;
  std::size_t written = 0;  // of header and data together
  bool first = true;
  while (written < total) {
    // The first packet's adaptation field carries the PCR (and the random-access flag):
    // length byte, flags, six PCR bytes.
    const std::size_t fixedField = first ? 8 : 0;
    const std::size_t n = std::min(total - written, kPayloadSize - fixedField);
    const std::size_t field = kPayloadSize - n;  // whole adaptation field, stuffing included
    std::uint8_t* p = appendPacket(out);
    writeHeader(p, options_.videoPid, first, field > 0, videoCc_);
    videoCc_ = (videoCc_ + 1) & 0x0F;
    if (field > 0) {
      p[4] = static_cast<std::uint8_t>(field - 1);
      std::size_t used = 1;
      if (field >= 2) {
        p[5] = static_cast<std::uint8_t>((first && key ? 0x40 : 0x00) | (first ? 0x10 : 0x00));
        used = 2;
        if (first) {
          p[6] = static_cast<std::uint8_t>(pts >> 25);
          p[7] = static_cast<std::uint8_t>(pts >> 17);
          p[8] = static_cast<std::uint8_t>(pts >> 9);
          p[9] = static_cast<std::uint8_t>(pts >> 1);
          p[10] = static_cast<std::uint8_t>((pts & 1) << 7 | 0x7E);  // reserved bits, extension 0
          p[11] = 0x00;
          used = 8;
        }
      }
      std::memset(p + 4 + used, 0xFF, field - used);
    }
    // Copy this packet's share of the header and data.
    std::uint8_t* dst = p + 4 + field;
    std::size_t left = n;
    if (written < kPesHeaderSize) {
      const std::size_t h = std::min(left, kPesHeaderSize - written);
      std::memcpy(dst, pesHeader + written, h);
      dst += h;
      left -= h;
      written += h;
    }
    if (left > 0) {
      std::memcpy(dst, data + (written - kPesHeaderSize), left);
      written += left;
    }
    first = false;
  }

  if (options_.markers) writeMarker(out);
}

}  // namespace mirandel::phone
