#pragma once
// Cuts an MPEG-2 transport stream carrying one H.264 or HEVC stream into access units, one per
// coded picture. A unit opens with each PES that carries a PTS and is emitted either when the
// next such PES completes or at once at the end-of-picture marker, a null packet whose payload
// begins "Mirandel:AU-end".
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "base/Clock.h"
#include "video/AccessUnit.h"

namespace mirandel {

// What the phone's end-of-picture null packet carries first in its payload.
inline constexpr std::string_view kPictureEndMarker = "Mirandel:AU-end";

class TsDemuxer {
 public:
  using AccessUnitFn = std::function<void(AccessUnit&)>;

  static constexpr std::size_t kPacketSize = 188;
  // No real picture comes near this (a 4K intra picture is a few MiB); a PES or unit that
  // grows past it is a broken stream and is dropped rather than allowed to eat memory.
  static constexpr std::size_t kDefaultMaxUnitBytes = std::size_t{16} << 20;

  // `onAccessUnit` receives every emitted unit on the thread that calls feed; `clock` stamps
  // completedAt. `maxUnitBytes` bounds both one PES and one unit.
  explicit TsDemuxer(AccessUnitFn onAccessUnit, ClockFn clock = steadyClock(),
                     std::size_t maxUnitBytes = kDefaultMaxUnitBytes);

  // Receive thread, once per SRT message. Whole, synchronised messages are parsed in place;
  // anything else goes through the carry buffer. Must not be called from onAccessUnit.
  void feed(const std::uint8_t* bytes, std::size_t length);

  // Receive thread, on each new connection: forgets the tables, the carry and any partial
  // PES or unit, so PAT and PMT must be seen again. Counters are kept.
  void reset();

  // Receive thread, between feeds: the transport lost data before the next bytes. The
  // continuity counters miss a loss of 16 packets (and take 15 for a repeat), so the open PES
  // is marked corrupt and the next unit discontinuous whatever the counters say.
  void noteLoss();

  // Receive thread (inside onAccessUnit or after feed/reset).
  CodecKind codec() const { return codec_; }
  const DemuxCounters& counters() const { return counters_; }

 private:
  void feedSlow();
  void parsePacket(const std::uint8_t* p);
  void parsePat(const std::uint8_t* payload, std::size_t length);
  void parsePmt(const std::uint8_t* payload, std::size_t length);
  void pesStep(const std::uint8_t* payload, std::size_t length, bool unitStart, bool randomAccess);
  bool appendPesData(const std::uint8_t* data, std::size_t length);
  void completePes();
  void emitUnit();
  void clearUnit();

  AccessUnitFn onAccessUnit_;
  ClockFn clock_;
  std::size_t maxUnitBytes_;
  DemuxCounters counters_;

  std::vector<std::uint8_t> carry_;  // partial or unsynchronised input
  int pmtPid_ = -1;
  int videoPid_ = -1;
  CodecKind codec_ = kCodecNone;
  int lastCc_ = -1;
  bool discontinuity_ = false;  // damage since the last emit

  bool pesOpen_ = false;
  bool pesHasPts_ = false;
  bool pesRandomAccess_ = false;
  bool pesCorrupt_ = false;  // damage since PES data last went into a unit
  std::int64_t pesPts_ = -1;
  std::uint64_t pesExpected_ = 0;  // announced payload length, 0 when unbounded
  std::vector<std::uint8_t> pesData_;

  bool auOpen_ = false;
  AccessUnit au_;
};

// Every unit of a whole recorded stream, fed as the receiver would (seven packets a message),
// the last one completed by a marker after the end; unit i is stamped completedAt (i + 1) ms.
// For tools and tests that decode a file.
std::vector<AccessUnit> unitsOfRecording(const std::vector<std::uint8_t>& ts, CodecKind* codec);

}  // namespace mirandel
