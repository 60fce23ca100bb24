#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "clip/MirandelLink.h"
#include "plugin/Log.h"
#include "support/FakeLink.h"

namespace {

using mirandel::MirandelLink;
using mirandel::SlotKind;

std::vector<std::string> logLines;
void collect(const char* t) { logLines.emplace_back(t); }

class ClipParams : public ::testing::Test {
 protected:
  ClipParams() {
    logLines.clear();
    mirandel::setLogCallback(&collect);
    clip_ = std::make_unique<MirandelLink>(mirandel::ClipEnvironment{&link_});
    clip_->SetIdentity(clip_.get());
  }
  ~ClipParams() override { mirandel::setLogCallback(nullptr); }
  mirandel::test::FakeLink link_;
  std::unique_ptr<MirandelLink> clip_;
};

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
    EXPECT_EQ(p.pendingEvents.peek(), rack ? std::uint64_t{FF_EVENT_FLAG_VISIBILITY} : std::uint64_t{0}) << p.id;
    EXPECT_EQ(p.visible, !(rack || silentlyHidden)) << p.id;
  }
  EXPECT_EQ(logLines, std::vector<std::string>{"Mirandel: created, probing for phones"});
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

TEST_F(ClipParams, DisplaysOfZoomLatencyAndSliders) {
  struct Case {
    FFUInt32 index;
    float value;
    const char* text;
  } cases[] = {
      {7, 0.25f, "1.00\xC3\x97"}, {7, 0.0f, "0.50\xC3\x97"}, {7, 1.0f, "8.00\xC3\x97"},
      {11, 1.0f / 24.0f, "40 ms"}, {11, 0.0f, "20 ms"},      {11, 1.0f, "500 ms"},
  };
  for (const Case& c : cases) {
    clip_->SetFloatParameter(c.index, c.value);
    EXPECT_STREQ(clip_->GetParameterDisplay(c.index), c.text) << c.index << " " << c.value;
  }
  EXPECT_STREQ(clip_->GetParameterDisplay(22), "0.00");
  EXPECT_STREQ(clip_->GetParameterDisplay(10), "1.000000");
  EXPECT_STREQ(clip_->GetParameterDisplay(3), "Searching\xE2\x80\xA6");
  EXPECT_EQ(clip_->GetParameterDisplay(62), nullptr);
}

TEST_F(ClipParams, ReadsAfterConstruction) {
  EXPECT_EQ(clip_->GetFloatParameter(10), 1.0f);
  EXPECT_EQ(clip_->GetFloatParameter(9), 0.0f);
  EXPECT_EQ(clip_->GetFloatParameter(7), 0.25f);
  EXPECT_EQ(clip_->GetFloatParameter(11), 1.0f / 24.0f);
  EXPECT_EQ(clip_->GetFloatParameter(62), 0.0f);
  EXPECT_STREQ(clip_->GetTextParameter(2), "");
  EXPECT_STREQ(clip_->GetTextParameter(8), "\xE2\x80\x94");
  EXPECT_STREQ(clip_->GetTextParameter(13), "\xE2\x80\x94");
  EXPECT_STREQ(clip_->GetTextParameter(3), "Searching\xE2\x80\xA6");
}

TEST_F(ClipParams, TextWrites) {
  EXPECT_EQ(clip_->SetTextParameter(1, ""), FF_SUCCESS);
  EXPECT_EQ(clip_->phoneAddress(), "");
  EXPECT_EQ(clip_->SetTextParameter(1, nullptr), FF_SUCCESS);
  EXPECT_EQ(clip_->phoneAddress(), "");
  EXPECT_EQ(clip_->SetTextParameter(1, "10.0.0.7"), FF_SUCCESS);
  EXPECT_STREQ(clip_->GetTextParameter(1), "10.0.0.7");
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

// A NaN from a misbehaving host must not turn into an undefined fit mode.
TEST_F(ClipParams, UnusableFloatsLeaveIndexedParametersUnchanged) {
  clip_->SetFloatParameter(9, 2.0f);
  clip_->SetFloatParameter(9, std::nanf(""));
  EXPECT_EQ(clip_->GetFloatParameter(9), 2.0f);
  clip_->SetFloatParameter(10, INFINITY);
  EXPECT_EQ(clip_->GetFloatParameter(10), 1.0f);
}

TEST_F(ClipParams, RackWritesWithoutAnEffectSucceedAndChangeNothing) {
  EXPECT_EQ(clip_->SetFloatParameter(22, 0.7f), FF_SUCCESS);
  EXPECT_EQ(clip_->GetFloatParameter(22), 0.0f);
  EXPECT_EQ(clip_->SetFloatParameter(62, 1.0f), FF_SUCCESS);
}

}  // namespace
