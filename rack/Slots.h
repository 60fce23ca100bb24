#pragma once
// How the clip's 47 generic host parameters are addressed: each host index
// maps to a slot kind and a slot number within that kind.
#include <array>
#include <cstdint>

#include "base/Clock.h"

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

}  // namespace mirandel
