// sinl and cosl rounded to double, worked out with double and integer
// arithmetic of our own, so that every platform gives the same bits.
//
// The target is the true value rounded to 64 significant bits (what a correctly
// rounded x87 sinl gives) and then to double. The two roundings differ from a
// single one only where the true value lies within half a 64-bit unit of a
// midpoint between doubles: there the midpoint itself is the 64-bit result and
// the tie goes to the even double.
//
// The quick path (|x| up to 2^21) reduces x by pi/2 in four parts, looks up
// sin and cos of the nearest j/128 and adds the short series of the rest, in
// double-double arithmetic to within 2^-66 of the result. Where that estimate
// cannot tell which way the two roundings go (about one call in 2,500), and
// for larger |x|, the wide path (trig_wide.cpp) decides from some 190 correct
// bits. Last, glibc's sinl and cosl are not always correctly rounded: at the
// arguments of a table made from them (trig_deviations.inc) the other double
// beside the midpoint is returned, as they give it.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "geometry/trig.h"
#include "geometry/trig_detail.h"

namespace vornisk {
namespace trig {
namespace {

#include "geometry/trig_deviations.inc"
#include "geometry/trig_tables.inc"

// std::bit_cast, where the standard library has it; the web build's (libc++ of
// emscripten 3.1.6) has not, but its compiler has the builtin it rests on.
template <class To, class From>
To bitCast(const From& from) {
#if defined(__cpp_lib_bit_cast)
  return std::bit_cast<To>(from);
#else
  return __builtin_bit_cast(To, from);
#endif
}

constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;
// Adding and taking away 1.5·2^52 rounds a double below 2^51 to an integer.
constexpr double kRounder = 0x1.8p52;

// Error-free transformations: a + b and a·b as a value and its exact rest.
Estimate twoSum(double a, double b) {
  const double sum = a + b;
  const double bPart = sum - a;
  const double aPart = sum - bPart;
  return {sum, (a - aPart) + (b - bPart)};
}

Estimate twoProduct(double a, double b) {
  // Dekker: each factor split into two halves of 26 bits, whose products are exact.
  constexpr double kSplitter = 0x1p27 + 1.0;
  const double aScaled = kSplitter * a;
  const double aHigh = aScaled - (aScaled - a);
  const double aLow = a - aHigh;
  const double bScaled = kSplitter * b;
  const double bHigh = bScaled - (bScaled - b);
  const double bLow = b - bHigh;
  const double product = a * b;
  return {product, ((aHigh * bHigh - product) + aHigh * bLow + aLow * bHigh) + aLow * bLow};
}

// Rounds the true value t, known to be within `errorBound` of high + low
// (|low| at most half a unit of high's last bit), twice: false when t may lie on
// either side of a point where the result changes.
bool roundTwice(const Estimate& estimate, double errorBound, Rounding& rounding) {
  const double high = estimate.high;
  if (estimate.low == 0.0) {
    rounding = {high, high, false};
    return true;
  }
  // The double beside high towards t, and the midpoint M between them.
  const std::uint64_t bits = bitCast<std::uint64_t>(high);
  const double beside = bitCast<double>((estimate.low > 0) == (high > 0) ? bits + 1 : bits - 1);
  const double gap = std::fabs(beside - high);
  // |t - M| within errorBound: exact where it matters (Sterbenz).
  const double distance = 0.5 * gap - std::fabs(estimate.low);
  const double unit64 = gap * 0x1p-11;  // a 64-bit unit where M lies
  if (distance > 0.5 * unit64 + errorBound) {
    rounding = {high, beside, distance < 2.0 * unit64};
  } else if (distance < 0.5 * unit64 - errorBound) {
    // The 64-bit rounding is M itself: the tie goes to the even double.
    const bool highIsEven = (bits & 1u) == 0;
    rounding = {highIsEven ? high : beside, highIsEven ? beside : high, true};
  } else {
    return false;
  }
  return true;
}

Rounding rounding(double x, Wave wave) {
  Estimate estimate;
  Rounding result;
  if (quickEstimate(x, wave, estimate) &&
      roundTwice(estimate, kQuickRelativeError * std::fabs(estimate.high), result)) {
    return result;
  }
  return roundWidely(x, wave);
}

bool tiny(double magnitude) {
  // Below 2^-27 the sine lies within x³/6 < 2^-56 |x| of x and the cosine
  // within 2^-55 of 1: both far nearer than the midpoints beside them, so
  // both roundings give x and 1.
  return magnitude < 0x1p-27;
}

double wave(double x, Wave which) {
  if (!std::isfinite(x)) return std::numeric_limits<double>::quiet_NaN();
  const double magnitude = std::fabs(x);
  if (tiny(magnitude)) return which == Wave::Sine ? x : 1.0;
  const Rounding result = rounding(x, which);
  if (result.nearMidpoint) {
    const auto table = deviations(which);
    if (std::binary_search(table.begin(), table.end(), bitCast<std::uint64_t>(magnitude)))
      return result.other;
  }
  return result.value;
}

}  // namespace

bool quickEstimate(double x, Wave wave, Estimate& estimate) {
  const double magnitude = std::fabs(x);
  if (!(magnitude >= 0x1p-27 && magnitude <= 0x1p21)) return false;

  // r = |x| - k·pi/2 with k the integer nearest |x|·2/pi (below 2^21, so k
  // times each of the first three parts is exact). The first difference is
  // exact (Sterbenz), the next two are kept whole, and the fourth part's
  // product and the sum of the rests err by under 2^-104 |r|.
  const double k = (magnitude * kTwoOverPi + kRounder) - kRounder;
  const double partial = magnitude - k * kHalfPiParts[0];
  const Estimate first = twoSum(partial, -(k * kHalfPiParts[1]));
  const Estimate second = twoSum(first.high, -(k * kHalfPiParts[2]));
  const Estimate r = twoSum(second.high, (first.low + second.low) - k * kHalfPiParts[3]);
  if (std::fabs(r.high) < 0x1p-30) return false;

  // r = a + b with a = j/128 from the table and |b| ≤ 1/256 (b's high part
  // exact, Sterbenz again). The wave of x is ±sin r or ±cos r by the quarter
  // turns; sin(a + b) and cos(a + b) are both u·cos b + v·sin b.
  const unsigned turns =
      (static_cast<unsigned>(static_cast<int>(k)) + (wave == Wave::Cosine ? 1u : 0u)) & 3u;
  const double j = (r.high * 128.0 + kRounder) - kRounder;
  const double bHigh = r.high - j * 0x1p-7;
  const double bLow = r.low;
  const SineCosineStep& step = kSteps[static_cast<int>(std::fabs(j))];
  const double sinSign = j < 0 ? -1.0 : 1.0;
  Estimate u{step.cosHigh, step.cosLow};
  Estimate v{-sinSign * step.sinHigh, -sinSign * step.sinLow};
  if ((turns & 1u) == 0) {
    u = {sinSign * step.sinHigh, sinSign * step.sinLow};
    v = {step.cosHigh, step.cosLow};
  }

  // cos b = 1 - (z/2 + cRest) and sin b = b - s, z = b² rounded; the series
  // stop below 2^-100 of the result.
  const Estimate square = twoProduct(bHigh, bHigh);
  const double z = square.high;
  const double cRest = 0.5 * (square.low + 2.0 * bHigh * bLow) -
                       z * z * (1.0 / 24 - z * (1.0 / 720 - z * (1.0 / 40320)));
  const double s = bHigh * z * (1.0 / 6 - z * (1.0 / 120 - z * (1.0 / 5040 - z * (1.0 / 362880))));

  // u + v·b - u·z/2 kept whole; the rest (below 2^-18 of the result) in double.
  const Estimate vb = twoProduct(v.high, bHigh);
  const Estimate uc = twoProduct(u.high, 0.5 * z);
  const Estimate head = twoSum(u.high, vb.high);
  const Estimate head2 = twoSum(head.high, -uc.high);
  const double rest = (((u.low + vb.low) - uc.low) + (head.low + head2.low)) +
                      (v.high * bLow + v.low * bHigh) - (u.high * cRest + u.low * (0.5 * z)) -
                      v.high * s;
  estimate = twoSum(head2.high, rest);
  // The error, relative to the result R (|R| ≥ sin(1/256) ≈ 2^-8 for a sine
  // with j ≠ 0, R ≈ b with j = 0, |R| ≥ 0.7 for a cosine), with u = 2^-53:
  // - s (below 2^-18.6 |R|) carries 5u of its own from its roundings: 2^-69.3;
  //   and b's low part, left out of s, 2^-69.9;
  // - the roundings of `rest`, whose largest term is v·s: 2^-70.6; v's low
  //   part times s, left out: 2^-71.6;
  // - everything else (the table pairs, the reduction, the series' tails, the
  //   terms of cRest) stays below 2^-75 together.
  // In all below 2^-68.1; kQuickRelativeError, 2^-66, leaves a factor of four
  // (the largest error seen over millions of arguments is 2^-69.2).
  const bool negative = ((turns & 2u) != 0) != (wave == Wave::Sine && x < 0);
  if (negative) estimate = {-estimate.high, -estimate.low};
  return true;
}

double twiceRounded(double x, Wave wave) {
  if (!std::isfinite(x)) return std::numeric_limits<double>::quiet_NaN();
  if (tiny(std::fabs(x))) return wave == Wave::Sine ? x : 1.0;
  return rounding(x, wave).value;
}

double twiceRoundedWidely(double x, Wave wave) {
  if (!std::isfinite(x)) return std::numeric_limits<double>::quiet_NaN();
  if (tiny(std::fabs(x))) return wave == Wave::Sine ? x : 1.0;
  return roundWidely(x, wave).value;
}

std::span<const std::uint64_t> deviations(Wave wave) {
  if (wave == Wave::Sine) return kSineDeviations;
  return kCosineDeviations;
}

}  // namespace trig

double portableSin(double x) {
  return trig::wave(x, trig::Wave::Sine);
}
double portableCos(double x) {
  return trig::wave(x, trig::Wave::Cosine);
}

}  // namespace vornisk
