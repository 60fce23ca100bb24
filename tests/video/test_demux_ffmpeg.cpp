// Transport streams written by FFmpeg's own muxer, read back unit for unit and compared with
// what ffprobe reports for the same files.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <tuple>

#include "support/TestSupport.h"
#include "video/TsDemuxer.h"
#include "video/test_demux_packets.h"

namespace mirandel {
namespace {

using test::Bytes;

struct ProbedPacket {
  std::int64_t pts;
  std::size_t size;
  bool key;
};

// Lines "pts,size,flag" from ffprobe, flag K for key pictures and _ for the others.
std::vector<ProbedPacket> readProbe(const std::string& path) {
  std::ifstream in(path);
  std::vector<ProbedPacket> packets;
  ProbedPacket p{};
  char comma = 0, flag = 0;
  while (in >> p.pts >> comma >> p.size >> comma >> flag) {
    p.key = flag == 'K';
    packets.push_back(p);
  }
  return packets;
}

// Guards against units that differ from FFmpeg's reading of its own muxer's output (count, PTS,
// size, key flag) at some message size, and against the last ones not waiting for a successor
// (two without PES lengths) or not flushed by a marker.
TEST(TsDemuxerOnFfmpegStreams, UnitsMatchFfprobePacketForPacketAtAnyMessageSize) {
  struct Fixture {
    const char* name;
    CodecKind codec;
    std::size_t pending;
  };
  for (const Fixture& f :
       {Fixture{"h264-unbounded", kCodecH264, 2}, Fixture{"h264-bounded", kCodecH264, 1},
        Fixture{"hevc-unbounded", kCodecHevc, 2}, Fixture{"hevc-bounded", kCodecHevc, 1}}) {
    const std::string base = test::binaryPath("tests/video/demux-fixtures/") + f.name;
    const Bytes ts = test::readFile(base + ".ts");
    const std::vector<ProbedPacket> probed = readProbe(base + ".csv");
    ASSERT_GE(probed.size(), 30u) << base;
    const Bytes marker = test::markerPacket();
    for (std::size_t chunk : {std::size_t{1316}, std::size_t{1}, std::size_t{777}, ts.size()}) {
      SCOPED_TRACE(std::string(f.name) + " in messages of " + std::to_string(chunk) + " bytes");
      std::vector<AccessUnit> units;
      TsDemuxer demuxer([&](AccessUnit& u) { units.push_back(std::move(u)); });
      for (std::size_t i = 0; i < ts.size(); i += chunk) {
        demuxer.feed(ts.data() + i, std::min(chunk, ts.size() - i));
      }
      EXPECT_EQ(units.size(), probed.size() - f.pending);
      demuxer.feed(marker.data(), marker.size());
      ASSERT_EQ(units.size(), probed.size());
      EXPECT_EQ(std::tuple(demuxer.codec(), demuxer.counters().syncLosses,
                           demuxer.counters().continuityErrors),
                std::tuple(f.codec, 0u, 0u));
      for (std::size_t i = 0; i < units.size(); ++i) {
        const AccessUnit& u = units[i];
        const Bytes& b = u.bytes;
        // Every unit opens with a three- or four-byte start code.
        const bool startCode =
            b.size() >= 4 && b[0] == 0 && b[1] == 0 && (b[2] == 1 || (b[2] == 0 && b[3] == 1));
        EXPECT_EQ(
            std::tuple(u.pts, b.size(), u.randomAccess, u.corrupt, u.discontinuity, startCode),
            std::tuple(probed[i].pts, probed[i].size, probed[i].key, false, false, true))
            << "unit " << i;
      }
    }
  }
}

}  // namespace
}  // namespace mirandel
