// The supervision step: which host calls run it, what a flood of messages
// costs it, and the timed re-announce after an effect switch.
#include <functional>

#include "tests/clip/SessionFixture.h"

namespace mirandel::test {
namespace {

// A host that does not draw the clip only reads "Status" after the wake-up,
// asks for displays or reads "Device"; each must run the step, or the clip
// never takes up the phone's messages.
TEST_F(SessionTest, ReadsOfStatusDisplaysAndDeviceRunTheStep) {
  connectWithRack();
  const std::function<void()> reads[] = {
      [&] { clip_->GetTextParameter(param::kStatus); },
      [&] { clip_->GetParameterDisplay(20); },
      [&] { clip_->GetParameterDisplay(param::kLatency); },
      [&] { clip_->GetFloatParameter(param::kDevice); },
  };
  int quality = 0;
  for (const auto& read : reads) {
    fromPhone("/mirandel/stream/quality", {I(quality)});
    read();
    EXPECT_EQ(clip_->GetFloatParameter(param::kQuality), static_cast<float>(quality));
    quality = (quality + 1) % 3;
  }
}

// Anyone can send "/mirandel/here". Each one rebuilt the "Device" menu from a
// fresh copy of the table: a thousand of them with a full table of long names
// held one host call for over a second. A burst must cost one look at the
// table per step, and a table that did not change no new menu at all.
TEST_F(SessionTest, ABurstOfAnnouncementsRebuildsTheDeviceMenuAtMostOncePerStep) {
  clip_->SetTextParameter(param::kPhoneIp, "10.0.0.99");  // typed: the step polls no devices
  for (int i = 0; i < 64; ++i)
    link_.devices.push_back(
        device(std::string(200, static_cast<char>('a' + i % 26)) + std::to_string(i),
               "10.0.1." + std::to_string(i), clock_.now()));
  takeEvents();
  auto burst = [&] {
    for (int i = 0; i < 1000; ++i) fromPhone("/mirandel/here", {S("forged")}, "10.9.9.9");
  };
  const int snapshots = link_.snapshots;
  burst();
  step();
  EXPECT_EQ(link_.snapshots - snapshots, 1);
  EXPECT_EQ(takeEvents()[param::kDevice], std::uint64_t{FF_EVENT_FLAG_ELEMENTS});
  EXPECT_EQ(elementNames(param::kDevice).size(), 64u);

  burst();
  step();
  EXPECT_EQ(link_.snapshots - snapshots, 2);
  EXPECT_EQ(takeEvents().count(param::kDevice), 0u);

  link_.devices[5].name = "Renamed";
  burst();
  step();
  EXPECT_EQ(elementNames(param::kDevice).at(5), "Renamed");
}

// After an effect switch the host pushes its stale values, which are ignored
// for 1.5 s; then, and only then, the host must be told once to read the
// bound values again.
TEST_F(SessionTest, BoundValuesAreReannouncedOnce1500msAfterAnEffectSwitch) {
  connectWithRack();
  clip_->SetFloatParameter(param::kEffect, 2.0f);  // Echo: Slot1 and two actions
  takeEvents();
  advance(1500 * kMillisecond - 1);
  step();
  EXPECT_EQ(takeEvents().count(22), 0u);
  advance(1);
  step();
  auto events = takeEvents();
  EXPECT_EQ(events[22], std::uint64_t{FF_EVENT_FLAG_VALUE});
  EXPECT_EQ(events[param::kEffect], std::uint64_t{FF_EVENT_FLAG_VALUE});
  EXPECT_EQ(events.count(param::kHero), 0u);     // unbound
  EXPECT_EQ(events.count(param::kAction1), 0u);  // actions are not re-announced
  advance(5 * kSecond);
  step();
  EXPECT_EQ(takeEvents().count(22), 0u);
}

}  // namespace
}  // namespace mirandel::test
