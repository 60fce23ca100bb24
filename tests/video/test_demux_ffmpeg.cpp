// Transport streams written by FFmpeg's own muxer, read back unit for unit and compared with
// what ffprobe reports for the same files.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "support/TestSupport.h"
#include "video/TsDemuxer.h"
#include "video/test_demux_packets.h"

namespace mirandel {
namespace {

struct ProbedPacket {
  std::int64_t pts;
  std::size_t size;
  bool key;
};

// Lines "pts,size,flag" from ffprobe, flag K for key pictures.
std::vector<ProbedPacket> readProbe(const std::string& path) {
  std::ifstream in(path);
  std::vector<ProbedPacket> packets;
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string pts, size, flags;
    std::getline(fields, pts, ',');
    std::getline(fields, size, ',');
    std::getline(fields, flags, ',');
    packets.push_back({std::stoll(pts), std::stoul(size), !flags.empty() && flags[0] == 'K'});
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
    const std::vector<std::uint8_t> ts = test::readFile(base + ".ts");
    const std::vector<ProbedPacket> probed = readProbe(base + ".csv");
    ASSERT_GT(ts.size(), 0u) << base;
    ASSERT_GE(probed.size(), 30u) << base;
    const std::vector<std::uint8_t> marker = test::markerPacket();
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
      EXPECT_EQ(demuxer.codec(), f.codec);
      EXPECT_EQ(demuxer.counters().syncLosses, 0u);
      EXPECT_EQ(demuxer.counters().continuityErrors, 0u);
      for (std::size_t i = 0; i < units.size(); ++i) {
        SCOPED_TRACE("unit " + std::to_string(i));
        EXPECT_EQ(units[i].pts, probed[i].pts);
        EXPECT_EQ(units[i].bytes.size(), probed[i].size);
        EXPECT_EQ(units[i].randomAccess, probed[i].key);
        EXPECT_FALSE(units[i].corrupt);
        EXPECT_FALSE(units[i].discontinuity);
        ASSERT_GE(units[i].bytes.size(), 4u);
        const bool startCode =
            units[i].bytes[0] == 0 && units[i].bytes[1] == 0 &&
            (units[i].bytes[2] == 1 || (units[i].bytes[2] == 0 && units[i].bytes[3] == 1));
        EXPECT_TRUE(startCode);
      }
    }
  }
}

}  // namespace
}  // namespace mirandel
