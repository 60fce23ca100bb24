#include "rack/RackMerge.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "rack/RackBounds.h"

namespace mirandel {

bool updateRack(std::vector<RackEffect>& list, const std::vector<RackEffect>& reply) {
  const bool replace = list.empty() || list.size() <= reply.size() ||
                       std::any_of(reply.begin(), reply.end(),
                                   [](const RackEffect& e) { return !e.controlsLoaded; });
  if (replace) {
    list = reply;
    return true;
  }

  // The merged list as pointers into `list` and `reply`, built and counted
  // before anything changes; positions by address, so that a merge costs
  // linear time however long the list.
  std::vector<const RackEffect*> merged;
  merged.reserve(list.size());
  std::unordered_map<std::string_view, std::vector<std::size_t>> positions;
  for (const RackEffect& e : list) {
    positions[e.address].push_back(merged.size());
    merged.push_back(&e);
  }
  for (const RackEffect& incoming : reply) {
    std::vector<std::size_t>& at = positions[incoming.address];
    if (at.empty()) {
      if (merged.size() >= kMaxRackEffects) return false;
      at.push_back(merged.size());
      merged.push_back(&incoming);
    } else {
      for (std::size_t p : at) merged[p] = &incoming;
    }
  }
  RackTally tally;
  for (const RackEffect* e : merged) tally += tallyOf(*e);
  if (!withinBounds(tally)) return false;

  // Only what the reply brings is copied; the pointers into `reply` stay
  // valid while `list` grows.
  const std::size_t kept = list.size();
  for (std::size_t p = 0; p < kept; ++p)
    if (merged[p] != &list[p]) list[p] = *merged[p];
  list.reserve(merged.size());
  for (std::size_t p = kept; p < merged.size(); ++p) list.push_back(*merged[p]);
  return true;
}

}  // namespace mirandel
