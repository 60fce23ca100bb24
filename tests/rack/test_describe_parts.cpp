#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "rack/DescribeParts.h"

namespace mirandel::test {
namespace {

// A piece's transfer, total, index, text, arrival, and what it yields, if anything.
using Piece = std::tuple<std::int32_t, std::int32_t, std::int32_t, const char*, Nanos,
                         std::optional<std::string>>;

// Guards the joining of pieces out of order, repeated, interleaved and late:
// exactly the described text, at exactly the piece that completes it.
TEST(DescribeParts, JoinsPiecesIntoTheDescription) {
  const Nanos t = 5 * kSecond, tenOn = t + 10 * kSecond;
  const std::int32_t huge = 2147483647;
  const std::pair<const char*, std::vector<Piece>> sequences[] = {
      {"order 2, 0, 1", {{1, 3, 2, "c", t, {}}, {1, 3, 0, "a", t, {}}, {1, 3, 1, "b", t, "abc"}}},
      {"total 0 completes at once with nothing", {{1, 0, 0, "ignored", t, ""}}},
      {"a negative total completes at once", {{1, -4, 0, "ignored", t, ""}}},
      {"a repeated index replaces the text and counts once",
       {{1, 2, 0, "old", t, {}}, {1, 2, 0, "new", t, {}}, {1, 2, 1, "!", t, "new!"}}},
      {"the latest total wins; a huge one costs nothing up front",
       {{1, huge, 0, "a", t, {}}, {1, huge, 1, "b", t, {}}, {1, 2, 3, "c", t, "ab"}}},
      {"indices outside 0..total-1, however far, count but add nothing",
       {{1, 3, huge, "z", t, {}}, {1, 3, -huge - 1, "y", t, {}}, {1, 3, 0, "a", t, "a"}}},
      {"interleaved transfers stay apart",
       {{1, 2, 1, "B", t, {}},
        {2, 2, 0, "x", t, {}},
        {1, 2, 0, "A", t, "AB"},
        {2, 2, 1, "y", t, "xy"}}},
      {"a completed transfer id starts afresh",
       {{1, 1, 0, "first", t, "first"}, {1, 2, 0, "a", t, {}}, {1, 2, 1, "b", t, "ab"}}},
      {"a transfer survives exactly ten seconds",
       {{1, 2, 0, "a", t, {}}, {2, 2, 0, "x", tenOn, {}}, {1, 2, 1, "b", tenOn, "ab"}}},
      {"a transfer is gone one nanosecond later, when any piece arrives",
       {{1, 2, 0, "a", t, {}},
        {2, 2, 0, "x", tenOn + 1, {}},
        {1, 2, 1, "b", tenOn + 1, {}},
        {1, 2, 0, "c", tenOn + 1, "cb"}}},
      {"each piece refreshes its transfer",
       {{1, 3, 0, "a", t, {}},
        {1, 3, 1, "b", t + 9 * kSecond, {}},
        {1, 3, 2, "c", t + 18 * kSecond, "abc"}}}};
  for (const auto& [what, pieces] : sequences) {
    DescribeParts parts;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      const auto& [transfer, total, index, text, at, completes] = pieces[i];
      EXPECT_EQ(parts.add(transfer, total, index, text, at), completes) << what << ", piece " << i;
    }
  }
}

// Guards against held memory: completed and expired transfers are forgotten.
TEST(DescribeParts, ForgetsCompletedAndExpiredTransfers) {
  DescribeParts parts;
  parts.add(1, 2, 0, "abc", 0);
  parts.add(2, 2, 0, "de", 0);
  EXPECT_EQ(std::tuple(parts.transfersInProgress(), parts.bytesHeld()), std::tuple(2u, 5u));
  EXPECT_EQ(parts.add(1, 2, 1, "f", kSecond), "abcf");
  EXPECT_EQ(parts.bytesHeld(), 2u);
  parts.add(3, 2, 0, "g", 11 * kSecond);
  EXPECT_EQ(std::tuple(parts.transfersInProgress(), parts.bytesHeld()), std::tuple(1u, 1u));
}

// Guards against a phone growing memory without bound by distinct indices,
// transfers or large texts.
TEST(DescribeParts, BoundsWhatAHostileSenderCanMakeItHold) {
  {
    DescribeParts parts;
    for (std::size_t i = 0; i < DescribeParts::kMaxParts; ++i)
      ASSERT_EQ(parts.add(7, 1 << 30, static_cast<std::int32_t>(i), "p", 0), std::nullopt);
    EXPECT_EQ(parts.transfersInProgress(), 1u);
    parts.add(7, 1 << 30, 1 << 20, "one too many", 0);
    EXPECT_EQ(std::tuple(parts.transfersInProgress(), parts.bytesHeld()), std::tuple(0u, 0u));
  }
  {
    DescribeParts parts;
    const std::string mebibyte(1 << 20, 'x');
    for (int i = 0; i < 16; ++i) parts.add(i, 100, 0, mebibyte, 0);
    EXPECT_EQ(parts.bytesHeld(), DescribeParts::kMaxBytes);
    parts.add(16, 100, 0, mebibyte, 0);
    EXPECT_EQ(parts.bytesHeld(), DescribeParts::kMaxBytes);
    // Replacing a held piece by one of the same size stays within the budget.
    parts.add(3, 100, 0, mebibyte, kMillisecond);
    EXPECT_EQ(parts.bytesHeld(), DescribeParts::kMaxBytes);
    EXPECT_EQ(parts.transfersInProgress(), 16u);
  }
  {
    DescribeParts parts;
    for (std::size_t i = 0; i < DescribeParts::kMaxTransfers + 10; ++i)
      parts.add(static_cast<std::int32_t>(i), 2, 0, "", 0);
    EXPECT_EQ(parts.transfersInProgress(), DescribeParts::kMaxTransfers);
    // A transfer already in progress can still complete.
    EXPECT_EQ(parts.add(0, 2, 1, "done", 0), "done");
  }
}

}  // namespace
}  // namespace mirandel::test
