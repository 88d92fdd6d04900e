// Projected coordinates to pixel coordinates. Stretch spikes can throw a line
// end behind the eye, where the projection is huge, infinite or NaN; these
// conversions are total and exact so that every build draws the same pixels.
#pragma once

#include <cstdint>

namespace vornisk {

// Truncates toward zero to 64 bits (NaN, infinities and values outside the
// 64-bit range give INT64_MIN) and keeps the low 32 bits as a signed value.
inline std::int32_t toPixelCoordinate(double projected) {
  constexpr double kTwoTo63 = 9223372036854775808.0;
  const std::int64_t wide = (projected >= -kTwoTo63 && projected < kTwoTo63)
                                ? static_cast<std::int64_t>(projected)
                                : INT64_MIN;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(wide)));
}

// A pixel coordinate moved by a jitter offset: the integer becomes a float, the
// offset is added in single precision (as int + float does), and the sum is
// converted back by the rule above. Coordinates beyond 2^24 lose bits on the
// way even when the offset is 0; that is part of the picture.
inline std::int32_t jitteredPixelCoordinate(std::int32_t coordinate, float offset) {
  const float moved = static_cast<float>(coordinate) + offset;
  // Within ±2^31 the float truncates straight to the same 32-bit value.
  if (moved > -2147483648.0f && moved < 2147483648.0f) return static_cast<std::int32_t>(moved);
  return toPixelCoordinate(static_cast<double>(moved));
}

}  // namespace vornisk
