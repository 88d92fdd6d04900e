// The field itself: soft balls with the Wyvill falloff summed on the lattice,
// offset by −0.5 so that the iso-surface lies where `value` changes sign.
#include "metaballs/blob_field.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "metaballs/cpu_level.h"

namespace vornisk {

namespace {

// 22/9, 17/9 and 4/9 as the doubles nearest them.
constexpr double kSquareTerm = 2.4444444444444446;
constexpr double kFourthTerm = 1.8888888888888888;
constexpr double kSixthTerm = 0.4444444444444444;

void fill(double (&block)[BlobField::kSize][BlobField::kSize][BlobField::kSize], double v) {
  for (auto& plane : block) {
    for (auto& row : plane) {
      for (double& element : row)
        element = v;
    }
  }
}

}  // namespace

void BlobField::reset() {
  // The crossing blocks too: a crossing of an earlier frame must not survive.
  fill(value, kUnset);
  fill(crossX, kUnset);
  fill(crossY, kUnset);
  fill(crossZ, kUnset);
  std::memset(signChanges, 0, sizeof signChanges);  // nothing for computeCrossings to set back
}

void BlobField::resetKeepingCrossings() {
  fill(value, kUnset);
}

namespace {

// A quarter of a lattice row along z: four points, as one vector of whatever
// width the variant below is built for. Four doubles fill an AVX2 register;
// wider generic vectors are split by GCC through the stack where the unit is
// narrower.
constexpr int kQuarter = 4;
typedef double Lanes __attribute__((vector_size(kQuarter * sizeof(double))));
typedef std::int64_t LaneMask __attribute__((vector_size(kQuarter * sizeof(std::int64_t))));
constexpr Lanes kQuarterRowK[4] = {{0, 1, 2, 3}, {4, 5, 6, 7}, {8, 9, 10, 11}, {12, 13, 14, 15}};
static_assert(std::size(kQuarterRowK) * kQuarter == BlobField::kSize);

double falloff(double q, double strength, double r2, double r4, double r6) {
  const double q2 = q * q;
  const double q3 = q2 * q;
  return strength * (1.0 - kSquareTerm * q / r2 + kFourthTerm * q2 / r4 - kSixthTerm * q3 / r6);
}

// Whether v is a power of two whose reciprocal is a normal double, so that
// dividing by v is multiplying by that reciprocal.
bool exactReciprocal(double v) {
  int exponent = 0;
  return std::frexp(v, &exponent) == 0.5 && exponent > -1000 && exponent < 1000;
}

using Block = double[BlobField::kSize][BlobField::kSize][BlobField::kSize];

// IEEE arithmetic only (no contraction), so every level's variant adds the
// same bits.
[[gnu::always_inline]] inline void addBallTo(Block& value, double x, double y, double z,
                                             double radius, double strength) {
  constexpr int kSize = BlobField::kSize;
  const double r2 = radius * radius;
  const double r4 = r2 * r2;
  const double r6 = r4 * r2;
  const bool finite = std::isfinite(x) && std::isfinite(y) && std::isfinite(z) && std::isfinite(r2);
  const double reach = std::fabs(radius);
  // A quotient by a power of two is the product by its reciprocal, exactly:
  // the same real number, rounded once either way. The balls of radius 4
  // (r² = 16) take the cheaper products; r⁴ lies between r² and r⁶.
  const bool byReciprocals = exactReciprocal(r2) && exactReciprocal(r6);
  const double inverse2 = 1.0 / r2, inverse4 = 1.0 / r4, inverse6 = 1.0 / r6;
  // Per quarter row, the least (z − k)² of its points, worked out as a lane
  // works it out: in a row at `across`, no point of the quarter is inside
  // unless across + that least one is below r², as rounding keeps order.
  double nearest[4];
  for (int quarter = 0; quarter < 4; ++quarter) {
    nearest[quarter] = INFINITY;
    for (int k = kQuarter * quarter; k < kQuarter * (quarter + 1); ++k) {
      const double ez = z - k;
      nearest[quarter] = std::min(nearest[quarter], ez * ez);
    }
  }
  // The rows (i, j) that can hold a point inside lie within the radius of x
  // and y, again with a whole cell to spare: the others are passed over
  // without working out `across`, which would rule them out.
  auto within = [reach, finite](double centre, bool high) {
    if (!finite) return high ? kSize - 1 : 0;
    const double bound = high ? std::floor(centre + reach) + 1.0 : std::ceil(centre - reach) - 1.0;
    return static_cast<int>(std::clamp(bound, 0.0, kSize - 1.0));
  };
  const int iLow = within(x, false), iHigh = within(x, true);
  const int jLow = within(y, false), jHigh = within(y, true);
  for (int i = iLow; i <= iHigh; ++i) {
    const double ex = x - i;
    for (int j = jLow; j <= jHigh; ++j) {
      const double ey = y - j;
      const double across = ex * ex + ey * ey;
      if (!finite) {
        for (int k = 0; k < kSize; ++k) {
          const double ez = z - k;
          // Strict: a point at exactly the radius gets nothing, and radius 0 never divides.
          if (const double q = across + ez * ez; q < r2)
            value[i][j][k] += falloff(q, strength, r2, r4, r6);
        }
        continue;
      }
      // No point of a row is nearer than `across`. In a quarter row with a
      // point inside every point is worked out, and only those strictly
      // inside take their share.
      if (!(across < r2)) continue;
      for (int quarter = 0; quarter < 4; ++quarter) {
        if (!(across + nearest[quarter] < r2)) continue;
        double* row = &value[i][j][kQuarter * quarter];
        Lanes sums;
        std::memcpy(&sums, row, sizeof sums);
        const Lanes ez = z - kQuarterRowK[quarter];
        const Lanes q = across + ez * ez;
        const LaneMask inside = q < r2;
        // falloff(), lane by lane, in the same order of operations.
        const Lanes q2 = q * q;
        const Lanes q3 = q2 * q;
        const Lanes share =
            byReciprocals ? strength * (1.0 - kSquareTerm * q * inverse2 +
                                        kFourthTerm * q2 * inverse4 - kSixthTerm * q3 * inverse6)
                          : strength * (1.0 - kSquareTerm * q / r2 + kFourthTerm * q2 / r4 -
                                        kSixthTerm * q3 / r6);
        sums = inside ? sums + share : sums;
        std::memcpy(row, &sums, sizeof sums);
      }
    }
  }
}

using AddBall = void (*)(Block&, double, double, double, double, double);

VORNISK_FOR_X86_64_V4 void addBallV4(Block& value, double x, double y, double z, double radius,
                                     double strength) {
  addBallTo(value, x, y, z, radius, strength);
}

VORNISK_FOR_X86_64_V3 void addBallV3(Block& value, double x, double y, double z, double radius,
                                     double strength) {
  addBallTo(value, x, y, z, radius, strength);
}

void addBallBaseline(Block& value, double x, double y, double z, double radius, double strength) {
  addBallTo(value, x, y, z, radius, strength);
}

}  // namespace

void BlobField::addBall(double x, double y, double z, double radius, double strength) {
  cpu::pick<AddBall>(addBallV4, addBallV3, addBallBaseline)(value, x, y, z, radius, strength);
}

}  // namespace vornisk
