// The fault relay: each direction's faults on a scripted packet sequence, then the CLI on real
// sockets, whose report lines the soak script reads.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "link/UdpSocket.h"
#include "support/TestSupport.h"
#include "tools/relay/Impairment.h"

namespace mirandel::relay {
namespace {

struct Left {
  std::uint32_t index;  // arrival order
  Nanos arrived, left;
};

// Offers `count` packets, one every `spacing`, each carrying its index, and collects them in
// leaving order, polled every 100 µs as the relay's thread would be woken; the line's counters
// go to `counters` when given.
std::vector<Left> pass(const FaultSettings& settings, std::uint32_t count, Nanos spacing,
                       DirectionCounters* counters = nullptr) {
  Impairment line(settings, 1);
  std::vector<Left> left;
  std::vector<Datagram> due;
  const auto take = [&](Nanos now) {
    due.clear();
    line.takeDue(now, due);
    for (const Datagram& d : due) {
      std::uint32_t index = 0;
      std::memcpy(&index, d.bytes.data(), sizeof index);
      left.push_back({index, static_cast<Nanos>(index) * spacing, now});
    }
  };
  Nanos now = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    for (; now < static_cast<Nanos>(i) * spacing; now += 100'000) take(now);
    std::vector<std::uint8_t> bytes(sizeof i);
    std::memcpy(bytes.data(), &i, sizeof i);
    line.offer(std::move(bytes), 1, static_cast<Nanos>(i) * spacing);
  }
  for (; line.nextDue(); now += 100'000) take(now);
  if (counters) *counters = line.counters();
  return left;
}

// Guards each fault's contract on 20 000 packets a millisecond apart: loss near its rate,
// bursts as long as asked, delay and jitter in bounds without reordering (Wi-Fi keeps order),
// reordering only one packet behind the next, duplicates adjacent, the blackout its window.
TEST(RelayFaults, EachFaultDoesWhatItSaysAndNoMore) {
  constexpr std::uint32_t kCount = 20000;
  constexpr Nanos kSpacing = kMillisecond;
  const std::pair<const char*, FaultSettings> cases[] = {
      {"loss", {.lossPercent = 5, .seed = 5}},
      {"bursts", {.burstPercent = 1, .burstLength = 6, .seed = 5}},
      {"delay and jitter", {.delayMs = 20, .jitterMs = 50, .seed = 5}},
      {"reorder", {.reorderPercent = 3, .seed = 5}},
      {"duplicate", {.duplicatePercent = 4, .seed = 5}},
      {"blackout", {.delayMs = 5, .blackoutAtSeconds = 2, .blackoutForSeconds = 3, .seed = 5}}};
  for (const auto& [name, faults] : cases) {
    SCOPED_TRACE(name);
    DirectionCounters n;
    const std::vector<Left> left = pass(faults, kCount, kSpacing, &n);
    EXPECT_EQ(std::tuple(n.in, n.out, n.overflow), std::tuple(kCount, left.size(), 0u));
    EXPECT_EQ(n.in + n.duplicated, n.out + n.dropped + n.burstDropped + n.blackedOut);

    std::uint32_t expected = 0, reordered = 0, duplicates = 0;
    std::vector<bool> seen(kCount);
    for (std::size_t i = 0; i < left.size(); ++i) {
      const Left& l = left[i];
      const Nanos delay = l.left - l.arrived;
      EXPECT_GE(delay, faults.delayMs * kMillisecond);
      // A packet held back waits for the next one, a millisecond later; the last one, which
      // nothing passes, up to the hold limit.
      const Nanos slack = l.index + 1 == kCount ? kReorderHoldLimit : kMillisecond;
      EXPECT_LE(delay, (faults.delayMs + faults.jitterMs) * kMillisecond + slack)
          << "packet " << l.index;
      if (i > 0 && l.index == left[i - 1].index) {
        ++duplicates;
        continue;
      }
      if (l.index < expected) {
        // Held back: it must come right after the one packet that passed it.
        EXPECT_EQ(left[i - 1].index, l.index + 1) << "packet " << l.index;
        ++reordered;
      }
      expected = std::max(expected, l.index + 1);
      seen[l.index] = true;
    }
    EXPECT_EQ(std::tuple(reordered, duplicates), std::tuple(n.reordered, n.duplicated));
    EXPECT_NEAR(reordered, kCount * faults.reorderPercent / 100, kCount * 0.01);
    EXPECT_NEAR(duplicates, kCount * faults.duplicatePercent / 100, kCount * 0.01);
    if (faults.lossPercent > 0) {
      EXPECT_NEAR(n.dropped, kCount * 0.05, kCount * 0.01);
    }
    if (faults.burstLength > 0) {
      EXPECT_EQ(n.burstDropped % 6, 0u);  // bursts do not overlap at this rate: whole ones
      EXPECT_NEAR(n.burstDropped, kCount * 0.057, kCount * 0.015);
      for (std::uint32_t i = 0, run = 0; i <= kCount; ++i) {
        if (i < kCount && !seen[i]) {
          ++run;
        } else {
          EXPECT_TRUE(run == 0 || run % 6 == 0) << "a burst of " << run << " before " << i;
          run = 0;
        }
      }
    }
    if (faults.blackoutForSeconds > 0) {
      EXPECT_EQ(n.blackedOut, 3000u);
      for (std::uint32_t i = 0; i < kCount; ++i) EXPECT_EQ(seen[i], i < 2000 || i >= 5000) << i;
    }
  }
}

// Guards repeatability: one seed gives each packet one fate however timed; another, others.
TEST(RelayFaults, OneSeedGivesTheSamePacketsTheSameFate) {
  FaultSettings f;
  f.lossPercent = 10;
  f.duplicatePercent = 10;
  f.seed = 42;
  const auto indexes = [](const std::vector<Left>& left) {
    std::vector<std::uint32_t> v;
    for (const Left& l : left) v.push_back(l.index);
    return v;
  };
  const auto once = indexes(pass(f, 2000, kMillisecond));
  EXPECT_EQ(indexes(pass(f, 2000, 3 * kMillisecond)), once);
  f.seed = 43;
  EXPECT_NE(indexes(pass(f, 2000, kMillisecond)), once);
}

// Guards the path and command line the soak script relies on: each caller's exchange goes
// through a socket of its own and back to it alone, and the report lines keep their shape.
TEST(RelayCli, RelaysEachCallersExchangeBothWaysAndReportsItsCounters) {
  UdpSocket far = UdpSocket::open();
  ASSERT_TRUE(far.bind(7001, "127.0.0.1"));
  std::thread echo([&far] {
    std::uint8_t b[64];
    std::string from;
    std::uint16_t port = 0;
    for (long n; (n = far.receive(b, sizeof b, from, &port)) > 0;)
      far.sendTo(from, port, b, static_cast<std::size_t>(n));
  });
  const std::string command = test::binaryPath("tools/relay/mirandel-relay") +
                              " --listen 127.0.0.1:7000 --to 127.0.0.1:7001 --seed 3 "
                              "--duration 2";
  FILE* relay = popen(command.c_str(), "r");
  ASSERT_NE(relay, nullptr);
  char line[512];
  ASSERT_NE(fgets(line, sizeof line, relay), nullptr);  // listening once it has said so
  EXPECT_EQ(std::string(line).rfind("mirandel-relay: 127.0.0.1:7000 -> 127.0.0.1:7001", 0), 0u)
      << line;

  UdpSocket callers[2] = {UdpSocket::open(), UdpSocket::open()};
  for (UdpSocket& c : callers) ASSERT_TRUE(c.setReceiveTimeout(std::chrono::seconds(2)));
  for (int round = 0; round < 10; ++round) {
    for (int i = 0; i < 2; ++i) {
      UdpSocket& c = callers[i];
      const std::string text = std::to_string(i) + ":" + std::to_string(round);
      c.sendTo("127.0.0.1", 7000, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
      std::uint8_t b[64];
      std::string from;
      const long n = c.receive(b, sizeof b, from);
      ASSERT_GT(n, 0);
      EXPECT_EQ(std::string(b, b + n), text);
    }
  }
  std::string report;
  while (fgets(line, sizeof line, relay)) report += line;
  EXPECT_EQ(pclose(relay), 0);
  far.interrupt();
  echo.join();
  EXPECT_EQ(report.substr(0, report.find("relay timing")),
            "relay forward: in 20 out 20 dropped 0 burst-dropped 0 duplicated 0 reordered 0 "
            "blacked-out 0 overflow 0\n"
            "relay back: in 20 out 20 dropped 0 burst-dropped 0 duplicated 0 reordered 0 "
            "blacked-out 0 overflow 0\n");
  EXPECT_NE(report.find("relay timing: 40 packets sent, lateness median "), std::string::npos)
      << report;
  EXPECT_NE(report.find("; 2 callers\n"), std::string::npos) << report;
}

}  // namespace
}  // namespace mirandel::relay
