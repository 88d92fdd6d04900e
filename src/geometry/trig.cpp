// sinl and cosl rounded to double, a few times faster than calling them on the
// argument itself.
//
// For |x| ≥ π/4 glibc's x87 sinl and cosl reduce the argument with the general
// multi-word method, which takes about three quarters of their time. Up to
// 2^20 a three-part π/2 (Cody and Waite) reduces it in a few long double
// operations, to within about an ulp, and sinl or cosl of the reduced argument
// take their short path. Both results are then within a few long double ulps
// of the true value, as sinl(x) is, so they round to the same double unless
// they lie near the midpoint between two doubles; there the answer comes from
// sinl(x) or cosl(x) itself, which happens for about one argument in sixty.
#include "geometry/trig.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace vornisk {
namespace {

double plainSin(double x) {
  return static_cast<double>(sinl(static_cast<long double>(x)));
}
double plainCos(double x) {
  return static_cast<double>(cosl(static_cast<long double>(x)));
}

#if LDBL_MANT_DIG == 64 && defined(__x86_64__)

// π/2 in parts of 44, 44 and 64 bits: k times each of the first two is exact
// for k < 2^20, and the three together are π/2 to 152 bits.
constexpr long double kHalfPi1 = 0xc90fdaa2216p-43L;
constexpr long double kHalfPi2 = 0x8c234c4c662p-87L;
constexpr long double kHalfPi3 = 0x8b80dc1cd129024ep-151L;
constexpr double kTwoOverPiDouble = 0.6366197723675814;
constexpr double kQuarterPi = 0.78;         // below this sinl and cosl do not reduce
constexpr double kLargestReduced = 0x1p20;  // keeps k below 2^20
// How close, in units of the last long double bit, a result may come to the
// midpoint between two doubles and still be rounded from the reduced argument.
constexpr unsigned kGuard = 16;

// Whether `value` (an x87 long double: a 64-bit significand) lies at least
// kGuard units from a midpoint between doubles, which its low 11 bits tell.
bool roundsClearly(long double value) {
  std::uint64_t significand = 0;
  std::memcpy(&significand, &value, sizeof significand);
  const unsigned low = static_cast<unsigned>(significand & 0x7FFu);
  return low + kGuard <= 0x400u || low >= 0x400u + kGuard;
}

// sin(x) when `quarterTurns` is 0, cos(x) when it is 1 (cos x = sin(x + π/2)).
double reducedWave(double x, unsigned quarterTurns) {
  // Any integer near x·2/π will do: a reduced argument a little past ±π/4
  // is still exact, only slower. Rounded in double, by adding and taking away
  // 1.5·2^52, and turned into an integer without touching the x87 rounding mode.
  constexpr double kRounder = 0x1.8p52;
  const double nearest = (x * kTwoOverPiDouble + kRounder) - kRounder;
  const long double k = nearest;
  const long double r = ((x - k * kHalfPi1) - k * kHalfPi2) - k * kHalfPi3;
  // x = r + k·π/2: the wave of x is ±sin r or ±cos r by k mod 4.
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

double portableSin(double x) {
  return reducible(x) ? reducedWave(x, 0) : plainSin(x);
}
double portableCos(double x) {
  return reducible(x) ? reducedWave(x, 1) : plainCos(x);
}

#else

}  // namespace

// Other long double formats (arm64's quad precision, WebAssembly's) keep the
// plain calls.
double portableSin(double x) {
  return plainSin(x);
}
double portableCos(double x) {
  return plainCos(x);
}

#endif

}  // namespace vornisk
