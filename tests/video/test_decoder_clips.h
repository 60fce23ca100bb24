#pragma once
// Short clips encoded by the ffmpeg command-line tool at test time, and their
// access units split by libavformat, for the decoder tests and benchmarks.
#include <cstdint>
#include <string>
#include <vector>

#include "video/AccessUnit.h"

namespace mirandel::test {

struct ClipSpec {
  CodecKind codec = kCodecH264;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int frames = 0;
};

// Encodes testsrc2 (yuv420p, no B-frames, Annex-B) into `dir` unless the file
// is there already; answers its path, or "" when ffmpeg failed.
std::string makeClip(const ClipSpec& spec, const std::string& dir);

// The clip's access units as libavformat's raw-stream parser cuts them.
std::vector<AccessUnit> readAccessUnits(const std::string& path);

// Runs a shell command; answers its exit status.
int runCommand(const std::string& command);

// Reads a whole file.
std::vector<std::uint8_t> readFile(const std::string& path);

}  // namespace mirandel::test
