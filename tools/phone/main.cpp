// mirandel-phone: runs the emulated phone until interrupted, printing one line
// per notable event.
//   mirandel-phone [--name N] [--identity I] [--extra E] [--link wired|wifi|auto|TEXT]
//                  [--port P] [--reply-port P] [--verbose]
//                  [--rack FILE] [--parts N] [--order inorder|reversed|shuffled]
//                  [--codec h264|hevc] [--colour bt709|bt601|bt2020-hlg] [--size WxH]
//                  [--fps F] [--bitrate KBPS] [--srt-port P] [--stream-now | --listen-early]
//                  [--no-markers] [--second-stamp] [--grain A] [--status-ms MS]
//                  [--at SECONDS:ACTION ...]
// "--link auto" leaves the link text out, so the clip judges the route by its address.
// "--parts 0" (the default) answers describe requests whole. Script steps (--at) are listed
// in tools/phone/PhoneScript.h. "--second-stamp" draws the picture's stamp in the
// bottom-right corner too, so a receiver can tell damaged pictures (tools/phone/Stamp.h).
// "--listen-early" takes SRT callers from launch but streams only once asked, as a phone
// application may; by default the listener opens at the first "/mirandel/stream".
// "--colour" sets the colour description the stream flags (bt709 by default; bt2020-hlg in
// 10 bits where the encoder takes them; tools/phone/VideoEncoder.h).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/cli/StopSignal.h"
#include "tools/phone/PhoneApp.h"
#include "tools/phone/PhoneScript.h"

#ifndef MIRANDEL_SAMPLE_RACK
#define MIRANDEL_SAMPLE_RACK "tools/phone/racks/sample.json"
#endif

namespace {
int usage() {
  std::fprintf(stderr,
               "usage: mirandel-phone [--name N] [--identity I] [--extra E] "
               "[--link wired|wifi|auto|TEXT] [--port P] [--reply-port P] [--verbose]\n"
               "         [--rack FILE] [--parts N] [--order inorder|reversed|shuffled]\n"
               "         [--codec h264|hevc] [--colour bt709|bt601|bt2020-hlg] [--size WxH] "
               "[--fps F] [--bitrate KBPS] [--srt-port P]\n"
               "         [--stream-now | --listen-early] [--no-markers] [--second-stamp] "
               "[--grain A] [--status-ms MS] "
               "[--at SECONDS:ACTION ...]\n");
  return 2;
}

// A whole number in [lo, hi], or -1.
long parseInt(const char* text, long lo, long hi) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  return (end == text || *end != '\0' || v < lo || v > hi) ? -1 : v;
}

std::mutex gPrintMutex;
void printLine(const std::string& line) {
  std::lock_guard lock(gPrintMutex);
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}
}  // namespace

int main(int argc, char** argv) {
  using mirandel::phone::PartOrder;
  mirandel::phone::PhoneAppOptions options;
  options.stream.encoder.codec = mirandel::kCodecH264;
  std::string link = "wifi";
  std::string rackPath = MIRANDEL_SAMPLE_RACK;
  bool verbose = false;
  std::vector<mirandel::phone::ScriptStep> script;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* v = nullptr;
    long n = 0;
    if (a == "--verbose") {
      verbose = true;
    } else if (a == "--stream-now") {
      options.streamNow = true;
    } else if (a == "--listen-early") {
      options.listenEarly = true;
    } else if (a == "--no-markers") {
      options.stream.markers = false;
    } else if (a == "--second-stamp") {
      options.stream.secondStamp = true;
    } else if (!(v = value())) {
      return usage();
    } else if (a == "--name") {
      options.control.name = v;
    } else if (a == "--identity") {
      options.control.identity = v;
    } else if (a == "--extra") {
      options.control.extra = v;
    } else if (a == "--link") {
      link = v;
    } else if (a == "--port" && (n = parseInt(v, 1, 65535)) > 0) {
      options.control.listenPort = static_cast<std::uint16_t>(n);
    } else if (a == "--reply-port" && (n = parseInt(v, 1, 65535)) > 0) {
      options.control.replyPort = static_cast<std::uint16_t>(n);
    } else if (a == "--srt-port" && (n = parseInt(v, 1, 65535)) > 0) {
      options.stream.port = static_cast<int>(n);
    } else if (a == "--rack") {
      rackPath = v;
    } else if (a == "--parts" && (n = parseInt(v, 0, 65000)) >= 0) {
      options.partSize = static_cast<std::size_t>(n);
    } else if (a == "--order" &&
               (std::strcmp(v, "inorder") == 0 || std::strcmp(v, "reversed") == 0 ||
                std::strcmp(v, "shuffled") == 0)) {
      options.partOrder = v[0] == 'i'   ? PartOrder::InOrder
                          : v[0] == 'r' ? PartOrder::Reversed
                                        : PartOrder::Shuffled;
    } else if (a == "--codec" && (std::strcmp(v, "h264") == 0 || std::strcmp(v, "hevc") == 0)) {
      options.stream.encoder.codec =
          v[0] == 'h' && v[1] == 'e' ? mirandel::kCodecHevc : mirandel::kCodecH264;
    } else if (a == "--colour" && (std::strcmp(v, "bt709") == 0 || std::strcmp(v, "bt601") == 0 ||
                                   std::strcmp(v, "bt2020-hlg") == 0)) {
      using mirandel::phone::StreamColour;
      options.stream.encoder.colour = std::strcmp(v, "bt601") == 0   ? StreamColour::kBt601
                                      : std::strcmp(v, "bt709") == 0 ? StreamColour::kBt709
                                                                     : StreamColour::kBt2020Hlg;
    } else if (a == "--size") {
      int w = 0, h = 0;
      char tail = 0;
      if (std::sscanf(v, "%dx%d%c", &w, &h, &tail) != 2 || w < 64 || h < 64 || w > 3840 ||
          h > 2160 || w % 2 != 0 || h % 2 != 0) {
        return usage();
      }
      options.stream.encoder.width = w;
      options.stream.encoder.height = h;
    } else if (a == "--fps" && (n = parseInt(v, 1, 120)) > 0) {
      options.stream.encoder.fps = static_cast<int>(n);
    } else if (a == "--bitrate" && (n = parseInt(v, 50, 100000)) > 0) {
      options.stream.encoder.bitrateKbps = static_cast<int>(n);
    } else if (a == "--status-ms" && (n = parseInt(v, 10, 60000)) > 0) {
      options.statusInterval = std::chrono::milliseconds(n);
    } else if (a == "--grain") {
      char* end = nullptr;
      const float g = std::strtof(v, &end);
      if (end == v || *end != '\0' || !(g >= 0.0f && g <= 1.0f)) return usage();
      options.grainAmount = g;
    } else if (a == "--at") {
      auto step = mirandel::phone::parseScriptStep(v);
      if (!step) {
        std::fprintf(stderr, "mirandel-phone: bad script step \"%s\"\n", v);
        return usage();
      }
      script.push_back(*step);
    } else {
      return usage();
    }
  }
  options.control.linkText = [link](const std::string&) {
    return link == "auto" ? std::string() : link;
  };
  const auto rack = mirandel::phone::readTextFile(rackPath);
  if (!rack) {
    std::fprintf(stderr, "mirandel-phone: cannot read rack file %s\n", rackPath.c_str());
    return 1;
  }
  options.rackJson = *rack;
  options.onEvent = printLine;

  std::unique_ptr<mirandel::phone::PhoneApp> phone;
  try {
    phone = std::make_unique<mirandel::phone::PhoneApp>(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mirandel-phone: rack file %s: %s\n", rackPath.c_str(), e.what());
    return 1;
  }
  if (verbose) {
    phone->control().on("/mirandel/discover",
                        [](mirandel::PhoneEmulator& p, const mirandel::IncomingMessage& m) {
                          printLine("probe from " + m.sender);
                          p.send(m.sender, p.hereReply(m.sender));
                        });
  }
  if (!phone->start()) {
    std::fprintf(stderr, "mirandel-phone: cannot listen on UDP port %u%s\n",
                 options.control.listenPort,
                 options.streamNow     ? " or start the stream"
                 : options.listenEarly ? " or listen for SRT"
                                       : "");
    return 1;
  }
  mirandel::cli::stopOnSignals();
  printLine("mirandel-phone: listening on UDP " + std::to_string(options.control.listenPort) +
            " as \"" + options.control.name + "\"");

  std::stable_sort(script.begin(), script.end(),
                   [](const auto& x, const auto& y) { return x.at < y.at; });
  const auto started = std::chrono::steady_clock::now();
  std::size_t next = 0;
  while (!mirandel::cli::stopRequested()) {
    const auto elapsed = std::chrono::steady_clock::now() - started;
    while (next < script.size() && script[next].at <= elapsed) {
      const auto& step = script[next++];
      if (!mirandel::phone::runScriptStep(*phone, step)) {
        printLine("script: refused " + mirandel::phone::describeStep(step));
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  phone->stop();
  return 0;
}
