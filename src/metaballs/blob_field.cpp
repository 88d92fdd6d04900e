// The field itself: soft balls with the Wyvill falloff summed on the lattice,
// offset by −0.5 so that the iso-surface lies where `value` changes sign.
#include "metaballs/blob_field.h"

#include <algorithm>
#include <bit>
#include <cmath>

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

void BlobField::resetAfterCrossings() {
  fill(value, kUnset);
  double(*crossings[3])[kSize][kSize] = {crossX, crossY, crossZ};
  for (int axis = 0; axis < 3; ++axis) {
    for (int x = 0; x < kCells; ++x) {
      for (int y = 0; y < kCells; ++y) {
        for (unsigned bits = signChanges[axis][x][y]; bits != 0; bits &= bits - 1)
          crossings[axis][x][y][std::countr_zero(bits)] = kUnset;
      }
    }
  }
}

// IEEE arithmetic only (no contraction), so every clone adds the same bits;
// the wider ones divide four or eight points at a time.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
__attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#endif
void BlobField::addBall(double x, double y, double z, double radius, double strength) {
  const double r2 = radius * radius;
  const double r4 = r2 * r2;
  const double r6 = r4 * r2;
  auto falloff = [&](double q) {
    const double q2 = q * q;
    const double q3 = q2 * q;
    return strength * (1.0 - kSquareTerm * q / r2 + kFourthTerm * q2 / r4 - kSixthTerm * q3 / r6);
  };
  const bool finite = std::isfinite(x) && std::isfinite(y) && std::isfinite(z) && std::isfinite(r2);
  for (int i = 0; i < kSize; ++i) {
    const double ex = x - i;
    for (int j = 0; j < kSize; ++j) {
      const double ey = y - j;
      const double across = ex * ex + ey * ey;
      auto distance = [&](int k) {
        const double ez = z - k;
        return across + ez * ez;
      };
      if (!finite) {
        for (int k = 0; k < kSize; ++k) {
          // Strict: a point at exactly the radius gets nothing, and radius 0 never divides.
          if (const double q = distance(k); q < r2) value[i][j][k] += falloff(q);
        }
        continue;
      }
      // Every rounding step of `distance` is monotonic, so it never shrinks as
      // |z − k| grows: the points strictly inside form one run of k around the
      // k nearest z, and only that run is visited.
      if (!(across < r2)) continue;
      const int nearest = static_cast<int>(std::lround(std::clamp(z, 0.0, double{kSize - 1})));
      if (!(distance(nearest) < r2)) continue;
      int first = nearest;
      while (first > 0 && distance(first - 1) < r2)
        --first;
      int last = nearest;
      while (last < kSize - 1 && distance(last + 1) < r2)
        ++last;
      for (int k = first; k <= last; ++k)
        value[i][j][k] += falloff(distance(k));
    }
  }
}

}  // namespace vornisk
