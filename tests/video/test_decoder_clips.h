#pragma once
// Short clips encoded by ffmpeg at test time, and their access units, for the decoder tests and
// benchmarks.
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
  std::string pixFmt = "yuv420p";  // what the stream is coded as: yuv420p10le, yuvj420p, ...
  bool fullRange = false;          // flagged in the stream (yuvj420p implies it)
  bool bFramesWithAudio = false;   // B-pictures, and an AAC track beside the video
  bool flat = false;               // flat grey: cheap at sizes that only need to be refused
  ColorCodes color;                // flagged in the VUI unless 2 (unspecified); not fullRange
  std::string source;              // a lavfi source other than testsrc2 ("smptehdbars")
  // Colour bars by GStreamer's x264enc instead, which flags a description of its own choosing.
  bool gstreamer = false;
};

// What the decoder should make of the clip's pictures.
ColorSpace colorSpaceOf(const ClipRecipe& recipe);

// Encodes the clip into `dir` unless it is there already; answers its path, or "" on failure.
std::string makeClip(const ClipRecipe& recipe, const std::string& dir);

// The clip's access units as the receiver's demultiplexer cuts them from the clip's MPEG-TS.
std::vector<AccessUnit> readAccessUnits(const std::string& path);

}  // namespace mirandel::test
