#pragma once
// The phone's effect rack as the clip holds it: plain records filled from the
// phone's JSON description and updated by its control feedback. Nothing in
// them points elsewhere, so they are copied freely.
#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace mirandel {

// One adjustable control of an effect.
struct RackControl {
  std::string field;                    // the control's name on the phone
  std::string label;                    // display name; the field when the phone gave none
  std::string type = "float";           // "bool", "option", anything else is continuous
  bool hasNormalized = false;           // a continuous control needs this to be shown on a slider
  double normalized = 0.0;              // current position, 0..1
  bool boolValue = false;               // current state of a "bool" control
  std::string optionValue;              // current choice of an "option" control
  std::vector<std::string> optionList;  // the choices of an "option" control, in order
  friend bool operator==(const RackControl&, const RackControl&) = default;
};

// A titled group of control or action names, in display order.
struct LayoutSection {
  std::string title;
  std::vector<std::string> fields;
  friend bool operator==(const LayoutSection&, const LayoutSection&) = default;
};

// Shows a control or action only while an option control has one of `values`.
struct ShowCondition {
  std::string controlField;
  std::vector<std::string> values;
  friend bool operator==(const ShowCondition&, const ShowCondition&) = default;
};

// One effect of the phone's rack.
struct RackEffect {
  std::int32_t index = 0;  // the phone's own number for the effect
  std::string name;        // its "Effect" menu entry
  std::string address;     // identifies it across replies and prefixes its commands
  std::string hero;        // field shown on the "Hero" slider
  std::string heroLabel;   // display name for "Hero"; empty means the control's label
  std::vector<RackControl> controls;
  bool controlsLoaded = false;  // false while the phone has only named the effect
  std::vector<std::string> actions;
  std::array<std::string, 6> toggleLabels;  // quick toggle labels, positions 1..5
  std::vector<LayoutSection> layout;
  std::map<std::string, ShowCondition> showConditions;  // control or action name → rule
  std::map<std::string, std::string> actionLabels;      // action name → display text
  std::string heroModeField;                            // option control choosing the hero
  std::map<std::string, std::string> heroesByMode;      // option value → hero field
  friend bool operator==(const RackEffect&, const RackEffect&) = default;
};

// A continuous control's position as the clip keeps it: the phone's number
// limited to 0..1, the only values a host slider holds. Not for NaN, which
// names no position at all.
inline double limitPosition(double v) { return std::clamp(v, 0.0, 1.0); }

// An option control's current value as a menu position; 0 when its list lacks the value.
inline float optionPosition(const RackControl& c) {
  for (std::size_t k = 0; k < c.optionList.size(); ++k)
    if (c.optionList[k] == c.optionValue) return static_cast<float>(k);
  return 0.0f;
}

// Whether the control or action `name` is shown under the effect's current
// option values. Called on the host's thread.
bool isShown(const RackEffect& effect, const std::string& name);

}  // namespace mirandel
