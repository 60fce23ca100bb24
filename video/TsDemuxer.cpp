#include "video/TsDemuxer.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace mirandel {
namespace {

constexpr std::uint8_t kSync = 0x47;
constexpr int kPatPid = 0x0000;
constexpr int kNullPid = 0x1FFF;

constexpr std::uint8_t kStreamTypeH264 = 0x1B;
constexpr std::uint8_t kStreamTypeHevc = 0x24;

int pid13(const std::uint8_t* b) { return ((b[0] & 0x1F) << 8) | b[1]; }
std::size_t length12(const std::uint8_t* b) { return (std::size_t{b[0]} & 0x0F) << 8 | b[1]; }

// The 33-bit timestamp of a PES header, bytes 9 to 13, marker bits skipped.
std::int64_t readPts(const std::uint8_t* b) {
  return (std::int64_t{b[0]} >> 1 & 0x07) << 30 | std::int64_t{b[1]} << 22 |
         (std::int64_t{b[2]} >> 1) << 15 | std::int64_t{b[3]} << 7 | std::int64_t{b[4]} >> 1;
}

}  // namespace

TsDemuxer::TsDemuxer(AccessUnitFn onAccessUnit, ClockFn clock, std::size_t maxUnitBytes)
    : onAccessUnit_(std::move(onAccessUnit)),
      clock_(std::move(clock)),
      maxUnitBytes_(maxUnitBytes) {}

void TsDemuxer::feed(const std::uint8_t* bytes, std::size_t length) {
  if (length == 0) return;
  if (carry_.empty() && length % kPacketSize == 0 && bytes[0] == kSync) {
    // The usual SRT message: whole packets, in sync. Parse straight from the message.
    for (std::size_t i = 0; i < length; i += kPacketSize) {
      if (bytes[i] != kSync) {
        carry_.assign(bytes + i, bytes + length);
        feedSlow();
        return;
      }
      parsePacket(bytes + i);
    }
    return;
  }
  carry_.insert(carry_.end(), bytes, bytes + length);
  feedSlow();
}

void TsDemuxer::feedSlow() {
  const std::size_t n = carry_.size();
  const std::uint8_t* c = carry_.data();
  std::size_t i = 0;
  while (n - i >= kPacketSize) {
    if (c[i] == kSync) {
      parsePacket(c + i);
      i += kPacketSize;
      continue;
    }
    // Lost sync: skip to a sync byte that is followed by another one a packet later, or that
    // is too close to the end to tell yet.
    ++i;
    while (i < n && !(c[i] == kSync && (i + kPacketSize >= n || c[i + kPacketSize] == kSync))) {
      ++i;
    }
    ++counters_.syncLosses;
  }
  carry_.erase(carry_.begin(), carry_.begin() + static_cast<std::ptrdiff_t>(i));
}

void TsDemuxer::parsePacket(const std::uint8_t* p) {
  ++counters_.packets;
  std::size_t offset = 4;
  bool randomAccess = false;
  if (p[3] & 0x20) {
    offset = std::size_t{p[4]} + 5;
    if (p[4] != 0) randomAccess = (p[5] & 0x40) != 0;
  }
  if (!(p[3] & 0x10) || offset >= kPacketSize) return;

  const int pid = pid13(p + 1);
  const bool unitStart = (p[1] & 0x40) != 0;
  const bool transportError = (p[1] & 0x80) != 0;
  const std::uint8_t* payload = p + offset;
  const std::size_t length = kPacketSize - offset;

  if (pid == kNullPid) {
    if (length >= kPictureEndMarker.size() &&
        std::memcmp(payload, kPictureEndMarker.data(), kPictureEndMarker.size()) == 0) {
      ++counters_.markers;
      completePes();
      if (auOpen_) emitUnit();
    }
    return;
  }
  if (transportError) {
    if (pid == videoPid_) {
      ++counters_.continuityErrors;
      pesCorrupt_ = true;
      discontinuity_ = true;
    }
    return;
  }
  if (pid == kPatPid) {
    if (unitStart) parsePat(payload, length);
    return;
  }
  if (pid == pmtPid_) {
    if (unitStart) parsePmt(payload, length);
    return;
  }
  if (pid != videoPid_) return;

  const int cc = p[3] & 0x0F;
  if (lastCc_ >= 0) {
    if (cc == lastCc_) return;  // a repeated packet carries nothing new
    if (cc != ((lastCc_ + 1) & 0x0F)) {
      ++counters_.continuityErrors;
      pesCorrupt_ = true;
      discontinuity_ = true;
    }
  }
  lastCc_ = cc;
  pesStep(payload, length, unitStart, randomAccess);
}

// Sections are read only from the packet that starts them; everything read is checked to lie
// within the payload first. Tables that do not fit are ignored.
void TsDemuxer::parsePat(const std::uint8_t* payload, std::size_t length) {
  const std::size_t ptr = payload[0];
  if (ptr + 9 > length) return;
  const std::uint8_t* s = payload + ptr + 1;
  if (s[0] != 0x00) return;
  const std::size_t sectionLength = length12(s + 1);
  if (sectionLength < 13 || sectionLength - 1 > length - ptr - 1) return;
  // Program entries run from byte 8 up to the CRC_32, which starts at sectionLength - 1.
  for (std::size_t e = 8; e + 4 <= sectionLength - 1; e += 4) {
    const int program = s[e] << 8 | s[e + 1];
    if (program != 0) {  // program 0 names the network PID, not a PMT
      pmtPid_ = pid13(s + e + 2);
      return;
    }
  }
}

void TsDemuxer::parsePmt(const std::uint8_t* payload, std::size_t length) {
  const std::size_t ptr = payload[0];
  if (ptr + 13 > length) return;
  const std::uint8_t* s = payload + ptr + 1;
  if (s[0] != 0x02) return;
  const std::size_t sectionLength = length12(s + 1);
  if (sectionLength == 0 || sectionLength - 1 > length - ptr - 1) return;
  const std::size_t end = sectionLength - 1;  // where the CRC_32 begins
  const std::size_t programInfoLength = length12(s + 10);
  if (programInfoLength + 17 > end) return;

  int pid = -1;
  CodecKind codec = kCodecNone;
  for (std::size_t e = 12 + programInfoLength;; e += 5 + length12(s + e + 3)) {
    if (e + 5 > end) return;
    if (s[e] == kStreamTypeH264 || s[e] == kStreamTypeHevc) {
      pid = pid13(s + e + 1);
      codec = s[e] == kStreamTypeH264 ? kCodecH264 : kCodecHevc;
      break;
    }
  }
  if (pid == videoPid_ && codec == codec_) return;
  // A new stream: whatever was being collected belonged to the old one.
  videoPid_ = pid;
  codec_ = codec;
  lastCc_ = -1;
  pesOpen_ = false;
  pesData_.clear();
  auOpen_ = false;
  clearUnit();
}

void TsDemuxer::pesStep(const std::uint8_t* payload, std::size_t length, bool unitStart,
                        bool randomAccess) {
  if (unitStart) {
    // Damage before this packet belongs to what it ends: the open PES, or data dropped for want
    // of one (discontinuity keeps the record). The new PES starts whole, unless it has no PTS
    // and so continues a unit that lost data.
    const bool lostBefore = pesCorrupt_;
    completePes();
    if (length < 9 || payload[0] != 0x00 || payload[1] != 0x00 || payload[2] != 0x01 ||
        std::size_t{payload[8]} + 9 > length) {
      pesCorrupt_ = true;
      discontinuity_ = true;
      return;
    }
    const std::size_t headerDataLength = payload[8];
    if ((payload[7] & 0x80) && headerDataLength >= 5) {
      pesHasPts_ = true;
      pesPts_ = readPts(payload + 9);
    } else {
      pesHasPts_ = false;
      pesPts_ = -1;
    }
    pesCorrupt_ = lostBefore && !pesHasPts_;
    pesRandomAccess_ = randomAccess;
    const std::size_t packetLength = std::size_t{payload[4]} << 8 | payload[5];
    pesExpected_ = packetLength > headerDataLength + 3 ? packetLength - headerDataLength - 3 : 0;
    pesData_.clear();
    pesOpen_ = true;
    if (!appendPesData(payload + headerDataLength + 9, length - headerDataLength - 9)) return;
  } else {
    if (!pesOpen_) return;
    if (!appendPesData(payload, length)) return;
  }
  if (pesExpected_ != 0 && pesData_.size() >= pesExpected_) completePes();
}

bool TsDemuxer::appendPesData(const std::uint8_t* data, std::size_t length) {
  if (pesData_.size() + length > maxUnitBytes_) {
    // A PES that never ends (no length, no next start, no marker) would otherwise grow
    // forever. Drop it and wait for the next PES start; if it was continuing the open unit,
    // that unit has lost data.
    pesOpen_ = false;
    pesData_.clear();
    discontinuity_ = true;
    if (auOpen_ && !pesHasPts_) au_.corrupt = true;
    return false;
  }
  pesData_.insert(pesData_.end(), data, data + length);
  return true;
}

void TsDemuxer::completePes() {
  if (!pesOpen_) return;
  ++counters_.pesCount;
  pesOpen_ = false;
  if (pesHasPts_) {
    if (auOpen_) emitUnit();
    au_.pts = pesPts_;
    au_.randomAccess = pesRandomAccess_;
    auOpen_ = true;
  }
  if (auOpen_) {
    if (pesExpected_ != 0 && pesData_.size() > pesExpected_) pesData_.resize(pesExpected_);
    if (au_.bytes.size() + pesData_.size() > maxUnitBytes_) {
      // Endless PES packets without a PTS continuing one unit: stop growing it.
      au_.corrupt = true;
      discontinuity_ = true;
    } else if (au_.bytes.empty()) {
      au_.bytes.swap(pesData_);  // the usual one PES per picture: hand over, don't copy
    } else {
      au_.bytes.insert(au_.bytes.end(), pesData_.begin(), pesData_.end());
    }
    au_.corrupt = au_.corrupt || pesCorrupt_;
  }
  pesCorrupt_ = false;
  pesData_.clear();
}

void TsDemuxer::emitUnit() {
  au_.discontinuity = discontinuity_;
  ++counters_.auCount;
  auOpen_ = false;
  discontinuity_ = false;
  au_.completedAt = clock_ ? clock_() : steadyNow();
  if (onAccessUnit_) onAccessUnit_(au_);
  clearUnit();
}

void TsDemuxer::clearUnit() {
  au_.bytes.clear();  // keeps the capacity unless the consumer took the bytes
  au_.pts = -1;
  au_.randomAccess = false;
  au_.corrupt = false;
  au_.discontinuity = false;
  au_.completedAt = 0;
}

void TsDemuxer::noteLoss() {
  carry_.clear();  // bytes on either side of a gap do not belong together
  lastCc_ = -1;    // the next packet is new data, whatever its counter
  pesCorrupt_ = true;
  discontinuity_ = true;
}

void TsDemuxer::reset() {
  carry_.clear();
  pesData_.clear();
  pmtPid_ = -1;
  videoPid_ = -1;
  codec_ = kCodecNone;
  lastCc_ = -1;
  discontinuity_ = false;
  pesOpen_ = false;
  pesHasPts_ = false;
  pesPts_ = -1;
  pesExpected_ = 0;
  // Damage seen on the old connection says nothing about the new one's first picture.
  pesCorrupt_ = false;
  auOpen_ = false;
  clearUnit();
}

std::vector<AccessUnit> unitsOfRecording(const std::vector<std::uint8_t>& ts, CodecKind* codec) {
  std::vector<AccessUnit> units;
  TsDemuxer demuxer([&](AccessUnit& u) { units.push_back(std::move(u)); });
  constexpr std::size_t kMessage = 7 * TsDemuxer::kPacketSize;
  for (std::size_t i = 0; i < ts.size(); i += kMessage) {
    demuxer.feed(ts.data() + i, std::min(kMessage, ts.size() - i));
  }
  std::uint8_t marker[TsDemuxer::kPacketSize] = {0x47, 0x1F, 0xFF, 0x10};
  std::memcpy(marker + 4, kPictureEndMarker.data(), kPictureEndMarker.size());
  demuxer.feed(marker, sizeof marker);
  if (codec != nullptr) *codec = demuxer.codec();
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i].completedAt = static_cast<Nanos>(i + 1) * kMillisecond;
  }
  return units;
}

}  // namespace mirandel
