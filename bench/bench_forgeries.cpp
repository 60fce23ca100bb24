// The cost of one supervision step of a connected clip under a flood of forged datagrams
// from other senders (goal: under 1 ms a step), the quiet step as the reference: an inbox at
// its bound on a scripted link, and forged datagrams on loopback through a real link hub.
// Part of bench_supervision (bench/supervision.sh gives it a private network namespace).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/SupervisionSession.h"
#include "link/ControlCodec.h"
#include "link/LinkHub.h"
#include "support/ForgedDatagrams.h"

namespace {

using namespace mirandel;
using namespace mirandel::bench;

// The most a flood can hand one step, with no other thread running: an inbox
// at its bound (4,096 messages) of forged datagrams from other senders, with
// the device table at its bound (64 phones of 16 routes each).
void BM_StepTakingAFullInboxOfForgeries(benchmark::State& state) {
  const LinkHubOptions bounds;
  StepTimer timer;
  for (auto _ : state) {
    state.PauseTiming();
    {
      Session s;
      s.fromPhone("/mirandel/describe", {ControlArg::ofText(sampleRack())});
      s.clip().superviseClip();
      const std::vector<std::string> feedback = feedbackAddresses(s.clip().effects());
      test::DatagramForger forge(3, feedback);
      std::vector<DeviceRecord> devices(bounds.maxDevices);
      for (std::size_t d = 0; d < devices.size(); ++d) {
        devices[d].address = devices[d].name = "forged " + std::to_string(d);
        for (std::size_t r = 0; r < bounds.maxRoutesPerDevice; ++r)
          devices[d].routes["10.1." + std::to_string(d) + "." + std::to_string(r)] = {};
        devices[d].bestAddress = devices[d].routes.begin()->first;
      }
      s.setDevices(devices);
      for (std::size_t queued = 0; queued < bounds.inboxLimit;) {
        const std::vector<std::uint8_t> bytes = forge.next();
        ControlMessage m;
        if (!decode(bytes.data(), bytes.size(), m)) continue;
        s.fromSender("10.1.0." + std::to_string(queued % 250), std::move(m));
        ++queued;
      }
      timer.time(state, [&] { s.clip().superviseClip(); });
    }
    state.ResumeTiming();
  }
  timer.report(state);
}
BENCHMARK(BM_StepTakingAFullInboxOfForgeries)->Unit(benchmark::kMicrosecond)->Iterations(50);

// On a real hub: forged datagrams on loopback.

// The process's hub for these benchmarks: one, so that no second one waits
// for the first one's port.
LinkHub& hub() {
  static LinkHub* const h = [] {
    LinkHubOptions o;
    o.listInterfaces = [] { return std::vector<BroadcastInterface>{}; };
    return new LinkHub(o);
  }();
  return *h;
}

// A clip connected to a phone on loopback, its rack described.
std::unique_ptr<MirandelLink> connectedClip() {
  auto clip = std::make_unique<MirandelLink>(ClipEnvironment{&hub()});
  clip->SetIdentity(clip.get());
  clip->SetTextParameter(param::kPhoneIp, kPhone);
  clip->superviseClip();
  UdpSocket phone = UdpSocket::open();
  phone.bind(0, kPhone);
  const auto bytes = encode({"/mirandel/describe", {ControlArg::ofText(sampleRack())}});
  phone.sendTo(kPhone, kClipControlPort, bytes.data(), bytes.size());
  const auto until = Clock::now() + std::chrono::seconds(5);
  while (clip->effects().empty() && Clock::now() < until) {
    clip->superviseClip();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return clip;
}

// Steps of a connected clip, `gap` ms apart (the host's frames; -1: each
// once the inbox is full, the most a step can be given), while `flood` is
// set: forged datagrams from eight other loopback addresses as fast as one
// thread sends them.
void supervisionUnderTraffic(benchmark::State& state, bool flood) {
  const auto gap = std::chrono::milliseconds(state.range(0));
  const std::size_t full = LinkHubOptions{}.inboxLimit;
  auto clip = connectedClip();
  if (clip->effects().empty()) return state.SkipWithError("the phone's rack did not arrive");
  const std::vector<std::string> feedback = feedbackAddresses(clip->effects());

  std::atomic<bool> stop{false};
  std::atomic<std::uint64_t> sent{0};
  std::thread forger;
  if (flood) {
    forger = std::thread([&] {
      test::DatagramForger forge(7, feedback);
      std::vector<UdpSocket> senders;
      for (int k = 2; k < 10; ++k) {
        senders.push_back(UdpSocket::open());
        senders.back().bind(0, "127.0.0." + std::to_string(k));
      }
      for (std::uint64_t n = 0; !stop; ++n) {
        const auto bytes = forge.next();
        senders[n % senders.size()].sendTo(kPhone, kClipControlPort, bytes.data(), bytes.size());
        ++sent;
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the table fills
  }

  StepTimer timer;
  double queued = 0;
  const std::uint64_t sentBefore = sent;
  const auto t0 = Clock::now();
  for (auto _ : state) {
    state.PauseTiming();
    if (gap.count() > 0) std::this_thread::sleep_for(gap);
    while (gap.count() < 0 && hub().inboxLoad(clip->subscriptionId()).messages < full)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    queued += static_cast<double>(hub().inboxLoad(clip->subscriptionId()).messages);
    timer.time(state, [&] { clip->superviseClip(); });
    state.ResumeTiming();
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  stop = true;
  if (forger.joinable()) forger.join();
  timer.report(state);
  state.counters["queued/step"] = queued / static_cast<double>(state.iterations());
  state.counters["forged/s"] = static_cast<double>(sent - sentBefore) / seconds;
  state.counters["devices"] = static_cast<double>(hub().listDevices().size());
}

void BM_StepQuiet(benchmark::State& state) { supervisionUnderTraffic(state, false); }
BENCHMARK(BM_StepQuiet)
    ->ArgName("gapMs")
    ->Arg(0)
    ->Arg(16)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(500);

void BM_StepUnderFlood(benchmark::State& state) { supervisionUnderTraffic(state, true); }
BENCHMARK(BM_StepUnderFlood)
    ->ArgName("gapMs")
    ->Arg(0)
    ->Arg(16)
    ->Arg(-1)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(500);

}  // namespace
