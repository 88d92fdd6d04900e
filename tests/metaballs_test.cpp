// The metaball field and its wire net, where the whole-show golden test does
// not reach: odd ball arguments, every corner pattern of the face table, the
// open edge at layer 15, huge or undefined projected coordinates, and render()'s
// random draws, roll moduli, ageing, spike pixels and allocations. The face
// table is checked on the wire net as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "console/random.h"
#include "console/show_state.h"
#include "metaballs/blob_field.h"
#include "metaballs/pixel_coordinate.h"
#include "metaballs/wire_net.h"
#include "support/test_support.h"

// Counts heap allocations while `countingAllocations` is set: the per-frame path
// must make none.
namespace {
bool countingAllocations = false;
long allocationsCounted = 0;
}  // namespace

void* operator new(std::size_t size) {
  if (countingAllocations) ++allocationsCounted;
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
// Not inlined: GCC would otherwise see free() on memory from new and warn.
[[gnu::noinline]] void operator delete(void* block) noexcept {
  std::free(block);
}
[[gnu::noinline]] void operator delete(void* block, std::size_t) noexcept {
  std::free(block);
}

namespace vornisk {
namespace {

using testing::HeadlessConsole;
using testing::ScriptedRandom;
using Offsets = std::array<float, 6>;

constexpr int kCellCount = 15 * 15 * 15;

class Metaballs : public ::testing::Test {
 protected:
  void SetUp() override {
    resetShowState();
    field.reset();
  }
  void TearDown() override { resetShowState(); }

  BlobField field;  // the fixture lives on the heap
};

TEST(PixelCoordinate, TruncatesToTheLow32BitsAndTakesTheUndefinedAsZero) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  // 2^32 + 5 → 5, −2^40 − 7 → −7, the largest double below 2^63 → −1024; out of
  // the 64-bit range or undefined: INT64_MIN, whose low 32 bits are 0.
  // clang-format off
  const std::pair<double, std::int32_t> cases[] = {
      {107.9, 107}, {-3.2, -3}, {-0.7, 0}, {2147483647.9, INT32_MAX}, {2147483648.0, INT32_MIN},
      {4294967301.5, 5}, {-1099511627783.0, -7}, {1e18, -1486618624},
      {9223372036854774784.0, -1024}, {9223372036854775808.0, 0}, {-1e300, 0}, {kInf, 0},
      {-kInf, 0}, {kNaN, 0}};
  for (const auto& [projected, pixel] : cases)
    EXPECT_EQ(toPixelCoordinate(projected), pixel) << projected;

  // The jitter is added to the integer as a float: beyond 2^24 the integer
  // loses bits even with no jitter, and INT32_MAX becomes 2^31, which wraps.
  const std::tuple<std::int32_t, float, std::int32_t> jittered[] = {
      {107, -0.5f, 106}, {-3, -0.5f, -3}, {5, -10.0f, -5}, {200, 9.998f, 209},
      {16777217, 0.0f, 16777216}, {-16777219, 0.0f, -16777220}, {INT32_MAX, 0.0f, INT32_MIN},
      {INT32_MIN, -9.0f, INT32_MIN}};
  // clang-format on
  for (const auto& [coordinate, offset, pixel] : jittered)
    EXPECT_EQ(jitteredPixelCoordinate(coordinate, offset), pixel) << coordinate << " " << offset;
}

TEST_F(Metaballs, AddBallValuesAtLatticePoints) {
  // −0.5 + strength · f(t), f(t) = 1 − 22/9·t + 17/9·t² − 4/9·t³, t = distance² / radius²:
  // the centre gets the strength and t = 1/4 half of it; a point at exactly the
  // radius gets nothing (f(1) is not exactly 0 in double), so radius 0 never divides.
  struct Case {
    double x, y, z, radius, strength;
    int i, j, k;
    double value;
  };
  const Case cases[] = {
      {3, 7, 11, 0.5, 1, 3, 7, 11, 0.5},   // indexed [x][y][z]
      {3, 7, 11, 0.5, 1, 11, 7, 3, -0.5},  //
      {5, 6, 7, 4, 1, 7, 6, 7, 0.0},       // t = 1/4 along x
      {5, 6, 7, 4, 1, 5, 4, 7, 0.0},       // and along y
      {8, 8, 8, 2, 3, 10, 8, 8, -0.5},     // t = 1
      {4, 4, 4, 0, 1, 4, 4, 4, -0.5},      // radius 0
      {4, 4, 4, -4, 1, 4, 6, 4, 0.0},      // a negative radius acts by its size
      {4, 4, 4, 4, -1, 4, 4, 6, -1.0},     // a negative strength subtracts
      {-1, 0, 0, 2, 2, 0, 0, 0, 0.5},      // a centre off the lattice
  };
  for (const Case& c : cases) {
    field.reset();
    field.addBall(c.x, c.y, c.z, c.radius, c.strength);
    EXPECT_EQ(field.value[c.i][c.j][c.k], c.value) << "case " << &c - cases;
  }
}

// Each corner of the face of cell (6, 7, 8) is outside (−0.5), exactly 0 or
// inside (1.5). A value of 0 is outside, and an edge whose lower end is 0 gets
// the crossing fraction 0, which does not count as crossed; from an inside
// lower end the fraction is 0.75 (or 1 into a 0), from an outside one 0.25.
TEST_F(Metaballs, FaceTableForEveryCornerPatternAndFamily) {
  // Crossed edges by bit: 8 = u-edge at low v, 4 = v-edge at low u, 2 = v-edge
  // at high u, 1 = u-edge at high v. Mask → the bits of the segment's two ends;
  // the saddle (15) only cuts off the low corner.
  const std::map<int, std::pair<int, int>> table = {
      {3, {1, 2}}, {5, {4, 1}}, {6, {2, 4}}, {9, {8, 1}}, {10, {8, 2}}, {12, {8, 4}}, {15, {8, 4}}};
  const double levels[3] = {-0.5, 0.0, 1.5};
  const Matrix camera = wireCamera(HeadlessConsole(320, 240));
  auto net = std::make_unique<WireNet>();
  auto scratch = std::make_unique<WireScratch>();
  for (const FaceFamily family : {FaceFamily::XY, FaceFamily::XZ, FaceFamily::YZ}) {
    const int u = family == FaceFamily::YZ ? 1 : 0;
    const int v = family == FaceFamily::XY ? 1 : 2;
    for (int pattern = 0; pattern < 81; ++pattern) {
      SCOPED_TRACE(::testing::Message() << "family " << static_cast<int>(family) << " pattern "
                                        << pattern << " (base 3, corner (0, 0) lowest)");
      double corner[2][2];  // [du][dv]
      field.reset();
      for (int c = 0, rest = pattern; c < 4; ++c, rest /= 3) {
        int point[3] = {6, 7, 8};
        point[u] += c % 2;
        point[v] += c / 2;
        corner[c % 2][c / 2] = field.value[point[0]][point[1]][point[2]] = levels[rest % 3];
      }
      field.computeCrossings();

      int mask = 0;
      std::map<int, ContourPoint> ends;
      for (const auto& [bit, du, dv, axis] : {std::tuple{8, 0, 0, u}, std::tuple{4, 0, 0, v},
                                              std::tuple{2, 1, 0, v}, std::tuple{1, 0, 1, u}}) {
        const double lower = corner[du][dv];
        const double upper = axis == u ? corner[du + 1][dv] : corner[du][dv + 1];
        if ((lower > 0) == (upper > 0) || lower == 0) continue;
        mask |= bit;
        double end[3] = {6, 7, 8};
        end[u] += du;
        end[v] += dv;
        end[axis] += lower < 0 ? 0.25 : upper == 0 ? 1.0 : 0.75;
        ends[bit] = {end[0], end[1], end[2]};
      }
      const auto segment = field.faceSegment(family, 6, 7, 8);
      const auto row = table.find(mask);
      ASSERT_EQ(segment.has_value(), row != table.end()) << "mask " << mask;
      // The wire net finds the same face, with the segment's ends in pixels.
      buildWireNet(field, camera, *net, *scratch);
      const int f = static_cast<int>(family);
      const auto cell = std::find_if(net->cells, net->cells + net->count, [](const WireCell& c) {
        return c.index == (8 * 15 + 7) * 15 + 6;
      });
      const bool inNet = cell != net->cells + net->count && (cell->faces >> f & 1u) != 0;
      ASSERT_EQ(inNet, segment.has_value()) << "mask " << mask;
      if (!segment) continue;
      for (const auto& [end, point] :
           {std::pair{0, segment->first}, std::pair{1, segment->second}}) {
        const Vector projected = projectContourPoint(camera, point);
        EXPECT_EQ(cell->ends[f][end].x, toPixelCoordinate(projected.x)) << "mask " << mask;
        EXPECT_EQ(cell->ends[f][end].y, toPixelCoordinate(projected.y)) << "mask " << mask;
      }
      for (const auto& [actual, bit] : {std::pair{segment->first, row->second.first},
                                        std::pair{segment->second, row->second.second}}) {
        EXPECT_EQ(std::tie(actual.x, actual.y, actual.z),
                  std::tie(ends[bit].x, ends[bit].y, ends[bit].z))
            << "mask " << mask << ", end on bit " << bit;
      }
    }
  }
}

TEST_F(Metaballs, NetIsOpenWhereTheSurfaceReachesLayer15) {
  // A lone inside point is wrapped by the segments of the 12 faces around it,
  // but on layer 15 of any axis by none: the edges starting there are never
  // examined, so each of its faces has one crossed edge only.
  for (int axis = 0; axis < 3; ++axis) {
    for (const int layer : {14, 15}) {
      int point[3] = {4, 4, 4};
      point[axis] = layer;
      field.reset();
      field.value[point[0]][point[1]][point[2]] = 1.0;
      field.computeCrossings();
      int segments = 0;
      for (int cell = 0; cell < kCellCount; ++cell) {
        for (const FaceFamily family : {FaceFamily::XY, FaceFamily::XZ, FaceFamily::YZ})
          segments += field.faceSegment(family, cell % 15, cell / 15 % 15, cell / 225).has_value();
      }
      EXPECT_EQ(segments, layer == 14 ? 12 : 0) << "axis " << axis << " layer " << layer;
    }
  }
}

// The draws render() asks for: the colour roll, then per cell (z slowest, x
// fastest) six jitter rolls, each hit followed by its offset draw, the collapse
// and stretch rolls and the reset roll. Unlisted cells miss every roll (1 is no
// multiple of a modulus, which is at least 10) and reset the jitter (0).
std::vector<std::uint32_t> drawsFor(std::uint32_t colourRoll,
                                    const std::map<int, std::vector<std::uint32_t>>& cells) {
  std::vector<std::uint32_t> draws = {colourRoll};
  for (int cell = 0; cell < kCellCount; ++cell) {
    const auto listed = cells.find(cell);
    if (listed != cells.end()) {
      draws.insert(draws.end(), listed->second.begin(), listed->second.end());
    } else {
      draws.insert(draws.end(), {1, 1, 1, 1, 1, 1, 1, 1, 0});
    }
  }
  return draws;
}

// Hands out `draws` in order and notes the six jitter offsets as each is taken.
struct JitterWatch {
  explicit JitterWatch(std::vector<std::uint32_t> script) : draws(std::move(script)) {
    setRandomScript(&next, this);
  }
  ~JitterWatch() { setRandomScript(nullptr, nullptr); }
  static std::uint32_t next(void* self) {
    auto& watch = *static_cast<JitterWatch*>(self);
    watch.seen.push_back(std::to_array(jitter));
    return watch.seen.size() <= watch.draws.size() ? watch.draws[watch.seen.size() - 1] : 0;
  }
  std::vector<std::uint32_t> draws;
  std::vector<Offsets> seen;
};

TEST_F(Metaballs, EmptyFieldMakesEveryRollAndJitterLastsUntilAResetRollSucceeds) {
  // At Intensity 10 a jitter roll hits on a multiple of 1000 and the reset roll
  // (draw % 1000) succeeds below 10. In cell 0 jitter 0 hits with the offset
  // 9750 · 0.002 − 10 = 9.5 and jitter 2 with 4750 → −0.5; the reset rolls of
  // 10 and 105 fail, so they last through cells 1 and 2, until 1009 (r = 9)
  // clears them. The last cell's hit, 9999 → 9.998001 as a float, outlives its
  // failed reset roll only until render() ends.
  Intensity = 10.0f;
  HeadlessConsole console(320, 240, 0x00112233);
  console.frameCounter = 1;
  JitterWatch watch(drawsFor(1, {{0, {0, 9750, 1, 1000, 4750, 1, 1, 1, 1, 1, 10}},
                                 {1, {500, 1, 1, 1, 1, 1, 1, 1, 105}},  // 500: a miss
                                 {2, {1, 1, 1, 1, 1, 1, 1, 1, 1009}},
                                 {kCellCount - 1, {1, 1, 1, 1, 1, 0, 9999, 1, 1, 999}}}));
  field.render(console, 0.1, 0);
  // One colour roll, nine rolls per cell, one more draw per jitter hit.
  EXPECT_EQ(watch.seen.size(), 1u + 9u * kCellCount + 3u);
  ASSERT_EQ(watch.seen.size(), watch.draws.size());
  EXPECT_EQ(watch.seen[1 + 11 + 9], (Offsets{9.5f, 0, -0.5f, 0, 0, 0}));  // cell 2's first roll
  EXPECT_EQ(watch.seen[1 + 11 + 18], Offsets{});                          // cell 3's
  EXPECT_EQ(watch.seen.back(), (Offsets{0, 0, 0, 0, 0, 0x1.3fefap+3f}));
  EXPECT_EQ(std::to_array(jitter), Offsets{});
  EXPECT_EQ(Intensity, 10.0f);  // frame 1: no ageing
  for (int i = 0; i < 320 * 240; ++i)
    ASSERT_EQ(console.pixels[i], 0x00112233u) << i;
}

TEST_F(Metaballs, FlashRollModulusIsTruncOfIntensityTimesTenInDouble) {
  // Intensity, colour roll, colour. 980.099976 × 10 is 9800.99976: the modulus is 9800, not 9801.
  const std::tuple<float, std::uint32_t, std::uint32_t> cases[] = {
      {10.0f, 100, 0x0000FF},        {10.0f, 50, 0x8060FF},        {1.0f, 100, 0x0000FF},
      {1.0f, 15, 0x8060FF},          {1000.0f, 10000, 0x0000FF},   {1000.0f, 100, 0x8060FF},
      {980.099976f, 9800, 0x0000FF}, {980.099976f, 9801, 0x8060FF}};
  for (const auto& [intensity, colourRoll, colour] : cases) {
    HeadlessConsole console;
    console.frameCounter = 1;
    Intensity = intensity;
    field.reset();
    field.value[5][5][5] = 1.0;  // a small closed net
    ScriptedRandom draws(drawsFor(colourRoll, {}));
    field.render(console, 0.1, 1);
    const std::set<std::uint32_t> colours(console.pixels, console.pixels + 320 * 240);
    EXPECT_EQ(colours, (std::set<std::uint32_t>{0, colour})) << intensity << " " << colourRoll;
  }
}

TEST_F(Metaballs, IntensityAgesOnEveryTenthConsoleFrameToAFloorOfOne) {
  HeadlessConsole console;
  seedRandom(7);  // the field is empty: no draw changes the picture
  struct Case {
    int counter, frameArgument;
    float before, after;
  };
  const Case cases[] = {{0, 7, 1000.0f, 990.0f},  // the console's counter counts, not the argument
                        {15, 0, 990.0f, 990.0f},
                        {20, 7, 990.0f, 980.099976f},  // 990 × 0.99 in double, then a float
                        {30, 30, 1.005f, 1.0f},
                        {30, 30, 1.0f, 1.0f}};
  for (const Case& c : cases) {
    Intensity = c.before;
    console.frameCounter = c.counter;
    field.render(console, 0.1, c.frameArgument);
    EXPECT_EQ(Intensity, c.after) << c.counter << " " << c.before;
  }
  // From 1000, the 688th step reaches the floor.
  Intensity = 1000.0f;
  console.frameCounter = 0;
  int steps = 0;
  for (; Intensity > 1.0f && steps < 1000; ++steps)
    field.render(console, 0.1, 0);
  EXPECT_EQ(steps, 688);
}

TEST_F(Metaballs, SpikesLandOnTheLatticeOriginAndThreeTimesTheFirstEnd) {
  // The XY face of cell (4, 5, 5) has the first end (5, 5, 5), the fraction 1
  // of an edge from an inside point into an exact 0. (5, 5, 5) lands on pixel
  // (141, 101), three times it, (15, 15, 15), on (246, 206), and the lattice
  // origin on (107, 67). At Intensity 10 a spike roll hits on a multiple of
  // 10000 and a jitter roll on one of 1000.
  Intensity = 10.0f;
  field.value[4][5][5] = 1.0;
  field.value[5][5][5] = 0.0;
  struct Case {
    std::vector<std::uint32_t> draws;  // cell (4, 5, 5)'s
    std::vector<std::array<int, 2>> lit, dark;
  };
  std::vector<std::array<int, 2>> diagonal;
  for (int i = 0; i <= 105; ++i)
    diagonal.push_back({141 + i, 101 + i});
  const Case cases[] = {
      {{1, 1, 1, 1, 1, 1, 1000, 20000, 0}, diagonal, {}},                         // stretch
      {{1, 1, 1, 1, 1, 1, 20000, 1000, 0}, {{107, 67}}, {{106, 67}, {107, 66}}},  // collapse
      // Both: the XY line shrinks to the origin's pixel plus the jitter, here
      // 9750 → 9.5 on x0 and 4750 → −0.5 on y1: from (116, 67) to (107, 66).
      {{1000, 9750, 1, 1, 2000, 4750, 1, 1, 10000, 30000, 0}, {{116, 67}, {107, 66}}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "case " << &c - cases);
    HeadlessConsole console;
    console.frameCounter = 1;
    ScriptedRandom draws(drawsFor(1, {{(5 * 15 + 5) * 15 + 4, c.draws}}));
    field.render(console, 0.1, 1);
    for (const auto [x, y] : c.lit)
      EXPECT_EQ(console.at(x, 239 - y), 0x8060FFu) << x << ", " << y;
    for (const auto [x, y] : c.dark)
      EXPECT_EQ(console.at(x, 239 - y), 0u) << x << ", " << y;
  }
}

TEST_F(Metaballs, RebuildAndRenderAllocateNothing) {
  HeadlessConsole console;
  Intensity = 1.0f;  // every disturbance at its most frequent
  seedRandom(99);
  for (int frame = 0; frame < 20; ++frame) {
    console.frameCounter = frame;
    countingAllocations = true;
    field.reset();
    addShowBalls(field, frame * 37);
    field.render(console, 0.1, frame);
    countingAllocations = false;
  }
  EXPECT_EQ(allocationsCounted, 0);
}

}  // namespace
}  // namespace vornisk
