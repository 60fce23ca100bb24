// The clip's conversation with its phone and the mapping of the phone's rack,
// driven through a scripted link and a hand-driven clock.
#include <cmath>

#include "tests/clip/SessionFixture.h"

namespace mirandel::test {
namespace {

// A phone that just answered must not be connected to before it has been
// known for 400 ms; then the first device is adopted without user action.
TEST_F(SessionTest, ConnectsAutomaticallyOnceThePhoneHasBeenKnownFor400ms) {
  link_.devices = {device("Anna's phone", kPhone, clock_.now())};
  fromPhone("/mirandel/here", {S("Anna's phone")});
  step();
  EXPECT_EQ(elementNames(0), std::vector<std::string>{"Anna's phone"});
  EXPECT_EQ(clip_->phoneAddress(), "");
  advance(300 * kMillisecond);
  step();
  EXPECT_EQ(clip_->phoneAddress(), "");
  advance(260 * kMillisecond);  // the next device poll, 560 ms after the phone appeared
  step();
  EXPECT_EQ(clip_->phoneAddress(), kPhone);
  EXPECT_EQ(clip_->statusText(), "Connecting to 10.0.0.5\xE2\x80\xA6");
  EXPECT_FALSE(link_.searching(clip_->subscriptionId()));
  ASSERT_GE(link_.sent.size(), 2u);
  EXPECT_EQ(link_.sent[0].destination, kPhone);
  EXPECT_EQ(link_.sent[0].message, (ControlMessage{"/mirandel/describe", {S("rack"), I(900)}}));
  EXPECT_EQ(link_.sent[1].message, (ControlMessage{"/mirandel/stream/quality", {}}));
  EXPECT_EQ(hostLines().back(), "Mirandel: describe 10.0.0.5");
}

TEST_F(SessionTest, DevicesWithTheSameNameAreToldApartByAddress) {
  link_.devices = {device("iPhone", "10.0.0.5", clock_.now()),
                   device("iPhone", "10.0.0.6", clock_.now()),
                   device("iPad", "10.0.0.7", clock_.now())};
  clip_->SetTextParameter(1, "10.0.0.99");  // manual: no automatic connection
  fromPhone("/mirandel/here", {S("iPhone")});
  step();
  const std::vector<std::string> expected = {"iPhone  10.0.0.5", "iPhone  10.0.0.6", "iPad"};
  EXPECT_EQ(elementNames(0), expected);
  // Choosing a device connects to its best address.
  clip_->SetFloatParameter(0, 1.4f);
  EXPECT_EQ(clip_->phoneAddress(), "10.0.0.6");
}

// Probing while alone: not at once (creation counts as a probe), then every 3 s.
TEST_F(SessionTest, ProbesEveryThreeSecondsWhileNoPhoneIsConnected) {
  step();
  EXPECT_EQ(link_.probes, 0);
  advance(3 * kSecond);
  step();
  EXPECT_EQ(link_.probes, 0);
  advance(1);
  step();
  EXPECT_EQ(link_.probes, 1);
  advance(2 * kSecond);
  step();
  EXPECT_EQ(link_.probes, 1);
  clip_->SetTextParameter(1, kPhone);
  advance(10 * kSecond);
  step();
  EXPECT_EQ(link_.probes, 1);
}

TEST_F(SessionTest, ARackDescriptionFillsTheEffectMenuStatusAndHostParameters) {
  clip_->SetTextParameter(1, kPhone);
  link_.sent.clear();
  takeEvents();
  fromPhone("/mirandel/describe", {S(kRackJson)});
  step();

  EXPECT_EQ(elementNames(14), (std::vector<std::string>{"Grain", "Glow", "Echo"}));
  EXPECT_EQ(clip_->statusText(), "Mirandel Cam  2.3  10.0.0.5");
  EXPECT_EQ(hostLines().back(), "Mirandel: 3 effects from 10.0.0.5, 1 loading");
  const std::vector<ControlMessage> askedFor = {{"/mirandel/describe", {S("glow"), I(900)}}};
  EXPECT_EQ(link_.sentTo("/mirandel/describe"), askedFor);
  for (std::uint32_t i : {14u, 4u, 5u, 6u, 7u, 8u}) EXPECT_TRUE(param(i).visible) << i;

  struct Expect {
    std::uint32_t index;
    const char* displayName;
    float value;
  } shown[] = {
      {15, "Amount", 0.4f}, {16, "colour", 1.0f}, {17, "Shuffle", 0.0f}, {21, "Mode", 0.0f},
      {22, "Size", 0.2f},   {23, "Clump", 0.7f},  {58, "Reset", 0.0f},
  };
  for (const Expect& e : shown) {
    EXPECT_TRUE(param(e.index).visible) << e.index;
    EXPECT_EQ(param(e.index).displayName, e.displayName) << e.index;
    EXPECT_FLOAT_EQ(clip_->GetFloatParameter(e.index), e.value) << e.index;
  }
  int visibleRack = 0;
  for (std::uint32_t i = 15; i <= 61; ++i) visibleRack += param(i).visible;
  EXPECT_EQ(visibleRack, 7);
  EXPECT_EQ(elementNames(21), (std::vector<std::string>{"fine", "coarse"}));
}

// Large racks arrive in pieces, in any order; the clip must join them once.
TEST_F(SessionTest, ADescriptionInPiecesIsJoinedInIndexOrder) {
  clip_->SetTextParameter(1, kPhone);
  const std::string text = kRackJson;
  const std::size_t third = text.size() / 3;
  const std::string pieces[3] = {text.substr(0, third), text.substr(third, third),
                                 text.substr(2 * third)};
  for (int k : {2, 0}) fromPhone("/mirandel/describe/part", {I(7), I(3), I(k), S(pieces[k])});
  step();
  EXPECT_TRUE(clip_->effects().empty());
  // A piece of another transfer in between changes nothing.
  fromPhone("/mirandel/describe/part", {I(8), I(2), I(0), S("{")});
  fromPhone("/mirandel/describe/part", {S("7"), F(3.0f), I(1), S(pieces[1])});
  step();
  EXPECT_EQ(clip_->effects().size(), 3u);
}

TEST_F(SessionTest, MissingControlsAreAskedForAgainEveryThreeSeconds) {
  connectWithRack();
  advance(1 * kSecond + 1);  // 3 s after the request made on install
  step();
  EXPECT_EQ(link_.sentTo("/mirandel/describe").size(), 1u);
  // The single-effect answer merges by address and completes the rack.
  fromPhone("/mirandel/describe",
            {S(R"({"effects":[{"name":"Glow","address":"glow","params":[]}],"active":0})")});
  step();
  EXPECT_EQ(clip_->effects().size(), 3u);
  EXPECT_TRUE(clip_->effects()[1].controlsLoaded);
  EXPECT_EQ(hostLines().back(), "Mirandel: 3 effects from 10.0.0.5");
  link_.sent.clear();
  advance(10 * kSecond);
  step();
  EXPECT_TRUE(link_.sentTo("/mirandel/describe").empty());
}

// Every fixed parameter that talks to the phone sends exactly this.
TEST_F(SessionTest, FixedParametersSendTheirCommands) {
  connectWithRack();
  struct Case {
    std::uint32_t index;
    float value;
    ControlMessage expected;
  } cases[] = {
      {4, 1.0f, {"/mirandel/rec", {I(1)}}},
      {4, 0.0f, {"/mirandel/rec", {I(0)}}},
      {5, 1.0f, {"/mirandel/snap", {}}},
      {6, 1.0f, {"/mirandel/flip", {}}},
      {7, 0.25f, {"/mirandel/zoom", {F(1.0f)}}},
      {7, 1.0f, {"/mirandel/zoom", {F(8.0f)}}},
      {7, 0.0f, {"/mirandel/zoom", {F(0.5f)}}},
      {10, 2.0f, {"/mirandel/stream/quality", {I(2)}}},
      {14, 2.4f, {"/mirandel/patch", {S("echo")}}},
  };
  for (const Case& c : cases) {
    link_.sent.clear();
    EXPECT_EQ(clip_->SetFloatParameter(c.index, c.value), FF_SUCCESS);
    ASSERT_EQ(link_.sent.size(), 1u) << c.index;
    EXPECT_EQ(link_.sent[0].message, c.expected) << c.index;
  }
  link_.sent.clear();
  clip_->SetFloatParameter(5, 0.0f);  // releasing a button sends nothing
  clip_->SetFloatParameter(2, 1.0f);  // Rescan probes, it sends no command
  EXPECT_TRUE(link_.sent.empty());
  EXPECT_EQ(link_.probes, 1);
}

TEST_F(SessionTest, EffectSelectionRoundsAndIgnoresTheCurrentEffect) {
  connectWithRack();
  clip_->SetFloatParameter(14, 0.3f);
  EXPECT_TRUE(link_.sent.empty());
  clip_->SetFloatParameter(14, 1.6f);
  EXPECT_EQ(link_.sent.back().message, (ControlMessage{"/mirandel/patch", {S("echo")}}));
  EXPECT_EQ(clip_->currentEffect(), 2);
  link_.sent.clear();
  clip_->SetFloatParameter(14, 7.0f);
  clip_->SetFloatParameter(14, std::nanf(""));
  EXPECT_TRUE(link_.sent.empty());
  EXPECT_EQ(clip_->currentEffect(), 2);
}

// Zoom and quality writes right after an effect switch are the host replaying
// stale values; the level is kept but nothing is sent.
TEST_F(SessionTest, WritesRightAfterAnEffectSwitchAreNotSent) {
  connectWithRack();
  clip_->SetFloatParameter(14, 2.0f);
  link_.sent.clear();
  advance(1 * kSecond);
  clip_->SetFloatParameter(7, 0.5f);
  clip_->SetFloatParameter(10, 0.0f);
  EXPECT_EQ(clip_->SetFloatParameter(22, 0.9f), FF_SUCCESS);  // Slot1: Echo's "decay"
  EXPECT_TRUE(link_.sent.empty());
  EXPECT_FLOAT_EQ(clip_->GetFloatParameter(7), 0.5f);
  EXPECT_FLOAT_EQ(clip_->GetFloatParameter(22), 0.5f);  // the slider kept its value
  // Quality was stored, so writing it again sends nothing either.
  advance(1 * kSecond);
  clip_->SetFloatParameter(10, 0.0f);
  EXPECT_TRUE(link_.sent.empty());
}

TEST_F(SessionTest, SlotWritesSendToTheBoundControl) {
  connectWithRack();
  struct Case {
    std::uint32_t index;
    float value;
    ControlMessage expected;
  } cases[] = {
      {15, 0.75f, {"/mirandel/grain/amount", {F(0.75f)}}},
      {22, 0.1f, {"/mirandel/grain/size", {F(0.1f)}}},
      {16, 0.0f, {"/mirandel/grain/colour", {I(0)}}},
      {17, 1.0f, {"/mirandel/grain/randomize", {}}},
      {21, 1.0f, {"/mirandel/grain/mode", {S("coarse")}}},
      {58, 1.0f, {"/mirandel/grain/reset", {}}},
  };
  for (const Case& c : cases) {
    link_.sent.clear();
    EXPECT_EQ(clip_->SetFloatParameter(c.index, c.value), FF_SUCCESS) << c.index;
    ASSERT_EQ(link_.sent.size(), 1u) << c.index;
    EXPECT_EQ(link_.sent[0].message, c.expected) << c.index;
  }
  // An unchanged value is not re-sent; a hidden unbound slot stores only.
  link_.sent.clear();
  clip_->SetFloatParameter(22, 0.1f);
  clip_->SetFloatParameter(30, 0.6f);
  EXPECT_TRUE(link_.sent.empty());
  EXPECT_FLOAT_EQ(clip_->GetFloatParameter(30), 0.6f);
  // Indexes beyond the table only fail while an effect is current.
  EXPECT_EQ(clip_->SetFloatParameter(62, 1.0f), FF_FAIL);
}

// A quick toggle bound to an action behaves as a momentary button.
TEST_F(SessionTest, AQuickActionFiresOnceAndReadsBackAsOff) {
  connectWithRack();
  clip_->SetFloatParameter(17, 1.0f);
  EXPECT_EQ(link_.sent.size(), 1u);
  EXPECT_EQ(clip_->GetFloatParameter(17), 0.0f);
  EXPECT_EQ(takeEvents()[17], FF_EVENT_FLAG_VALUE);
  clip_->SetFloatParameter(17, 0.0f);
  EXPECT_EQ(link_.sent.size(), 1u);
}

// The phone's own changes must reach the host without a command echoed back.
TEST_F(SessionTest, PhoneChangesUpdateHostValuesWithoutEcho) {
  connectWithRack();
  fromPhone("/mirandel/grain/size", {F(0.9f)});
  fromPhone("/mirandel/grain/colour", {I(0)});
  fromPhone("/mirandel/echo/decay", {F(0.1f)});  // not the current effect
  step();
  EXPECT_FLOAT_EQ(clip_->GetFloatParameter(22), 0.9f);
  EXPECT_EQ(clip_->GetFloatParameter(16), 0.0f);
  auto events = takeEvents();
  EXPECT_EQ(events[22], FF_EVENT_FLAG_VALUE);
  EXPECT_EQ(events[16], FF_EVENT_FLAG_VALUE);
  EXPECT_DOUBLE_EQ(clip_->effects()[2].controls[0].normalized, static_cast<double>(0.1f));
  EXPECT_TRUE(link_.sent.empty());
  // The host echoing the new value back sends nothing either.
  clip_->SetFloatParameter(22, 0.9f);
  EXPECT_TRUE(link_.sent.empty());
}

// The phone echoes what the clip sent; an echo within 500 ms or within 0.004
// must not drag the host's slider back.
TEST_F(SessionTest, SliderEchoesOfTheLastSentValueAreIgnored) {
  connectWithRack();
  clip_->SetFloatParameter(22, 0.50f);
  fromPhone("/mirandel/grain/size", {F(0.30f)});  // stale value, arrives 0 ms later
  step();
  EXPECT_FLOAT_EQ(clip_->GetFloatParameter(22), 0.50f);
  advance(600 * kMillisecond);
  fromPhone("/mirandel/grain/size", {F(0.502f)});
  step();
  EXPECT_FLOAT_EQ(clip_->GetFloatParameter(22), 0.50f);
  fromPhone("/mirandel/grain/size", {F(0.6f)});
  step();
  EXPECT_FLOAT_EQ(clip_->GetFloatParameter(22), 0.6f);
}

// Changing the mode control re-maps the effect: the hero follows the mode.
TEST_F(SessionTest, AModeChangeFromThePhoneRemapsTheEffect) {
  connectWithRack();
  fromPhone("/mirandel/grain/mode", {S("coarse")});
  step();
  EXPECT_EQ(param(15).displayName, "Size");
  EXPECT_FLOAT_EQ(clip_->GetFloatParameter(15), 0.2f);
  // The same value again is no change.
  takeEvents();
  fromPhone("/mirandel/grain/mode", {S("coarse")});
  step();
  EXPECT_EQ(takeEvents().count(15), 0u);
}

TEST_F(SessionTest, AfterARelayoutSlidersWaitButTheOptionIsSent) {
  connectWithRack();
  clip_->SetFloatParameter(21, 1.0f);  // host picks "coarse": relayout requested
  step();
  link_.sent.clear();
  advance(100 * kMillisecond);
  clip_->SetFloatParameter(15, 0.33f);
  EXPECT_TRUE(link_.sent.empty());
  clip_->SetFloatParameter(21, 0.0f);
  EXPECT_EQ(link_.sent.size(), 1u);
}

TEST_F(SessionTest, APatchFromThePhoneSelectsThatEffectWithoutEcho) {
  connectWithRack();
  fromPhone("/mirandel/patch", {I(2)});
  step();
  EXPECT_EQ(clip_->currentEffect(), 2);
  EXPECT_EQ(clip_->GetFloatParameter(14), 2.0f);
  EXPECT_EQ(param(22).displayName, "Decay");
  EXPECT_FALSE(param(15).visible);  // Echo names no hero
  EXPECT_TRUE(link_.sent.empty());
  for (int bad : {2, 3, -1}) {
    fromPhone("/mirandel/patch", {I(bad)});
    step();
    EXPECT_EQ(clip_->currentEffect(), 2);
  }
}

TEST_F(SessionTest, StatusMessagesFormatTheFpsLine) {
  connectWithRack();
  struct Case {
    std::vector<ControlArg> args;
    const char* text;
  } cases[] = {
      {{F(29.97f), F(30), F(1.5f), F(1), I(0), I(0), I(0)}, "30.0 / 30 fps \xC2\xB7 degraded"},
      {{F(24), F(30), F(2), F(1), I(1), I(125), I(0)},
       "24.0 / 30 fps \xC2\xB7 DROPPING \xC2\xB7 REC 2:05"},
      {{F(30), ControlArg::ofKind(ArgKind::Nil), F(0), F(1), I(0), I(0), I(0)},
       "30.0 / 30 fps \xC2\xB7 ok"},
  };
  for (const Case& c : cases) {
    fromPhone("/mirandel/status", c.args);
    step();
    EXPECT_EQ(clip_->fpsText(), c.text);
    EXPECT_STREQ(clip_->GetTextParameter(8), c.text);
  }
  // Six arguments are not a status.
  fromPhone("/mirandel/status", {F(1), F(2), F(3), F(4), I(0), I(0)});
  step();
  EXPECT_EQ(clip_->fpsText(), cases[2].text);
}

TEST_F(SessionTest, StatusAdoptsThePhonesZoomUnlessItEchoesOurs) {
  connectWithRack();
  fromPhone("/mirandel/status", {F(30), F(30), F(0), F(8), I(0), I(0), I(0)});
  step();
  EXPECT_FLOAT_EQ(clip_->GetFloatParameter(7), 1.0f);
  EXPECT_TRUE(link_.sent.empty());
  clip_->SetFloatParameter(7, 0.25f);  // sends 1.0
  advance(800 * kMillisecond);
  fromPhone("/mirandel/status", {F(30), F(30), F(0), F(1.01f), I(1), I(0), I(0)});
  step();
  EXPECT_FLOAT_EQ(clip_->GetFloatParameter(7), 0.25f);
  EXPECT_EQ(clip_->GetFloatParameter(4), 1.0f);  // recording adopted
  fromPhone("/mirandel/status", {F(30), F(30), F(0), S("nan"), I(0), I(0), I(0)});
  step();
  EXPECT_FLOAT_EQ(clip_->GetFloatParameter(7), 0.25f);
}

// Until our zoom has reached the phone, its reports still carry the old
// factor; taking one within 700 ms of our send throws the host's zoom back.
TEST_F(SessionTest, AZoomReportWithin700msOfOurOwnSendIsNotTaken) {
  connectWithRack();
  clip_->SetFloatParameter(7, 0.5f);  // sends 2.0
  const std::vector<ControlArg> factorFour = {F(30), F(30), F(0), F(4), I(0), I(0), I(0)};
  advance(700 * kMillisecond - 1);
  fromPhone("/mirandel/status", factorFour);
  step();
  EXPECT_FLOAT_EQ(clip_->GetFloatParameter(7), 0.5f);
  advance(1);
  fromPhone("/mirandel/status", factorFour);
  step();
  EXPECT_FLOAT_EQ(clip_->GetFloatParameter(7), 0.75f);
}

TEST_F(SessionTest, QualityAndRecordingAndGrainFromThePhone) {
  connectWithRack();
  fromPhone("/mirandel/stream/quality", {I(5)});
  step();
  EXPECT_EQ(clip_->GetFloatParameter(10), 2.0f);
  EXPECT_EQ(takeEvents()[10], FF_EVENT_FLAG_VALUE);
  fromPhone("/mirandel/stream/quality", {I(2)});
  step();
  EXPECT_EQ(takeEvents().count(10), 0u);
  fromPhone("/mirandel/rec", {I(0)});
  step();
  EXPECT_EQ(takeEvents()[4], FF_EVENT_FLAG_VALUE);
  fromPhone("/mirandel/stream/grain/add", {F(0.2f)});
  step();
  EXPECT_FLOAT_EQ(clip_->grainAmount(), 0.2f);
  fromPhone("/mirandel/stream/grain/add", {F(-1)});
  step();
  EXPECT_EQ(clip_->grainAmount(), 0.0f);
  EXPECT_TRUE(link_.sent.empty());
}

// Only the connected phone may change the clip; any phone may announce itself.
TEST_F(SessionTest, MessagesFromOtherSendersAreIgnoredExceptDiscovery) {
  connectWithRack();
  fromPhone("/mirandel/status", {F(1), F(2), F(3), F(4), I(0), I(0), I(0)}, "10.0.0.66");
  fromPhone("/mirandel/patch", {I(2)}, "10.0.0.66");
  step();
  EXPECT_EQ(clip_->currentEffect(), 0);
  EXPECT_EQ(clip_->fpsText(), "\xE2\x80\x94");
  link_.devices = {device("Other", "10.0.0.66", clock_.now())};
  fromPhone("/mirandel/here", {S("Other")}, "10.0.0.66");
  step();
  EXPECT_EQ(elementNames(0), std::vector<std::string>{"Other"});
}

// A wired route appearing for the connected phone moves the connection to it.
TEST_F(SessionTest, MovesToABetterLinkWithALogLine) {
  DeviceRecord d = device("Anna", "192.168.1.20", clock_.now() - kSecond);
  link_.devices = {d};
  advance(1 * kSecond);
  step();
  ASSERT_EQ(clip_->phoneAddress(), "192.168.1.20");
  d.routes["169.254.3.3"] = RouteEntry{LinkKind::Wired, clock_.now()};
  d.bestAddress = "169.254.3.3";
  link_.devices = {d};
  advance(500 * kMillisecond);
  step();
  EXPECT_EQ(clip_->phoneAddress(), "192.168.1.20");  // checked at most once a second
  advance(600 * kMillisecond);
  step();
  EXPECT_EQ(clip_->phoneAddress(), "169.254.3.3");
  EXPECT_NE(std::find(hostLines().begin(), hostLines().end(),
                      "Mirandel: better link 192.168.1.20 \xE2\x86\x92 169.254.3.3"),
            hostLines().end());
  EXPECT_TRUE(clip_->effects().empty());
}

TEST_F(SessionTest, ATypedAddressNeverSwitchesLinks) {
  clip_->SetTextParameter(1, "192.168.1.20");
  DeviceRecord d = device("Anna", "169.254.3.3", clock_.now());
  d.routes["192.168.1.20"] = RouteEntry{LinkKind::Wifi, clock_.now()};
  link_.devices = {d};
  advance(5 * kSecond);
  step();
  EXPECT_EQ(clip_->phoneAddress(), "192.168.1.20");
}

// A reply that failed late used to install its effects and stop before
// re-mapping, leaving the current effect and the slots pointing at effects
// and controls that no longer existed: the next slot write read out of
// bounds. A reply that fails anywhere must change nothing but the status.
TEST_F(SessionTest, ADescriptionThatFailsAnywhereChangesNothingButTheStatus) {
  connectWithRack();
  clip_->SetFloatParameter(14, 2.0f);  // Echo: Slot1 is its "decay"
  advance(2 * kSecond);
  step();
  takeEvents();
  const char* replies[] = {
      "",
      "[1,2]",
      R"({"effects":[{"name":"B","address":"b","params":[]}, 7]})",
      // Would merge into the current effect, then fails on "name".
      R"({"effects":[{"name":"Echo","address":"echo","params":[]}],"name":5})",
      // Would replace the list with a shorter one, then fails on "version".
      R"({"effects":[{"name":"A","address":"a"}],"version":true})",
      R"({"effects":[{"name":"A","address":"a","params":[]}],"active":"x"})",
  };
  float value = 0.1f;
  for (const char* json : replies) {
    link_.sent.clear();
    fromPhone("/mirandel/describe", {S(json)});
    step();
    EXPECT_EQ(clip_->statusText(), "Bad describe reply") << json;
    auto events = takeEvents();
    events.erase(param::kPicture);  // the stream's own line may change meanwhile
    EXPECT_EQ(events,
              (std::map<std::uint32_t, std::uint64_t>{{param::kStatus, FF_EVENT_FLAG_VALUE}}))
        << json;
    EXPECT_EQ(elementNames(14), (std::vector<std::string>{"Grain", "Glow", "Echo"})) << json;
    ASSERT_EQ(clip_->effects().size(), 3u) << json;
    ASSERT_EQ(clip_->currentEffect(), 2) << json;
    ASSERT_EQ(clip_->effects()[2].controls.size(), 1u) << json;
    clip_->SetFloatParameter(22, value);
    const std::vector<ControlMessage> sent = {{"/mirandel/echo/decay", {F(value)}}};
    EXPECT_EQ(link_.sentTo("/mirandel/echo/decay"), sent) << json;
    value += 0.1f;
  }
}

// A shorter replacement list must not leave the current effect pointing past
// its end, where every later write would read out of bounds.
TEST_F(SessionTest, ACurrentEffectBeyondANewShorterListIsCleared) {
  connectWithRack();
  clip_->SetFloatParameter(14, 2.0f);
  ASSERT_EQ(clip_->currentEffect(), 2);
  fromPhone(
      "/mirandel/describe",
      {S(R"({"active":2,"effects":[{"name":"A","address":"a"},{"name":"B","address":"b"}]})")});
  step();
  EXPECT_EQ(clip_->currentEffect(), -1);
  EXPECT_EQ(clip_->SetFloatParameter(22, 0.5f), FF_SUCCESS);
}

// A reply that describes the current effect anew must map it again although
// the phone's active effect stayed the same; the slots would otherwise keep
// the labels and control numbers of the old description.
TEST_F(SessionTest, AReplyRenewingTheCurrentEffectMapsItAgain) {
  connectWithRack();
  fromPhone("/mirandel/describe", {S(R"({"active": 0, "effects": [{"name": "Grain",
      "address": "grain", "params": [{"field": "gain", "label": "Gain", "normalized": 0.3}]}]})")});
  step();
  EXPECT_EQ(clip_->currentEffect(), 0);
  EXPECT_FALSE(param(15).visible);  // "amount" is gone, and the hero with it
  EXPECT_EQ(param(22).displayName, "Gain");
  EXPECT_FLOAT_EQ(clip_->GetFloatParameter(22), 0.3f);
}

TEST_F(SessionTest, CommandsWithoutAPhoneAreDroppedButStateIsKept) {
  clip_->SetFloatParameter(4, 1.0f);
  clip_->SetFloatParameter(7, 0.5f);
  EXPECT_TRUE(link_.sent.empty());
  EXPECT_EQ(clip_->GetFloatParameter(4), 1.0f);
  EXPECT_FLOAT_EQ(clip_->GetFloatParameter(7), 0.5f);
}

}  // namespace
}  // namespace mirandel::test
