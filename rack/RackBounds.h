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
// Every JSON value of the description: objects, arrays, strings, numbers,
// booleans and nulls. Counted in a first pass that builds nothing, since the
// document itself costs most: half a megabyte of empty objects, 174,745 of
// them, took 15 to 60 ms to build and free here before anything was read.
// The phone's rack holds 506 values in 8 KB; a description of its density at
// the byte bound holds 33,000, as do the most controls below with a field, a
// label and a position each.
inline constexpr std::size_t kMaxDescriptionValues = 65536;

// What an effect is shown on: 47 generic host parameters, 28 sliders, 14
// switches and one menu for its controls and 4 buttons for its actions (5 of
// the switches double as quick buttons). The phone's effects have 3 to 9
// controls, menus of 3 or 4 choices, up to 5 actions and a layout naming each
// control and action about once: the emulator's rack, made after the phone's,
// holds 12 effects with 53 controls, 25 choices, 11 actions and 39 layout
// fields in all. Each bound below is 150 to 400 times that, and more than the
// host could ever show of a rack: 8192 controls fill all 43 control slots of
// 190 effects; 8192 choices make 1000 menus of 8, or 64 of 128, far more than
// anyone picks from; 4096 actions put every effect of the longest list on all
// four buttons; 16,384 layout fields name every control twice.
// Counted over the whole description, and over the list after a merge.
inline constexpr std::size_t kMaxRackControls = 8192;
// The choices of all option controls.
inline constexpr std::size_t kMaxRackOptions = 8192;
// Action names and action labels.
inline constexpr std::size_t kMaxRackActions = 4096;
// Layout sections and their fields, show rules and the values they name,
// and the heroes chosen by mode.
inline constexpr std::size_t kMaxRackLayoutFields = 16384;

// What a rack holds, in the units the bounds count.
struct RackTally {
  std::size_t effects = 0;
  std::size_t controls = 0;
  std::size_t options = 0;
  std::size_t actions = 0;
  std::size_t layoutFields = 0;
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
