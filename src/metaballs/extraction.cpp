// Contour extraction: every unit face of the lattice is a marching-squares cell
// yielding at most one segment, so the drawn net shows the surface's sections
// with the planes x, y, z = const. A face's case comes from which of its edges
// carry a crossing, not from the signs of its corners.
#include <algorithm>
#include <bit>
#include <cstdint>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "metaballs/blob_field.h"

namespace vornisk {

namespace {

// Linear interpolation of the zero between two samples, from the lower end.
double crossingFraction(double lower, double upper) {
  const double a = lower < 0.0 ? -lower : lower;
  const double b = upper < 0.0 ? -upper : upper;
  return a / (a + b);
}

// One face edge: its crossing fraction and the point the fraction places on it.
struct FaceEdge {
  double fraction;
  double x, y, z;     // the edge's lower end
  double dx, dy, dz;  // the edge's direction (one unit axis)

  bool crossed() const { return fraction > 0.0; }
  ContourPoint point() const { return {x + dx * fraction, y + dy * fraction, z + dz * fraction}; }
};

// Bit z of inside[x][y]: whether value[x][y][z] > 0 (false for NaN).
using Values = double[BlobField::kSize][BlobField::kSize][BlobField::kSize];
using RowBits = std::uint16_t[BlobField::kSize][BlobField::kSize];

void insideBitsOneByOne(const Values& value, RowBits& inside) {
  for (int x = 0; x < BlobField::kSize; ++x) {
    for (int y = 0; y < BlobField::kSize; ++y) {
      unsigned bits = 0;
      for (int z = 0; z < BlobField::kSize; ++z)
        bits |= (value[x][y][z] > 0.0 ? 1u : 0u) << z;
      inside[x][y] = static_cast<std::uint16_t>(bits);
    }
  }
}

#if defined(__x86_64__) && defined(__GNUC__)
// Four points to a comparison, whose lanes' sign bits give four bits at once.
__attribute__((target("avx"))) void insideBitsByFours(const Values& value, RowBits& inside) {
  const __m256d zero = _mm256_setzero_pd();
  for (int x = 0; x < BlobField::kSize; ++x) {
    for (int y = 0; y < BlobField::kSize; ++y) {
      unsigned bits = 0;
      for (int z = 0; z < BlobField::kSize; z += 4) {
        const __m256d above = _mm256_cmp_pd(_mm256_loadu_pd(&value[x][y][z]), zero, _CMP_GT_OQ);
        bits |= static_cast<unsigned>(_mm256_movemask_pd(above)) << z;
      }
      inside[x][y] = static_cast<std::uint16_t>(bits);
    }
  }
}
#endif

// The comparisons by fours where the processor has AVX (nearly every x86-64
// of the last decade), one by one elsewhere: the same bits either way.
void insideBits(const Values& value, RowBits& inside) {
#if defined(__x86_64__) && defined(__GNUC__)
  static const bool byFours = __builtin_cpu_supports("avx");
  if (byFours) {
    insideBitsByFours(value, inside);
    return;
  }
#endif
  insideBitsOneByOne(value, inside);
}

// computeCrossings, listing the crossed edges in `listed` where it is given.
template <bool kList>
void findCrossings(BlobField& field, CrossedEdges* listed) {
  constexpr int kSize = BlobField::kSize;
  constexpr int kCells = BlobField::kCells;
  const auto& value = field.value;
  // Signs first, one bit per lattice point along z: the edges whose ends differ
  // are then found a row at a time, and only those are interpolated. Edges
  // starting on a layer at index 15 are never examined: the net stays open
  // where the surface reaches those layers.
  std::uint16_t inside[kSize][kSize];
  insideBits(value, inside);
  if constexpr (kList) {
    listed->count = 0;
    std::fill_n(&listed->rows[0][0][0], 3 * kSize * (kSize + 1), std::uint16_t{0});
  }
  constexpr unsigned kExamined = (1u << kCells) - 1;
  for (int x = 0; x < kCells; ++x) {
    for (int y = 0; y < kCells; ++y) {
      const unsigned here = inside[x][y];
      const double(&lower)[kSize] = value[x][y];
      // The crossings of one axis's edges in this row, each edge's upper end
      // at upper[z].
      auto scan = [&](int axis, unsigned changes, const double* upper,
                      double(&crossing)[kSize][kSize][kSize]) __attribute__((always_inline)) {
        // The last crossings not found again are set back (the others are
        // overwritten below).
        for (unsigned bits = field.signChanges[axis][x][y] & ~changes; bits != 0; bits &= bits - 1)
          crossing[x][y][std::countr_zero(bits)] = BlobField::kUnset;
        field.signChanges[axis][x][y] = static_cast<std::uint16_t>(changes);
        for (unsigned bits = changes; bits != 0; bits &= bits - 1) {
          const int z = std::countr_zero(bits);
          const double fraction = crossingFraction(lower[z], upper[z]);
          crossing[x][y][z] = fraction;
          if constexpr (kList) {
            if (!(fraction > 0.0)) continue;
            // The point faceSegment places on the edge: it forms corner +
            // direction · fraction on every axis, which off the edge's own
            // axis adds 0 · fraction = +0 (the fraction lies in (0, 1]) to a
            // whole number, the coordinate itself.
            const int n = listed->count++;
            listed->x[n] = axis == 0 ? x + fraction : x;
            listed->y[n] = axis == 1 ? y + fraction : y;
            listed->z[n] = axis == 2 ? z + fraction : z;
            listed->slot[n] = static_cast<std::uint16_t>(axis * kSize * kSize * kSize +
                                                         (z * kSize + y) * kSize + x);
            listed->rows[axis][x][y] =
                static_cast<std::uint16_t>(listed->rows[axis][x][y] | 1u << z);
          }
        }
      };
      scan(0, (here ^ inside[x + 1][y]) & kExamined, value[x + 1][y], field.crossX);
      scan(1, (here ^ inside[x][y + 1]) & kExamined, value[x][y + 1], field.crossY);
      scan(2, (here ^ (here >> 1)) & kExamined, lower + 1, field.crossZ);
    }
  }
}

}  // namespace

void BlobField::computeCrossings() {
  findCrossings<false>(*this, nullptr);
}

void BlobField::computeCrossings(CrossedEdges& listed) {
  findCrossings<true>(*this, &listed);
}

std::optional<ContourSegment> BlobField::faceSegment(FaceFamily family, int x, int y, int z) const {
  const double fx = x;
  const double fy = y;
  const double fz = z;
  // The face's four edges by bit: 8 = u-edge at vL, 4 = v-edge at uL,
  // 2 = v-edge at uL + 1, 1 = u-edge at vL + 1.
  FaceEdge bit8{}, bit4{}, bit2{}, bit1{};
  switch (family) {
    case FaceFamily::XY:
      bit8 = {crossX[x][y][z], fx, fy, fz, 1, 0, 0};
      bit4 = {crossY[x][y][z], fx, fy, fz, 0, 1, 0};
      bit2 = {crossY[x + 1][y][z], fx + 1, fy, fz, 0, 1, 0};
      bit1 = {crossX[x][y + 1][z], fx, fy + 1, fz, 1, 0, 0};
      break;
    case FaceFamily::XZ:
      bit8 = {crossX[x][y][z], fx, fy, fz, 1, 0, 0};
      bit4 = {crossZ[x][y][z], fx, fy, fz, 0, 0, 1};
      bit2 = {crossZ[x + 1][y][z], fx + 1, fy, fz, 0, 0, 1};
      bit1 = {crossX[x][y][z + 1], fx, fy, fz + 1, 1, 0, 0};
      break;
    case FaceFamily::YZ:
      bit8 = {crossY[x][y][z], fx, fy, fz, 0, 1, 0};
      bit4 = {crossZ[x][y][z], fx, fy, fz, 0, 0, 1};
      bit2 = {crossZ[x][y + 1][z], fx, fy + 1, fz, 0, 0, 1};
      bit1 = {crossY[x][y][z + 1], fx, fy, fz + 1, 0, 1, 0};
      break;
  }
  const int mask = (bit8.crossed() ? 8 : 0) | (bit4.crossed() ? 4 : 0) | (bit2.crossed() ? 2 : 0) |
                   (bit1.crossed() ? 1 : 0);
  switch (mask) {
    case 3:
      return ContourSegment{bit1.point(), bit2.point()};
    case 5:
      return ContourSegment{bit4.point(), bit1.point()};
    case 6:
      return ContourSegment{bit2.point(), bit4.point()};
    case 9:
      return ContourSegment{bit8.point(), bit1.point()};
    case 10:
      return ContourSegment{bit8.point(), bit2.point()};
    case 12:
    case 15:  // a saddle joins only bit 8 to bit 4, cutting off the low corner
      return ContourSegment{bit8.point(), bit4.point()};
    default:  // one or three crossed edges, or none
      return std::nullopt;
  }
}

}  // namespace vornisk
