// Crafted packets for the demultiplexer: units, re-synchronisation, tables and damage.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "video/TsDemuxer.h"
#include "video/test_demux_packets.h"

namespace mirandel {
namespace {

using test::Bytes;
using test::pictureBytes;
using test::tsPacket;
using test::TsWriter;

constexpr int kVideoPid = TsWriter::kVideoPid;

// How a unit is marked: {corrupt, discontinuity}.
using Marks = std::pair<bool, bool>;
constexpr Marks kWhole{false, false}, kDamaged{true, true}, kAfterGap{false, true};
Marks marks(const AccessUnit& u) { return {u.corrupt, u.discontinuity}; }

// A unit as the tests compare it: pts, random-access flag, marks and bytes.
using Unit = std::tuple<std::int64_t, bool, Marks, Bytes>;
Unit unitOf(const AccessUnit& u) { return {u.pts, u.randomAccess, marks(u), u.bytes}; }

struct Collector {
  explicit Collector(const Bytes& stream = {}) { feed(stream); }

  std::vector<AccessUnit> units;
  ManualClock clock;
  TsDemuxer demuxer{[this](AccessUnit& u) { units.push_back(std::move(u)); }, clock.fn()};

  void feed(const Bytes& b) { demuxer.feed(b.data(), b.size()); }
  std::vector<Unit> seen() const {
    std::vector<Unit> out;
    for (const AccessUnit& u : units) out.push_back(unitOf(u));
    return out;
  }
};

// Guards against a unit emitted late, unstamped or with the wrong bytes: PES packets without a
// PTS dropped before the first unit yet joined to an open one, bytes past a PES's length leaking
// in, a plain null packet cutting the unit, and a second marker emitting an empty one.
TEST(TsDemuxerUnits, MarkerEmitsThePictureBeforeFeedReturns) {
  Collector c;
  c.clock.set(123 * kMillisecond);
  TsWriter w;
  w.tables();
  w.pes(pictureBytes(50, 9), std::nullopt);  // before any PTS: dropped
  const Bytes a = pictureBytes(1000, 3), b = pictureBytes(40, 2);
  w.pes(a, 90000, /*key=*/true);
  w.append(tsPacket(0x1FFF, 0, Bytes(184, 0xFF)));  // plain null packet
  w.pes(b, std::nullopt, /*key=*/false, 3 + 20);    // no PTS, and a length of 20 of its 40 bytes
  w.marker();
  c.feed(w.out);
  c.feed(test::markerPacket());
  Bytes joined = a;
  joined.insert(joined.end(), b.begin(), b.begin() + 20);
  ASSERT_EQ(c.seen(), (std::vector<Unit>{{90000, true, kWhole, joined}}));
  EXPECT_EQ(c.units[0].completedAt, 123 * kMillisecond);
  EXPECT_EQ(c.demuxer.codec(), kCodecH264);
  // Packets, PES packets, units, markers, sync losses, continuity errors.
  const DemuxCounters& n = c.demuxer.counters();
  EXPECT_EQ((std::vector<std::uint64_t>{n.packets, n.pesCount, n.auCount, n.markers, n.syncLosses,
                                        n.continuityErrors}),
            (std::vector<std::uint64_t>{w.out.size() / 188 + 1, 3, 1, 2, 0, 0}));
}

// Guards against a wrong shift among the PTS's five bytes, which shows only for large values.
TEST(TsDemuxerUnits, ReadsThe33BitPtsFromExactHeaderBytes) {
  const std::pair<Bytes, std::int64_t> cases[] = {
      {{0x21, 0x00, 0x05, 0xBF, 0x21}, 90000},
      {{0x21, 0x00, 0x01, 0x00, 0x01}, 0},
      {{0x2F, 0xFF, 0xFF, 0xFF, 0xFF}, (std::int64_t{1} << 33) - 1},
      {{0x29, 0x00, 0x01, 0x00, 0x01}, std::int64_t{1} << 32},
      {{0x21, 0x00, 0x03, 0x00, 0x01}, std::int64_t{1} << 15},
  };
  const Bytes delimiter = {0x00, 0x00, 0x01, 0x09};
  TsWriter w;
  w.tables();
  std::vector<Unit> want;
  for (const auto& [ptsBytes, pts] : cases) {
    Bytes pes = {0x00, 0x00, 0x01, 0xE0, 0x00, 0x00, 0x80, 0x80, 0x05};
    pes.insert(pes.end(), ptsBytes.begin(), ptsBytes.end());
    pes.insert(pes.end(), delimiter.begin(), delimiter.end());
    w.append(tsPacket(kVideoPid, w.videoCc++, pes, /*unitStart=*/true));
    w.marker();
    want.emplace_back(pts, false, kWhole, delimiter);
  }
  EXPECT_EQ(Collector(w.out).seen(), want);
}

Bytes::iterator packetAt(Bytes& s, std::size_t index) {
  return s.begin() + static_cast<std::ptrdiff_t>(index * 188);
}

void erasePacket(Bytes& s, std::size_t i) { s.erase(packetAt(s, i), packetAt(s, i + 1)); }

void repeatPacket(Bytes& s, std::size_t i) {
  const Bytes copy(packetAt(s, i), packetAt(s, i + 1));
  s.insert(packetAt(s, i + 1), copy.begin(), copy.end());
}

// Moves the continuity counter of every video packet from `index` on, as a sender that
// skipped counter values would.
void jumpCounters(Bytes& s, std::size_t index) {
  for (std::size_t i = index; i < s.size() / 188; ++i) {
    const Bytes::iterator p = packetAt(s, i);
    if (((p[1] & 0x1F) << 8 | p[2]) == kVideoPid) p[3] = (p[3] & 0xF0) | ((p[3] + 5) & 0x0F);
  }
}

// Guards against damage to the middle of a picture unmarked, miscounted or spilling into the
// clean picture after it: a lost sync byte inside a message costing the packets after it, garbage
// between packets (a partial SRT message) costing more than a sync loss each, and a loss the
// transport reports ignored where the 4-bit counter misses it (16 packets) or its next packet
// dropped where the counter takes it for a repeat (15).
TEST(TsDemuxerDamage, EachKindOfDamageMarksOnlyTheAffectedUnit) {
  struct Case {
    const char* name;
    void (*damage)(Bytes& stream, std::size_t middle);
    std::size_t reportedLoss;  // packets lost from the middle on, the transport saying so
    bool flagged;
    std::uint64_t continuityErrors, syncLosses, packets;
    std::size_t lostBytes;
  };
  const auto none = [](Bytes&, std::size_t) {};
  const Case cases[] = {
      {"nothing", none, 0, false, 0, 0, 31, 0},
      {"lost packet", erasePacket, 0, true, 1, 0, 30, 184},
      {"repeated packet", repeatPacket, 0, false, 0, 0, 32, 0},
      // The dropped packet counts, and so does the gap it leaves before the next one.
      {"transport error", [](Bytes& s, std::size_t m) { packetAt(s, m)[1] |= 0x80; }, 0, true, 2, 0,
       31, 184},
      {"counter jump", jumpCounters, 0, true, 1, 0, 31, 0},
      // The packet is lost alone, which shows as a continuity jump.
      {"broken sync byte", [](Bytes& s, std::size_t m) { packetAt(s, m)[0] = 0x00; }, 0, true, 1, 1,
       30, 184},
      {"garbage between packets",
       [](Bytes& s, std::size_t m) {
         s.insert(packetAt(s, m), {0x00, 0x11, 0x22});
         s.insert(s.begin(), {0x12, 0x47, 0x00, 0x47});  // stray sync bytes not a packet apart
       },
       0, false, 0, 2, 31, 0},
      {"16 packets lost, reported", none, 16, true, 0, 0, 15, 16 * 184},
      {"15 packets lost, reported", none, 15, true, 0, 0, 16, 15 * 184},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    TsWriter w;
    w.tables();
    const std::size_t middle = w.out.size() / 188 + 3;
    const Bytes a = pictureBytes(184 * 24 - 14, 1), b = pictureBytes(500, 2);
    w.picture(a, 0);  // 24 packets
    w.picture(b, 3000);
    k.damage(w.out, middle);
    // In messages of seven packets, as SRT carries them.
    Collector c;
    const auto feed = [&](std::size_t from, std::size_t to) {
      for (std::size_t i = from; i < to; i += 1316) {
        c.demuxer.feed(w.out.data() + i, std::min<std::size_t>(1316, to - i));
      }
    };
    const std::size_t cut = k.reportedLoss > 0 ? middle * 188 : w.out.size();
    feed(0, cut);
    if (k.reportedLoss > 0) c.demuxer.noteLoss();
    feed(cut + k.reportedLoss * 188, w.out.size());
    ASSERT_EQ(c.units.size(), 2u);
    const DemuxCounters& n = c.demuxer.counters();
    EXPECT_EQ(std::tuple(marks(c.units[0]), c.units[0].bytes.size(), n.continuityErrors,
                         n.syncLosses, n.packets),
              std::tuple(k.flagged ? kDamaged : kWhole, a.size() - k.lostBytes, k.continuityErrors,
                         k.syncLosses, k.packets));
    EXPECT_EQ(unitOf(c.units[1]), Unit(3000, false, kWhole, b));
  }
}

// A whole picture lost (SRT drops late ones) shows as a counter jump on the next picture's first
// packet. Guards against that picture marked corrupt (a key picture there was dropped and the
// picture stayed frozen for another key interval), and against a PES start without a valid
// header kept, or the picture after it unflagged, so that it is decoded without the lost one's
// reference.
TEST(TsDemuxerDamage, ThePictureAfterALostOrHeaderlessOneComesOutWholeAndOnlyDiscontinuous) {
  const Bytes badStarts[] = {
      {},                                                      // the whole picture lost
      {0x00, 0x00, 0x02, 0xE0, 0x00, 0x00, 0x80, 0x80, 0x05},  // wrong start code
      {0x00, 0x00, 0x01, 0xE0, 0x00},                          // shorter than a header
      {0x00, 0x00, 0x01, 0xE0, 0x00, 0x00, 0x80, 0x80, 0xB0},  // header data runs past packet
  };
  for (const Bytes& start : badStarts) {
    TsWriter w;
    w.tables();
    w.picture(pictureBytes(300, 1), 0);
    if (start.empty()) {
      w.videoCc += 4;  // the packets of a picture that never arrives
    } else {
      // Stuffing pads the packet, so the payload is exactly `start`.
      w.append(tsPacket(kVideoPid, w.videoCc++, start, /*unitStart=*/true));
      w.append(tsPacket(kVideoPid, w.videoCc++, pictureBytes(184, 2)));  // continuation: dropped
      w.marker();
    }
    w.picture(pictureBytes(400, 3), 6000, /*key=*/true);
    EXPECT_EQ(Collector(w.out).seen(),
              (std::vector<Unit>{{0, false, kWhole, pictureBytes(300, 1)},
                                 {6000, true, kAfterGap, pictureBytes(400, 3)}}));
  }
}

// Guards against a PES that never ends, or a unit fed endless PES packets without a PTS, growing
// without bound instead of being dropped or marked corrupt, and against no recovery after it.
TEST(TsDemuxerDamage, PesAndUnitsPastTheCapAreDroppedOrMarkedCorruptAndRecoveredFrom) {
  std::vector<AccessUnit> units;
  TsDemuxer d([&](AccessUnit& u) { units.push_back(std::move(u)); }, ManualClock().fn(),
              /*maxUnitBytes=*/4096);
  TsWriter w;
  w.tables();
  w.picture(pictureBytes(1000, 1), 0);
  w.pes(pictureBytes(184 * 40, 2), 3000);  // far past the cap, no end in sight
  w.picture(pictureBytes(1000, 3), 6000);
  w.pes(pictureBytes(1000, 4), 9000);
  for (int i = 0; i < 10; ++i) w.pes(pictureBytes(1000, 5), std::nullopt, false, 3 + 1000);
  w.marker();
  d.feed(w.out.data(), w.out.size());
  ASSERT_EQ(units.size(), 3u);
  EXPECT_EQ(std::tuple(units[0].pts, units[0].discontinuity, units[1].pts, units[1].discontinuity,
                       units[1].bytes, units[2].pts, marks(units[2])),
            std::tuple(0, false, 6000, true, pictureBytes(1000, 3), 9000, kDamaged));
  EXPECT_LE(units[2].bytes.size(), 4096u);
}

// Guards against malformed tables read past the packet or believed, program 0 (the network PID)
// taken for a PMT, and descriptors or other streams before the video entry misstepped.
TEST(TsDemuxerTables, MalformedTablesAreIgnoredAndWellFormedOnesFoundPastOtherEntries) {
  struct Case {
    const char* name;
    Bytes pat;
    Bytes pmt;
    CodecKind found = kCodecNone;
  };
  auto withByte = [](Bytes b, std::size_t i, std::uint8_t v) {
    b[i] = v;
    return b;
  };
  const Bytes& pat = test::kPat;
  const Bytes& pmt = test::kPmt;
  const Case cases[] = {
      {"PAT with the wrong table id", withByte(pat, 1, 0x02), pmt},
      {"PAT section shorter than one entry", withByte(pat, 3, 12), pmt},
      {"PAT section longer than the packet", withByte(withByte(pat, 2, 0xB1), 3, 0xFF), pmt},
      {"PAT pointer past the packet", withByte(pat, 0, 180), pmt},
      {"PAT with only the network entry",
       {0x00, 0x00, 0xB0, 0x0D, 0x00, 0x01, 0xC1, 0x00, 0x00, 0x00, 0x00, 0xE0, 0x10, 0xDE, 0xAD,
        0xBE, 0xEF},
       pmt},
      {"PMT with the wrong table id", pat, withByte(pmt, 1, 0x00)},
      {"PMT program info past the section", pat, withByte(pmt, 12, 0x20)},
      {"PMT section longer than the packet", pat, withByte(withByte(pmt, 2, 0xB1), 3, 0xFF)},
      {"PMT without a video stream", pat, withByte(withByte(pmt, 13, 0x0F), 15, 0x01)},
      {"PMT entry descriptors past the section",
       pat,
       {0x00, 0x02, 0xB0, 0x1B, 0x00, 0x01, 0xC1, 0x00, 0x00, 0xE1, 0x00,
        0xF0, 0x00, 0x0F, 0xE1, 0x01, 0xF0, 0x40, 0x00, 0x00, 0x00, 0x00,
        0x1B, 0xE1, 0x00, 0xF0, 0x00, 0xDE, 0xAD, 0xBE, 0xEF}},
      {"PMT pointer past the packet", pat, withByte(pmt, 0, 175)},
      // Program info 1D 02 00 00; audio with a language descriptor; HEVC with a stuffing one.
      {"network entry, program info, an audio stream, then HEVC",
       {0x00, 0x00, 0xB0, 0x11, 0x00, 0x01, 0xC1, 0x00, 0x00, 0x00, 0x00,
        0xE0, 0x10, 0x00, 0x01, 0xF0, 0x00, 0xDE, 0xAD, 0xBE, 0xEF},
       {0x00, 0x02, 0xB0, 0x23, 0x00, 0x01, 0xC1, 0x00, 0x00, 0xE1, 0x00, 0xF0, 0x04,
        0x1D, 0x02, 0x00, 0x00, 0x0F, 0xE1, 0x01, 0xF0, 0x06, 0x0A, 0x04, 'e',  'n',
        'g',  0x00, 0x24, 0xE1, 0x00, 0xF0, 0x02, 0x05, 0x00, 0xDE, 0xAD, 0xBE, 0xEF},
       kCodecHevc},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    TsWriter w;
    w.append(tsPacket(0, 0, k.pat, /*unitStart=*/true));
    w.append(tsPacket(TsWriter::kPmtPid, 0, k.pmt, /*unitStart=*/true));
    w.picture(pictureBytes(100, 0), 0);
    Collector c(w.out);
    EXPECT_EQ(c.units.size(), k.found == kCodecNone ? 0u : 1u);
    EXPECT_EQ(c.demuxer.codec(), k.found);
  }
}

// Guards against the old codec's unit in progress reaching the new decoder after a codec
// switch, and against a repeated PMT abandoning anything.
TEST(TsDemuxerTables, CodecSwitchAbandonsTheUnitInProgress) {
  Collector c;
  TsWriter w;
  w.tables(0x1B);
  w.picture(pictureBytes(100, 1), 0);
  w.pes(pictureBytes(100, 2), 3000);
  w.tables(0x1B);                     // same PMT again: keeps the open PES
  w.pes(pictureBytes(100, 3), 6000);  // completes 3000's PES: its unit is open
  w.tables(0x24);
  c.feed(w.out);
  ASSERT_EQ(c.units.size(), 1u);
  EXPECT_EQ(c.demuxer.codec(), kCodecHevc);
  w.out.clear();
  w.videoCc = 9;  // counters restart after a switch: any value is accepted
  w.marker();
  w.picture(pictureBytes(100, 4), 9000);
  c.feed(w.out);
  // The marker found no unit: 3000 and 6000 were abandoned with the old codec.
  ASSERT_EQ(c.units.size(), 2u);
  EXPECT_EQ(unitOf(c.units[1]), Unit(9000, false, kWhole, pictureBytes(100, 4)));
}

// Guards against a reset that keeps the tables, or lets a partial unit or carry leak into the
// new connection.
TEST(TsDemuxerTables, ResetForgetsTablesCarryAndPartialUnitsButKeepsCounters) {
  Collector c;
  TsWriter w;
  w.tables();
  w.pes(pictureBytes(300, 1), 0);
  c.feed(w.out);
  c.feed(Bytes(w.out.begin(), w.out.begin() + 100));  // partial packet in the carry
  const DemuxCounters before = c.demuxer.counters();
  c.demuxer.reset();
  EXPECT_EQ(c.demuxer.codec(), kCodecNone);
  EXPECT_EQ(c.demuxer.counters().packets, before.packets);

  TsWriter fresh;
  fresh.picture(pictureBytes(300, 2), 3000);
  c.feed(fresh.out);
  EXPECT_TRUE(c.units.empty());
  fresh.out.clear();
  fresh.tables();
  fresh.picture(pictureBytes(300, 3), 6000);
  c.feed(fresh.out);
  ASSERT_EQ(c.units.size(), 1u);
  EXPECT_EQ(std::tuple(c.units[0].pts, c.units[0].bytes, c.demuxer.counters().syncLosses),
            std::tuple(6000, pictureBytes(300, 3), 0u));
}

}  // namespace
}  // namespace mirandel
