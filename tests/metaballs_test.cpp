// The metaball field, its contour extraction and the wire-net renderer: field
// values, crossing fractions, the face table, the coordinate conversion, the
// order and count of random draws, and the drawn picture against a model that
// projects with the camera's closed form (pixel = centre + 300·X / (300 − Z)).
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "metaballs/blob_field.h"
#include "metaballs/pixel_coordinate.h"
#include "shell/random.h"
#include "shell/show_state.h"
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

constexpr std::uint32_t kContourColour = 0x8060FF;
constexpr std::uint32_t kFlashColour = 0x0000FF;
constexpr int kCellCount = 15 * 15 * 15;

class Metaballs : public ::testing::Test {
 protected:
  void SetUp() override {
    resetShowState();
    field_->reset();
  }
  void TearDown() override { resetShowState(); }

  std::unique_ptr<BlobField> field_ = std::make_unique<BlobField>();
  BlobField& field() { return *field_; }
};

// ---------------------------------------------------------------- conversion

TEST(PixelCoordinate, TruncatesTowardZeroAndKeepsTheLow32Bits) {
  EXPECT_EQ(toPixelCoordinate(107.9), 107);
  EXPECT_EQ(toPixelCoordinate(-3.2), -3);
  EXPECT_EQ(toPixelCoordinate(-0.7), 0);
  EXPECT_EQ(toPixelCoordinate(2147483647.9), 2147483647);
  EXPECT_EQ(toPixelCoordinate(2147483648.0), INT32_MIN);
  EXPECT_EQ(toPixelCoordinate(4294967301.5), 5);       // 2^32 + 5
  EXPECT_EQ(toPixelCoordinate(-1099511627783.0), -7);  // −2^40 − 7
  EXPECT_EQ(toPixelCoordinate(1e18), -1486618624);
  EXPECT_EQ(toPixelCoordinate(9223372036854774784.0), -1024);  // largest double below 2^63
  // Out of the 64-bit range or undefined: INT64_MIN, whose low 32 bits are 0.
  EXPECT_EQ(toPixelCoordinate(9223372036854775808.0), 0);
  EXPECT_EQ(toPixelCoordinate(-9223372036854775808.0), 0);
  EXPECT_EQ(toPixelCoordinate(-1e300), 0);
  EXPECT_EQ(toPixelCoordinate(std::numeric_limits<double>::infinity()), 0);
  EXPECT_EQ(toPixelCoordinate(-std::numeric_limits<double>::infinity()), 0);
  EXPECT_EQ(toPixelCoordinate(std::numeric_limits<double>::quiet_NaN()), 0);
}

TEST(PixelCoordinate, JitterIsAddedInSinglePrecision) {
  // trunc(107.3) = 107, 107 − 0.5 = 106.5 → 106; trunc(−3.2) = −3, −3.5 → −3.
  EXPECT_EQ(jitteredPixelCoordinate(toPixelCoordinate(107.3), -0.5f), 106);
  EXPECT_EQ(jitteredPixelCoordinate(toPixelCoordinate(-3.2), -0.5f), -3);
  EXPECT_EQ(jitteredPixelCoordinate(5, -10.0f), -5);
  EXPECT_EQ(jitteredPixelCoordinate(200, 9.998f), 209);
  // Beyond 2^24 the integer loses bits as a float even with no jitter at all.
  EXPECT_EQ(jitteredPixelCoordinate(16777217, 0.0f), 16777216);
  EXPECT_EQ(jitteredPixelCoordinate(-16777219, 0.0f), -16777220);
  // INT32_MAX becomes 2^31 as a float, which wraps to INT32_MIN.
  EXPECT_EQ(jitteredPixelCoordinate(INT32_MAX, 0.0f), INT32_MIN);
  EXPECT_EQ(jitteredPixelCoordinate(INT32_MIN, -9.0f), INT32_MIN);
}

// --------------------------------------------------------------------- field

TEST_F(Metaballs, ResetFillsAllFourBlocks) {
  for (auto* block : {&field().value, &field().crossX, &field().crossY, &field().crossZ}) {
    (*block)[3][4][5] = 7.0;
    (*block)[15][15][15] = 7.0;
  }
  field().reset();
  for (auto* block : {&field().value, &field().crossX, &field().crossY, &field().crossZ}) {
    for (int i = 0; i < 16 * 16 * 16; ++i)
      ASSERT_EQ((&(*block)[0][0][0])[i], -0.5) << i;
  }
}

TEST_F(Metaballs, AddBallCentreRadiusAndIndexOrder) {
  // x goes with the slowest index, z with the fastest.
  field().addBall(3, 7, 11, 0.5, 1.0);
  EXPECT_EQ(field().value[3][7][11], 0.5);
  EXPECT_EQ(field().value[11][7][3], -0.5);

  // The centre receives exactly `strength`; a point at exactly the radius nothing.
  field().reset();
  field().addBall(8, 8, 8, 2, 3.0);
  EXPECT_EQ(field().value[8][8][8], 2.5);
  EXPECT_EQ(field().value[10][8][8], -0.5);
  EXPECT_EQ(field().value[8][6][8], -0.5);
  EXPECT_GT(field().value[9][8][8], -0.5);
  EXPECT_LT(field().value[9][8][8], 2.5);

  // Strength 1 on a lattice point: that point at 0.5, every other below it.
  field().reset();
  field().addBall(5, 6, 7, 4, 1.0);
  int atHalf = 0;
  for (int i = 0; i < 16 * 16 * 16; ++i)
    atHalf += (&field().value[0][0][0])[i] >= 0.5;
  EXPECT_EQ(field().value[5][6][7], 0.5);
  EXPECT_EQ(atHalf, 1);
  // At half the radius the falloff is 0.5: (1 − 22/36 + 17/144 − 4/576) = 288/576.
  EXPECT_NEAR(field().value[7][6][7], 0.0, 1e-15);
  EXPECT_NEAR(field().value[5][4][7], 0.0, 1e-15);

  // Strength 0.5 brings its centre to exactly 0, which is outside: no crossings.
  field().reset();
  field().addBall(8, 8, 8, 3, 0.5);
  EXPECT_EQ(field().value[8][8][8], 0.0);
  field().computeCrossings();
  EXPECT_EQ(field().crossX[7][8][8], -0.5);
  EXPECT_EQ(field().crossX[8][8][8], -0.5);
}

TEST_F(Metaballs, AddBallOddArguments) {
  // Radius 0 adds nothing, not even at its centre (and never divides by zero).
  field().addBall(4, 4, 4, 0, 1.0);
  EXPECT_EQ(field().value[4][4][4], -0.5);
  // A negative radius acts like its absolute value; a negative strength subtracts.
  field().addBall(4, 4, 4, -3, 1.0);
  const double positive = field().value[5][4][4];
  field().reset();
  field().addBall(4, 4, 4, 3, 1.0);
  EXPECT_EQ(field().value[5][4][4], positive);
  field().addBall(4, 4, 4, 3, -1.0);
  EXPECT_EQ(field().value[4][4][4], -0.5);
  EXPECT_EQ(field().value[5][4][4], -0.5);
  // Contributions add, with no clamping.
  field().addBall(0, 0, 0, 1, 4.0);
  field().addBall(0, 0, 0, 1, 4.0);
  EXPECT_EQ(field().value[0][0][0], 7.5);
  // A centre off the lattice still reaches the points within its radius.
  field().reset();
  field().addBall(-1, 0, 0, 2, 1.0);
  EXPECT_GT(field().value[0][0][0], -0.5);
  EXPECT_EQ(field().value[1][0][0], -0.5);
}

// ----------------------------------------------------------------- crossings

TEST_F(Metaballs, CrossingFractionsInterpolateFromTheLowerEnd) {
  field().value[2][3][4] = -0.2;
  field().value[3][3][4] = 0.6;  // crossX[2][3][4]
  field().value[5][5][5] = 0.6;
  field().value[5][6][5] = -0.2;  // crossY[5][5][5]
  field().value[9][9][9] = 0.0;
  field().value[9][9][10] = 0.4;  // crossZ[9][9][9]: lower end exactly 0
  field().value[1][1][1] = 0.4;
  field().value[1][1][2] = 0.0;  // crossZ[1][1][1]: upper end exactly 0
  field().computeCrossings();
  EXPECT_EQ(field().crossX[2][3][4], 0.25);
  EXPECT_DOUBLE_EQ(field().crossY[5][5][5], 0.75);  // 0.6 / 0.8 in double
  EXPECT_EQ(field().crossZ[9][9][9], 0.0);          // written, but counts as not crossed
  EXPECT_EQ(field().crossZ[1][1][1], 1.0);
  // The inside point at (5, 5, 5) crosses towards all its outside neighbours.
  EXPECT_EQ(field().crossX[5][5][5], 0.6 / 1.1);
  EXPECT_EQ(field().crossX[4][5][5], 0.5 / 1.1);
  EXPECT_EQ(field().crossX[2][3][3], -0.5);  // no sign change: left alone
}

TEST_F(Metaballs, EdgesStartingOnLayer15AreNeverExamined) {
  field().value[15][4][4] = 1.0;
  field().value[4][15][4] = 1.0;
  field().value[4][4][15] = 1.0;
  field().computeCrossings();
  EXPECT_EQ(field().crossY[15][4][4], -0.5);
  EXPECT_EQ(field().crossZ[15][4][4], -0.5);
  EXPECT_EQ(field().crossX[14][4][4], 0.5 / 1.5);  // examined: it starts on layer 14
  EXPECT_EQ(field().crossX[4][15][4], -0.5);
  EXPECT_EQ(field().crossZ[4][15][4], -0.5);
  EXPECT_EQ(field().crossX[4][4][15], -0.5);
  EXPECT_EQ(field().crossY[4][4][15], -0.5);
}

// ---------------------------------------------------------------- face table

// The four crossing elements of one face, by bit, and the lattice point each
// bit's fraction is measured from, with the axis it runs along.
struct FaceEdges {
  double* element[4];  // bits 8, 4, 2, 1
  ContourPoint from[4];
  int axis[4];  // 0 = x, 1 = y, 2 = z
};

FaceEdges edgesOf(BlobField& f, FaceFamily family, int x, int y, int z) {
  const double X = x, Y = y, Z = z;
  switch (family) {
    case FaceFamily::XY:
      return {
          {&f.crossX[x][y][z], &f.crossY[x][y][z], &f.crossY[x + 1][y][z], &f.crossX[x][y + 1][z]},
          {{X, Y, Z}, {X, Y, Z}, {X + 1, Y, Z}, {X, Y + 1, Z}},
          {0, 1, 1, 0}};
    case FaceFamily::XZ:
      return {
          {&f.crossX[x][y][z], &f.crossZ[x][y][z], &f.crossZ[x + 1][y][z], &f.crossX[x][y][z + 1]},
          {{X, Y, Z}, {X, Y, Z}, {X + 1, Y, Z}, {X, Y, Z + 1}},
          {0, 2, 2, 0}};
    case FaceFamily::YZ:
      return {
          {&f.crossY[x][y][z], &f.crossZ[x][y][z], &f.crossZ[x][y + 1][z], &f.crossY[x][y][z + 1]},
          {{X, Y, Z}, {X, Y, Z}, {X, Y + 1, Z}, {X, Y, Z + 1}},
          {1, 2, 2, 1}};
  }
  return {};
}

ContourPoint along(const FaceEdges& edges, int bitIndex, double t) {
  ContourPoint p = edges.from[bitIndex];
  (edges.axis[bitIndex] == 0 ? p.x : edges.axis[bitIndex] == 1 ? p.y : p.z) += t;
  return p;
}

void expectPoint(const ContourPoint& actual, const ContourPoint& expected) {
  EXPECT_EQ(actual.x, expected.x);
  EXPECT_EQ(actual.y, expected.y);
  EXPECT_EQ(actual.z, expected.z);
}

TEST_F(Metaballs, FaceTableForEveryMaskAndFamily) {
  // mask → (first bit index, second bit index) with bit indices 0..3 for 8, 4, 2, 1.
  const std::map<int, std::pair<int, int>> table = {
      {3, {3, 2}}, {5, {1, 3}}, {6, {2, 1}}, {9, {0, 3}}, {10, {0, 2}}, {12, {0, 1}}, {15, {0, 1}}};
  const double fractions[4] = {0.125, 0.375, 0.625, 0.875};
  for (FaceFamily family : {FaceFamily::XY, FaceFamily::XZ, FaceFamily::YZ}) {
    for (int mask = 0; mask < 16; ++mask) {
      SCOPED_TRACE(::testing::Message()
                   << "family " << static_cast<int>(family) << " mask " << mask);
      field().reset();
      const FaceEdges edges = edgesOf(field(), family, 6, 7, 8);
      // A clear bit is the mark −0.5 or a fraction of exactly 0: neither counts.
      for (int bit = 0; bit < 4; ++bit) {
        *edges.element[bit] = (mask >> (3 - bit)) & 1 ? fractions[bit] : (bit % 2 ? 0.0 : -0.5);
      }
      const std::optional<ContourSegment> segment = field().faceSegment(family, 6, 7, 8);
      const auto row = table.find(mask);
      if (row == table.end()) {
        EXPECT_FALSE(segment.has_value());
        continue;
      }
      ASSERT_TRUE(segment.has_value());
      const auto [first, second] = row->second;
      expectPoint(segment->first, along(edges, first, fractions[first]));
      expectPoint(segment->second, along(edges, second, fractions[second]));
    }
  }
}

TEST_F(Metaballs, CornerPatternsGiveTheirSegments) {
  // Inside corners (u, v) of the XZ face of cell (3, 4, 5): u = x, v = z.
  struct Pattern {
    std::vector<std::pair<int, int>> inside;
    std::optional<std::pair<int, int>> bits;  // first, second bit index
  };
  const Pattern patterns[] = {
      {{}, std::nullopt},
      {{{0, 0}, {1, 0}, {0, 1}, {1, 1}}, std::nullopt},
      {{{0, 0}}, std::pair(0, 1)},
      {{{1, 0}}, std::pair(0, 2)},
      {{{0, 1}}, std::pair(1, 3)},
      {{{1, 1}}, std::pair(3, 2)},
      {{{0, 0}, {1, 0}}, std::pair(2, 1)},
      {{{0, 0}, {0, 1}}, std::pair(0, 3)},
      {{{0, 0}, {1, 1}}, std::pair(0, 1)},  // saddle: only the low corner is cut off
      {{{1, 0}, {0, 1}}, std::pair(0, 1)},
  };
  for (const Pattern& pattern : patterns) {
    for (bool complement : {false, true}) {
      SCOPED_TRACE(::testing::Message()
                   << pattern.inside.size() << " inside, complement " << complement);
      field().reset();
      for (int u = 0; u < 2; ++u) {
        for (int v = 0; v < 2; ++v) {
          bool in = false;
          for (const auto& corner : pattern.inside)
            in = in || corner == std::pair(u, v);
          field().value[3 + u][4][5 + v] = in != complement ? 1.5 : -0.5;
        }
      }
      field().computeCrossings();
      const std::optional<ContourSegment> segment = field().faceSegment(FaceFamily::XZ, 3, 4, 5);
      ASSERT_EQ(segment.has_value(), pattern.bits.has_value());
      if (!segment) continue;
      const FaceEdges edges = edgesOf(field(), FaceFamily::XZ, 3, 4, 5);
      // From an inside lower end the fraction is 1.5 / 2; from an outside one 0.5 / 2.
      auto fractionOf = [&](int bit) { return *edges.element[bit]; };
      const auto [first, second] = *pattern.bits;
      EXPECT_TRUE(fractionOf(first) == 0.75 || fractionOf(first) == 0.25);
      expectPoint(segment->first, along(edges, first, fractionOf(first)));
      expectPoint(segment->second, along(edges, second, fractionOf(second)));
    }
  }
}

TEST_F(Metaballs, NetIsOpenWhereTheSurfaceReachesLayer15) {
  // Inside points (x, 4, 4) and (x + 1, 4, 4): on the XY face of cell (x, 4, 4)
  // the crossed edges are bits 4 and 2, a segment, unless bit 2's edge starts on
  // layer 15 and was never examined.
  field().value[13][4][4] = 1.0;
  field().value[14][4][4] = 1.0;
  field().computeCrossings();
  ASSERT_TRUE(field().faceSegment(FaceFamily::XY, 13, 4, 4).has_value());

  field().reset();
  field().value[14][4][4] = 1.0;
  field().value[15][4][4] = 1.0;
  field().computeCrossings();
  EXPECT_FALSE(field().faceSegment(FaceFamily::XY, 14, 4, 4).has_value());
  EXPECT_FALSE(field().faceSegment(FaceFamily::XZ, 14, 4, 4).has_value());
  EXPECT_TRUE(field().faceSegment(FaceFamily::YZ, 14, 4, 4).has_value());
}

// ------------------------------------------------------------------- render

// What the scripted generator does in one cell; cells not listed miss every
// roll and reset the jitter.
struct CellEvents {
  std::array<std::optional<std::uint32_t>, 6> jitterDraw{};  // the offset draw on a hit
  bool collapse = false;
  bool stretch = false;
  bool keepJitter = false;                   // the reset roll fails (at Intensity below 999)
  std::optional<std::uint32_t> resetDraw{};  // replaces the reset roll's draw of 0 or 999
};
using Events = std::map<int, CellEvents>;  // by cell number z·225 + y·15 + x

int cellNumber(int x, int y, int z) {
  return (z * 15 + y) * 15 + x;
}

CellEvents eventsOf(const Events& events, int cell) {
  const auto found = events.find(cell);
  return found == events.end() ? CellEvents{} : found->second;
}

// A miss is 1 (never a multiple of a modulus of 10 or more), a hit 0; the reset
// roll's r is 0 (below any Intensity) or 999.
std::vector<std::uint32_t> scriptFor(bool flash, const Events& events) {
  std::vector<std::uint32_t> draws = {flash ? 0u : 1u};
  for (int cell = 0; cell < kCellCount; ++cell) {
    const CellEvents e = eventsOf(events, cell);
    for (const auto& offset : e.jitterDraw) {
      draws.push_back(offset ? 0 : 1);
      if (offset) draws.push_back(*offset);
    }
    draws.push_back(e.collapse ? 0 : 1);
    draws.push_back(e.stretch ? 0 : 1);
    draws.push_back(e.resetDraw.value_or(e.keepJitter ? 999 : 0));
  }
  return draws;
}

// drawLine between two points as the camera's closed form projects them: eye
// at world (0, 0, 300), focal length 300 pixels, 8.75 world units per cell and
// the lattice origin at world (−64, −64, −64). Each pixel coordinate (x0, y0,
// x1, y1) is shifted by its offset where one is given.
void drawProjected(HeadlessConsole& console, const ContourPoint& from, const ContourPoint& to,
                   std::array<const float*, 4> offsets, std::uint32_t colour) {
  int pixel[4];
  int k = 0;
  for (const ContourPoint& p : {from, to}) {
    const double X = 8.75 * p.x - 64, Y = 8.75 * p.y - 64, Z = 8.75 * p.z - 64;
    for (const double coordinate : {160 + 300 * X / (300 - Z), 120 + 300 * Y / (300 - Z)}) {
      pixel[k] = toPixelCoordinate(coordinate);
      if (offsets[k] != nullptr) pixel[k] = jitteredPixelCoordinate(pixel[k], *offsets[k]);
      ++k;
    }
  }
  console.drawLine(pixel[0], pixel[1], pixel[2], pixel[3], colour);
}

// The picture render() should draw over `console`, given the field's crossings.
void modelRender(HeadlessConsole& console, const BlobField& f, bool flash, const Events& events) {
  const std::uint32_t colour = flash ? kFlashColour : kContourColour;
  float o[6] = {};
  for (int z = 0; z < 15; ++z) {
    for (int y = 0; y < 15; ++y) {
      for (int x = 0; x < 15; ++x) {
        const CellEvents e = eventsOf(events, cellNumber(x, y, z));
        for (int k = 0; k < 6; ++k) {
          if (e.jitterDraw[k]) o[k] = static_cast<float>(*e.jitterDraw[k]) * 0.002f - 10.0f;
        }
        if (const auto xy = f.faceSegment(FaceFamily::XY, x, y, z)) {
          const ContourPoint first = e.collapse ? ContourPoint{0, 0, 0} : xy->first;
          const ContourPoint second =
              e.stretch ? ContourPoint{3 * first.x, 3 * first.y, 3 * first.z} : xy->second;
          drawProjected(console, first, second, {&o[0], &o[1], &o[2], &o[3]}, colour);
        }
        if (const auto xz = f.faceSegment(FaceFamily::XZ, x, y, z)) {
          drawProjected(console, xz->first, xz->second, {}, colour);
        }
        if (const auto yz = f.faceSegment(FaceFamily::YZ, x, y, z)) {
          drawProjected(console, yz->first, yz->second, {&o[4], &o[5], nullptr, nullptr}, colour);
        }
        if (!e.keepJitter) std::fill(std::begin(o), std::end(o), 0.0f);
      }
    }
  }
}

int differingPixels(const HeadlessConsole& a, const HeadlessConsole& b) {
  int count = 0;
  for (int i = 0; i < a.width * a.height; ++i)
    count += a.pixels[i] != b.pixels[i];
  return count;
}

// Renders `f` over `console` at `frame` with the draws that make `events`
// happen; returns how many draws were taken.
std::size_t renderScripted(BlobField& f, HeadlessConsole& console, bool flash, const Events& events,
                           int frame = 1) {
  console.frameCounter = frame;
  ScriptedRandom draws(scriptFor(flash, events));
  f.render(console, 0.1, frame);
  return draws.drawsTaken();
}

// Renders `f` with the draws that make `scripted` happen; the picture must be
// the model's of `modelled`, and every scripted draw taken.
void expectModelPicture(BlobField& f, bool flash, const Events& scripted, const Events& modelled) {
  auto reference = std::make_unique<BlobField>(f);
  reference->computeCrossings();
  HeadlessConsole drawn(320, 240, 0x00010203), expected(320, 240, 0x00010203);
  EXPECT_EQ(renderScripted(f, drawn, flash, scripted), scriptFor(flash, scripted).size());
  modelRender(expected, *reference, flash, modelled);
  EXPECT_EQ(differingPixels(drawn, expected), 0);
}

void expectModelPicture(BlobField& f, bool flash, const Events& events) {
  expectModelPicture(f, flash, events, events);
}

TEST_F(Metaballs, EmptyFieldDrawsNothingButMakesEveryRoll) {
  HeadlessConsole console(320, 240, 0x00112233);
  ScriptedRandom draws(std::vector<std::uint32_t>(40000, 1));
  field().render(console, 0.1, 0);
  // One colour roll, then per cell six jitter rolls, two spikes and the reset roll.
  EXPECT_EQ(draws.drawsTaken(), 1u + 3375u * 9u);
  for (int i = 0; i < 320 * 240; ++i)
    ASSERT_EQ(console.pixels[i], 0x00112233u);
  EXPECT_EQ(Intensity, 990.0f);
  for (float offset : jitter)
    EXPECT_EQ(offset, 0.0f);
}

TEST_F(Metaballs, JitterHitsTakeOneMoreDrawAndAreClearedAtTheEnd) {
  HeadlessConsole console;
  Events events;
  events[0].jitterDraw = {4750, std::nullopt, 1, std::nullopt, std::nullopt, 9999};
  events[0].keepJitter = true;
  events[3374].jitterDraw[2] = 17;
  events[3374].keepJitter = true;
  Intensity = 500.0f;
  EXPECT_EQ(renderScripted(field(), console, false, events, 3), 1u + 3375u * 9u + 4u);
  // Even with the last cell's reset roll failing, the offsets end at 0.
  for (float offset : jitter)
    EXPECT_EQ(offset, 0.0f);
  EXPECT_EQ(Intensity, 500.0f);  // frame 3: no ageing
}

TEST_F(Metaballs, IntensityAgesOnEveryTenthFrameDownToOne) {
  HeadlessConsole console;
  ScriptedRandom draws(std::vector<std::uint32_t>(200000, 1));
  field().render(console, 0.1, 0);
  EXPECT_EQ(Intensity, 990.0f);  // the counter is the console's, not the argument
  console.frameCounter = 7;
  field().render(console, 0.1, 0);
  EXPECT_EQ(Intensity, 990.0f);
  console.frameCounter = 20;
  field().render(console, 0.1, 7);
  EXPECT_EQ(Intensity, static_cast<float>(990.0 * 0.99));
  Intensity = 1.005f;
  console.frameCounter = 30;
  field().render(console, 0.1, 30);
  EXPECT_EQ(Intensity, 1.0f);
  field().render(console, 0.1, 30);
  EXPECT_EQ(Intensity, 1.0f);

  // 688 steps from 1000 reach the floor, 687 do not.
  Intensity = 1000.0f;
  console.frameCounter = 0;
  for (int step = 1; step <= 687; ++step) {
    field().reset();
    ScriptedRandom quiet(std::vector<std::uint32_t>(40000, 1));
    field().render(console, 0.1, 0);
  }
  EXPECT_GT(Intensity, 1.0f);
  ScriptedRandom quiet(std::vector<std::uint32_t>(40000, 1));
  field().render(console, 0.1, 0);
  EXPECT_EQ(Intensity, 1.0f);
}

TEST_F(Metaballs, RollModuliFollowIntensity) {
  // The flash roll hits on a multiple of trunc(Intensity × 10): draw 100 at
  // Intensity 10 (modulus 100) or at 1 (modulus 10), but not at 1000.
  field().value[5][5][5] = 1.0;  // one inside point: a small closed net
  struct Case {
    float intensity;
    std::uint32_t colourDraw;
    std::uint32_t expected;
  };
  const Case cases[] = {{10.0f, 100, kFlashColour},
                        {10.0f, 50, kContourColour},
                        {1.0f, 100, kFlashColour},
                        {1.0f, 15, kContourColour},
                        {1000.0f, 10000, kFlashColour},
                        {1000.0f, 100, kContourColour},
                        // 980.099976 × 10 is 9800.99976: the modulus is 9800, not 9801.
                        {980.099976f, 9800, kFlashColour},
                        {980.099976f, 9801, kContourColour}};
  for (const Case& test : cases) {
    SCOPED_TRACE(::testing::Message() << test.intensity << " " << test.colourDraw);
    HeadlessConsole console;
    console.frameCounter = 1;
    Intensity = test.intensity;
    std::vector<std::uint32_t> script = scriptFor(false, {});
    script[0] = test.colourDraw;
    ScriptedRandom draws(script);
    field().reset();
    field().value[5][5][5] = 1.0;
    field().render(console, 0.1, 1);
    bool drewExpected = false, drewOther = false;
    for (int i = 0; i < 320 * 240; ++i) {
      drewExpected = drewExpected || console.pixels[i] == test.expected;
      drewOther = drewOther || (console.pixels[i] != 0 && console.pixels[i] != test.expected);
    }
    EXPECT_TRUE(drewExpected);
    EXPECT_FALSE(drewOther);
  }

  // Jitter and spike rolls: at Intensity 1 a draw of 100 hits a jitter roll
  // (modulus 100) and 1000 a spike roll (modulus 1000); the reset roll needs r < 1.
  Intensity = 1.0f;
  field().reset();
  HeadlessConsole console;
  console.frameCounter = 1;
  std::vector<std::uint32_t> script = {1};
  for (int cell = 0; cell < kCellCount; ++cell) {
    script.insert(script.end(), {100, 5000, 1, 1, 1, 1, 1, 1000, 1, 1});
  }
  ScriptedRandom draws(script);
  field().render(console, 0.1, 1);
  // Each cell: one jitter hit (two draws), five misses, a collapse hit, a stretch
  // miss, and a reset roll of r = 1, which fails at Intensity 1.
  EXPECT_EQ(draws.drawsTaken(), script.size());
}

class MetaballPicture : public Metaballs {
 protected:
  void SetUp() override {
    Metaballs::SetUp();
    // Two overlapping balls: a net with segments on all three face families.
    field().addBall(6.3, 7.1, 6.6, 5, 1.0);
    field().addBall(8.9, 6.2, 7.7, 4, 1.5);
    reference_ = std::make_unique<BlobField>(field());
    reference_->computeCrossings();
  }

  // The first cells (in loop order) whose face of `family` has a segment, with z ≤ 12.
  std::vector<int> cellsWith(FaceFamily family) const {
    std::vector<int> cells;
    for (int z = 0; z <= 12; ++z) {
      for (int y = 0; y < 15; ++y) {
        for (int x = 0; x < 15; ++x) {
          if (reference_->faceSegment(family, x, y, z)) cells.push_back(cellNumber(x, y, z));
        }
      }
    }
    return cells;
  }

  std::unique_ptr<BlobField> reference_;
};

TEST_F(MetaballPicture, UndisturbedNetMatchesTheCameraClosedForm) {
  ASSERT_GT(cellsWith(FaceFamily::XY).size(), 10u);
  ASSERT_GT(cellsWith(FaceFamily::XZ).size(), 10u);
  ASSERT_GT(cellsWith(FaceFamily::YZ).size(), 10u);
  Intensity = 700.0f;
  expectModelPicture(field(), false, {});
}

TEST_F(MetaballPicture, FlashJitterAndSpikes) {
  Intensity = 700.0f;
  const std::vector<int> xy = cellsWith(FaceFamily::XY);
  const std::vector<int> yz = cellsWith(FaceFamily::YZ);
  Events events;
  // Jitter set in one XY cell and kept over the following cells until a reset.
  events[xy[2]].jitterDraw = {9750, 250, 2000, 8000, 6000, 4000};
  events[xy[2]].keepJitter = true;
  for (int cell = xy[2] + 1; cell < xy[2] + 40; ++cell)
    events[cell].keepJitter = true;
  // A later jitter hit on one offset only, in a YZ cell.
  events[yz[yz.size() / 2]].jitterDraw[4] = 9999;
  events[yz[yz.size() / 2]].jitterDraw[5] = 0;
  // Collapse alone, stretch alone, both.
  events[xy[xy.size() / 3]].collapse = true;
  events[xy[xy.size() / 2]].stretch = true;
  events[xy[2 * xy.size() / 3]].collapse = true;
  events[xy[2 * xy.size() / 3]].stretch = true;
  expectModelPicture(field(), true, events);

  // The same net undisturbed differs: the disturbances showed.
  HeadlessConsole plain(320, 240, 0x00010203), disturbed(320, 240, 0x00010203);
  modelRender(plain, *reference_, false, {});
  modelRender(disturbed, *reference_, false, events);
  EXPECT_GT(differingPixels(plain, disturbed), 100);
}

TEST_F(MetaballPicture, AtIntensity1000EveryResetRollSucceeds) {
  // r = 999 fails the reset roll only while Intensity ≤ 999: at 1000 the jitter
  // of a hit displaces its own cell alone.
  Intensity = 1000.0f;
  const std::vector<int> xy = cellsWith(FaceFamily::XY);
  Events events;
  events[xy[0]].jitterDraw = {9750, 9750, 250, 250, 9750, 250};
  for (int cell = xy[0]; cell < xy[0] + 300; ++cell)
    events[cell].keepJitter = true;
  Events ownCellOnly;
  ownCellOnly[xy[0]].jitterDraw = events[xy[0]].jitterDraw;
  expectModelPicture(field(), false, events, ownCellOnly);
}

TEST_F(MetaballPicture, ResetRollNeedsItsDrawBelowIntensity) {
  // r = draw % 1000 is compared with Intensity: at 10, r = 10 keeps the jitter
  // and r = 9 (from 1009) clears it.
  Intensity = 10.0f;
  const std::vector<int> xy = cellsWith(FaceFamily::XY);
  Events events;
  events[xy[0]].jitterDraw = {9750, 9750, 250, 250, 9750, 250};
  for (int cell = xy[0]; cell < xy[3]; ++cell) {
    events[cell].resetDraw = 10;
    events[cell].keepJitter = true;
  }
  events[xy[3]].resetDraw = 1009;
  expectModelPicture(field(), false, events);
}

TEST_F(Metaballs, StretchBehindTheEyeFollowsTheSameProjection) {
  // A first end at cell z = 14 stretches to world z = 303.5, behind the eye at
  // 300: the projection flips through the eye and the line runs far off screen.
  field().value[6][7][14] = 1.0;
  field().value[12][3][14] = 1.0;
  Intensity = 600.0f;
  Events events;
  events[cellNumber(6, 7, 14)].stretch = true;
  events[cellNumber(12, 3, 14)].stretch = true;
  expectModelPicture(field(), false, events);
  // render() left the field's crossings in place for the model.
  HeadlessConsole plain, stretched;
  modelRender(plain, field(), false, {});
  modelRender(stretched, field(), false, events);
  EXPECT_GT(differingPixels(plain, stretched), 50);
}

TEST_F(Metaballs, RebuildAndRenderAllocateNothing) {
  HeadlessConsole console;
  Intensity = 1.0f;  // every disturbance at its most frequent
  seedRandom(99);
  for (int frame = 0; frame < 20; ++frame) {
    console.frameCounter = frame;
    countingAllocations = true;
    field().reset();
    addShowBalls(field(), frame * 37);
    field().render(console, 0.1, frame);
    countingAllocations = false;
  }
  EXPECT_EQ(allocationsCounted, 0);
}

TEST_F(Metaballs, SpikeWitnessPixels) {
  Intensity = 700.0f;
  const int cell = cellNumber(4, 5, 5);
  // One XY face whose first end is exactly the lattice point (5, 5, 5): the
  // fraction 1 of an edge whose upper end is exactly 0.
  field().value[4][5][5] = 1.0;
  field().value[5][5][5] = 0.0;
  HeadlessConsole stretched;
  renderScripted(field(), stretched, false, {{cell, {.stretch = true}}});
  // (5, 5, 5) lands on (141, 101) and three times it, (15, 15, 15), on (246, 206):
  // the stretched line is the diagonal between them.
  for (int i = 0; i <= 105; ++i) {
    ASSERT_EQ(stretched.at(141 + i, 239 - (101 + i)), kContourColour) << i;
  }

  // Collapse: the first end moves to the lattice origin's pixel, (107, 67).
  field().reset();
  field().value[4][5][5] = 1.0;
  HeadlessConsole collapsed;
  renderScripted(field(), collapsed, false, {{cell, {.collapse = true}}});
  EXPECT_EQ(collapsed.at(107, 239 - 67), kContourColour);
  EXPECT_EQ(collapsed.at(106, 239 - 67), 0u);
  EXPECT_EQ(collapsed.at(107, 239 - 66), 0u);

  // Both in one cell: the XY line shrinks to the origin's pixel plus the jitter.
  // jitter[0] = 9750 · 0.002 − 10 = 9.5 and jitter[3] = 4750 · 0.002 − 10 = −0.5:
  // from (107 + 9.5, 67) → (116, 67) to (107, 67 − 0.5) → (107, 66).
  HeadlessConsole both;
  CellEvents bothEvents{.collapse = true, .stretch = true};
  bothEvents.jitterDraw[0] = 9750;
  bothEvents.jitterDraw[3] = 4750;
  renderScripted(field(), both, false, {{cell, bothEvents}});
  EXPECT_EQ(both.at(116, 239 - 67), kContourColour);
  EXPECT_EQ(both.at(107, 239 - 66), kContourColour);
}

}  // namespace
}  // namespace vornisk
