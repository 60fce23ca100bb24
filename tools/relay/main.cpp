// mirandel-relay: relays one UDP (SRT) path with faults until interrupted or --duration runs
// out, then prints its counters.
//   mirandel-relay --listen ADDR:PORT --to ADDR:PORT [--loss PCT] [--burst-loss PCT:LEN]
//                  [--delay MS] [--jitter MS] [--reorder PCT] [--duplicate PCT]
//                  [--blackout-at S --blackout-for S] [--seed N] [--duration S]
// Callers send to --listen; each caller's packets go on to --to from a socket of its own, and
// the answers come back to it. Every fault applies to both directions (FaultSettings.h).
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "tools/cli/StopSignal.h"
#include "tools/relay/Relay.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: mirandel-relay --listen ADDR:PORT --to ADDR:PORT [--loss PCT] "
               "[--burst-loss PCT:LEN]\n"
               "         [--delay MS] [--jitter MS] [--reorder PCT] [--duplicate PCT]\n"
               "         [--blackout-at S --blackout-for S] [--seed N] [--duration S]\n");
  return 2;
}

// A finite number in [lo, hi], read whole from `text`.
bool parseNumber(const char* text, double lo, double hi, double& out) {
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(v) || v < lo || v > hi) return false;
  out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  using mirandel::relay::RelayOptions;
  RelayOptions options;
  bool haveListen = false, haveTo = false, haveAt = false, haveFor = false;
  double duration = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) return usage();
    const char* v = argv[++i];
    auto& f = options.faults;
    double n = 0;
    bool ok = true;
    if (a == "--listen") {
      ok = haveListen = mirandel::relay::parseEndpoint(v, options.listen);
    } else if (a == "--to") {
      ok = haveTo = mirandel::relay::parseEndpoint(v, options.to);
    } else if (a == "--loss") {
      ok = parseNumber(v, 0, 100, f.lossPercent);
    } else if (a == "--burst-loss") {
      double length = 0;
      const std::string text = v;
      const std::size_t colon = text.find(':');
      ok = colon != std::string::npos &&
           parseNumber(text.substr(0, colon).c_str(), 0, 100, f.burstPercent) &&
           parseNumber(text.substr(colon + 1).c_str(), 1, 100000, length) &&
           length == std::floor(length);
      f.burstLength = static_cast<int>(length);
    } else if (a == "--delay") {
      ok = parseNumber(v, 0, 60000, f.delayMs);
    } else if (a == "--jitter") {
      ok = parseNumber(v, 0, 60000, f.jitterMs);
    } else if (a == "--reorder") {
      ok = parseNumber(v, 0, 100, f.reorderPercent);
    } else if (a == "--duplicate") {
      ok = parseNumber(v, 0, 100, f.duplicatePercent);
    } else if (a == "--blackout-at") {
      ok = haveAt = parseNumber(v, 0, 1e6, f.blackoutAtSeconds);
    } else if (a == "--blackout-for") {
      ok = haveFor = parseNumber(v, 0, 1e6, f.blackoutForSeconds);
    } else if (a == "--seed") {
      ok = parseNumber(v, 0, 4294967295.0, n) && n == std::floor(n);
      f.seed = static_cast<std::uint32_t>(n);
    } else if (a == "--duration") {
      ok = parseNumber(v, 0, 1e7, duration);
    } else {
      ok = false;
    }
    if (!ok) {
      std::fprintf(stderr, "mirandel-relay: bad %s \"%s\"\n", a.c_str(), v);
      return usage();
    }
  }
  if (!haveListen || !haveTo || haveAt != haveFor) return usage();

  mirandel::cli::stopOnSignals();
  mirandel::relay::Relay relay;
  std::string error;
  if (!relay.start(options, &error)) {
    std::fprintf(stderr, "mirandel-relay: %s\n", error.c_str());
    return 1;
  }
  const auto& f = options.faults;
  std::printf(
      "mirandel-relay: %s:%u -> %s:%u, loss %g%%, bursts %g%%:%d, delay %g ms, jitter %g ms, "
      "reorder %g%%, duplicate %g%%, blackout %s, seed %u\n",
      options.listen.address.c_str(), options.listen.port, options.to.address.c_str(),
      options.to.port, f.lossPercent, f.burstPercent, f.burstLength, f.delayMs, f.jitterMs,
      f.reorderPercent, f.duplicatePercent,
      haveAt ? (std::to_string(f.blackoutForSeconds) + " s at " +
                std::to_string(f.blackoutAtSeconds) + " s")
                   .c_str()
             : "none",
      f.seed);
  std::fflush(stdout);

  const auto started = std::chrono::steady_clock::now();
  while (!mirandel::cli::stopRequested() &&
         (duration <= 0 ||
          std::chrono::steady_clock::now() - started < std::chrono::duration<double>(duration))) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  relay.stop();
  std::fputs(mirandel::relay::formatReport(relay.report()).c_str(), stdout);
  return 0;
}
