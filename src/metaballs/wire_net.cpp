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

// Edges are kept by their lower lattice point in drawing order (x fastest),
// so that the cells, visited in that order, read them nearly in sequence.
constexpr int pointIndex(int x, int y, int z) {
  return (z * kSize + y) * kSize + x;
}

// The point a crossing places on its edge, formed as a face forms it.
ContourPoint edgePoint(int axis, int x, int y, int z, double fraction) {
  const double dx = axis == 0 ? 1.0 : 0.0;
  const double dy = axis == 1 ? 1.0 : 0.0;
  const double dz = axis == 2 ? 1.0 : 0.0;
  return {x + dx * fraction, y + dy * fraction, z + dz * fraction};
}

// A face's four edges (bit 8, 4, 2, 1 of its case, as faceSegment names them)
// by axis and index offset from the cell's own corner, and which two
// of them its segment joins, first end first.
struct FaceEdge {
  int axis, offset;
};
constexpr FaceEdge kFaceEdges[3][4] = {
    {{0, 0}, {1, 0}, {1, pointIndex(1, 0, 0)}, {0, pointIndex(0, 1, 0)}},  // XY
    {{0, 0}, {2, 0}, {2, pointIndex(1, 0, 0)}, {0, pointIndex(0, 0, 1)}},  // XZ
    {{1, 0}, {2, 0}, {2, pointIndex(0, 1, 0)}, {1, pointIndex(0, 0, 1)}},  // YZ
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
  // The crossed edges again, per axis and row [x][y], one bit per z; the rows
  // at index 15 stay empty, as no edge there is ever examined.
  std::uint16_t crossedRows[3][kSize][kSize] = {};
  for (int axis = 0; axis < 3; ++axis) {
    for (int x = 0; x < kCells; ++x) {
      for (int y = 0; y < kCells; ++y) {
        for (unsigned bits = field.signChanges[axis][x][y]; bits != 0; bits &= bits - 1) {
          const int z = std::countr_zero(bits);
          const double fraction = crossings[axis][x][y][z];
          if (!(fraction > 0.0)) continue;
          const Vector projected = projectContourPoint(camera, edgePoint(axis, x, y, z, fraction));
          net.crossed[axis][pointIndex(x, y, z)] = 1;
          crossedRows[axis][x][y] = static_cast<std::uint16_t>(crossedRows[axis][x][y] | 1u << z);
          net.edgePixels[axis][pointIndex(x, y, z)] = {toPixelCoordinate(projected.x),
                                                       toPixelCoordinate(projected.y)};
        }
      }
    }
  }

  // Which faces have a segment, a row of cells (x, y) at a time with one bit
  // per z: a face has one when exactly two or all four of its edges are
  // crossed, that is when some are and an even number are.
  std::fill(std::begin(net.cellBits), std::end(net.cellBits), 0);
  std::uint16_t faceRows[3][kCells][kCells];
  for (int x = 0; x < kCells; ++x) {
    for (int y = 0; y < kCells; ++y) {
      const auto& c = crossedRows;
      const unsigned xBelow = c[0][x][y], yBelow = c[1][x][y], zHere = c[2][x][y];
      const unsigned faceEdges[3][4] = {
          {xBelow, yBelow, c[1][x + 1][y], c[0][x][y + 1]},  // XY
          {xBelow, zHere, c[2][x + 1][y], xBelow >> 1},      // XZ
          {yBelow, zHere, c[2][x][y + 1], yBelow >> 1},      // YZ
      };
      unsigned rows = 0;
      for (int family = 0; family < 3; ++family) {
        const unsigned(&e)[4] = faceEdges[family];
        const unsigned segments =
            (e[0] | e[1] | e[2] | e[3]) & ~(e[0] ^ e[1] ^ e[2] ^ e[3]) & ((1u << kCells) - 1);
        faceRows[family][x][y] = static_cast<std::uint16_t>(segments);
        rows |= segments;
      }
      for (; rows != 0; rows &= rows - 1) {
        const int cell = (std::countr_zero(rows) * kCells + y) * kCells + x;
        net.cellBits[cell / 64] |= std::uint64_t{1} << (cell % 64);
      }
    }
  }

  net.count = 0;
  for (int word = 0; word < WireNet::kCellWords; ++word) {
    for (std::uint64_t bits = net.cellBits[word]; bits != 0; bits &= bits - 1) {
      const int cell = word * 64 + std::countr_zero(bits);
      const int x = cell % kCells;
      const int y = cell / kCells % kCells;
      const int z = cell / (kCells * kCells);
      const int corner = pointIndex(x, y, z);
      WireCell& out = net.cells[net.count++];
      out.index = static_cast<std::uint16_t>(cell);
      out.faces = 0;
      for (int family = 0; family < 3; ++family) {
        if ((faceRows[family][x][y] >> z & 1u) == 0) continue;
        const FaceEdge(&edges)[4] = kFaceEdges[family];
        int mask = 0;
        for (const FaceEdge& e : edges)
          mask = (mask << 1) | net.crossed[e.axis][corner + e.offset];
        const FaceEdge& a = edges[kSegmentEnds[mask][0]];
        const FaceEdge& b = edges[kSegmentEnds[mask][1]];
        out.faces = static_cast<std::uint8_t>(out.faces | 1u << family);
        out.ends[family][0] = net.edgePixels[a.axis][corner + a.offset];
        out.ends[family][1] = net.edgePixels[b.axis][corner + b.offset];
      }
    }
  }
}

}  // namespace vornisk
