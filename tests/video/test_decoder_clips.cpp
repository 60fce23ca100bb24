#include "video/test_decoder_clips.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "video/TsDemuxer.h"

namespace mirandel::test {

std::string makeClip(const ClipRecipe& recipe, const std::string& dir) {
  const bool hevc = recipe.codec == kCodecHevc;
  const bool audio = recipe.bFramesWithAudio;
  const std::string size = std::to_string(recipe.width) + "x" + std::to_string(recipe.height);
  std::string command;
  if (recipe.gstreamer) {
    command = "gst-launch-1.0 -q videotestsrc num-buffers=" + std::to_string(recipe.frames) +
              " pattern=smpte ! video/x-raw,format=I420,width=" + std::to_string(recipe.width) +
              ",height=" + std::to_string(recipe.height) +
              " ! x264enc speed-preset=ultrafast ! video/x-h264,stream-format=byte-stream"
              " ! filesink location=/dev/stdout | ffmpeg -nostdin -v error -y -f h264 -i - -c copy"
              " -f mpegts ";
  } else {
    const std::string source =
        recipe.flat ? "color=c=gray:" : (recipe.source.empty() ? "testsrc2" : recipe.source) + "=";
    command = "ffmpeg -nostdin -v error -y -f lavfi -i " + source + "size=" + size + ":rate=30";
    if (audio) command += " -f lavfi -i sine=frequency=440:sample_rate=48000";
    command +=
        " -frames:v " + std::to_string(recipe.frames) + " -pix_fmt " + recipe.pixFmt + " -g 30";
    if (recipe.fullRange) command += " -color_range pc";
    // Each code given goes to libavcodec (container, libx264) and into x265's own parameters.
    std::string x265Colors;
    const auto flag = [&](std::uint8_t code, const char* option, const char* x265) {
      if (code == 2) return;
      command += std::string(" -") + option + " " + std::to_string(code);
      x265Colors += std::string(":") + x265 + "=" + std::to_string(code);
    };
    flag(recipe.color.primaries, "color_primaries", "colorprim");
    flag(recipe.color.transfer, "color_trc", "transfer");
    flag(recipe.color.matrix, "colorspace", "colormatrix");
    const std::string bFrames = audio ? "3" : "0";
    command += hevc ? " -c:v libx265 -preset ultrafast -x265-params bframes=" + bFrames +
                          ":log-level=error" + x265Colors
                    : " -c:v libx264 -preset veryfast -bf " + bFrames;
    // One encoder thread keeps the memory of a huge flat picture down.
    if (recipe.flat) command += " -threads 1 -preset ultrafast";
    if (audio) command += " -map 0:v -map 1:a -c:a aac -shortest";
    command += " -f mpegts ";
  }
  // The clip is named by the command that makes it: a recipe that changes is encoded afresh.
  const std::string path = dir + "/" + std::to_string(std::hash<std::string>{}(command)) + ".ts";
  std::filesystem::create_directories(dir);
  if (std::filesystem::exists(path)) return path;
  // Test processes may want the same clip at once: each writes its own file and renames it.
  const std::string partial = path + ".part" + std::to_string(getpid());
  if (std::system((command + "'" + partial + "'").c_str()) != 0) return "";
  std::filesystem::rename(partial, path);
  return path;
}

ColorSpace colorSpaceOf(const ClipRecipe& recipe) {
  ColorCodes codes = recipe.color;
  codes.fullRange = recipe.fullRange || recipe.pixFmt == "yuvj420p";
  return mirandel::colorSpaceOf(codes, recipe.height);
}

std::vector<AccessUnit> readAccessUnits(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return unitsOfRecording({std::istreambuf_iterator<char>(in), {}}, nullptr);
}

}  // namespace mirandel::test
