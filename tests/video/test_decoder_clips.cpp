#include "video/test_decoder_clips.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

extern "C" {
#include <libavformat/avformat.h>
}

namespace mirandel::test {

int runCommand(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string makeClip(const ClipSpec& spec, const std::string& dir) {
  const bool hevc = spec.codec == kCodecHevc;
  const std::string name = std::string(hevc ? "hevc" : "h264") + "-" + std::to_string(spec.width) +
                           "x" + std::to_string(spec.height) + "-" + std::to_string(spec.frames) +
                           (hevc ? ".hevc" : ".h264");
  std::filesystem::create_directories(dir);
  const std::string path = dir + "/" + name;
  if (std::filesystem::exists(path)) return path;
  // Several test processes may want the same clip at once: each writes its
  // own file and renames it into place.
  const std::string partial = path + ".part" + std::to_string(getpid());
  const std::string codecArgs =
      hevc ? "-c:v libx265 -preset ultrafast -x265-params bframes=0:log-level=error -f hevc"
           : "-c:v libx264 -preset veryfast -bf 0 -f h264";
  const std::string command =
      "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=" + std::to_string(spec.width) + "x" +
      std::to_string(spec.height) + ":rate=30 -frames:v " + std::to_string(spec.frames) +
      " -pix_fmt yuv420p -g 30 " + codecArgs + " '" + partial + "'";
  if (runCommand(command) != 0) return "";
  std::filesystem::rename(partial, path);
  return path;
}

std::vector<AccessUnit> readAccessUnits(const std::string& path) {
  std::vector<AccessUnit> units;
  AVFormatContext* format = nullptr;
  if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return units;
  AVPacket* packet = av_packet_alloc();
  while (av_read_frame(format, packet) >= 0) {
    AccessUnit unit;
    unit.bytes.assign(packet->data, packet->data + packet->size);
    unit.pts = static_cast<std::int64_t>(units.size()) * 3000;
    units.push_back(std::move(unit));
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  avformat_close_input(&format);
  return units;
}

}  // namespace mirandel::test
