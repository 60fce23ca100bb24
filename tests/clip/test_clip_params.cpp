// The clip's fixed parameter table, its reads and its text writes, the
// limits every host write is held to, and each clip's own answer buffers.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "tests/clip/SessionFixture.h"

namespace mirandel::test {
namespace {

class ClipParams : public ClipTest {};

// Hosts report parameter events in list order, so the registration order is
// part of the interface.
TEST_F(ClipParams, ParametersAreRegisteredInTheHostVisibleOrder) {
  std::vector<FFUInt32> expected = {0, 1, 2, 3, 14, 4, 5, 6, 7, 8};
  for (FFUInt32 i = 15; i <= 61; ++i) expected.push_back(i);
  for (FFUInt32 i = 9; i <= 13; ++i) expected.push_back(i);
  std::vector<FFUInt32> actual;
  for (const ParamInfo& p : clip_->Params()) actual.push_back(p.id);
  EXPECT_EQ(actual, expected);
}

TEST_F(ClipParams, FixedParametersHaveTheirNamesTypesDefaultsAndGroups) {
  struct Row {
    FFUInt32 index;
    const char* name;
    FFUInt32 type;
    float defaultValue;
    const char* defaultText;
    const char* group;
  } rows[] = {
      {0, "Device", FF_TYPE_OPTION, 0, "", "Connection"},
      {1, "Phone IP", FF_TYPE_TEXT, 0, "", "Connection"},
      {2, "Rescan", FF_TYPE_EVENT, 0, "", "Connection"},
      {3, "Status", FF_TYPE_TEXT, 0, "Searching\xE2\x80\xA6", "Connection"},
      {4, "Rec", FF_TYPE_BOOLEAN, 0, "", ""},
      {5, "Snap", FF_TYPE_EVENT, 0, "", ""},
      {6, "Flip camera", FF_TYPE_EVENT, 0, "", ""},
      {7, "Zoom", FF_TYPE_STANDARD, 0.25f, "", ""},
      {8, "FPS", FF_TYPE_TEXT, 0, "\xE2\x80\x94", ""},
      {9, "Fit", FF_TYPE_OPTION, 0, "", "Picture"},
      {10, "Quality", FF_TYPE_OPTION, 1, "", "Picture"},
      {11, "Latency", FF_TYPE_STANDARD, 1.0f / 24.0f, "", "Picture"},
      {12, "Reconnect", FF_TYPE_EVENT, 0, "", "Picture"},
      {13, "Picture", FF_TYPE_TEXT, 0, "\xE2\x80\x94", "Picture"},
      {14, "Effect", FF_TYPE_OPTION, 0, "", ""},
      {15, "Hero", FF_TYPE_STANDARD, 0, "", ""},
      {16, "Quick1", FF_TYPE_BOOLEAN, 0, "", ""},
      {20, "Quick5", FF_TYPE_BOOLEAN, 0, "", ""},
      {21, "Option1", FF_TYPE_OPTION, 0, "", "Tune"},
      {22, "Slot1", FF_TYPE_STANDARD, 0, "", "Tune"},
      {25, "Switch1", FF_TYPE_BOOLEAN, 0, "", "Tune"},
      {54, "Slot25", FF_TYPE_STANDARD, 0, "", "Tune"},
      {56, "Slot27", FF_TYPE_STANDARD, 0, "", "Tune"},
      {57, "Switch9", FF_TYPE_BOOLEAN, 0, "", "Tune"},
      {58, "Action1", FF_TYPE_EVENT, 0, "", "Tune"},
      {61, "Action4", FF_TYPE_EVENT, 0, "", "Tune"},
  };
  ASSERT_EQ(clip_->GetNumParams(), 62u);
  for (const Row& r : rows) {
    const ParamInfo* p = clip_->FindParamInfo(r.index);
    ASSERT_NE(p, nullptr) << r.index;
    EXPECT_EQ(p->name, r.name) << r.index;
    EXPECT_EQ(p->type, r.type) << r.index;
    EXPECT_EQ(p->defaultValue, r.defaultValue) << r.index;
    EXPECT_EQ(p->defaultText, r.defaultText) << r.index;
    EXPECT_EQ(p->group, r.group) << r.index;
  }
}

TEST_F(ClipParams, OptionListsCarryTheirUtf8Texts) {
  auto names = [&](FFUInt32 i) {
    std::vector<std::string> out;
    for (const ParamElement& e : clip_->FindParamInfo(i)->elements) out.push_back(e.name);
    return out;
  };
  EXPECT_EQ(names(0), std::vector<std::string>{"Searching\xE2\x80\xA6"});
  EXPECT_EQ(names(14), std::vector<std::string>{"\xE2\x80\x94"});
  EXPECT_EQ(names(21), std::vector<std::string>{"\xE2\x80\x94"});
  EXPECT_EQ(names(9), (std::vector<std::string>{"Fit", "Fill", "Stretch"}));
  EXPECT_EQ(names(10), (std::vector<std::string>{"720p \xC2\xB7 8 Mb/s", "1080p \xC2\xB7 16 Mb/s",
                                                 "1080p \xC2\xB7 32 Mb/s"}));
  EXPECT_EQ(clip_->FindParamInfo(10)->elements[2].value, 2.0f);
}

// After construction the host must learn that all 47 generic parameters are
// hidden, while the phone-only fixed ones are hidden silently.
TEST_F(ClipParams, NewClipReportsVisibilityEventsForTheRackParametersOnly) {
  for (const ParamInfo& p : clip_->Params()) {
    const bool rack = p.id >= 15;
    const bool silentlyHidden = p.id == 14 || (p.id >= 4 && p.id <= 8);
    EXPECT_EQ(p.pendingEvents.peek(),
              rack ? std::uint64_t{FF_EVENT_FLAG_VISIBILITY} : std::uint64_t{0})
        << p.id;
    EXPECT_EQ(p.visible, !(rack || silentlyHidden)) << p.id;
  }
  EXPECT_EQ(hostLines(), std::vector<std::string>{"Mirandel: created, probing for phones"});
}

// The clip searches from birth and must stop being woken once destroyed.
TEST_F(ClipParams, SubscribesSearchingAndUnsubscribesOnDestruction) {
  EXPECT_EQ(link_.subscribers(), 1u);
  EXPECT_TRUE(link_.searching(clip_->subscriptionId()));
  link_.deliver({"10.0.0.9", "/mirandel/anything", {}});
  EXPECT_EQ(clip_->FindParamInfo(3)->pendingEvents.peek(), FF_EVENT_FLAG_VALUE);
  clip_.reset();
  EXPECT_EQ(link_.subscribers(), 0u);
}

TEST_F(ClipParams, SlotMapAndTuneOrder) {
  EXPECT_EQ(clip_->slotOf(15).kind, SlotKind::Slider);
  EXPECT_EQ(clip_->slotOf(15).slot, 0);
  EXPECT_EQ(clip_->slotOf(20).kind, SlotKind::Toggle);
  EXPECT_EQ(clip_->slotOf(20).slot, 4);
  EXPECT_EQ(clip_->slotOf(56).slot, 27);
  EXPECT_EQ(clip_->slotOf(57).kind, SlotKind::Toggle);
  EXPECT_EQ(clip_->slotOf(57).slot, 13);
  EXPECT_EQ(clip_->slotOf(61).kind, SlotKind::Action);
  EXPECT_EQ(clip_->slotOf(61).slot, 3);
  EXPECT_EQ(clip_->slotOf(3).kind, SlotKind::None);
  EXPECT_EQ(clip_->slotOf(3).slot, -1);
  EXPECT_EQ(clip_->slotOf(62).kind, SlotKind::None);
  const auto& tune = clip_->tuneOrder();
  ASSERT_EQ(tune.size(), 37u);
  EXPECT_EQ(tune[0].kind, SlotKind::Option);
  EXPECT_EQ(tune[1].slot, 1);
  EXPECT_EQ(tune[4].kind, SlotKind::Toggle);
  EXPECT_EQ(tune[4].slot, 5);
  EXPECT_EQ(tune[36].slot, 13);
}

// The declared defaults, which the host shows and resets to, and the clip's
// own starting state are written in two places; they must agree.
TEST_F(ClipParams, EveryParameterReadsItsDeclaredDefaultAfterConstruction) {
  for (const ParamInfo& p : clip_->Params()) {
    if (p.type == FF_TYPE_TEXT)
      EXPECT_STREQ(clip_->GetTextParameter(p.id), p.defaultText.c_str()) << p.id;
    else
      EXPECT_EQ(clip_->GetFloatParameter(p.id), p.defaultValue) << p.id;
  }
}

// A null text must count as empty, and clearing the typed address must not
// disconnect or connect to anything.
TEST_F(ClipParams, TextWrites) {
  EXPECT_EQ(clip_->SetTextParameter(1, "10.0.0.7"), FF_SUCCESS);
  EXPECT_STREQ(clip_->GetTextParameter(1), "10.0.0.7");
  EXPECT_EQ(clip_->phoneAddress(), "10.0.0.7");
  EXPECT_EQ(clip_->SetTextParameter(1, nullptr), FF_SUCCESS);
  EXPECT_STREQ(clip_->GetTextParameter(1), "");
  EXPECT_EQ(clip_->phoneAddress(), "10.0.0.7");
  EXPECT_EQ(clip_->SetTextParameter(5, "x"), FF_FAIL);
  EXPECT_EQ(clip_->SetTextParameter(13, "x"), FF_SUCCESS);
  EXPECT_STREQ(clip_->GetTextParameter(13), "\xE2\x80\x94");
}

// A long typed address must come back terminated within the host's 512-byte
// text buffer and without a broken character at the cut.
TEST_F(ClipParams, LongTextsAreCutAtACharacterBoundary) {
  std::string longText(509, 'a');
  longText += "\xE2\x80\x94";  // bytes 509..511: the third would be the 512th
  clip_->SetTextParameter(1, longText.c_str());
  EXPECT_EQ(std::string(clip_->GetTextParameter(1)), std::string(509, 'a'));
}

// A host may write any float. A NaN, an infinity or 1e10 reached float-to-int
// conversions (undefined: Latency showed "-2147483628 ms"), a negative latency
// reached SRT, and Fit took 7 and read it back. Every value that is not a
// finite number must be ignored; every other value is limited to the
// parameter's range, and what the host reads and sees is that limited value.
TEST_F(ClipParams, EveryHostWriteIsHeldToItsParametersRange) {
  connectWithRack();  // Grain is current: Hero, Quick1, Option1 and Slot1 are bound
  const float kNaN = std::numeric_limits<float>::quiet_NaN();
  const float kInf = std::numeric_limits<float>::infinity();
  // For each parameter: a sane value written first, and what a value below
  // and a value above every range read back as. A null display is the plain
  // "%f" of the value read back.
  struct Row {
    std::uint32_t index;
    float before, low, high;
    const char *beforeText, *lowText, *highText;
  } rows[] = {
      {0, 0, 0, 0, nullptr, nullptr, nullptr},  // Device: no phone listed, nothing picked
      {2, 0, 0, 0, nullptr, nullptr, nullptr},  // Rescan
      {4, 0, 1, 1, nullptr, nullptr, nullptr},  // Rec: anything but 0 is on
      {5, 0, 0, 0, nullptr, nullptr, nullptr},  // Snap
      {6, 0, 0, 0, nullptr, nullptr, nullptr},  // Flip camera
      {7, 0.25f, 0, 1, "1.00\xC3\x97", "0.50\xC3\x97", "8.00\xC3\x97"},
      {9, 1, 0, 2, nullptr, nullptr, nullptr},  // Fit
      {10, 1, 0, 2, nullptr, nullptr, nullptr},
      {11, 1.0f / 24.0f, 0, 1, "40 ms", "20 ms", "500 ms"},
      {12, 0, 0, 0, nullptr, nullptr, nullptr},  // Reconnect
      {15, 0.5f, 0, 1, "0.50", "0.00", "1.00"},  // Hero
      {16, 0, 1, 1, nullptr, nullptr, nullptr},  // Quick1
      {21, 0, 0, 1, nullptr, nullptr, nullptr},  // Option1: two choices
      {22, 0.5f, 0, 1, "0.50", "0.00", "1.00"},  // Slot1
      {25, 0, 1, 1, nullptr, nullptr, nullptr},  // Switch1, unbound
      {58, 0, 0, 0, nullptr, nullptr, nullptr},  // Action1
      // Effect, last: it re-maps the slots. A position beyond the phone's
      // effects is dropped, not taken as the last one.
      {14, 0, 0, 0, nullptr, nullptr, nullptr},
  };
  for (const Row& r : rows) {
    for (const float bad : {kNaN, kInf, -kInf, -1.0f, 1e10f}) {
      advance(2 * kSecond);  // past every window an earlier write opened
      clip_->SetFloatParameter(r.index, r.before);
      const std::size_t sentBefore = link_.sent.size();
      const int probesBefore = link_.probes;
      clip_->SetFloatParameter(r.index, bad);
      const bool finite = std::isfinite(bad);
      if (!finite) {
        EXPECT_EQ(link_.sent.size(), sentBefore) << r.index << " " << bad;
        EXPECT_EQ(link_.probes, probesBefore) << r.index << " " << bad;
      }
      // What the write sent carries the limited value: a zoom factor up to 8,
      // a slider position up to 1, a quality or a switch state up to 2.
      for (std::size_t k = sentBefore; k < link_.sent.size(); ++k)
        for (const ControlArg& arg : link_.sent[k].message.args) {
          const bool inRange = arg.kind == ArgKind::Float
                                   ? arg.floatValue >= 0 && arg.floatValue <= 8
                               : arg.kind == ArgKind::Int ? arg.intValue >= 0 && arg.intValue <= 2
                                                          : true;
          EXPECT_TRUE(inRange) << link_.sent[k].message.address << " " << bad;
        }
      const float expected = !finite ? r.before : bad < 0 ? r.low : r.high;
      const char* text = !finite ? r.beforeText : bad < 0 ? r.lowText : r.highText;
      char plain[32];
      std::snprintf(plain, sizeof plain, "%f", static_cast<double>(expected));
      EXPECT_EQ(clip_->GetFloatParameter(r.index), expected) << r.index << " " << bad;
      EXPECT_STREQ(clip_->GetParameterDisplay(r.index), text ? text : plain)
          << r.index << " " << bad;
    }
  }
  EXPECT_EQ(clip_->currentEffect(), 0);
}

TEST_F(ClipParams, RackWritesWithoutAnEffectSucceedAndChangeNothing) {
  EXPECT_EQ(clip_->SetFloatParameter(22, 0.7f), FF_SUCCESS);
  EXPECT_EQ(clip_->GetFloatParameter(22), 0.0f);
  EXPECT_EQ(clip_->SetFloatParameter(62, 1.0f), FF_SUCCESS);
}

// One host instance: a clip with a scripted link of its own.
struct OwnClip {
  mirandel::test::FakeLink link;
  std::unique_ptr<MirandelLink> clip =
      std::make_unique<MirandelLink>(mirandel::ClipEnvironment{&link});
  OwnClip() { clip->SetIdentity(clip.get()); }
};

// Guards against an answer changing under the host while it still reads it:
// a call on another clip must not overwrite it (the clip's own displays, the
// base display and the text answer alike).
TEST(ClipAnswers, AnAnswerIsNotOverwrittenByAnotherClipsCall) {
  OwnClip a, b;
  b.clip->SetFloatParameter(param::kZoom, 1.0f);
  b.clip->SetFloatParameter(param::kQuality, 2.0f);
  const char* zoom = a.clip->GetParameterDisplay(param::kZoom);
  EXPECT_STREQ(b.clip->GetParameterDisplay(param::kZoom), "8.00\xC3\x97");
  EXPECT_STREQ(zoom, "1.00\xC3\x97");
  const char* quality = a.clip->GetParameterDisplay(param::kQuality);
  EXPECT_STREQ(b.clip->GetParameterDisplay(param::kQuality), "2.000000");
  EXPECT_STREQ(quality, "1.000000");

  // Texts last: with a phone address the next supervision step would start
  // streaming, and none follows here.
  a.clip->SetTextParameter(param::kPhoneIp, "10.0.0.1");
  b.clip->SetTextParameter(param::kPhoneIp, "10.0.0.2");
  const char* text = a.clip->GetTextParameter(param::kPhoneIp);
  EXPECT_STREQ(b.clip->GetTextParameter(param::kPhoneIp), "10.0.0.2");
  EXPECT_STREQ(text, "10.0.0.1");
}

// Guards against clips that a host calls at the same time from two threads
// racing on shared answer buffers: each thread must only ever read its own
// clips' texts (ThreadSanitizer also runs this).
TEST(ClipAnswers, ClipsOnTwoThreadsEachReadOnlyTheirOwnTextsAndDisplays) {
  struct Side {
    std::string phoneIp;   // long, so that copies overlap
    const char* zoomText;  // of zoom 0 and 1
    OwnClip texts;         // has a phone address, so it is never stepped
    OwnClip displays;      // no phone: stepping it sends nothing anywhere
    int wrong = 0;
  };
  Side sides[2] = {{std::string(500, 'a'), "0.50\xC3\x97"},
                   {std::string(500, 'b'), "8.00\xC3\x97"}};
  for (int i = 0; i < 2; ++i) {
    sides[i].texts.clip->SetTextParameter(param::kPhoneIp, sides[i].phoneIp.c_str());
    sides[i].displays.clip->SetFloatParameter(param::kZoom, static_cast<float>(i));
  }
  auto run = [](Side& side) {
    for (int n = 0; n < 2000; ++n) {
      MirandelLink& d = *side.displays.clip;
      side.wrong += side.phoneIp != side.texts.clip->GetTextParameter(param::kPhoneIp);
      side.wrong += std::strcmp(d.GetParameterDisplay(param::kZoom), side.zoomText) != 0;
      side.wrong += std::strcmp(d.GetParameterDisplay(param::kQuality), "1.000000") != 0;
    }
  };
  std::thread other(run, std::ref(sides[1]));
  run(sides[0]);
  other.join();
  EXPECT_EQ(sides[0].wrong, 0);
  EXPECT_EQ(sides[1].wrong, 0);
}

}  // namespace
}  // namespace mirandel::test
