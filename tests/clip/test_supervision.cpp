// The supervision step: which host calls run it, what a flood of messages
// costs it, and the timed re-announce after an effect switch.
#include <functional>

#include "tests/clip/SessionFixture.h"

namespace mirandel::test {
namespace {

// A host that does not draw the clip only reads "Status" after the wake-up,
// asks for displays or reads "Device"; each must run the step, or the clip
// never takes up the phone's messages.
TEST_F(ClipTest, ReadsOfStatusDisplaysAndDeviceRunTheStep) {
  connectWithRack();
  const std::function<void()> reads[] = {
      [&] { clip_->GetTextParameter(param::kStatus); },
      [&] { clip_->GetParameterDisplay(20); },
      [&] { clip_->GetParameterDisplay(param::kLatency); },
      [&] { clip_->GetFloatParameter(param::kDevice); },
  };
  for (const auto& read : reads) {
    fromPhone("/mirandel/rec", {I(1)});  // raises value-changed on "Rec" each time
    read();
    EXPECT_EQ(takeEvents()[param::kRec], std::uint64_t{FF_EVENT_FLAG_VALUE});
  }
}

// Anyone can send "/mirandel/here". Each one rebuilt the "Device" menu from a
// fresh copy of the table: a thousand of them with a full table of long names
// held one host call for over a second. A burst must cost one look at the
// table per step, and a table that did not change no new menu at all.
TEST_F(ClipTest, ABurstOfAnnouncementsRebuildsTheDeviceMenuAtMostOncePerStep) {
  clip_->SetTextParameter(param::kPhoneIp, "10.0.0.99");  // typed: the step polls no devices
  for (int i = 0; i < 64; ++i)
    link_.devices.push_back(
        device(std::string(200, static_cast<char>('a' + i % 26)) + std::to_string(i),
               "10.0.1." + std::to_string(i), clock_.now()));
  takeEvents();
  auto burstThenStep = [&] {
    for (int i = 0; i < 1000; ++i) fromPhone("/mirandel/here", {S("forged")}, "10.9.9.9");
    step();
  };
  const int snapshots = link_.snapshots;
  burstThenStep();
  EXPECT_EQ(link_.snapshots - snapshots, 1);
  EXPECT_EQ(takeEvents()[param::kDevice], std::uint64_t{FF_EVENT_FLAG_ELEMENTS});
  EXPECT_EQ(elementNames(param::kDevice).size(), 64u);

  burstThenStep();
  EXPECT_EQ(link_.snapshots - snapshots, 2);
  EXPECT_EQ(takeEvents().count(param::kDevice), 0u);

  link_.devices[5].name = "Renamed";
  burstThenStep();
  EXPECT_EQ(elementNames(param::kDevice).at(5), "Renamed");
}

// Guards against a burst of replies holding one host call: 80 ordinary
// replies fit into the 4 MiB inbox and took 103 ms in one step. A step must
// take up only its share of describe work and leave the rest for the next
// steps, still in arrival order: a message sent after the burst is handled
// after all of it.
TEST_F(ClipTest, ABurstOfDescriptionsIsTakenUpOverSeveralStepsInOrder) {
  clip_->SetTextParameter(param::kPhoneIp, kPhone);
  const std::string rack = kRackJson;
  for (int k = 0; k < 80; ++k) {
    std::string reply = rack;
    reply.replace(reply.find("2.3"), 3, std::to_string(k));  // the version names the reply
    fromPhone("/mirandel/describe", {S(reply)});
  }
  fromPhone("/mirandel/rec", {I(1)});
  std::vector<std::size_t> installedPerStep;
  for (int steps = 0; steps < 80 && clip_->GetFloatParameter(param::kRec) == 0.0f; ++steps) {
    hostLines().clear();
    step();
    installedPerStep.push_back(hostLines().size());
  }
  ASSERT_GT(installedPerStep.size(), 1u);
  EXPECT_GT(installedPerStep[0], 0u);
  std::size_t installed = 0;
  for (std::size_t n : installedPerStep) installed += n;
  EXPECT_EQ(installed, 80u);
  EXPECT_EQ(clip_->statusText(), "Mirandel Cam  79  10.0.0.5");
  EXPECT_EQ(clip_->GetFloatParameter(param::kRec), 1.0f);
}

// After an effect switch the host pushes its stale values: for 1.5 s zoom,
// quality and slot writes are not sent (zoom and quality are stored, the
// slider keeps its value). Then, and only then, the host must be told once
// to read the bound values again.
TEST_F(ClipTest, AfterAnEffectSwitchStaleWritesAreDroppedAndValuesReannouncedOnce) {
  connectWithRack();
  clip_->SetFloatParameter(param::kEffect, 2.0f);  // Echo: Slot1 and two actions
  takeSent();
  advance(1 * kSecond);
  clip_->SetFloatParameter(param::kZoom, 0.5f);
  clip_->SetFloatParameter(param::kQuality, 0.0f);
  EXPECT_EQ(clip_->SetFloatParameter(22, 0.9f), FF_SUCCESS);  // Slot1: Echo's "decay"
  EXPECT_TRUE(takeSent().empty());
  EXPECT_FLOAT_EQ(clip_->GetFloatParameter(param::kZoom), 0.5f);
  EXPECT_FLOAT_EQ(clip_->GetFloatParameter(22), 0.5f);
  takeEvents();
  stepAfter(500 * kMillisecond - 1);
  EXPECT_EQ(takeEvents().count(22), 0u);
  stepAfter(1);
  auto events = takeEvents();
  EXPECT_EQ(events[22], std::uint64_t{FF_EVENT_FLAG_VALUE});
  EXPECT_EQ(events[param::kEffect], std::uint64_t{FF_EVENT_FLAG_VALUE});
  EXPECT_EQ(events.count(param::kHero), 0u);     // unbound
  EXPECT_EQ(events.count(param::kAction1), 0u);  // actions are not re-announced
  stepAfter(5 * kSecond);
  EXPECT_EQ(takeEvents().count(22), 0u);
  // Quality was stored, so writing it again sends nothing either.
  clip_->SetFloatParameter(param::kQuality, 0.0f);
  EXPECT_TRUE(link_.sentTo("/mirandel/stream/quality").empty());
}

}  // namespace
}  // namespace mirandel::test
