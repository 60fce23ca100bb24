// The clip's conversation with its phone, the mapping of its rack and the
// supervision step, through a scripted link and a hand-driven clock.
#include <functional>
#include <numeric>
#include <tuple>
#include <utility>

#include "rack/RackParser.h"
#include "tests/clip/SessionFixture.h"

namespace mirandel::test {
namespace {

// Guards the automatic connection: probes every 3 s, no phone known under 400 ms
// taken, then probing stopped, and a wired route looked for once a second.
TEST_F(ClipTest, ProbesConnectsAfter400msAndMovesToABetterLink) {
  step();
  for (const auto& [after, probes] : {std::pair{3 * kSecond, 0}, {1, 1}, {2 * kSecond, 1}}) {
    stepAfter(after);
    EXPECT_EQ(link_.probes, probes) << after;
  }

  link_.devices = {device("Anna's phone", kPhone, clock_.now())};
  receive("/mirandel/here", {S("Anna's phone")});
  stepAfter(300 * kMillisecond);
  EXPECT_EQ(clip_->phoneAddress(), "");
  stepAfter(260 * kMillisecond);  // the next device poll, 560 ms after the phone appeared
  EXPECT_EQ(std::tuple(clip_->phoneAddress(), clip_->statusText(),
                       link_.searching(clip_->subscriptionId()), link_.sent.at(0).destination),
            std::tuple(kPhone, "Connecting to 10.0.0.5\xE2\x80\xA6", false, kPhone));
  EXPECT_EQ(takeSent(), (Messages{{"/mirandel/describe", {S("rack"), I(900)}},
                                  {"/mirandel/stream/quality", {}}}));

  link_.devices[0].routes["169.254.3.3"] = RouteEntry{LinkKind::Wired, clock_.now()};
  link_.devices[0].bestAddress = "169.254.3.3";
  stepAfter(500 * kMillisecond);
  EXPECT_EQ(clip_->phoneAddress(), kPhone);
  stepAfter(600 * kMillisecond);
  EXPECT_EQ(clip_->phoneAddress(), "169.254.3.3");
  stepAfter(5 * kSecond);
  EXPECT_EQ(link_.probes, 1);
}

// Guards the first reply: its pieces joined in index order whatever their number
// kinds; the request for effects still loading, and exactly the active effect's
// host parameters (its menu, Status and log line are read end to end). Then
// against a burst of replies holding one host call (80 took 103 ms): a step takes
// its share of describe work, the rest later, in arrival order.
TEST_F(ClipTest, ARackDescriptionInPiecesFillsTheHostParametersAndABurstIsTakenUpOverSteps) {
  clip_->SetTextParameter(param::kPhoneIp, kPhone);
  takeSent();
  fromPhone("/mirandel/describe/part", {I(7), I(2), I(1), S(kRackJson + 100)});
  receive("/mirandel/describe/part", {S("7"), F(2.0f), I(0), S(std::string(kRackJson, 100))});

  EXPECT_EQ(link_.sentTo("/mirandel/describe"),
            (Messages{{"/mirandel/describe", {S("glow"), I(900)}}}));
  for (std::uint32_t i : {14u, 4u, 5u, 6u, 7u, 8u}) EXPECT_TRUE(param(i).visible) << i;

  const std::tuple<std::uint32_t, const char*, float> shown[] = {
      {15, "Amount", 0.4f}, {16, "colour", 1.0f}, {17, "Shuffle", 0.0f}, {21, "Mode", 0.0f},
      {22, "Size", 0.2f},   {23, "Clump", 0.7f},  {58, "Reset", 0.0f}};
  for (const auto& [index, displayName, value] : shown) {
    EXPECT_TRUE(param(index).visible) << index;
    EXPECT_EQ(param(index).displayName, displayName) << index;
    EXPECT_FLOAT_EQ(clip_->GetFloatParameter(index), value) << index;
  }
  int visibleRack = 0;
  for (std::uint32_t i = 15; i <= 61; ++i) visibleRack += param(i).visible;
  EXPECT_EQ(visibleRack, 7);
  EXPECT_EQ(elementNames(21), (std::vector<std::string>{"fine", "coarse"}));

  for (int k = 0; k < 80; ++k) {
    std::string reply = kRackJson;
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
  EXPECT_EQ(std::accumulate(installedPerStep.begin(), installedPerStep.end(), std::size_t{0}), 80u);
  EXPECT_EQ(clip_->statusText(), "Mirandel Cam  79  10.0.0.5");
  EXPECT_EQ(clip_->GetFloatParameter(param::kRec), 1.0f);
}

// Guards the re-request every 3 s of effects without controls, until merged; the
// re-map on the host's mode change (hero follows the mode; the phone's is followed
// end to end), dropping stale slider writes for 300 ms while still sending option
// writes, and no event for a mode the phone repeats; and the re-map of a
// renewed current effect (the slots kept the old labels). Then against the
// host's stale values after an effect switch: none sent for 1.5 s, then the bound
// values re-announced once; and against a reply failing late: it installed
// effects without re-mapping, and the next slot write read out of bounds.
TEST_F(ClipTest, TheRackIsMappedAgainOnEveryChangeAndABadDescriptionChangesNothing) {
  connectWithRack();
  stepAfter(1 * kSecond + 1);  // 3 s after the request made on install
  EXPECT_EQ(link_.sentTo("/mirandel/describe").size(), 1u);
  receive("/mirandel/describe",
          {S(R"({"effects":[{"name":"Glow","address":"glow","params":[]}],"active":0})")});
  EXPECT_EQ(hostLines().back(), "Mirandel: 3 effects from 10.0.0.5");

  receive("/mirandel/grain/mode", {S("coarse")});
  takeEvents();
  receive("/mirandel/grain/mode", {S("coarse")});
  EXPECT_EQ(takeEvents().count(15), 0u);
  advance(100 * kMillisecond);
  link_.sent.clear();
  clip_->SetFloatParameter(15, 0.33f);
  clip_->SetFloatParameter(21, 0.0f);
  EXPECT_EQ(takeSent(), (Messages{{"/mirandel/grain/mode", {S("fine")}}}));
  step();
  EXPECT_EQ(param(15).displayName, "Amount");

  receive("/mirandel/describe", {S(R"({"active": 0, "effects": [{"name": "Grain",
      "address": "grain", "params": [{"field": "gain", "label": "Gain", "normalized": 0.3}]}]})")});
  // "amount" is gone, and the hero with it.
  EXPECT_EQ(std::tuple(clip_->currentEffect(), param(15).visible, param(22).displayName),
            std::tuple(0, false, "Gain"));
  EXPECT_FLOAT_EQ(clip_->GetFloatParameter(22), 0.3f);
  link_.sent.clear();
  stepAfter(10 * kSecond);
  EXPECT_TRUE(link_.sentTo("/mirandel/describe").empty());

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
  // Not the unbound Hero, nor actions, which are not re-announced.
  auto reannounced = takeEvents();
  EXPECT_EQ(std::tuple(reannounced[22], reannounced[param::kEffect],
                       reannounced.count(param::kHero), reannounced.count(param::kAction1)),
            std::tuple(FF_EVENT_FLAG_VALUE, FF_EVENT_FLAG_VALUE, 0u, 0u));
  stepAfter(5 * kSecond);
  EXPECT_EQ(takeEvents().count(22), 0u);
  // Quality was stored, so writing it again sends nothing either.
  clip_->SetFloatParameter(param::kQuality, 0.0f);
  EXPECT_TRUE(link_.sentTo("/mirandel/stream/quality").empty());

  // Would merge into the current effect, then fails on "name"; then one effect too many, and
  // a description a byte too long.
  std::vector<std::string> replies = {
      R"({"effects":[{"name":"Echo","address":"echo","params":[]}],"name":5})"};
  std::string many = R"({"effects":[{})";
  for (std::size_t i = 0; i < kMaxRackEffects; ++i) many += R"(,{"name":"A","address":"a"})";
  replies.push_back(many + "]}");
  replies.push_back(R"({"effects":[{"name":")" + std::string(kMaxDescriptionBytes, 'x') +
                    R"(","address":"a"}]})");
  float value = 0.1f;
  for (const std::string& reply : replies) {
    SCOPED_TRACE(reply.substr(0, 80));
    receive("/mirandel/describe", {S(reply)});
    EXPECT_EQ(clip_->statusText(), "Bad describe reply");
    auto events = takeEvents();
    events.erase(param::kPicture);  // the stream's own line may change meanwhile
    EXPECT_EQ(events,
              (std::map<std::uint32_t, std::uint64_t>{{param::kStatus, FF_EVENT_FLAG_VALUE}}));
    ASSERT_EQ(std::tuple(clip_->effects().size(), clip_->currentEffect(),
                         clip_->effects().at(2).controls.size()),
              std::tuple(3u, 2, 1u));
    takeSent();
    clip_->SetFloatParameter(22, value);
    EXPECT_EQ(takeSent(), (Messages{{"/mirandel/echo/decay", {F(value)}}}));
    value += 0.1f;
  }
  receive("/mirandel/describe",
          {S(R"({"active":2,"effects":[{"name":"A","address":"a"},{"name":"B","address":"b"}]})")});
  EXPECT_EQ(clip_->currentEffect(), -1);
  EXPECT_EQ(clip_->SetFloatParameter(22, 0.5f), FF_SUCCESS);
}

// Guards against repeated button writes (held for 30 frames sent 30 actions):
// one command per press, a new press after a release or a 250 ms pause, and the
// button reading back released. Then each host write's command and silence where
// none is due; a quick toggle bound to an action fires once and reads back as
// off. Then a host that does not draw the clip: its reads of Status, displays and
// Device must run the step, or the phone's messages are never taken up.
TEST_F(ClipTest, EachHostWriteOrPressSendsItsCommandOnceAndHostReadsRunTheStep) {
  connectWithRack();  // Grain is current
  constexpr Nanos ms = kMillisecond;
  using Write = std::pair<Nanos, float>;  // after the write before, the value
  std::vector<Write> held30Frames(30, Write{16 * ms, 1.0f});
  held30Frames.push_back({16 * ms, 0.0f});
  const std::tuple<const char*, std::vector<Write>, std::size_t> gestures[] = {
      {"held for 30 frames at 60 Hz", held30Frames, 1},
      {"held by a host drawing at 5 Hz", {{0, 1.0f}, {200 * ms, 1.0f}, {200 * ms, 1.0f}}, 1},
      {"one click as two calls", {{0, 1.0f}, {0, 1.0f}, {16 * ms, 0.0f}}, 1},
      {"pressed, released, pressed", {{0, 1.0f}, {16 * ms, 0.0f}, {16 * ms, 1.0f}}, 2},
      {"two clicks without releases 300 ms apart", {{0, 1.0f}, {300 * ms, 1.0f}}, 2}};
  const std::pair<std::uint32_t, const char*> buttons[] = {{58, "/mirandel/grain/reset"},
                                                           {17, "/mirandel/grain/randomize"},
                                                           {param::kSnap, "/mirandel/snap"},
                                                           {param::kFlipCamera, "/mirandel/flip"}};
  for (const auto& [index, address] : buttons) {
    for (const auto& [gesture, writes, presses] : gestures) {
      SCOPED_TRACE(std::string(address) + ", " + gesture);
      for (const auto& [after, value] : writes) {
        advance(after);
        clip_->SetFloatParameter(index, value);
      }
      EXPECT_EQ(takeSent(), Messages(presses, ControlMessage{address, {}}));
      EXPECT_EQ(clip_->GetFloatParameter(index), 0.0f);  // a button reads back released
      clip_->SetFloatParameter(index, 0.0f);
      advance(kSecond);
    }
  }

  // Indexes beyond the table only fail while an effect is current.
  EXPECT_EQ(clip_->SetFloatParameter(62, 1.0f), FF_FAIL);
  const std::tuple<std::uint32_t, float, Messages, float> cases[] = {
      {15, 0.75f, {{"/mirandel/grain/amount", {F(0.75f)}}}, 0.75f},
      {22, 0.1f, {{"/mirandel/grain/size", {F(0.1f)}}}, 0.1f},
      {22, 0.1f, {}, 0.1f},
      {16, 0.0f, {{"/mirandel/grain/colour", {I(0)}}}, 0.0f},
      {17, 1.0f, {{"/mirandel/grain/randomize", {}}}, 0.0f},
      {17, 0.0f, {}, 0.0f},
      {21, 1.0f, {{"/mirandel/grain/mode", {S("coarse")}}}, 1.0f},
      {30, 0.6f, {}, 0.6f},
      {4, 1.0f, {{"/mirandel/rec", {I(1)}}}, 1.0f},
      {4, 0.0f, {{"/mirandel/rec", {I(0)}}}, 0.0f},
      {2, 1.0f, {}, 0.0f},
      {7, 0.25f, {{"/mirandel/zoom", {F(1.0f)}}}, 0.25f},
      {7, 1.0f, {{"/mirandel/zoom", {F(8.0f)}}}, 1.0f},
      {7, 0.0f, {{"/mirandel/zoom", {F(0.5f)}}}, 0.0f},
      {10, 2.0f, {{"/mirandel/stream/quality", {I(2)}}}, 2.0f},
      {10, 2.2f, {}, 2.0f},
      {14, 0.3f, {}, 0.3f},
      {14, 1.6f, {{"/mirandel/patch", {S("echo")}}}, 1.6f}};
  for (const auto& [index, value, expected, readBack] : cases) {
    EXPECT_EQ(clip_->SetFloatParameter(index, value), FF_SUCCESS) << index;
    EXPECT_EQ(takeSent(), expected) << index << " " << value;
    EXPECT_FLOAT_EQ(clip_->GetFloatParameter(index), readBack) << index << " " << value;
    // The host's quick toggle is told to fall back to off.
    if (index == 17) {
      EXPECT_EQ(takeEvents()[17], value ? std::uint64_t{FF_EVENT_FLAG_VALUE} : 0u);
    }
  }
  EXPECT_EQ(link_.probes, 1);
  EXPECT_EQ(clip_->currentEffect(), 2);
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

// Guards against echoes: the phone's changes reach the host without a command
// back, and its echo of ours (within 500 ms or 0.004) keeps the host's slider;
// and against network numbers outside a slider's range (the host got 1.84):
// positions are held to 0..1, and a non-number leaves the position as it was.
// Then against other senders steering the clip, and the phone's quality (at most
// 2, event on change), recording, grain (never negative) and patch; the FPS line,
// and the host's zoom against being thrown back by reports within 700 ms of our
// send, within 0.02 of it, or without a number.
TEST_F(ClipTest, PhoneMessagesReachTheHostWithinRangeFromTheConnectedPhoneOnlyWithoutEchoes) {
  connectWithRack();
  fromPhone("/mirandel/grain/size", {F(0.9f)});
  fromPhone("/mirandel/grain/colour", {I(0)});
  receive("/mirandel/echo/decay", {F(0.1f)});  // not the current effect
  EXPECT_FLOAT_EQ(clip_->GetFloatParameter(22), 0.9f);
  EXPECT_EQ(clip_->GetFloatParameter(16), 0.0f);
  auto events = takeEvents();
  EXPECT_EQ(std::tuple(events[22], events[16]),
            std::tuple(FF_EVENT_FLAG_VALUE, FF_EVENT_FLAG_VALUE));
  EXPECT_DOUBLE_EQ(clip_->effects()[2].controls[0].normalized, static_cast<double>(0.1f));
  clip_->SetFloatParameter(22, 0.9f);
  EXPECT_TRUE(takeSent().empty());

  clip_->SetFloatParameter(22, 0.50f);
  receive("/mirandel/grain/size", {F(0.30f)});  // stale value, arrives 0 ms later
  EXPECT_FLOAT_EQ(clip_->GetFloatParameter(22), 0.50f);
  advance(600 * kMillisecond);
  receive("/mirandel/grain/size", {F(0.502f)});
  EXPECT_FLOAT_EQ(clip_->GetFloatParameter(22), 0.50f);
  receive("/mirandel/grain/size", {F(0.6f)});
  EXPECT_FLOAT_EQ(clip_->GetFloatParameter(22), 0.6f);

  const std::pair<ControlArg, float> positions[] = {
      {F(1.84f), 1.0f}, {F(-2.0f), 0.0f}, {S("0.25"), 0.25f}, {S("nan"), 0.25f}, {S("1e40"), 1.0f}};
  for (const auto& [sent, shown] : positions) {
    receive("/mirandel/grain/size", {sent});
    EXPECT_EQ(clip_->GetFloatParameter(22), shown) << sent.text << sent.floatValue;
  }
  receive("/mirandel/describe", {S(R"({"effects": [{"name": "Grain", "address": "grain",
      "hero": "amount", "params": [{"field": "amount", "normalized": 7.5}]}]})")});
  EXPECT_EQ(clip_->GetFloatParameter(15), 1.0f);

  link_.sent.clear();
  fromPhone("/mirandel/status", statusArgs(F(8)), "10.0.0.66");
  fromPhone("/mirandel/patch", {I(2)}, "10.0.0.66");
  receive("/mirandel/stream/quality", {I(2)}, "10.0.0.66");
  EXPECT_EQ(std::tuple(clip_->currentEffect(), clip_->fpsText(), clip_->GetFloatParameter(10)),
            std::tuple(0, text::kDash, 1.0f));

  receive("/mirandel/stream/quality", {I(5)});
  EXPECT_EQ(clip_->GetFloatParameter(10), 2.0f);
  EXPECT_EQ(takeEvents()[10], FF_EVENT_FLAG_VALUE);
  receive("/mirandel/stream/quality", {I(2)});
  EXPECT_EQ(takeEvents().count(10), 0u);
  receive("/mirandel/rec", {I(0)});
  EXPECT_EQ(takeEvents()[4], FF_EVENT_FLAG_VALUE);
  receive("/mirandel/stream/grain/add", {F(0.2f)});
  EXPECT_FLOAT_EQ(clip_->grainAmount(), 0.2f);
  receive("/mirandel/stream/grain/add", {F(-1)});
  EXPECT_EQ(clip_->grainAmount(), 0.0f);
  receive("/mirandel/patch", {I(2)});
  for (int bad : {2, 3, -1}) {
    receive("/mirandel/patch", {I(bad)});
    EXPECT_EQ(clip_->currentEffect(), 2);
  }
  EXPECT_TRUE(link_.sent.empty());

  stepAfter(2 * kSecond);  // past the window after the effect switch
  link_.sent.clear();      // the request for Glow's controls, due again
  const std::pair<std::vector<ControlArg>, const char*> statuses[] = {
      {{F(29.97f), F(30), F(1.5f), F(1), I(0), I(0), I(0)}, "30.0 / 30 fps \xC2\xB7 degraded"},
      {{F(24), F(30), F(2), F(1), I(1), I(125), I(0)},
       "24.0 / 30 fps \xC2\xB7 DROPPING \xC2\xB7 REC 2:05"},
      {{F(30), kNil, F(0), F(1), I(0), I(0), I(0)}, "30.0 / 30 fps \xC2\xB7 ok"}};
  for (const auto& [args, text] : statuses) {
    receive("/mirandel/status", args);
    EXPECT_STREQ(clip_->GetTextParameter(8), text);
  }
  receive("/mirandel/status", {F(1), F(2), F(3), F(4), I(0), I(0)});
  EXPECT_EQ(clip_->fpsText(), statuses[2].second);

  receive("/mirandel/status", statusArgs(F(8)));
  EXPECT_FLOAT_EQ(clip_->GetFloatParameter(7), 1.0f);
  EXPECT_TRUE(takeSent().empty());
  clip_->SetFloatParameter(7, 0.5f);  // sends 2.0
  advance(700 * kMillisecond - 1);
  receive("/mirandel/status", statusArgs(F(4)));
  EXPECT_FLOAT_EQ(clip_->GetFloatParameter(7), 0.5f);
  advance(1);
  receive("/mirandel/status", statusArgs(F(4)));
  EXPECT_FLOAT_EQ(clip_->GetFloatParameter(7), 0.75f);

  clip_->SetFloatParameter(7, 0.25f);  // sends 1.0
  advance(800 * kMillisecond);
  receive("/mirandel/status", statusArgs(F(1.01f), 1));
  EXPECT_FLOAT_EQ(clip_->GetFloatParameter(7), 0.25f);
  EXPECT_EQ(clip_->GetFloatParameter(4), 1.0f);  // recording taken
  receive("/mirandel/status", statusArgs(S("nan")));
  EXPECT_FLOAT_EQ(clip_->GetFloatParameter(7), 0.25f);
}

// Guards against forged "/mirandel/here" bursts: each rebuilt the Device menu,
// and a thousand held one host call for over a second. Then the Device menu:
// phones of one name are told apart by address, and a typed address turns
// automatic choice off (no connection, no better link).
TEST_F(ClipTest, TheDeviceMenuIsRebuiltAtMostOncePerStepTellsPhonesApartAndKeepsATypedAddress) {
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
  EXPECT_EQ(std::tuple(link_.snapshots - snapshots, takeEvents()[param::kDevice],
                       elementNames(param::kDevice).size()),
            std::tuple(1, FF_EVENT_FLAG_ELEMENTS, 64u));

  burstThenStep();
  EXPECT_EQ(link_.snapshots - snapshots, 2);
  EXPECT_EQ(takeEvents().count(param::kDevice), 0u);

  link_.devices[5].name = "Renamed";
  burstThenStep();
  EXPECT_EQ(elementNames(param::kDevice).at(5), "Renamed");

  clip_->SetTextParameter(param::kPhoneIp, "192.168.1.20");
  link_.devices = {device("iPhone", "10.0.0.5", clock_.now()),
                   device("iPhone", "10.0.0.6", clock_.now()),
                   device("iPad", "169.254.3.3", clock_.now())};
  link_.devices[2].routes["192.168.1.20"] = RouteEntry{LinkKind::Wifi, clock_.now()};
  receive("/mirandel/here", {S("iPhone")});
  EXPECT_EQ(elementNames(0),
            (std::vector<std::string>{"iPhone  10.0.0.5", "iPhone  10.0.0.6", "iPad"}));
  stepAfter(5 * kSecond);
  EXPECT_EQ(clip_->phoneAddress(), "192.168.1.20");
  clip_->SetFloatParameter(0, 1.4f);
  EXPECT_EQ(clip_->phoneAddress(), "10.0.0.6");
}

}  // namespace
}  // namespace mirandel::test
