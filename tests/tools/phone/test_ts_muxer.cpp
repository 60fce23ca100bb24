// The emulator's transport-stream writer: exact table bytes, read back by our demultiplexer
// for every layout, and read by FFmpeg exactly as it reads FFmpeg's own muxer output.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "support/TestSupport.h"
#include "tools/phone/TsMuxer.h"
#include "video/TsDemuxer.h"

namespace mirandel::phone {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes pictureBytes(std::size_t size, std::uint8_t seed) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 7 + 1);
  for (std::size_t i = 0; i < std::min<std::size_t>(size, 4); ++i) b[i] = i == 3 ? 1 : 0;
  return b;
}

struct Picture {
  Bytes bytes;
  std::int64_t pts;
  bool key;
};

std::vector<AccessUnit> demux(const Bytes& ts) {
  std::vector<AccessUnit> units;
  TsDemuxer d([&](AccessUnit& u) { units.push_back(std::move(u)); });
  d.feed(ts.data(), ts.size());
  EXPECT_EQ(d.counters().continuityErrors, 0u);
  EXPECT_EQ(d.counters().syncLosses, 0u);
  return units;
}

// The PAT is what every reader sees first; a wrong CRC makes strict demuxers drop the whole
// stream. These are the bytes FFmpeg's muxer writes for the same program.
TEST(TsMuxerTables, PatPacketMatchesTheStandardBytesIncludingItsCrc) {
  TsMuxer mux({});
  Bytes out;
  const Bytes picture = pictureBytes(10, 0);
  mux.muxPicture(picture.data(), picture.size(), 0, true, out);
  const Bytes expected = {0x47, 0x40, 0x00, 0x10, 0x00, 0x00, 0xB0, 0x0D, 0x00, 0x01, 0xC1,
                          0x00, 0x00, 0x00, 0x01, 0xF0, 0x00, 0x2A, 0xB1, 0x04, 0xB2};
  ASSERT_GE(out.size(), 188u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 21), expected);
  EXPECT_TRUE(std::all_of(out.begin() + 21, out.begin() + 188, [](auto b) { return b == 0xFF; }));
  // The CRC over a section including its own CRC is zero.
  EXPECT_EQ(mpegCrc32(out.data() + 5, 16), 0u);
  EXPECT_EQ(mpegCrc32(out.data() + 188 + 5, 21), 0u) << "PMT";
}

// Every layout the emulator can be asked for must come back unit for unit: sizes around the
// packet boundaries (first packet holds 162 data bytes, later ones 184), the 16-bit PES
// length limit, and tables on key pictures only.
TEST(TsMuxerRoundTrip, OurDemuxerReadsBackEveryPictureForEveryOption) {
  const std::size_t sizes[] = {1, 161, 162, 163, 346, 347, 1000, 65535 - 8, 65535 - 7, 70000, 5};
  for (CodecKind codec : {kCodecH264, kCodecHevc}) {
    for (bool markers : {true, false}) {
      for (bool bounded : {true, false}) {
        SCOPED_TRACE(::testing::Message()
                     << "codec " << codec << " markers " << markers << " bounded " << bounded);
        TsMuxer mux({.codec = codec, .markers = markers, .boundedPes = bounded});
        std::vector<Picture> pictures;
        Bytes ts;
        std::int64_t pts = (std::int64_t{1} << 33) - 6000;  // wraps during the run
        for (std::size_t i = 0; i < std::size(sizes); ++i) {
          pictures.push_back(
              {pictureBytes(sizes[i], static_cast<std::uint8_t>(i)), pts, i % 4 == 0});
          const std::size_t before = ts.size();
          mux.muxPicture(pictures.back().bytes.data(), sizes[i], pts, pictures.back().key, ts);
          ASSERT_EQ((ts.size() - before) % 188, 0u);
          pts += 3000;
        }
        for (std::size_t i = 0; i < ts.size(); i += 188) ASSERT_EQ(ts[i], 0x47) << i;
        const std::vector<AccessUnit> units = demux(ts);
        // Without markers the last picture (or two, without lengths) waits for successors.
        const std::size_t held = markers ? 0 : bounded ? 1 : 2;
        ASSERT_GE(units.size() + held, pictures.size());
        // A picture too large for a 16-bit length goes unbounded: it also holds back one.
        ASSERT_LE(units.size() + held, pictures.size() + 1);
        for (std::size_t i = 0; i < units.size(); ++i) {
          SCOPED_TRACE(i);
          EXPECT_EQ(units[i].bytes, pictures[i].bytes);
          EXPECT_EQ(units[i].pts, pictures[i].pts & ((std::int64_t{1} << 33) - 1));
          EXPECT_EQ(units[i].randomAccess, pictures[i].key);
          EXPECT_FALSE(units[i].corrupt);
          EXPECT_FALSE(units[i].discontinuity);
        }
        if (markers) {
          EXPECT_EQ(units.size(), pictures.size());
        }
      }
    }
  }
}

// ---- Against FFmpeg ----

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string run(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return output;
  std::array<char, 4096> buffer;
  std::size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) output.append(buffer.data(), n);
  pclose(pipe);
  return output;
}

// FFmpeg's per-packet checksums of a stream copy, with the original timestamps; the line
// naming FFmpeg's own version is left out.
std::string framecrc(const std::string& path) {
  std::string out = run("ffmpeg -hide_banner -loglevel error -nostdin -copyts -i '" + path +
                        "' -map 0:v -c copy -f framecrc - 2>&1");
  std::string kept;
  std::size_t pos = 0;
  while (pos < out.size()) {
    std::size_t end = out.find('\n', pos);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(pos, end - pos);
    if (line.rfind("#software", 0) != 0) kept += line + "\n";
    pos = end + 1;
  }
  return kept;
}

class TsMuxerAgainstFfmpeg : public ::testing::TestWithParam<const char*> {};

// Pictures taken from an FFmpeg-muxed stream and written again by our muxer must look the
// same to FFmpeg: same packets, timestamps, sizes, key flags and checksums, with or without
// PES lengths; and our demuxer must read our file back unit for unit.
TEST_P(TsMuxerAgainstFfmpeg, RemuxedStreamReadsTheSameInFfmpegAndOurDemuxer) {
  const std::string name = GetParam();
  const std::string source = test::binaryPath("tests/video/demux-fixtures/" + name + ".ts");
  const Bytes original = readFile(source);
  ASSERT_FALSE(original.empty()) << source;

  std::vector<AccessUnit> pictures;
  TsDemuxer d([&](AccessUnit& u) { pictures.push_back(u); });
  d.feed(original.data(), original.size());
  const Bytes flush = [] {
    Bytes m(188, 0xFF);
    const Bytes head = {0x47, 0x1F, 0xFF, 0x10};
    std::copy(head.begin(), head.end(), m.begin());
    std::memcpy(m.data() + 4, "Mirandel:AU-end", 15);
    return m;
  }();
  d.feed(flush.data(), flush.size());
  ASSERT_GE(pictures.size(), 30u);

  const std::string expected = framecrc(source);
  ASSERT_NE(expected.find("0x"), std::string::npos) << expected;
  for (bool bounded : {false, true}) {
    SCOPED_TRACE(bounded ? "bounded" : "unbounded");
    TsMuxer mux({.codec = d.codec(), .markers = true, .boundedPes = bounded});
    Bytes ts;
    for (const AccessUnit& u : pictures) {
      mux.muxPicture(u.bytes.data(), u.bytes.size(), u.pts, u.randomAccess, ts);
    }
    const std::string path =
        test::binaryPath("tests/tools/phone/remuxed-" + name + (bounded ? "-bounded" : "") + ".ts");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(ts.data()), static_cast<std::streamsize>(ts.size()));
    EXPECT_EQ(framecrc(path), expected);

    const std::vector<AccessUnit> back = demux(ts);
    ASSERT_EQ(back.size(), pictures.size());
    for (std::size_t i = 0; i < back.size(); ++i) {
      EXPECT_EQ(back[i].bytes, pictures[i].bytes) << i;
      EXPECT_EQ(back[i].pts, pictures[i].pts) << i;
      EXPECT_EQ(back[i].randomAccess, pictures[i].randomAccess) << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, TsMuxerAgainstFfmpeg,
                         ::testing::Values("h264-unbounded", "hevc-unbounded"),
                         [](const auto& param) {
                           std::string n = param.param;
                           for (char& ch : n) ch = ch == '-' ? '_' : ch;
                           return n;
                         });

}  // namespace
}  // namespace mirandel::phone
