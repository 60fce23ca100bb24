#pragma once
// Host and phone numbers become indexes here. A float that is NaN, infinite
// or beyond the int range has no index: converting it would be undefined
// behaviour, so such values are reported as unusable instead.
#include <cmath>
#include <cstdint>
#include <optional>

namespace mirandel {

// Truncates toward zero.
inline std::optional<std::int32_t> truncateToInt(double v) {
  if (!std::isfinite(v)) return std::nullopt;
  const double t = std::trunc(v);
  if (t < -2147483648.0 || t > 2147483647.0) return std::nullopt;
  return static_cast<std::int32_t>(t);
}

// "Rounding a host value to an index": v + 0.5 truncated toward zero.
inline std::optional<std::int32_t> roundToIndex(float v) {
  return truncateToInt(static_cast<double>(v) + 0.5);
}

}  // namespace mirandel
