#pragma once
// How the clip's 47 generic host parameters are addressed: each host index
// maps to a slot kind and a slot number within that kind.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/Clock.h"

// The host indexes of the rack's parameters: the effect menu, then the generic slots from
// "Hero" to "Action4".
namespace mirandel::param {
inline constexpr std::uint32_t kEffect = 14;
inline constexpr std::uint32_t kHero = 15;
inline constexpr std::uint32_t kQuick1 = 16;
inline constexpr std::uint32_t kOption1 = 21;
inline constexpr std::uint32_t kAction1 = 58;
}  // namespace mirandel::param

namespace mirandel {

enum class SlotKind : std::uint8_t { None = 0, Slider = 1, Toggle = 2, Option = 3, Action = 4 };

struct SlotRef {
  SlotKind kind = SlotKind::None;
  std::int32_t slot = -1;
};

inline constexpr int kParamCount = 62;
inline constexpr int kSliderSlots = 28;
inline constexpr int kToggleSlots = 14;
inline constexpr int kQuickToggles = 5;
inline constexpr int kActionSlots = 4;

struct SliderSlot {
  std::uint32_t hostIndex = 0;
  std::int32_t control = -1;  // index into the current effect's controls
  float value = 0.0f;
  float lastSent = -1.0f;  // never reset once a value was sent
  Nanos lastSentAt = 0;
};

struct ToggleSlot {
  std::uint32_t hostIndex = 0;
  std::int32_t control = -1;
  bool value = false;
  std::int32_t quickAction = -1;  // toggles 0..4 only: a bound one-shot action
};

struct OptionSlot {
  std::uint32_t hostIndex = 0;
  std::int32_t control = -1;
  float value = 0.0f;
};

struct ActionSlot {
  std::uint32_t hostIndex = 0;
  std::int32_t action = -1;
};

// One generic host parameter: its index, the slot it stands for and its name.
struct SlotDefinition {
  std::uint32_t hostIndex = 0;
  SlotRef ref;
  std::string name;
};

// Every generic parameter in host order: "Hero", "Quick1" to "Quick5", "Option1", nine rows
// of three sliders and a switch ("Slot1" to "Slot27", "Switch1" to "Switch9"), so that the
// phone's layout sections fill whole rows, and "Action1" to "Action4".
const std::vector<SlotDefinition>& slotDefinitions();

}  // namespace mirandel
