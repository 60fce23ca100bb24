#pragma once
// What the supervision benchmarks share: a connected clip on a scripted link, the phone
// emulator's rack, and a timer of single steps.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "clip/ClipParams.h"
#include "clip/MirandelLink.h"
#include "support/FakeLink.h"

namespace mirandel::bench {

using Clock = std::chrono::steady_clock;

inline constexpr const char* kPhone = "127.0.0.1";
// A part as large as a datagram allows, as a phone sending a large rack would.
inline constexpr std::size_t kPartBytes = 60000;

inline std::string sampleRack() {
  std::ifstream in(MIRANDEL_SOURCE_DIR "/tools/phone/racks/sample.json");
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The feedback addresses of every control of `effects`, "/mirandel/<effect>/<field>".
inline std::vector<std::string> feedbackAddresses(const std::vector<RackEffect>& effects) {
  std::vector<std::string> out;
  for (const RackEffect& e : effects)
    for (const RackControl& c : e.controls) out.push_back("/mirandel/" + e.address + "/" + c.field);
  return out;
}

// A connected clip on a scripted link, taking what its phone sends.
class Session {
 public:
  Session() : clip_(std::make_unique<MirandelLink>(ClipEnvironment{&link_, clock_.fn()})) {
    clip_->SetIdentity(clip_.get());
    clip_->SetTextParameter(param::kPhoneIp, kPhone);
    clip_->superviseClip();
  }
  MirandelLink& clip() { return *clip_; }
  void fromPhone(const std::string& address, std::vector<ControlArg> args) {
    link_.deliver({kPhone, address, std::move(args)});
  }
  void fromSender(const std::string& sender, ControlMessage m) {
    link_.deliver({sender, std::move(m.address), std::move(m.args)});
  }
  void setDevices(std::vector<DeviceRecord> devices) { link_.devices = std::move(devices); }
  // The description in parts, delivered but not yet taken up.
  void describeInParts(const std::string& text, std::size_t first, std::size_t count) {
    const auto total = static_cast<std::int32_t>((text.size() + kPartBytes - 1) / kPartBytes);
    for (std::size_t i = first; i < first + count && i < static_cast<std::size_t>(total); ++i)
      fromPhone("/mirandel/describe/part",
                {ControlArg::ofInt(1), ControlArg::ofInt(total),
                 ControlArg::ofInt(static_cast<std::int32_t>(i)),
                 ControlArg::ofText(text.substr(i * kPartBytes, kPartBytes))});
  }
  static std::size_t parts(const std::string& text) {
    return (text.size() + kPartBytes - 1) / kPartBytes;
  }
  void advance(Nanos d) { clock_.advance(d); }
  // Takes up every part but the last, 64 parts a step, as a host would: the
  // inbox holds at most 4 MiB. With `all`, the last part too.
  void takeDescription(const std::string& text, bool all) {
    const std::size_t parts = Session::parts(text);
    const std::size_t upTo = all ? parts : parts - 1;
    for (std::size_t i = 0; i < upTo; i += 64) {
      describeInParts(text, i, std::min<std::size_t>(64, upTo - i));
      clip().superviseClip();
    }
  }

 private:
  ManualClock clock_{100 * kSecond};
  test::FakeLink link_;
  std::unique_ptr<MirandelLink> clip_;
};

// Times one call with the benchmark's timer, which is paused around it
// (setting up and tearing down sessions is not measured); keeps the slowest
// and the sum.
struct StepTimer {
  double worstMs = 0.0;
  double allMs = 0.0;
  template <typename F>
  void time(benchmark::State& state, F&& f) {
    const auto t0 = Clock::now();
    state.ResumeTiming();
    f();
    state.PauseTiming();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    worstMs = std::max(worstMs, ms);
    allMs += ms;
  }
  void report(benchmark::State& state) const { state.counters["worst ms"] = worstMs; }
};

}  // namespace mirandel::bench
