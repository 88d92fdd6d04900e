// Contour extraction: every unit face of the lattice is a marching-squares cell
// yielding at most one segment, so the drawn net shows the surface's sections
// with the planes x, y, z = const. A face's case comes from which of its edges
// carry a crossing, not from the signs of its corners.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

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

}  // namespace

namespace {

// Half a lattice row along z, eight values, and which of them lie above 0, as
// vectors of whatever width the clone below is built for.
typedef double HalfRow __attribute__((vector_size(8 * sizeof(double))));
typedef std::int8_t HalfRowBytes __attribute__((vector_size(8)));
static_assert(std::endian::native == std::endian::little, "lane 0 is the lowest byte");

// Bit z of inside[x][y]: whether value[x][y][z] > 0 (false for NaN). A
// comparison gives each lane all ones or none; narrowed to a byte a lane, the
// top bits of the eight bytes are gathered by one multiply.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
__attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#endif
void insideBits(const double (&value)[BlobField::kSize][BlobField::kSize][BlobField::kSize],
                std::uint16_t (&inside)[BlobField::kSize][BlobField::kSize]) {
  constexpr std::uint64_t kTopBits = 0x8080808080808080u;
  constexpr std::uint64_t kGather = 0x0002040810204081u;  // top bit of byte i to bit 56 + i
  for (int x = 0; x < BlobField::kSize; ++x) {
    for (int y = 0; y < BlobField::kSize; ++y) {
      unsigned bits = 0;
      for (int half = 0; half < 2; ++half) {
        HalfRow values;
        std::memcpy(&values, &value[x][y][8 * half], sizeof values);
        const HalfRowBytes above = __builtin_convertvector(values > 0.0, HalfRowBytes);
        std::uint64_t lanes;
        std::memcpy(&lanes, &above, sizeof lanes);
        bits |= static_cast<unsigned>(((lanes & kTopBits) * kGather) >> 56) << (8 * half);
      }
      inside[x][y] = static_cast<std::uint16_t>(bits);
    }
  }
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
                      double(&crossing)[kSize][kSize][kSize]) {
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
