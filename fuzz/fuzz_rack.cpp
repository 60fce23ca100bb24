// Arbitrary text as a rack description: the parser must never throw or read
// out of bounds, what it accepts must lie within a sane rack's bounds, and
// every effect it accepts must plan onto the slots with bindings that point
// inside the effect.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

#include "rack/DescribeParts.h"
#include "rack/LayoutPlan.h"
#include "rack/RackBounds.h"
#include "rack/RackParser.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

void checkBinding(const mirandel::RackEffect& effect, const mirandel::SlotBinding& b) {
  check(b.control < 0 || static_cast<std::size_t>(b.control) < effect.controls.size());
  check(b.action < 0 || static_cast<std::size_t>(b.action) < effect.actions.size());
  check(!(b.control >= 0 && b.action >= 0));
  if (b.control >= 0) check(mirandel::isShown(effect, effect.controls[b.control].field));
  if (b.action >= 0) check(mirandel::isShown(effect, effect.actions[b.action]));
}

const std::vector<mirandel::RackEffect> kNoEffects;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<mirandel::DescribeReply> reply = mirandel::parseDescribeReply(text);
  if (reply) check(mirandel::withinBounds(mirandel::tallyOf(reply->effects)));
  for (const mirandel::RackEffect& effect : reply ? reply->effects : kNoEffects) {
    const mirandel::SlotPlan plan = mirandel::planLayout(effect);
    for (const auto& b : plan.sliders) checkBinding(effect, b);
    for (const auto& b : plan.toggles) checkBinding(effect, b);
    for (const auto& b : plan.actions) checkBinding(effect, b);
    checkBinding(effect, plan.option);
  }

  // The same bytes cut into pieces, delivered last piece first, join back,
  // unless they are more pieces than a transfer may hold.
  mirandel::DescribeParts parts;
  const std::size_t piece = 1 + (size > 0 ? data[0] % 64 : 0);
  const auto total = static_cast<std::int32_t>((size + piece - 1) / piece);
  std::optional<std::string> joined;
  for (std::int32_t i = total - 1; i >= 0; --i) {
    check(!joined.has_value());
    joined = parts.add(1, total, i,
                       std::string(text.substr(static_cast<std::size_t>(i) * piece, piece)), 0);
  }
  if (static_cast<std::size_t>(total) > mirandel::DescribeParts::kMaxParts)
    check(!joined.has_value() && parts.bytesHeld() < piece * mirandel::DescribeParts::kMaxParts);
  else if (total > 0)
    check(joined == text && parts.bytesHeld() == 0);
  return 0;
}
