// mirandel-demo-phone: the phone side of the main job. Runs the phone emulator (discovery
// answers over a wired route) and starts its stamped test-pattern stream on SRT port 9010
// when a clip asks for it with "/mirandel/stream" 1, as the phone application does.
//
//   mirandel-demo-phone [--codec h264|hevc] [--size WxH] [--fps N] [--bitrate KBPS]
//                       [--seconds S] [--now]
//
// --now starts the stream at once instead of waiting for the request. Prints one line when the
// stream starts and a line per second while callers watch; ends on SIGINT/SIGTERM or after
// --seconds.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "link/ControlCodec.h"
#include "tools/phone/PhoneEmulator.h"
#include "tools/phone/StreamSender.h"

namespace {

std::atomic<bool> gStop{false};
void onSignal(int) { gStop = true; }

int usage(const char* why) {
  std::fprintf(stderr,
               "%s\nusage: mirandel-demo-phone [--codec h264|hevc] [--size WxH] [--fps N] "
               "[--bitrate KBPS] [--seconds S] [--now]\n",
               why);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace mirandel;
  phone::StreamOptions stream;
  stream.encoder.codec = kCodecH264;
  stream.encoder.width = 1920;
  stream.encoder.height = 1080;
  stream.encoder.fps = 30;
  stream.encoder.bitrateKbps = 6000;
  stream.encoder.keyInterval = 60;
  double seconds = 0;
  bool now = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    if (a == "--now") {
      now = true;
      continue;
    }
    if (!v) return usage(("missing value or unknown argument " + a).c_str());
    ++i;
    if (a == "--codec") {
      const std::string c = v;
      if (c != "h264" && c != "hevc") return usage("bad --codec");
      stream.encoder.codec = c == "hevc" ? kCodecHevc : kCodecH264;
    } else if (a == "--size") {
      int w = 0, h = 0;
      char tail = 0;
      if (std::sscanf(v, "%dx%d%c", &w, &h, &tail) != 2 || w < 320 || h < 180 || w > 4096 ||
          h > 4096 || w % 2 || h % 2) {
        return usage("bad --size (even, 320x180 to 4096x4096)");
      }
      stream.encoder.width = w;
      stream.encoder.height = h;
    } else if (a == "--fps") {
      stream.encoder.fps = std::atoi(v);
      if (stream.encoder.fps < 1 || stream.encoder.fps > 120) return usage("bad --fps");
    } else if (a == "--bitrate") {
      stream.encoder.bitrateKbps = std::atoi(v);
      if (stream.encoder.bitrateKbps < 100) return usage("bad --bitrate");
    } else if (a == "--seconds") {
      seconds = std::atof(v);
    } else {
      return usage(("unknown argument " + a).c_str());
    }
  }

  PhoneConfig config;
  config.name = "Mirandel Demo Phone";
  config.linkText = [](const std::string&) { return std::string("wired"); };
  PhoneEmulator phone(config);
  std::atomic<bool> streamAsked{now};
  phone.on("/mirandel/stream", [&streamAsked](PhoneEmulator&, const IncomingMessage& m) {
    double on = 0;
    if (!m.args.empty() && toNumber(m.args[0], on) && on != 0) streamAsked = true;
  });
  if (!phone.start()) {
    std::fprintf(stderr, "mirandel-demo-phone: cannot listen on UDP port 9000\n");
    return 1;
  }
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  std::printf("phone: listening on UDP 9000, stream %dx%d %s %d fps on SRT %d\n",
              stream.encoder.width, stream.encoder.height,
              stream.encoder.codec == kCodecHevc ? "HEVC" : "H.264", stream.encoder.fps,
              stream.port);
  std::fflush(stdout);

  phone::StreamSender sender;
  const auto start = std::chrono::steady_clock::now();
  auto lastReport = start;
  int status = 0;
  while (!gStop) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto t = std::chrono::steady_clock::now();
    if (seconds > 0 && t - start > std::chrono::duration<double>(seconds)) break;
    if (streamAsked && !sender.running()) {
      if (!sender.start(stream)) {
        std::fprintf(stderr, "mirandel-demo-phone: cannot start the encoder or SRT port %d\n",
                     stream.port);
        status = 1;
        break;
      }
      std::printf("phone: stream requested, SRT listener up\n");
      std::fflush(stdout);
    }
    if (sender.running() && t - lastReport >= std::chrono::seconds(1)) {
      lastReport = t;
      const phone::SenderStats s = sender.stats();
      if (s.callersConnected > 0) {
        std::printf("phone: %llu pictures sent to %llu caller(s), %.1f MB\n",
                    static_cast<unsigned long long>(s.picturesSent),
                    static_cast<unsigned long long>(s.callersConnected),
                    static_cast<double>(s.bytesSent) / 1e6);
        std::fflush(stdout);
      }
    }
  }
  sender.stop();
  phone.stop();
  return status;
}
