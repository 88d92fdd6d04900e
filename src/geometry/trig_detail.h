// The parts of portableSin and portableCos that the tests and the check tool
// (tools/trig-check) reach into: the twice-rounded value before the table of
// glibc's own roundings is applied, the wide path alone, the quick path's
// estimate with its error bound, and that table.
#pragma once

#include <cstdint>
#include <span>

namespace vornisk::trig {

enum class Wave { Sine, Cosine };

// sin x or cos x rounded to 64 significant bits and then to double, each time
// to nearest with ties to even: what a correctly rounded x87 sinl or cosl gives
// once rounded to double. A quiet not-a-number for infinities and
// not-a-numbers.
double twiceRounded(double x, Wave wave);

// The same by the wide fixed-point path alone (trig_wide.cpp).
double twiceRoundedWidely(double x, Wave wave);

// The quick path's double-double estimate of the wave of x, for
// 2^-27 <= |x| <= 2^21; false where that path does not apply (|x| outside, or
// x within 2^-30 of a multiple of pi/2). Its error is below
// kQuickRelativeError times |high|.
struct Estimate {
  double high = 0.0, low = 0.0;
};
bool quickEstimate(double x, Wave wave, Estimate& estimate);
inline constexpr double kQuickRelativeError = 0x1p-66;

// A twice-rounded result, with the other double beside the midpoint nearest
// the true value and whether the true value lies within two units of the 64th
// bit of that midpoint (where glibc's sinl may round the other way).
struct Rounding {
  double value = 0.0, other = 0.0;
  bool nearMidpoint = false;
};
// For finite x with |x| >= 2^-27.
Rounding roundWidely(double x, Wave wave);

// Arguments (the bits of |x|, ascending) where glibc's x87 sinl or cosl, rounded
// to double, differs from twiceRounded: portableSin and portableCos give the
// other neighbour of the midpoint there.
std::span<const std::uint64_t> deviations(Wave wave);

}  // namespace vornisk::trig
