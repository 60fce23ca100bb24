// A clip on a real link hub taking more from its own phone than a rack holds.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/clip/PhoneOnLoopback.h"

namespace mirandel::test {
namespace {

// `count` described effects without controls, addressed `prefix` followed by
// their number, each named by `name` (its address when empty), as one reply.
std::string effectsReply(const std::string& prefix, int count, const std::string& name = {}) {
  std::string s = R"({"name":"Big","version":"1","effects":[)";
  for (int i = 0; i < count; ++i) {
    const std::string address = prefix + std::to_string(i);
    s += (i > 0 ? "," : "") + std::string(R"({"name":")") + (name.empty() ? address : name) +
         R"(","address":")" + address + R"(","params":[]})";
  }
  return s + "]}";
}

struct Flood {
  const char* name;
  std::string base;  // replaces the phone's rack first; empty: kRackJson stays
  std::function<std::string(int)> reply;
  int replies;
  int taken;  // the first replies, merged within the bounds
  std::size_t effects;
};

void PrintTo(const Flood& f, std::ostream* os) { *os << f.name; }

class MergedReplies : public PhoneOnLoopback, public ::testing::WithParamInterface<Flood> {};

// Guards against a phone growing the rack without bound: a merge appended
// every effect whose address was new, and the bounds held for one reply only.
// 80 merged replies of 999 new effects, 40 KB each, made 80,920 effects, held
// the host's thread for 17 s and the process at 254 MB. A merge that would
// pass 1000 effects, or hold more text than one description may, must be
// refused as a bad reply and change nothing else; the merges within the
// bounds are taken.
TEST_P(MergedReplies, NeverGrowTheRackPastWhatOneDescriptionHolds) {
  const Flood& flood = GetParam();
  if (!flood.base.empty()) fromPhone({"/mirandel/describe", {S(flood.base)}});
  for (int k = 0; k < flood.taken; ++k) fromPhone({"/mirandel/describe", {S(flood.reply(k))}});
  takeUpAll();
  ClipView expected(clip_);
  ASSERT_NE(expected.status, "Bad describe reply");
  expected.status = expected.params[param::kStatus].text = "Bad describe reply";

  for (int k = flood.taken; k < flood.replies; ++k)
    fromPhone({"/mirandel/describe", {S(flood.reply(k))}});
  takeUpAll();
  EXPECT_EQ(clip_.effects().size(), flood.effects);
  expectSameView(ClipView(clip_), expected, clip_);
}

// Reply k: `count` effects addressed "r" k "-" and their number.
std::function<std::string(int)> newEffects(int count, const std::string& name = {}) {
  return [=](int k) { return effectsReply("r" + std::to_string(k) + "-", count, name); };
}

INSTANTIATE_TEST_SUITE_P(
    Floods, MergedReplies,
    ::testing::Values(
        Flood{"EightyOf999NewOnto1000", effectsReply("base", 1000), newEffects(999), 80, 0, 1000},
        Flood{"TenOf499NewOnto501", effectsReply("base", 501), newEffects(499), 10, 1, 1000},
        Flood{
            "TwentyOfOneNamedBy60000Bytes", {}, newEffects(1, std::string(60000, 'n')), 20, 8, 11}),
    [](const ::testing::TestParamInfo<Flood>& flood) { return std::string(flood.param.name); });

using DescriptionFlood = PhoneOnLoopback;

// Guards against a description that counts nothing but its bytes: 524,276
// bytes held 174,745 controls, took 96 ms of the host's thread to install,
// and made every feedback message scan them all (1,000 feedback datagrams of
// 32 bytes cost 682 ms in one step). It must be refused as a bad reply,
// whole or in parts, and the burst after it must change nothing either.
TEST_F(DescriptionFlood, AHugeNumberOfControlsIsRefusedAndTheFeedbackAfterItChangesNothing) {
  std::string text = R"({"effects":[{"address":"fx","params":[{})";
  for (int c = 1; c < 174745; ++c) text += ",{}";
  text += "]}]}";
  ASSERT_EQ(text.size(), 524276u);
  ClipView expected(clip_);
  expected.status = expected.params[param::kStatus].text = "Bad describe reply";

  constexpr std::size_t kPart = 60000;
  const auto parts = static_cast<std::int32_t>((text.size() + kPart - 1) / kPart);
  for (std::int32_t i = 0; i < parts; ++i)
    fromPhone({"/mirandel/describe/part",
               {I(1), I(parts), I(i), S(text.substr(static_cast<std::size_t>(i) * kPart, kPart))}});
  for (int k = 0; k < 1000; ++k) {
    const ControlMessage feedback{"/mirandel/fx/missing" + std::to_string(k % 10), {F(0.5f)}};
    ASSERT_EQ(encode(feedback).size(), 32u);
    fromPhone(feedback);
  }
  takeUpAll();
  expectSameView(ClipView(clip_), expected, clip_);
}

}  // namespace
}  // namespace mirandel::test
