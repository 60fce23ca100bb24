#pragma once
// Short clips encoded by the ffmpeg command-line tool at test time, and their
// access units split by libavformat, for the decoder tests and benchmarks.
#include <cstdint>
#include <string>
#include <vector>

#include "video/AccessUnit.h"
#include "video/ColorSpace.h"

namespace mirandel::test {

struct ClipRecipe {
  CodecKind codec = kCodecH264;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int frames = 0;
  // What the encoder is given, and so what the stream is coded as:
  // yuv420p10le (H.264 High 10, HEVC Main 10), yuvj420p (full range), ...
  std::string pixFmt = "yuv420p";
  // Full range flagged in the stream (yuvj420p implies it).
  bool fullRange = false;
  // With B-pictures: an MPEG-TS with an AAC track beside the video, as a
  // camera application or encoder set differently would send it.
  bool bFramesWithAudio = false;
  // A flat grey picture instead of the test pattern: cheap to encode at
  // sizes that only need to be refused.
  bool flat = false;
  // The colour description flagged in the stream's VUI; codes left at 2
  // (unspecified) are not passed to the encoder. fullRange here is unused.
  ColorCodes color;
  // Another lavfi source in place of the test pattern ("smptehdbars").
  std::string source;
  // Made by GStreamer instead (gst-launch-1.0: videotestsrc's colour bars through x264enc,
  // which flags the colour description it chooses itself), H.264 8-bit only.
  bool gstreamer = false;
};

// What the decoder should make of the clip's pictures.
ColorSpace colorSpaceOf(const ClipRecipe& recipe);

// Encodes testsrc2 (no B-frames, Annex-B, unless the ClipRecipe says otherwise) with ffmpeg, or
// colour bars with GStreamer, into
// `dir` unless the file is there already; answers its path, or "" when ffmpeg
// failed.
std::string makeClip(const ClipRecipe& recipe, const std::string& dir);

// The clip's access units as libavformat's raw-stream parser cuts them.
std::vector<AccessUnit> readAccessUnits(const std::string& path);

}  // namespace mirandel::test
