// x87 sinl and cosl rounded to double, as the show computed its sines and
// cosines until it had its own: for π/4 ≤ |x| < 2^20 the argument is reduced
// by a three-part π/2 (Cody and Waite) in long double and sinl or cosl of the
// reduced argument is taken, unless that result lies within 16 units of its
// last bit from a midpoint between doubles, where sinl(x) or cosl(x) itself
// decides; elsewhere sinl(x) or cosl(x). Either way the result is sinl(x) or
// cosl(x) rounded to double. glibc's are the same on every x86-64 machine; the
// C libraries of other platforms (mingw's among them) differ, so only glibc
// builds take them as the reference.
#include "trig-check/sinl_reference.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace trig_check {

#if LDBL_MANT_DIG == 64 && defined(__x86_64__) && defined(__GLIBC__)

namespace {

double plainSin(double x) {
  return static_cast<double>(sinl(static_cast<long double>(x)));
}
double plainCos(double x) {
  return static_cast<double>(cosl(static_cast<long double>(x)));
}

// π/2 in parts of 44, 44 and 64 bits: k times each of the first two is exact
// for k < 2^20, and the three together are π/2 to 152 bits.
constexpr long double kHalfPi1 = 0xc90fdaa2216p-43L;
constexpr long double kHalfPi2 = 0x8c234c4c662p-87L;
constexpr long double kHalfPi3 = 0x8b80dc1cd129024ep-151L;
constexpr double kTwoOverPiDouble = 0.6366197723675814;
constexpr double kQuarterPi = 0.78;         // below this sinl and cosl do not reduce
constexpr double kLargestReduced = 0x1p20;  // keeps k below 2^20
constexpr unsigned kGuard = 16;

bool roundsClearly(long double value) {
  std::uint64_t significand = 0;
  std::memcpy(&significand, &value, sizeof significand);
  const unsigned low = static_cast<unsigned>(significand & 0x7FFu);
  return low + kGuard <= 0x400u || low >= 0x400u + kGuard;
}

double reducedWave(double x, unsigned quarterTurns) {
  constexpr double kRounder = 0x1.8p52;
  const double nearest = (x * kTwoOverPiDouble + kRounder) - kRounder;
  const long double k = nearest;
  const long double r = ((x - k * kHalfPi1) - k * kHalfPi2) - k * kHalfPi3;
  const unsigned quadrant = (static_cast<unsigned>(static_cast<int>(nearest)) + quarterTurns) & 3u;
  const long double value = (quadrant & 1u) != 0 ? cosl(r) : sinl(r);
  if (!roundsClearly(value)) [[unlikely]] {
    return quarterTurns == 0 ? plainSin(x) : plainCos(x);
  }
  const double rounded = static_cast<double>(value);
  return (quadrant & 2u) != 0 ? -rounded : rounded;
}

bool reducible(double x) {
  const double magnitude = std::fabs(x);
  return magnitude >= kQuarterPi && magnitude < kLargestReduced;
}

}  // namespace

bool haveSinlReference() {
  return true;
}
double sinlReference(double x) {
  return reducible(x) ? reducedWave(x, 0) : plainSin(x);
}
double coslReference(double x) {
  return reducible(x) ? reducedWave(x, 1) : plainCos(x);
}

#else

bool haveSinlReference() {
  return false;
}
double sinlReference(double) {
  return 0.0;
}
double coslReference(double) {
  return 0.0;
}

#endif

}  // namespace trig_check
