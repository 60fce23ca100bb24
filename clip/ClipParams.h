#pragma once
// Host indexes of the clip's fixed parameters.
#include <cstdint>

#include "base/ShownTexts.h"  // the texts the clip shows

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
inline constexpr std::uint32_t kEffect = 14;
inline constexpr std::uint32_t kHero = 15;
inline constexpr std::uint32_t kQuick1 = 16;
inline constexpr std::uint32_t kOption1 = 21;
inline constexpr std::uint32_t kAction1 = 58;

}  // namespace mirandel::param
