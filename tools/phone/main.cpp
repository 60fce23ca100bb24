// mirandel-phone: runs the phone emulator until interrupted.
//   mirandel-phone [--name N] [--identity I] [--extra E] [--link wired|wifi|auto|TEXT]
//                  [--port P] [--reply-port P] [--verbose]
// "--link auto" leaves the link text out, so the clip judges the route by its address.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "tools/phone/PhoneEmulator.h"

namespace {
std::atomic<bool> gStop{false};
void onSignal(int) { gStop = true; }

int usage() {
  std::fprintf(stderr,
               "usage: mirandel-phone [--name N] [--identity I] [--extra E] "
               "[--link wired|wifi|auto|TEXT] [--port P] [--reply-port P] [--verbose]\n");
  return 2;
}
}  // namespace

int main(int argc, char** argv) {
  mirandel::PhoneConfig config;
  std::string link = "wifi";
  bool verbose = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* v = nullptr;
    if (a == "--verbose") {
      verbose = true;
    } else if ((a == "--name" || a == "--identity" || a == "--extra" || a == "--link" ||
                a == "--port" || a == "--reply-port") &&
               (v = value())) {
      if (a == "--name") config.name = v;
      if (a == "--identity") config.identity = v;
      if (a == "--extra") config.extra = v;
      if (a == "--link") link = v;
      if (a == "--port") config.listenPort = static_cast<std::uint16_t>(std::atoi(v));
      if (a == "--reply-port") config.replyPort = static_cast<std::uint16_t>(std::atoi(v));
    } else {
      return usage();
    }
  }
  config.linkText = [link](const std::string&) { return link == "auto" ? std::string() : link; };

  mirandel::PhoneEmulator phone(config);
  if (verbose) {
    phone.on("/mirandel/discover",
             [](mirandel::PhoneEmulator& p, const mirandel::IncomingMessage& m) {
               std::printf("probe from %s\n", m.sender.c_str());
               std::fflush(stdout);
               p.send(m.sender, p.hereReply(m.sender));
             });
  }
  if (!phone.start()) {
    std::fprintf(stderr, "mirandel-phone: cannot listen on UDP port %u\n", config.listenPort);
    return 1;
  }
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  std::printf("mirandel-phone: listening on UDP %u as \"%s\"\n", config.listenPort,
              config.name.c_str());
  std::fflush(stdout);
  while (!gStop) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  phone.stop();
  return 0;
}
