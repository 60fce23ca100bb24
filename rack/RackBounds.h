#pragma once
// What a sane rack holds at most, and the tally of a rack against it. The
// phone chooses every number in a description, and the clip reads it,
// installs it and keeps it on the host's thread: a description is refused
// beyond any bound, and so is a merge whose effect list would pass one, so
// that no sequence of replies holds more than one description may.
#include <cstddef>
#include <vector>

#include "rack/RackModel.h"

namespace mirandel {

// The phone's racks hold a dozen effects in a few kilobytes. Beyond either
// bound a description would hold the host up: 10 MB take a quarter of a
// second to parse, and half a megabyte of empty effects, 170,000 of them, as
// long to install. No host could show such a list anyway.
inline constexpr std::size_t kMaxDescriptionBytes = std::size_t{512} << 10;
inline constexpr std::size_t kMaxRackEffects = 1000;

// What a rack holds, in the units the bounds count.
struct RackTally {
  std::size_t effects = 0;
  // Every text the records hold, as the description carried it: a label
  // taken from the control's field and the default type count nothing, so a
  // description within kMaxDescriptionBytes always tallies within it.
  std::size_t textBytes = 0;

  RackTally& operator+=(const RackTally& other);
  friend bool operator==(const RackTally&, const RackTally&) = default;
};

// Host thread, like everything that reads the rack.
RackTally tallyOf(const RackEffect& effect);
RackTally tallyOf(const std::vector<RackEffect>& effects);
bool withinBounds(const RackTally& tally);

}  // namespace mirandel
