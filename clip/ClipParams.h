#pragma once
// Host indexes of the clip's fixed parameters.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "base/ShownTexts.h"  // the texts the clip shows
#include "rack/Slots.h"       // the rack's indexes, from "Effect" on

namespace mirandel::param {

inline constexpr std::uint32_t kDevice = 0;
inline constexpr std::uint32_t kPhoneIp = 1;
inline constexpr std::uint32_t kRescan = 2;
inline constexpr std::uint32_t kStatus = 3;
inline constexpr std::uint32_t kRec = 4;
inline constexpr std::uint32_t kSnap = 5;
inline constexpr std::uint32_t kFlipCamera = 6;
inline constexpr std::uint32_t kZoom = 7;
inline constexpr std::uint32_t kFps = 8;
inline constexpr std::uint32_t kFit = 9;
inline constexpr std::uint32_t kQuality = 10;
inline constexpr std::uint32_t kLatency = 11;
inline constexpr std::uint32_t kReconnect = 12;
inline constexpr std::uint32_t kPicture = 13;

}  // namespace mirandel::param

// The standard parameters that stand for a quantity: a host level from 0 to 1 and the unit it
// means, for the display, the command to the phone and the phone's feedback alike.
namespace mirandel::scale {

// Zoom: 0.5x at 0 to 8x at 1, the same step for each doubling.
inline double zoomFactor(double level) { return 0.5 * std::pow(2.0, 4.0 * level); }
// The level of a zoom factor (a positive finite number), held to 0 to 1.
inline float zoomLevel(float factor) {
  return std::clamp(std::log2(2.0f * factor) / 4.0f, 0.0f, 1.0f);
}

// Latency: 20 ms at 0 to 500 ms at 1, to the nearest millisecond.
inline std::int32_t latencyMs(float level) {
  return 20 + static_cast<std::int32_t>(level * 480.0f + 0.5f);
}

}  // namespace mirandel::scale
