// The emulator's transport-stream writer: exact table bytes, read back by our demultiplexer
// for every layout, and read by FFmpeg exactly as it reads FFmpeg's own muxer output.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <tuple>

#include "support/TestSupport.h"
#include "tools/phone/TsMuxer.h"
#include "video/TsDemuxer.h"
#include "video/test_demux_packets.h"

namespace mirandel::phone {
namespace {

using test::Bytes;
using test::pictureBytes;

// Guards the PAT, which every reader sees first: with a wrong CRC strict demuxers drop the
// whole stream. These are the bytes FFmpeg's muxer writes for the same program.
TEST(TsMuxerTables, PatPacketMatchesTheStandardBytesIncludingItsCrc) {
  TsMuxer mux({});
  Bytes out;
  const Bytes picture = pictureBytes(10, 0);
  mux.muxPicture(picture.data(), picture.size(), 0, true, out);
  Bytes expected = {0x47, 0x40, 0x00, 0x10, 0x00, 0x00, 0xB0, 0x0D, 0x00, 0x01, 0xC1,
                    0x00, 0x00, 0x00, 0x01, 0xF0, 0x00, 0x2A, 0xB1, 0x04, 0xB2};
  expected.resize(188, 0xFF);  // stuffed to the packet's end
  ASSERT_GE(out.size(), 188u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 188), expected);
  // The CRC over a section including its own CRC is zero.
  EXPECT_EQ(mpegCrc32(out.data() + 5, 16), 0u);
  EXPECT_EQ(mpegCrc32(out.data() + 188 + 5, 21), 0u) << "PMT";
}

// Guards every layout the emulator can be asked for coming back unit for unit: sizes around the
// packet boundaries (162 data bytes first, 184 later), the 16-bit PES length, tables on keys.
TEST(TsMuxerRoundTrip, OurDemuxerReadsBackEveryPictureForEveryOption) {
  const std::size_t sizes[] = {1, 161, 162, 163, 346, 347, 1000, 65535 - 8, 65535 - 7, 70000, 5};
  for (CodecKind codec : {kCodecH264, kCodecHevc}) {
    for (bool markers : {true, false}) {
      for (bool bounded : {true, false}) {
        SCOPED_TRACE(::testing::Message()
                     << "codec " << codec << " markers " << markers << " bounded " << bounded);
        TsMuxer mux({.codec = codec, .markers = markers, .boundedPes = bounded});
        std::vector<AccessUnit> pictures;  // as sent
        Bytes ts;
        std::int64_t pts = (std::int64_t{1} << 33) - 6000;  // wraps during the run
        for (std::size_t i = 0; i < std::size(sizes); ++i) {
          pictures.push_back(
              {pictureBytes(sizes[i], static_cast<std::uint8_t>(i)), pts, i % 4 == 0});
          mux.muxPicture(pictures.back().bytes.data(), sizes[i], pts, pictures.back().randomAccess,
                         ts);
          pts += 3000;
        }
        // A packet cut short or without its sync byte inside the stream counts as a sync loss;
        // only a short tail would pass unseen.
        ASSERT_EQ(ts.size() % 188, 0u);
        std::vector<AccessUnit> units;
        TsDemuxer d([&](AccessUnit& u) { units.push_back(std::move(u)); });
        d.feed(ts.data(), ts.size());
        EXPECT_EQ(std::tuple(d.counters().continuityErrors, d.counters().syncLosses),
                  std::tuple(0u, 0u));
        // Without markers the last picture (or two, without lengths) waits for successors.
        const std::size_t held = markers ? 0 : bounded ? 1 : 2;
        ASSERT_GE(units.size() + held, pictures.size());
        // A picture too large for a 16-bit length goes unbounded: it also holds back one.
        ASSERT_LE(units.size() + held, pictures.size() + 1);
        for (std::size_t i = 0; i < units.size(); ++i) {
          const AccessUnit& u = units[i];
          const AccessUnit& p = pictures[i];
          EXPECT_EQ(std::tuple(u.bytes, u.pts, u.randomAccess, u.corrupt, u.discontinuity),
                    std::tuple(p.bytes, p.pts & ((std::int64_t{1} << 33) - 1), p.randomAccess,
                               false, false))
              << "picture " << i;
        }
        if (markers) {
          EXPECT_EQ(units.size(), pictures.size());
        }
      }
    }
  }
}

// FFmpeg's per-packet checksums of a stream copy, with the original timestamps; the line
// naming FFmpeg's own version is left out.
std::string framecrc(const std::string& path) {
  std::istringstream out(
      test::commandOutput("ffmpeg -hide_banner -loglevel error -nostdin -copyts -i '" + path +
                          "' -map 0:v -c copy -f framecrc - 2>&1"));
  std::string kept;
  for (std::string line; std::getline(out, line);)
    if (line.rfind("#software", 0) != 0) kept += line + "\n";
  return kept;
}

// Guards against our muxer's rewrite of an FFmpeg-muxed stream looking different to FFmpeg:
// packets, timestamps, sizes, key flags and checksums, with or without PES lengths.
TEST(TsMuxerAgainstFfmpeg, RemuxedStreamsReadTheSameInFfmpeg) {
  for (const std::string name : {"h264-unbounded", "hevc-unbounded"}) {
    const std::string source = test::binaryPath("tests/video/demux-fixtures/" + name + ".ts");
    const Bytes original = test::readFile(source);
    std::vector<AccessUnit> pictures;
    TsDemuxer d([&](AccessUnit& u) { pictures.push_back(u); });
    d.feed(original.data(), original.size());
    const Bytes flush = test::markerPacket();
    d.feed(flush.data(), flush.size());

    const std::string expected = framecrc(source);
    ASSERT_NE(expected.find("0x"), std::string::npos) << expected;
    for (bool bounded : {false, true}) {
      SCOPED_TRACE(name + (bounded ? " bounded" : " unbounded"));
      TsMuxer mux({.codec = d.codec(), .markers = true, .boundedPes = bounded});
      Bytes ts;
      for (const AccessUnit& u : pictures)
        mux.muxPicture(u.bytes.data(), u.bytes.size(), u.pts, u.randomAccess, ts);
      const std::string path = test::binaryPath("tests/tools/phone/remuxed-" + name +
                                                (bounded ? "-bounded" : "") + ".ts");
      std::ofstream(path, std::ios::binary)
          .write(reinterpret_cast<const char*>(ts.data()), static_cast<std::streamsize>(ts.size()));
      EXPECT_EQ(framecrc(path), expected);
    }
  }
}

}  // namespace
}  // namespace mirandel::phone
