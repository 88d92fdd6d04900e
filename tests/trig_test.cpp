// portableSin and portableCos: glibc's x87 sinl and cosl rounded to double on
// the show's arguments (where this build has them, and by a digest of the
// results everywhere), and the twice-rounded true value on random and hard
// arguments, against a multi-word reference of this file's own, which also
// checks the generated constants from pi it works out itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "geometry/trig.h"
#include "geometry/trig_detail.h"

namespace vornisk {
namespace {

#include "geometry/trig_tables.inc"

using trig::Wave;

// ---- Unsigned integers of any length (32-bit words, least significant first).
using Big = std::vector<std::uint32_t>;

void trim(Big& a) {
  while (!a.empty() && a.back() == 0)
    a.pop_back();
}

Big fromWord64(std::uint64_t v) {
  Big a{static_cast<std::uint32_t>(v), static_cast<std::uint32_t>(v >> 32)};
  trim(a);
  return a;
}

int compare(const Big& a, const Big& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (std::size_t i = a.size(); i-- > 0;)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return 0;
}

Big add(const Big& a, const Big& b) {
  Big sum(std::max(a.size(), b.size()) + 1, 0);
  std::uint64_t carry = 0;
  for (std::size_t i = 0; i < sum.size(); ++i) {
    carry += (i < a.size() ? a[i] : 0u) + std::uint64_t{i < b.size() ? b[i] : 0u};
    sum[i] = static_cast<std::uint32_t>(carry);
    carry >>= 32;
  }
  trim(sum);
  return sum;
}

Big subtract(const Big& a, const Big& b) {  // a ≥ b
  Big difference = a;
  std::int64_t borrow = 0;
  for (std::size_t i = 0; i < difference.size(); ++i) {
    std::int64_t v = std::int64_t{a[i]} - (i < b.size() ? b[i] : 0) - borrow;
    borrow = v < 0 ? 1 : 0;
    difference[i] = static_cast<std::uint32_t>(v + (borrow << 32));
  }
  trim(difference);
  return difference;
}

Big multiply(const Big& a, const Big& b) {
  Big product(a.size() + b.size() + 1, 0);
  for (std::size_t i = 0; i < a.size(); ++i) {
    std::uint64_t carry = 0;
    for (std::size_t j = 0; j < b.size() || carry != 0; ++j) {
      carry += product[i + j] + std::uint64_t{a[i]} * (j < b.size() ? b[j] : 0u);
      product[i + j] = static_cast<std::uint32_t>(carry);
      carry >>= 32;
    }
  }
  trim(product);
  return product;
}

Big divide(const Big& a, std::uint32_t divisor) {
  Big quotient = a;
  std::uint64_t remainder = 0;
  for (std::size_t i = quotient.size(); i-- > 0;) {
    remainder = (remainder << 32) | quotient[i];
    quotient[i] = static_cast<std::uint32_t>(remainder / divisor);
    remainder %= divisor;
  }
  trim(quotient);
  return quotient;
}

int bitLength(const Big& a) {
  if (a.empty()) return 0;
  int top = 31;
  while ((a.back() >> top) == 0)
    --top;
  return static_cast<int>(32 * (a.size() - 1)) + top + 1;
}

Big shifted(const Big& a, int bits) {  // a·2^bits, truncated when bits < 0
  Big result;
  if (bits >= 0) {
    result.assign(static_cast<std::size_t>(bits / 32), 0);
    std::uint32_t carry = 0;
    for (const std::uint32_t word : a) {
      result.push_back(bits % 32 == 0 ? word : (word << (bits % 32)) | carry);
      carry = bits % 32 == 0 ? 0 : word >> (32 - bits % 32);
    }
    result.push_back(carry);
  } else {
    const std::size_t words = static_cast<std::size_t>(-bits / 32);
    const int rest = -bits % 32;
    for (std::size_t i = words; i < a.size(); ++i) {
      const std::uint64_t next = i + 1 < a.size() ? a[i + 1] : 0u;
      result.push_back(static_cast<std::uint32_t>(((next << 32) | a[i]) >> rest));
    }
  }
  trim(result);
  return result;
}

Big lowBits(Big a, int bits) {
  a.resize(std::min(a.size(), static_cast<std::size_t>(bits + 31) / 32));
  if (bits % 32 != 0 && a.size() == static_cast<std::size_t>(bits + 31) / 32)
    a.back() &= (std::uint32_t{1} << (bits % 32)) - 1u;
  trim(a);
  return a;
}

Big powerOfTwo(int bits) {
  return shifted(Big{1}, bits);
}

// a·2^exponent, to double precision or so.
double approximate(const Big& a, int exponent) {
  const int drop = std::max(0, bitLength(a) - 64);
  const Big top = shifted(a, -drop);
  double value = 0.0;
  for (std::size_t i = top.size(); i-- > 0;)
    value = value * 0x1p32 + top[i];
  return std::ldexp(value, exponent + drop);
}

Big twoOverPiTable() {
  Big value(std::rbegin(kTwoOverPiWords), std::rend(kTwoOverPiWords));
  trim(value);
  return value;
}

// ---- The reference: fixed-point numbers of kFraction bits below the point.
constexpr int kFraction = 640;
constexpr int kPiBits = 1700;

// atan(1/n)·2^kPiBits by its series, as the sum of its positive and its
// negative terms.
Big arctanInverse(std::uint32_t n) {
  Big power = divide(powerOfTwo(kPiBits), n), positive, negative;
  for (std::uint32_t k = 0; !power.empty(); ++k) {
    const Big term = divide(power, 2 * k + 1);
    (k % 2 == 0 ? positive : negative) = add(k % 2 == 0 ? positive : negative, term);
    power = divide(power, n * n);
  }
  return subtract(positive, negative);
}

// pi·2^kPiBits, by Machin: pi = 16 atan(1/5) - 4 atan(1/239).
const Big& pi() {
  static const Big value = [] {
    const Big fifth = arctanInverse(5), inverse239 = arctanInverse(239);
    return subtract(shifted(fifth, 4), shifted(inverse239, 2));
  }();
  return value;
}

Big halfPi() {
  return shifted(pi(), kFraction - kPiBits - 1);
}

// A double as a fixed-point number (exact for |x| ≥ 2^-587).
Big fixedOf(double x) {
  int exponent = 0;
  const double mantissa = std::frexp(std::fabs(x), &exponent);
  const auto m = static_cast<std::uint64_t>(std::ldexp(mantissa, 53));
  return shifted(fromWord64(m), exponent - 53 + kFraction);
}

// sin r or cos r of a fixed-point 0 ≤ r < 1, to about 2^-630.
Big series(const Big& r, Wave wave) {
  const Big square = shifted(multiply(r, r), -kFraction);
  Big term = wave == Wave::Sine ? r : powerOfTwo(kFraction), positive = term, negative;
  for (std::uint32_t n = wave == Wave::Sine ? 2 : 1, k = 1; !term.empty(); n += 2, ++k) {
    term = divide(shifted(multiply(term, square), -kFraction), n * (n + 1));
    (k % 2 == 1 ? negative : positive) = add(k % 2 == 1 ? negative : positive, term);
  }
  return subtract(positive, negative);
}

// value·2^exponent rounded to `bits` significant bits, to nearest, ties to even.
void roundTo(Big& value, int& exponent, int bits) {
  const int drop = bitLength(value) - bits;
  if (drop <= 0) return;
  Big kept = shifted(value, -drop);
  const int order = compare(subtract(value, shifted(kept, drop)), powerOfTwo(drop - 1));
  if (order > 0 || (order == 0 && !kept.empty() && (kept[0] & 1u) != 0)) kept = add(kept, Big{1});
  value = kept;
  exponent += drop;
}

// The twice-rounded wave of x for finite |x| ≥ 2^-30, and the fixed-point true
// value (through `exact`) for the quick path's error.
double reference(double x, Wave wave, Big* exact = nullptr, bool* negativeResult = nullptr) {
  int exponent = 0;
  const double mantissa = std::frexp(std::fabs(x), &exponent);
  const Big m = fromWord64(static_cast<std::uint64_t>(std::ldexp(mantissa, 53)));
  // x·2/pi = m·W·2^(exponent - 53 - 1536), W the 1536 bits of 2/pi (checked below).
  const Big product = multiply(m, twoOverPiTable());
  const int point = 1536 + 53 - exponent;  // bits below the point in product
  const Big whole = shifted(product, -point);
  unsigned quadrant = whole.empty() ? 0u : whole[0] & 3u;
  Big fraction = lowBits(shifted(product, kFraction - point), kFraction);
  const bool negativeReduced = compare(fraction, powerOfTwo(kFraction - 1)) >= 0;
  if (negativeReduced) {
    fraction = subtract(powerOfTwo(kFraction), fraction);
    ++quadrant;
  }
  const Big r = shifted(multiply(fraction, halfPi()), -kFraction);
  const unsigned turn = (quadrant + (wave == Wave::Cosine ? 1u : 0u)) & 3u;
  const Wave reducedWave = (turn & 1u) != 0 ? Wave::Cosine : Wave::Sine;
  bool negative = ((turn & 2u) != 0) != (reducedWave == Wave::Sine && negativeReduced);
  if (wave == Wave::Sine && x < 0) negative = !negative;
  Big value = series(r, reducedWave);
  if (exact != nullptr) *exact = value;
  if (negativeResult != nullptr) *negativeResult = negative;
  int valueExponent = -kFraction;
  roundTo(value, valueExponent, 64);
  roundTo(value, valueExponent, 53);
  const double result = approximate(value, valueExponent);  // exact: 53 bits at most
  return negative ? -result : result;
}

// ---- The show's arguments: one show at 60 frames per second and the
// arguments of the table of glibc's own roundings.
const int kBallSineDivisors[] = {31, 42, 33, 22, 53, 41, 43, 32, 11, 51, 46, 37, 17};
const int kBallCosineDivisors[] = {56, 47, 18, 38, 57, 58, 48, 36, 27, 26, 37, 41, 32, 23, 46};

template <typename Visit>
void visitShowArguments(Visit visit) {
  for (int n = 0; n < 10440; ++n) {
    const double frame = n;
    for (const int d : kBallSineDivisors)
      visit(frame / d, Wave::Sine);
    for (const int d : kBallCosineDivisors)
      visit(frame / d, Wave::Cosine);
    visit(frame / 30.0, Wave::Sine);
    visit(frame / 30.0, Wave::Cosine);
    visit(frame * 0.06666666666666667, Wave::Cosine);
    visit(frame * 10.0 / 257.0, Wave::Cosine);
    visit(frame * 5.0 / 86.0, Wave::Sine);
  }
  for (const Wave wave : {Wave::Sine, Wave::Cosine})
    for (const std::uint64_t bits : trig::deviations(wave))
      visit(std::bit_cast<double>(bits), wave);
}

double portable(double x, Wave wave) {
  return wave == Wave::Sine ? portableSin(x) : portableCos(x);
}

// On x86-64 with glibc, sinl and cosl themselves; everywhere, the digest of all
// results that those gave.
TEST(PortableTrig, GivesSinlRoundedToDoubleOnTheShowsArguments) {
  constexpr std::uint64_t kDigest = 4410588176111081191u;
  std::uint64_t digest = 0, checked = 0, differing = 0;
  visitShowArguments([&](double x, Wave wave) {
    const double result = portable(x, wave);
    digest = (digest ^ std::bit_cast<std::uint64_t>(result)) * 0x100000001b3u +
             std::bit_cast<std::uint64_t>(x);
#if LDBL_MANT_DIG == 64 && defined(__x86_64__) && defined(__GLIBC__)
    const long double wide = static_cast<long double>(x);
    const double sinl87 = static_cast<double>(wave == Wave::Sine ? sinl(wide) : cosl(wide));
    if (std::bit_cast<std::uint64_t>(result) != std::bit_cast<std::uint64_t>(sinl87) &&
        ++differing <= 5)
      ADD_FAILURE() << (wave == Wave::Sine ? "sin(" : "cos(") << std::hexfloat << x
                    << ") = " << result << ", sinl gives " << sinl87;
#endif
    ++checked;
  });
  EXPECT_EQ(differing, 0u) << "of " << checked;
  EXPECT_EQ(digest, kDigest) << std::hex << "digest of " << std::dec << checked << " results";
}

// The constants of trig_tables.inc, from this file's own pi.
TEST(PortableTrig, TablesHoldPiAndTheStepsWaves) {
  // pi/2 in parts: within 2^-145.
  Big parts;
  for (const double part : kHalfPiParts)
    parts = add(parts, fixedOf(part));
  const Big half = halfPi();
  const Big error = compare(parts, half) > 0 ? subtract(parts, half) : subtract(half, parts);
  EXPECT_LT(bitLength(error), kFraction - 145);
  // 2/pi: W·pi within 2^-1530 below 2.
  const Big two = powerOfTwo(1536 + kPiBits + 1), product = multiply(twoOverPiTable(), pi());
  ASSERT_LT(compare(product, two), 0);
  EXPECT_LT(bitLength(subtract(two, product)), kPiBits + 6);
  // pi/2 truncated to 2^-256.
  Big fixed(std::rbegin(kHalfPiFixed), std::rend(kHalfPiFixed));
  trim(fixed);
  EXPECT_EQ(compare(fixed, shifted(half, 256 - kFraction)), 0);
  // sin and cos of j/128 as pairs within 2^-104 of the value.
  for (int j = 0; j < static_cast<int>(std::size(kSteps)); ++j) {
    SCOPED_TRACE(j);
    const Big angle = powerOfTwo(kFraction - 7);
    const Big r = multiply(angle, fromWord64(static_cast<std::uint64_t>(j)));
    const double pairs[2][2] = {{kSteps[j].sinHigh, kSteps[j].sinLow},
                                {kSteps[j].cosHigh, kSteps[j].cosLow}};
    for (const Wave wave : {Wave::Sine, Wave::Cosine}) {
      const Big value = series(r, wave);
      const double* pair = pairs[wave == Wave::Sine ? 0 : 1];
      Big stored = fixedOf(pair[0]);
      if (pair[1] > 0) stored = add(stored, fixedOf(pair[1]));
      if (pair[1] < 0) stored = subtract(stored, fixedOf(pair[1]));
      const Big gap =
          compare(stored, value) > 0 ? subtract(stored, value) : subtract(value, stored);
      EXPECT_LT(bitLength(gap), kFraction - 104);
    }
  }
}

// Random arguments of every size and the hardest to reduce: the quick and the
// wide path each round the true value twice, and the quick path's estimate
// stays within its error bound.
TEST(PortableTrig, RoundsTheTrueValueTwice) {
  std::vector<double> arguments = {0x1p-27, 0.5, 0.7853981633974483, 1.5707963267948966,
                                   3.141592653589793, 1e6, 0x1p21, std::nextafter(0x1p21, 1e300),
                                   1e22, 1e300, DBL_MAX,
                                   // The double nearest a multiple of pi/2 (about 2^-60.9 from it).
                                   std::ldexp(6381956970095103.0, 797)};
  std::mt19937_64 random(25);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int i = 0; i < 1500; ++i) {
    arguments.push_back(std::ldexp(1.0 + unit(random), static_cast<int>(unit(random) * 48) - 27));
    arguments.push_back(unit(random) * 0x1p21);
    arguments.push_back(std::ldexp(1.0 + unit(random), static_cast<int>(unit(random) * 1050) - 27));
  }
  // Multiples of pi/2 rounded, and their neighbours: tiny reduced arguments.
  for (int i = 0; i < 300; ++i) {
    const double k = 1.0 + std::floor(std::ldexp(unit(random), 1 + i % 40));
    const double near = k * 1.5707963267948966;
    arguments.push_back(near);
    arguments.push_back(std::nextafter(near, 0.0));
  }
  int wrong = 0, wideWrong = 0, outOfBound = 0;
  double worstError = 0.0;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    for (const double x : {arguments[i], -arguments[i]}) {
      for (const Wave wave : {Wave::Sine, Wave::Cosine}) {
        Big exact;
        bool negative = false;
        const double expected = reference(x, wave, &exact, &negative);
        if (std::bit_cast<std::uint64_t>(trig::twiceRounded(x, wave)) !=
                std::bit_cast<std::uint64_t>(expected) &&
            ++wrong <= 5)
          ADD_FAILURE() << std::hexfloat << x << (wave == Wave::Sine ? " sine " : " cosine ")
                        << trig::twiceRounded(x, wave) << " instead of " << expected;
        if (i % 8 == 0 &&
            std::bit_cast<std::uint64_t>(trig::twiceRoundedWidely(x, wave)) !=
                std::bit_cast<std::uint64_t>(expected) &&
            ++wideWrong <= 5)
          ADD_FAILURE() << std::hexfloat << x << " wide path gives "
                        << trig::twiceRoundedWidely(x, wave) << " instead of " << expected;
        trig::Estimate estimate;
        if (!trig::quickEstimate(x, wave, estimate) || x < 0) continue;
        // |high + low - exact| in units of 2^-kFraction, against the bound.
        const double sign = negative ? -1.0 : 1.0;
        Big sum = fixedOf(estimate.high);
        sum = sign * estimate.low > 0 ? add(sum, fixedOf(estimate.low))
                                      : subtract(sum, fixedOf(estimate.low));
        const Big gap = compare(sum, exact) > 0 ? subtract(sum, exact) : subtract(exact, sum);
        const double error = approximate(gap, -kFraction) / std::fabs(estimate.high);
        worstError = std::max(worstError, error);
        outOfBound += error > trig::kQuickRelativeError;
      }
    }
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(wideWrong, 0);
  EXPECT_EQ(outOfBound, 0) << "worst relative error 2^" << std::log2(worstError);
}

// Sine odd, cosine even; zeros keep their sign; tiny arguments give x and 1;
// infinities and not-a-numbers give a not-a-number.
TEST(PortableTrig, SpecialArguments) {
  struct Case {
    double x, sine, cosine;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double infinity = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {0.0, 0.0, 1.0},
      {-0.0, -0.0, 1.0},
      {DBL_TRUE_MIN, DBL_TRUE_MIN, 1.0},
      {-DBL_MIN, -DBL_MIN, 1.0},
      {std::nextafter(0x1p-27, 0.0), std::nextafter(0x1p-27, 0.0), 1.0},
      {infinity, nan, nan},
      {-infinity, nan, nan},
      {nan, nan, nan},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.x);
    for (const auto& [got, want] :
         {std::pair{portableSin(c.x), c.sine}, std::pair{portableCos(c.x), c.cosine}}) {
      if (std::isnan(want))
        EXPECT_TRUE(std::isnan(got));
      else
        EXPECT_EQ(std::bit_cast<std::uint64_t>(got), std::bit_cast<std::uint64_t>(want));
    }
  }
  std::mt19937_64 random(3);
  std::uniform_real_distribution<double> anywhere(0.0, 0x1p22);
  for (int i = 0; i < 20000; ++i) {
    const double x = anywhere(random);
    ASSERT_EQ(std::bit_cast<std::uint64_t>(portableSin(-x)),
              std::bit_cast<std::uint64_t>(-portableSin(x)))
        << x;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(portableCos(-x)),
              std::bit_cast<std::uint64_t>(portableCos(x)))
        << x;
  }
}

}  // namespace
}  // namespace vornisk
