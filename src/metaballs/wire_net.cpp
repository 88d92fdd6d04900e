// Building the wire net: each crossed edge is projected once for all the faces
// that share it, and each face's segment is looked up from which of its four
// edges are crossed.
#include "metaballs/wire_net.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "console/demo_console.h"
#include "metaballs/cpu_level.h"
#include "metaballs/pixel_coordinate.h"

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

// Per family and case, the segment's two ends as edge slots (axis · 4096 +
// index offset) from the cell's corner; cases without a segment are unused.
struct EndSlots {
  int slot[3][16][2] = {};
};
constexpr EndSlots endSlots() {
  EndSlots table;
  for (int family = 0; family < 3; ++family) {
    for (int mask = 0; mask < 16; ++mask) {
      for (int end = 0; end < 2; ++end) {
        const int edge = kSegmentEnds[mask][end];
        if (edge < 0) continue;
        const FaceEdge& e = kFaceEdges[family][edge];
        table.slot[family][mask][end] = e.axis * kSize * kSize * kSize + e.offset;
      }
    }
  }
  return table;
}
constexpr EndSlots kEndSlots = endSlots();

constexpr int kLatticePoints = WireScratch::kLatticePoints;

// A column of sixteen rows [x][0..15], as one vector of 16-bit lanes.
typedef std::uint16_t RowLanes __attribute__((vector_size(kSize * sizeof(std::uint16_t))));
struct Column {
  RowLanes rows;
  explicit Column(const std::uint16_t* first) { std::memcpy(&rows, first, sizeof rows); }
};

// The projection of projectContourPoint for many points at once, x and y
// only (z is never drawn): the same products and sums in the same order, then
// the divide by w, in place. Plain IEEE arithmetic, so every variant gives the
// same bits; the AVX2 one takes four points at a time (AVX-512 adds nothing
// here, so those processors run it too).
[[gnu::always_inline]] inline void projectPointsIn(const Matrix& camera, CrossedEdges& edges,
                                                   std::size_t count) {
  const double(&m)[4][4] = camera.m;
  const double wx = m[0][3] * kPointWeight;
  const double wy = m[1][3] * kPointWeight;
  const double ww = m[3][3] * kPointWeight;
  double* __restrict__ xs = edges.x;
  double* __restrict__ ys = edges.y;
  const double* __restrict__ zs = edges.z;
  for (std::size_t i = 0; i < count; ++i) {
    const double x = xs[i], y = ys[i], z = zs[i];
    const double px = ((0.0 + m[0][0] * x) + m[0][1] * y) + m[0][2] * z + wx;
    const double py = ((0.0 + m[1][0] * x) + m[1][1] * y) + m[1][2] * z + wy;
    const double pw = ((0.0 + m[3][0] * x) + m[3][1] * y) + m[3][2] * z + ww;
    xs[i] = px / pw;
    ys[i] = py / pw;
  }
}

VORNISK_FOR_X86_64_V3 void projectPointsV3(const Matrix& camera, CrossedEdges& edges,
                                           std::size_t count) {
  projectPointsIn(camera, edges, count);
}

void projectPointsBaseline(const Matrix& camera, CrossedEdges& edges, std::size_t count) {
  projectPointsIn(camera, edges, count);
}

void projectPoints(const Matrix& camera, CrossedEdges& edges, std::size_t count) {
  cpu::pick(projectPointsV3, projectPointsV3, projectPointsBaseline)(camera, edges, count);
}

// Copies `bytes` from `from` to `to`, both aligned to 64, with streaming
// stores where the processor has them. A net is made on one core and read on
// the other, and a plain store to a line the other core has read waits for
// that line to be handed back: where the two threads run on separate cores,
// that cost as much as making the net. Streaming stores write whole lines
// without taking them over. The fence orders them before whatever publishes
// the net.
void copyStreaming(void* to, const void* from, std::size_t bytes) {
  // GCC's ThreadSanitizer would not see the streaming stores as writes.
#if defined(__SSE2__) && !defined(__SANITIZE_THREAD__)
  auto* out = static_cast<__m128i*>(to);
  const auto* in = static_cast<const __m128i*>(from);
  const std::size_t chunks = bytes / sizeof(__m128i);
  for (std::size_t i = 0; i < chunks; ++i)
    _mm_stream_si128(out + i, _mm_load_si128(in + i));
  std::memcpy(out + chunks, in + chunks, bytes % sizeof(__m128i));
  _mm_sfence();
#else
  std::memcpy(to, from, bytes);
#endif
}

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

void buildWireNet(BlobField& field, const Matrix& camera, WireNet& net, WireScratch& scratch) {
  net.camera = camera;
  CrossedEdges& edges = scratch.edges;
  field.computeCrossings(edges);
  const std::size_t edgeCount = static_cast<std::size_t>(edges.count);
  const auto& crossedRows = edges.rows;
  projectPoints(camera, edges, edgeCount);
  PixelPoint low = {INT32_MAX, INT32_MAX}, high = {INT32_MIN, INT32_MIN};
  for (std::size_t i = 0; i < edgeCount; ++i) {
    const int slot = edges.slot[i];
    const PixelPoint end = {toPixelCoordinate(edges.x[i]), toPixelCoordinate(edges.y[i])};
    scratch.edgePixels[slot] = end;
    low = {std::min(low.x, end.x), std::min(low.y, end.y)};
    high = {std::max(high.x, end.x), std::max(high.y, end.y)};
  }
  net.low = low;
  net.high = high;

  // Which faces have a segment, a row of cells (x, y) at a time with one bit
  // per z: a face has one when exactly two or all four of its edges are
  // crossed, that is when some are and an even number are. Worked out for the
  // sixteen rows of a column x at once; row 15 finds nothing crossed.
  // Per family, the crossed bits of the four edges (bit 8, 4, 2, 1 of a
  // face's case) and the faces with a segment, [x][y] with one bit per z.
  std::uint16_t faceEdgeRows[3][4][kCells][kSize];
  std::uint16_t faceRows[3][kCells][kSize];
  // Cells with a segment on any face, [z][y] with one bit per x.
  std::uint16_t cellRows[kCells][kCells] = {};
  for (int x = 0; x < kCells; ++x) {
    const auto& c = crossedRows;
    const RowLanes xBelow = Column(c[0][x]).rows, yBelow = Column(c[1][x]).rows,
                   zHere = Column(c[2][x]).rows;
    const RowLanes faceEdges[3][4] = {
        {xBelow, yBelow, Column(c[1][x + 1]).rows, Column(&c[0][x][1]).rows},  // XY
        {xBelow, zHere, Column(c[2][x + 1]).rows, xBelow >> 1},                // XZ
        {yBelow, zHere, Column(&c[2][x][1]).rows, yBelow >> 1},                // YZ
    };
    RowLanes any = {};
    for (int family = 0; family < 3; ++family) {
      const RowLanes(&e)[4] = faceEdges[family];
      const RowLanes segments =
          (e[0] | e[1] | e[2] | e[3]) & ~(e[0] ^ e[1] ^ e[2] ^ e[3]) & ((1u << kCells) - 1);
      std::memcpy(faceRows[family][x], &segments, sizeof segments);
      for (int bit = 0; bit < 4; ++bit)
        std::memcpy(faceEdgeRows[family][bit][x], &e[bit], sizeof e[bit]);
      any |= segments;
    }
    for (int y = 0; y < kCells; ++y) {
      for (unsigned zs = any[y]; zs != 0; zs &= zs - 1)
        cellRows[std::countr_zero(zs)][y] |= static_cast<std::uint16_t>(1u << x);
    }
  }

  int count = 0;
  for (int z = 0; z < kCells; ++z) {
    for (int y = 0; y < kCells; ++y) {
      for (unsigned xs = cellRows[z][y]; xs != 0; xs &= xs - 1) {
        const int x = std::countr_zero(xs);
        const int corner = pointIndex(x, y, z);
        WireCell& out = scratch.cells[count++];
        out.index = static_cast<std::uint16_t>((z * kCells + y) * kCells + x);
        out.faces = 0;
        for (int family = 0; family < 3; ++family) {
          if ((faceRows[family][x][y] >> z & 1u) == 0) continue;
          const auto& e = faceEdgeRows[family];
          const unsigned mask = (e[0][x][y] >> z & 1u) << 3 | (e[1][x][y] >> z & 1u) << 2 |
                                (e[2][x][y] >> z & 1u) << 1 | (e[3][x][y] >> z & 1u);
          const int(&ends)[2] = kEndSlots.slot[family][mask];
          out.faces = static_cast<std::uint8_t>(out.faces | 1u << family);
          out.ends[family][0] = scratch.edgePixels[corner + ends[0]];
          out.ends[family][1] = scratch.edgePixels[corner + ends[1]];
        }
      }
    }
  }
  net.count = count;
  copyStreaming(net.cells, scratch.cells, sizeof(WireCell) * static_cast<std::size_t>(count));
}

}  // namespace vornisk
