// Contour extraction: every unit face of the lattice is a marching-squares cell
// yielding at most one segment, so the drawn net shows the surface's sections
// with the planes x, y, z = const. A face's case comes from which of its edges
// carry a crossing, not from the signs of its corners.
#include <bit>
#include <cstdint>

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

void BlobField::computeCrossings() {
  // Signs first, one bit per lattice point along z: the edges whose ends differ
  // are then found a row at a time, and only those are interpolated. Edges
  // starting on a layer at index 15 are never examined: the net stays open
  // where the surface reaches those layers.
  std::uint16_t inside[kSize][kSize];
  for (int x = 0; x < kSize; ++x) {
    for (int y = 0; y < kSize; ++y) {
      unsigned bits = 0;
      for (int z = 0; z < kSize; ++z)
        bits |= (value[x][y][z] > 0.0 ? 1u : 0u) << z;
      inside[x][y] = static_cast<std::uint16_t>(bits);
    }
  }
  constexpr unsigned kExamined = (1u << kCells) - 1;
  for (int x = 0; x < kCells; ++x) {
    for (int y = 0; y < kCells; ++y) {
      const unsigned here = inside[x][y];
      const unsigned alongX = (here ^ inside[x + 1][y]) & kExamined;
      const unsigned alongY = (here ^ inside[x][y + 1]) & kExamined;
      const unsigned alongZ = (here ^ (here >> 1)) & kExamined;
      signChanges[0][x][y] = static_cast<std::uint16_t>(alongX);
      signChanges[1][x][y] = static_cast<std::uint16_t>(alongY);
      signChanges[2][x][y] = static_cast<std::uint16_t>(alongZ);
      for (unsigned bits = alongX; bits != 0; bits &= bits - 1) {
        const int z = std::countr_zero(bits);
        crossX[x][y][z] = crossingFraction(value[x][y][z], value[x + 1][y][z]);
      }
      for (unsigned bits = alongY; bits != 0; bits &= bits - 1) {
        const int z = std::countr_zero(bits);
        crossY[x][y][z] = crossingFraction(value[x][y][z], value[x][y + 1][z]);
      }
      for (unsigned bits = alongZ; bits != 0; bits &= bits - 1) {
        const int z = std::countr_zero(bits);
        crossZ[x][y][z] = crossingFraction(value[x][y][z], value[x][y][z + 1]);
      }
    }
  }
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
