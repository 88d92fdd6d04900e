// The field itself: soft balls with the Wyvill falloff summed on the lattice,
// offset by −0.5 so that the iso-surface lies where `value` changes sign.
#include "metaballs/blob_field.h"

namespace vornisk {

float jitter[6] = {};

namespace {

// 22/9, 17/9 and 4/9 as the doubles nearest them.
constexpr double kSquareTerm = 2.4444444444444446;
constexpr double kFourthTerm = 1.8888888888888888;
constexpr double kSixthTerm = 0.4444444444444444;

constexpr double kUnset = -0.5;

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
}

void BlobField::addBall(double x, double y, double z, double radius, double strength) {
  const double r2 = radius * radius;
  const double r4 = r2 * r2;
  const double r6 = r4 * r2;
  for (int i = 0; i < kSize; ++i) {
    const double ex = x - i;
    for (int j = 0; j < kSize; ++j) {
      const double ey = y - j;
      for (int k = 0; k < kSize; ++k) {
        const double ez = z - k;
        const double q = (ex * ex + ey * ey) + ez * ez;
        // Strict: a point at exactly the radius gets nothing, and radius 0 never divides.
        if (q < r2) {
          const double q2 = q * q;
          const double q3 = q2 * q;
          value[i][j][k] += strength * (1.0 - kSquareTerm * q / r2 + kFourthTerm * q2 / r4 -
                                        kSixthTerm * q3 / r6);
        }
      }
    }
  }
}

}  // namespace vornisk
