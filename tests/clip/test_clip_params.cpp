// The clip's parameter table, its reads and text writes, the limits and rounding
// of host writes, the cut of long texts and each clip's own answer buffers.
// (What the host sees of the table is checked through tests/tools/host.)
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <thread>
#include <tuple>
#include <utility>

#include "base/Rounding.h"
#include "clip/TextBuffer.h"
#include "tests/clip/SessionFixture.h"

namespace mirandel::test {
namespace {

// Guards the registration order, part of the interface: hosts report events in
// it; the declared defaults against the clip's own starting state; which slot each
// host index drives, and the order the layout fills the tune rows in: Option1,
// then each row's three sliders and its switch.
TEST_F(ClipTest, ANewClipRegistersItsParametersInOrderWithTheirDefaultsAndSlots) {
  std::vector<FFUInt32> expected = {0, 1, 2, 3, 14, 4, 5, 6, 7, 8};
  for (FFUInt32 i = 15; i <= 61; ++i) expected.push_back(i);
  for (FFUInt32 i = 9; i <= 13; ++i) expected.push_back(i);
  std::vector<FFUInt32> actual;
  for (const ParamInfo& p : clip_->Params()) actual.push_back(p.id);
  EXPECT_EQ(actual, expected);

  for (const ParamInfo& p : clip_->Params()) {
    if (p.type == FF_TYPE_TEXT)
      EXPECT_STREQ(clip_->GetTextParameter(p.id), p.defaultText.c_str()) << p.id;
    else
      EXPECT_EQ(clip_->GetFloatParameter(p.id), p.defaultValue) << p.id;
  }

  const std::tuple<std::uint32_t, SlotKind, int> rows[] = {
      {15, SlotKind::Slider, 0},  {20, SlotKind::Toggle, 4},  {21, SlotKind::Option, 0},
      {56, SlotKind::Slider, 27}, {57, SlotKind::Toggle, 13}, {61, SlotKind::Action, 3},
      {3, SlotKind::None, -1},    {62, SlotKind::None, -1}};
  for (const auto& [index, kind, slot] : rows) {
    const SlotRef ref = clip_->slotOf(index);
    EXPECT_EQ(std::pair(ref.kind, ref.slot), std::pair(kind, slot)) << index;
  }
  const auto& tune = clip_->tuneOrder();
  EXPECT_EQ(std::tuple(tune.size(), tune.at(0).kind, tune.at(1).slot, tune.at(4).kind,
                       tune.at(4).slot, tune.at(36).slot),
            std::tuple(37u, SlotKind::Option, 1, SlotKind::Toggle, 5, 13));
}

// Guards writes without a phone (values kept, nothing sent) or without a current
// effect (rack writes succeed and change nothing); text writes: a null text is
// empty, clearing the typed address connects nowhere, and only texts are written as
// texts; and against a destroyed clip still being woken by its link.
TEST_F(ClipTest, WritesWithoutAPhoneOrWithTextsAndTheLinkSubscriptionUntilDestruction) {
  EXPECT_EQ(link_.subscribers(), 1u);
  EXPECT_TRUE(link_.searching(clip_->subscriptionId()));
  link_.deliver({"10.0.0.9", "/mirandel/anything", {}});
  EXPECT_EQ(clip_->FindParamInfo(3)->pendingEvents.peek(), FF_EVENT_FLAG_VALUE);

  clip_->SetFloatParameter(param::kRec, 1.0f);
  clip_->SetFloatParameter(param::kZoom, 0.5f);
  EXPECT_EQ(clip_->GetFloatParameter(param::kRec), 1.0f);
  EXPECT_FLOAT_EQ(clip_->GetFloatParameter(param::kZoom), 0.5f);
  EXPECT_EQ(clip_->SetFloatParameter(22, 0.7f), FF_SUCCESS);
  EXPECT_EQ(clip_->GetFloatParameter(22), 0.0f);
  EXPECT_EQ(clip_->SetFloatParameter(62, 1.0f), FF_SUCCESS);
  EXPECT_TRUE(link_.sent.empty());

  for (const char* text : {"10.0.0.7", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(clip_->SetTextParameter(1, text), FF_SUCCESS);
    EXPECT_STREQ(clip_->GetTextParameter(1), text ? text : "");
    EXPECT_EQ(clip_->phoneAddress(), "10.0.0.7");
  }
  EXPECT_EQ(clip_->SetTextParameter(5, "x"), FF_FAIL);
  clip_.reset();
  EXPECT_EQ(link_.subscribers(), 0u);
}

// Guards against any host float reaching conversions (NaN made Latency show
// "-2147483628 ms", a negative latency reached SRT, Fit took 7 and kept it).
TEST_F(ClipTest, EveryHostWriteIsHeldToItsParametersRange) {
  connectWithRack();  // Grain is current: Hero, Quick1, Option1 and Slot1 are bound
  const float kNaN = std::numeric_limits<float>::quiet_NaN();
  const float kInf = std::numeric_limits<float>::infinity();
  // A sane value first, then what values below and above every range read back
  // as; Device lists no phone; Effect comes last, as it re-maps the slots.
  const std::tuple<std::uint32_t, float, float, float> rows[] = {
      {0, 0, 0, 0},  {2, 0, 0, 0},     {4, 0, 1, 1},
      {5, 0, 0, 0},  {6, 0, 0, 0},     {7, 0.25f, 0, 1},
      {9, 1, 0, 2},  {10, 1, 0, 2},    {11, 1.0f / 24.0f, 0, 1},
      {12, 0, 0, 0}, {15, 0.5f, 0, 1}, {16, 0, 1, 1},
      {21, 0, 0, 1}, {22, 0.5f, 0, 1}, {25, 0, 1, 1},
      {58, 0, 0, 0}, {14, 0, 0, 0}};
  const std::map<std::uint32_t, std::array<const char*, 3>> shows = {
      {7, {"1.00\xC3\x97", "0.50\xC3\x97", "8.00\xC3\x97"}},
      {11, {"40 ms", "20 ms", "500 ms"}},
      {15, {"0.50", "0.00", "1.00"}},
      {22, {"0.50", "0.00", "1.00"}}};
  // Sent values are limited too: a zoom up to 8, a quality or switch up to 2.
  auto inRange = [](const ControlArg& a) {
    return a.kind == ArgKind::Float ? a.floatValue >= 0 && a.floatValue <= 8
           : a.kind == ArgKind::Int ? a.intValue >= 0 && a.intValue <= 2
                                    : true;
  };
  for (const auto& [index, before, low, high] : rows) {
    for (const float bad : {kNaN, kInf, -kInf, -1.0f, 1e10f}) {
      SCOPED_TRACE(std::to_string(index) + " " + std::to_string(bad));
      step();                // takes up what the previous write asked for
      advance(2 * kSecond);  // past every window an earlier write opened
      clip_->SetFloatParameter(index, before);
      takeSent();
      const int probes = link_.probes;
      clip_->SetFloatParameter(index, bad);
      const Messages sent = takeSent();
      const std::size_t k = !std::isfinite(bad) ? 0 : bad < 0 ? 1 : 2;
      if (k == 0) {
        EXPECT_EQ(std::tuple(sent.size(), link_.probes), std::tuple(0u, probes));
      }
      for (const ControlMessage& m : sent)
        for (const ControlArg& a : m.args) EXPECT_TRUE(inRange(a)) << m.address;
      EXPECT_EQ(clip_->GetFloatParameter(index), (std::array{before, low, high})[k]);
      if (shows.count(index)) {
        EXPECT_STREQ(clip_->GetParameterDisplay(index), shows.at(index)[k]);
      }
    }
  }
  EXPECT_EQ(clip_->currentEffect(), 0);
}

// One host instance: a clip with a scripted link of its own.
struct OwnClip {
  FakeLink link;
  std::unique_ptr<MirandelLink> clip = std::make_unique<MirandelLink>(ClipEnvironment{&link});
  OwnClip() { clip->SetIdentity(clip.get()); }
};

// Guards against an answer changing under the host while it reads it: a call on
// another clip, on this thread or another, must not touch it (TSan runs this).
TEST(ClipAnswers, EachClipAnswersFromBuffersOfItsOwn) {
  struct Side {
    std::string phoneIp;                 // long, so that copies overlap
    const char *zoomText, *qualityText;  // the quality's is the base display
    OwnClip texts;                       // has a phone address, so it is never stepped
    OwnClip displays;                    // no phone: stepping it sends nothing anywhere
    const char* text() { return texts.clip->GetTextParameter(param::kPhoneIp); }
    const char* display(FFUInt32 i) { return displays.clip->GetParameterDisplay(i); }
    int wrongAnswers() {
      return (phoneIp != text()) + (std::strcmp(display(param::kZoom), zoomText) != 0) +
             (std::strcmp(display(param::kQuality), qualityText) != 0);
    }
  } sides[2] = {{std::string(500, 'a'), "0.50\xC3\x97", "1.000000"},
                {std::string(500, 'b'), "8.00\xC3\x97", "2.000000"}};
  for (int i = 0; i < 2; ++i) {
    sides[i].texts.clip->SetTextParameter(param::kPhoneIp, sides[i].phoneIp.c_str());
    sides[i].displays.clip->SetFloatParameter(param::kZoom, static_cast<float>(i));
    sides[i].displays.clip->SetFloatParameter(param::kQuality, static_cast<float>(i + 1));
  }
  Side& a = sides[0];
  const char* text = a.text();
  const char* zoom = a.display(param::kZoom);
  sides[1].wrongAnswers();
  EXPECT_EQ(text, a.phoneIp);
  EXPECT_STREQ(zoom, a.zoomText);
  const char* quality = a.display(param::kQuality);
  sides[1].wrongAnswers();
  EXPECT_STREQ(quality, a.qualityText);

  std::array<int, 2> wrong{};
  auto run = [&](int i) {
    for (int n = 0; n < 2000; ++n) wrong[i] += sides[i].wrongAnswers();
  };
  std::thread other(run, 1);
  run(0);
  other.join();
  EXPECT_EQ(wrong, (std::array{0, 0}));
}

// A phone name cut inside a multi-byte character shows as garbage in the
// host; the cut must fall before the whole character.
TEST(Utf8Truncation, NeverSplitsACharacter) {
  const std::tuple<std::string, std::size_t, std::size_t> cases[] = {
      {"abc", 10, 3},
      {"abc", 2, 2},
      {"Searching\xE2\x80\xA6", 12, 12},  // whole ellipsis fits exactly
      {"Searching\xE2\x80\xA6", 11, 9},   // would split it: drop it whole
      {"Searching\xE2\x80\xA6", 10, 9},
      {"\xC2\xB7x", 1, 0},
      {"a\xF0\x9F\x8E\xA5", 4, 1},  // four-byte emoji
      {"a\xF0\x9F\x8E\xA5", 5, 5},
      {"", 0, 0}};
  for (const auto& [text, limit, expected] : cases)
    EXPECT_EQ(utf8PrefixLength(text, limit), expected) << text << " " << limit;
}

// Converting NaN or a huge float to int is undefined behaviour; such host or
// phone values must be refused instead.
TEST(Rounding, UnusableNumbersHaveNoIndex) {
  const std::pair<float, std::optional<std::int32_t>> indexes[] = {
      {-0.4f, 0}, {-1.6f, -1}, {std::nanf(""), {}}, {INFINITY, {}}, {-INFINITY, {}}, {3e9f, {}}};
  for (const auto& [value, index] : indexes) EXPECT_EQ(roundToIndex(value), index) << value;
  EXPECT_EQ(truncateToInt(-2147483648.0), -2147483647 - 1);
  EXPECT_FALSE(truncateToInt(2147483648.0));
}

}  // namespace
}  // namespace mirandel::test
