#pragma once
// How a parsed description changes the clip's effect list: it replaces the
// list, or it is an answer about single effects and is merged into it by
// address.
#include <vector>

#include "rack/RackModel.h"

namespace mirandel {

// Takes `reply` (the effects of a description read within the bounds of
// RackBounds.h) into `list`. A full list, a list naming effects still to be
// described, or one at least as long as `list` replaces it. A shorter list of
// described effects is merged: each overwrites every entry of its address,
// and one whose address is new is appended. Answers false, leaving `list` as
// it was, when the merged list would pass a bound. Host thread.
bool updateRack(std::vector<RackEffect>& list, const std::vector<RackEffect>& reply);

}  // namespace mirandel
