// Building the wire net: each crossed edge is projected once for all the faces
// that share it, and each face's segment is looked up from which of its four
// edges are crossed.
#include "metaballs/wire_net.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "metaballs/pixel_coordinate.h"
#include "shell/demo_console.h"

namespace vornisk {

namespace {

// Contour points carry this w; after the divide by w the lattice is 8.75 world
// units per cell (the translation by −64 acts before the divide).
constexpr double kPointWeight = 0.11428571428571428;
constexpr double kLatticeOffset = -64.0;
constexpr int kSize = BlobField::kSize;
constexpr int kCells = BlobField::kCells;

constexpr int latticeIndex(int x, int y, int z) {
  return (x * kSize + y) * kSize + z;
}

// The point a crossing places on its edge, formed as a face forms it.
ContourPoint edgePoint(int axis, int x, int y, int z, double fraction) {
  const double dx = axis == 0 ? 1.0 : 0.0;
  const double dy = axis == 1 ? 1.0 : 0.0;
  const double dz = axis == 2 ? 1.0 : 0.0;
  return {x + dx * fraction, y + dy * fraction, z + dz * fraction};
}

// A face's four edges (bit 8, 4, 2, 1 of its case, as faceSegment names them)
// by axis and lattice index offset from the cell's own corner, and which two
// of them its segment joins, first end first.
struct FaceEdge {
  int axis, offset;
};
constexpr FaceEdge kFaceEdges[3][4] = {
    {{0, 0}, {1, 0}, {1, latticeIndex(1, 0, 0)}, {0, latticeIndex(0, 1, 0)}},  // XY
    {{0, 0}, {2, 0}, {2, latticeIndex(1, 0, 0)}, {0, latticeIndex(0, 0, 1)}},  // XZ
    {{1, 0}, {2, 0}, {2, latticeIndex(0, 1, 0)}, {1, latticeIndex(0, 0, 1)}},  // YZ
};
constexpr std::int8_t kSegmentEnds[16][2] = {
    {-1, -1}, {-1, -1}, {-1, -1}, {3, 2},   {-1, -1}, {1, 3},   {2, 1},   {-1, -1},
    {-1, -1}, {0, 3},   {0, 2},   {-1, -1}, {0, 1},   {-1, -1}, {-1, -1}, {0, 1}};

}  // namespace

Vector projectContourPoint(const Matrix& camera, const ContourPoint& point) {
  Vector projected = camera.transform(Vector(point.x, point.y, point.z, kPointWeight));
  projected.homogenize();
  return projected;
}

Matrix wireCamera(const DemoConsole& console) {
  const Matrix view =
      console.viewTransform(320.0, 240.0, Vector(0.0, 0.0, 0.0, 1.0), Vector(0.0, 0.0, 1.0, 1.0),
                            Vector(0.0, 0.0, 300.0, 1.0));
  return view.times(Matrix(Translate, kLatticeOffset, kLatticeOffset, kLatticeOffset));
}

void buildWireNet(const BlobField& field, const Matrix& camera, WireNet& net) {
  net.camera = camera;
  const double(*crossings[3])[kSize][kSize] = {field.crossX, field.crossY, field.crossZ};

  std::memset(net.crossed, 0, sizeof net.crossed);
  for (int axis = 0; axis < 3; ++axis) {
    for (int x = 0; x < kCells; ++x) {
      for (int y = 0; y < kCells; ++y) {
        for (unsigned bits = field.signChanges[axis][x][y]; bits != 0; bits &= bits - 1) {
          const int z = std::countr_zero(bits);
          const double fraction = crossings[axis][x][y][z];
          if (!(fraction > 0.0)) continue;
          const Vector projected = projectContourPoint(camera, edgePoint(axis, x, y, z, fraction));
          net.crossed[axis][latticeIndex(x, y, z)] = 1;
          net.edgePixels[axis][latticeIndex(x, y, z)] = {toPixelCoordinate(projected.x),
                                                         toPixelCoordinate(projected.y)};
        }
      }
    }
  }

  // Only a cell with an edge that changes sign can have a segment.
  std::fill(std::begin(net.touched), std::end(net.touched), 0);
  for (int x = 0; x < kCells; ++x) {
    for (int y = 0; y < kCells; ++y) {
      const auto& changes = field.signChanges;
      unsigned rows = changes[0][x][y] | changes[1][x][y] | changes[2][x][y] |
                      (changes[0][x][y] >> 1) | (changes[1][x][y] >> 1);
      if (x + 1 < kCells) rows |= changes[1][x + 1][y] | changes[2][x + 1][y];
      if (y + 1 < kCells) rows |= changes[0][x][y + 1] | changes[2][x][y + 1];
      for (; rows != 0; rows &= rows - 1) {
        const int z = std::countr_zero(rows);
        const int cell = (z * kCells + y) * kCells + x;
        net.touched[cell / 64] |= std::uint64_t{1} << (cell % 64);
      }
    }
  }

  net.count = 0;
  for (int word = 0; word < WireNet::kTouchedWords; ++word) {
    for (std::uint64_t bits = net.touched[word]; bits != 0; bits &= bits - 1) {
      const int cell = word * 64 + std::countr_zero(bits);
      const int x = cell % kCells;
      const int y = cell / kCells % kCells;
      const int z = cell / (kCells * kCells);
      const int corner = latticeIndex(x, y, z);
      WireCell& out = net.cells[net.count];
      out.faces = 0;
      for (int family = 0; family < 3; ++family) {
        const FaceEdge(&edges)[4] = kFaceEdges[family];
        int mask = 0;
        for (const FaceEdge& e : edges)
          mask = (mask << 1) | net.crossed[e.axis][corner + e.offset];
        const int first = kSegmentEnds[mask][0];
        if (first < 0) continue;
        const FaceEdge& a = edges[first];
        const FaceEdge& b = edges[kSegmentEnds[mask][1]];
        out.faces = static_cast<std::uint8_t>(out.faces | 1u << family);
        out.ends[family][0] = net.edgePixels[a.axis][corner + a.offset];
        out.ends[family][1] = net.edgePixels[b.axis][corner + b.offset];
      }
      if (out.faces != 0) {
        out.index = static_cast<std::uint16_t>(cell);
        ++net.count;
      }
    }
  }
}

}  // namespace vornisk
