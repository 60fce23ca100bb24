#pragma once
// Where one effect's controls and actions go among the clip's generic slots:
// the hero slider, five quick toggles, the tune rows (27 sliders, 9 switches,
// one option menu) and four action buttons. A pure function of the effect and
// its current values; the clip applies the plan to its host parameters.
#include <array>
#include <cstdint>
#include <string>

#include "rack/Slots.h"
#include "rack/RackModel.h"

namespace mirandel {

// What one slot shows. A slot bound to nothing (control and action both -1)
// is hidden.
struct SlotBinding {
  std::int32_t control = -1;  // index into effect.controls
  std::int32_t action = -1;   // index into effect.actions (quick toggles and action slots)
  std::string displayName;

  bool bound() const { return control >= 0 || action >= 0; }
};

struct SlotPlan {
  std::array<SlotBinding, kSliderSlots> sliders;  // 0 = "Hero", s = "Slot" s
  std::array<SlotBinding, kToggleSlots> toggles;  // 0..4 = Quick1..5, 5..13 = Switch1..9
  SlotBinding option;                             // "Option1"
  std::array<SlotBinding, kActionSlots> actions;  // Action1..4
};

// Maps `effect` onto the slots. Called on the host's thread.
SlotPlan planLayout(const RackEffect& effect);

}  // namespace mirandel
