#include "rack/RackMerge.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "rack/RackBounds.h"

namespace mirandel {

std::optional<std::vector<RackEffect>> mergedRack(const std::vector<RackEffect>& list,
                                                  const std::vector<RackEffect>& reply) {
  const bool replace = list.empty() || list.size() <= reply.size() ||
                       std::any_of(reply.begin(), reply.end(),
                                   [](const RackEffect& e) { return !e.controlsLoaded; });
  if (replace) return reply;

  // The merged list as positions into `list` and `reply`, built and counted
  // before anything is copied; positions by address, so that a merge costs
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
      if (merged.size() >= kMaxRackEffects) return std::nullopt;
      at.push_back(merged.size());
      merged.push_back(&incoming);
    } else {
      for (std::size_t p : at) merged[p] = &incoming;
    }
  }
  RackTally tally;
  for (const RackEffect* e : merged) tally += tallyOf(*e);
  if (!withinBounds(tally)) return std::nullopt;

  std::vector<RackEffect> out;
  out.reserve(merged.size());
  for (const RackEffect* e : merged) out.push_back(*e);
  return out;
}

}  // namespace mirandel
