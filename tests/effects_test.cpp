// The full-frame effects, the copper bars and the spinning triangles, checked
// word by word on small headless consoles with asymmetric pictures whose red,
// green and blue channels each encode something different.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "effects/effects.h"
#include "geometry/trig.h"
#include "shell/show_state.h"
#include "support/test_support.h"

namespace vornisk {
namespace {

using testing::HeadlessConsole;
using testing::ScriptedClock;
using testing::ScriptedRandom;

constexpr std::uint32_t kBefore = 0x00123456;  // what the buffer held before the effect
constexpr float kDepthSentinel = 1.5f;

// Title word for (row, column): red carries the row, green the column, blue is
// fixed, so any shift, swap of rows or swap of channels shows.
std::uint32_t titleWord(int row, int column) {
  return (static_cast<std::uint32_t>(0xA0 + row) << 16) |
         (static_cast<std::uint32_t>(column) << 8) | 0x5Cu;
}

void paintTitle(HeadlessConsole& console) {
  std::uint32_t* title = console.title();
  for (int r = 0; r < console.height; ++r) {
    for (int x = 0; x < console.width; ++x)
      title[x + console.width * r] = titleWord(r, x);
  }
}

void fillDepth(DemoConsole& console, float value) {
  for (int i = 0; i < console.width * console.height; ++i)
    console.zBuffer[i] = value;
}

// The buffer as text, one string per memory row: '#' for `colour`, '.' for 0,
// '?' for anything else.
std::vector<std::string> picture(const DemoConsole& console, std::uint32_t colour) {
  std::vector<std::string> rows;
  for (int r = 0; r < console.height; ++r) {
    std::string row;
    for (int x = 0; x < console.width; ++x) {
      const std::uint32_t word = console.pixels[x + console.width * r];
      row += word == colour ? '#' : word == 0 ? '.' : '?';
    }
    rows.push_back(row);
  }
  return rows;
}

// ---------------------------------------------------------------------------
// clearFrame, and which effects may touch the z-buffer

TEST(FullFrame, ClearFrameBlanksEveryWordAndSetsFarDepth) {
  HeadlessConsole console(320, 240, 0xDEADBEEF);
  fillDepth(console, kDepthSentinel);
  console.clearFrame();
  for (int i = 0; i < 320 * 240; ++i) {
    ASSERT_EQ(console.pixels[i], 0u) << "word " << i;
    ASSERT_EQ(std::bit_cast<std::uint32_t>(console.zBuffer[i]), 0x47435000u) << "depth " << i;
  }
}

TEST(FullFrame, OnlyClearFrameWritesTheDepthBuffer) {
  HeadlessConsole console(320, 240, kBefore);
  paintTitle(console);
  fillDepth(console, kDepthSentinel);
  resetShowState();
  ScriptedClock clock(100000);  // startTime 0: the copper bars draw
  ScriptedRandom draws({7, 3, 11});
  console.drawCheckerboard(8, 128);
  console.copyTitle();
  console.jitterTitle();
  drawCopperBars(console);
  for (int i = 0; i < 320 * 240; ++i)
    ASSERT_EQ(console.zBuffer[i], kDepthSentinel) << i;
}

// ---------------------------------------------------------------------------
// drawCheckerboard

TEST(Checkerboard, CornerCellsOfTheShowsBoard) {
  HeadlessConsole console(320, 240, kBefore);
  console.drawCheckerboard(8, 128);
  for (int x = 0; x < 8; ++x) {
    EXPECT_EQ(console.at(x, 0), 0u) << "top-left cell is black, column " << x;
    EXPECT_EQ(console.at(x + 8, 0), 0x00808080u) << "its right neighbour, column " << x + 8;
    EXPECT_EQ(console.at(x, 8), 0x00808080u) << "the cell below it, column " << x;
    EXPECT_EQ(console.at(x, 239), 0x00808080u) << "bottom-left: 239 / 8 = 29 is odd";
    EXPECT_EQ(console.at(312 + x, 0), 0x00808080u) << "top-right: 39 is odd";
    EXPECT_EQ(console.at(312 + x, 239), 0u) << "bottom-right: 39 + 29 is even";
  }
  // Every word is repainted: nothing of the previous contents survives.
  for (std::uint32_t word : console.snapshot())
    ASSERT_TRUE(word == 0u || word == 0x00808080u);
}

TEST(Checkerboard, CellsThatDoNotDivideTheBufferAndNegativeSizes) {
  // 7 × 5 with cells of 2 and 3: partial cells at the right and bottom edges.
  HeadlessConsole console(7, 5, kBefore);
  const std::vector<std::string> twos = {"..##..#", "..##..#", "##..##.", "##..##.", "..##..#"};
  const std::vector<std::string> threes = {"...###.", "...###.", "...###.", "###...#", "###...#"};
  console.drawCheckerboard(2, 255);
  EXPECT_EQ(picture(console, 0x00FFFFFF), twos);
  console.drawCheckerboard(-2, 255);
  EXPECT_EQ(picture(console, 0x00FFFFFF), twos) << "a negative size draws its absolute value";
  console.drawCheckerboard(3, 255);
  EXPECT_EQ(picture(console, 0x00FFFFFF), threes);
  console.drawCheckerboard(-3, 255);
  EXPECT_EQ(picture(console, 0x00FFFFFF), threes);

  HeadlessConsole show(320, 240, kBefore);
  show.drawCheckerboard(8, 128);
  const auto positive = show.snapshot();
  show.drawCheckerboard(-8, 128);
  EXPECT_EQ(show.snapshot(), positive);
}

TEST(Checkerboard, OnePixelAndOversizedCells) {
  HeadlessConsole console(320, 240, kBefore);
  console.drawCheckerboard(1, 128);
  EXPECT_EQ(console.at(0, 0), 0u);
  EXPECT_EQ(console.at(1, 0), 0x00808080u);
  EXPECT_EQ(console.at(0, 1), 0x00808080u);
  EXPECT_EQ(console.at(1, 1), 0u);
  EXPECT_EQ(console.at(319, 239), 0u);

  for (int size : {321, 1000, INT_MAX, INT_MIN}) {
    console.drawCheckerboard(1, 128);
    console.drawCheckerboard(size, 128);
    for (std::uint32_t word : console.snapshot())
      ASSERT_EQ(word, 0u) << "cell size " << size;
  }
}

TEST(Checkerboard, LevelIsTakenModulo256WithItsSignAndWraps) {
  HeadlessConsole console(16, 16, kBefore);
  struct Case {
    int level;
    std::uint32_t colour;
  };
  for (const Case c : {Case{128, 0x00808080u}, Case{255, 0x00FFFFFFu}, Case{300, 0x002C2C2Cu},
                       Case{-1, 0xFFFEFEFFu}, Case{-256, 0u}, Case{512 + 3, 0x00030303u}}) {
    console.drawCheckerboard(8, c.level);
    EXPECT_EQ(console.at(8, 0), c.colour) << "level " << c.level;
    EXPECT_EQ(console.at(0, 0), 0u) << "level " << c.level;
  }
  console.drawCheckerboard(8, 256);
  for (std::uint32_t word : console.snapshot())
    ASSERT_EQ(word, 0u) << "level 256 is all black";
}

// ---------------------------------------------------------------------------
// copyTitle and jitterTitle

TEST(TitleCopies, CopyAndJitterWithNoSkipsReproduceThePictureExactly) {
  HeadlessConsole console(320, 240, kBefore);
  paintTitle(console);
  console.copyTitle();
  for (int r = 0; r < 240; ++r) {
    for (int x = 0; x < 320; ++x)
      ASSERT_EQ(console.at(x, r), titleWord(r, x)) << x << "," << r;
  }
  const auto copied = console.snapshot();
  console.clearFrame();

  // Draws that are multiples of 25 skip nothing.
  std::vector<std::uint32_t> draws(240);
  for (std::size_t i = 0; i < draws.size(); ++i)
    draws[i] = static_cast<std::uint32_t>(25 * i);
  ScriptedRandom random(draws);
  console.jitterTitle();
  EXPECT_EQ(random.drawsTaken(), 240u);
  EXPECT_EQ(console.snapshot(), copied);
}

TEST(TitleCopies, JitterRunsFollowEachOtherAndLeaveTheTailUntouched) {
  // 10 × 4: row 0 skips 3, row 1 skips 27 % 25 = 2, row 2 skips 24 (>= width,
  // so it contributes nothing), row 3 skips 1.
  HeadlessConsole console(10, 4, kBefore);
  paintTitle(console);
  ScriptedRandom random({3, 27, 24, 1, 99});
  console.jitterTitle();
  EXPECT_EQ(random.drawsTaken(), 4u) << "exactly one draw per row";

  std::vector<std::uint32_t> expected;
  for (int x = 3; x < 10; ++x)
    expected.push_back(titleWord(0, x));  // words 0..6
  for (int x = 2; x < 10; ++x)
    expected.push_back(titleWord(1, x));  // words 7..14
  for (int x = 1; x < 10; ++x)
    expected.push_back(titleWord(3, x));  // words 15..23
  expected.resize(40, kBefore);           // 3 + 2 + 10 + 1 words never written
  EXPECT_EQ(console.snapshot(), expected);
  // Title (row 0, column k0) lands at word 0; (row 1, column k1) at width - k0.
  EXPECT_EQ(console.pixels[0], titleWord(0, 3));
  EXPECT_EQ(console.pixels[10 - 3], titleWord(1, 2));
}

// ---------------------------------------------------------------------------
// drawCopperBars

class CopperBars : public ::testing::Test {
 protected:
  void SetUp() override { resetShowState(); }
  void TearDown() override { resetShowState(); }

  // Red 255, green o + 60n, blue 10n with the carry of green into red and the top byte.
  static std::uint32_t barWord(int offset, int line) {
    return 0x00FF0000u + static_cast<std::uint32_t>(offset + 60 * line) * 256u +
           static_cast<std::uint32_t>(10 * line);
  }

  // The buffer after drawing bars with the given base lines over kBefore, bar by bar.
  static std::vector<std::uint32_t> expectedBars(const std::vector<int>& bases) {
    std::vector<std::uint32_t> words(320 * 240, kBefore);
    for (int bar = 0; bar < 5; ++bar) {
      for (int line = 0; line < 7; ++line) {
        const int memoryRow = 239 - (bases[static_cast<std::size_t>(bar)] + line);
        for (int x = 0; x < 320; ++x) {
          words[static_cast<std::size_t>(x + 320 * memoryRow)] = barWord(10 * bar, line);
        }
      }
    }
    return words;
  }

  // Draws with `elapsedMs` on the clock since `start`.
  static void draw(DemoConsole& console, std::uint32_t start, std::uint32_t elapsedMs) {
    startTime = start;
    ScriptedClock clock(start + elapsedMs);
    drawCopperBars(console);
    EXPECT_EQ(clock.readings(), 1u) << "one clock reading per call";
  }
};

TEST_F(CopperBars, StartStrictlyAfter69500ElapsedEvenAcrossAClockWrap) {
  HeadlessConsole console(320, 240, kBefore);
  const auto untouched = console.snapshot();
  for (std::uint32_t start : {0u, 1000u, 0xFFFFF000u}) {
    draw(console, start, 69500);
    EXPECT_EQ(console.snapshot(), untouched) << "start " << start;
    draw(console, start, 69501);
    EXPECT_EQ(console.snapshot(), expectedBars({199, 182, 138, 86, 49})) << "start " << start;
    for (int i = 0; i < 320 * 240; ++i)
      console.pixels[i] = kBefore;
  }
  // A clock reading behind startTime is a huge unsigned elapsed time: bars draw.
  draw(console, 100000, 0xFFFFFFFFu);
  EXPECT_NE(console.snapshot(), untouched);
}

TEST_F(CopperBars, BaseLinesAtHighestAndLowestIntensity) {
  struct Case {
    float intensity;
    int frameCounter;
    std::vector<int> bases;
  };
  const std::vector<Case> cases = {
      {1000.0f, 0, {199, 182, 138, 86, 49}},
      {1.0f, 0, {199, 179, 136, 86, 50}},
      // The frame counter advances the phase exactly as the bar offset does.
      {1000.0f, 10, {182, 138, 86, 49, 41}},
      {1.0f, 10, {179, 136, 86, 50, 43}},
      // a = -23 here: the product a × inv, formed in single precision, rounds to
      // exactly -10 and gives 110 (widened to double it would be 109.99999… and 109).
      {1000.0f, 163, {110, 160, 194, 196, 165}},
  };
  for (const Case& c : cases) {
    HeadlessConsole console(320, 240, kBefore);
    Intensity = c.intensity;
    console.frameCounter = c.frameCounter;
    draw(console, 0, 80000);
    EXPECT_EQ(console.snapshot(), expectedBars(c.bases))
        << "Intensity " << c.intensity << ", frame " << c.frameCounter;
  }
}

TEST_F(CopperBars, GreenCarriesIntoRedAndTheTopByte) {
  HeadlessConsole console(320, 240, kBefore);
  draw(console, 0, 80000);  // bar 0 at base 199 (memory row 40), bar 20 at 138 (row 101)
  EXPECT_EQ(console.at(0, 40), 0x00FF0000u);
  EXPECT_EQ(console.at(319, 40 - 4), 0x00FFF028u);
  EXPECT_EQ(console.at(7, 40 - 5), 0x01002C32u);
  EXPECT_EQ(console.at(100, 40 - 6), 0x0100683Cu);
  EXPECT_EQ(console.at(0, 101 - 3), 0x00FFC81Eu) << "bar 20, line 3 still fits";
  EXPECT_EQ(console.at(0, 101 - 4), 0x01000428u) << "bar 20, line 4 carries";
}

TEST_F(CopperBars, LaterBarsOverwriteEarlierOnes) {
  // Frame 89: bar 0 at 194 and bar 10 at 195 overlap in six lines; only bar 0's
  // lowest line survives, and bar 10's seven lines are complete.
  HeadlessConsole console(320, 240, kBefore);
  console.frameCounter = 89;
  draw(console, 0, 80000);
  EXPECT_EQ(console.snapshot(), expectedBars({194, 195, 163, 113, 66}));
}

// ---------------------------------------------------------------------------
// drawSpinningTriangles

// A copy's corners from the closed form x' = x cos θ − y sin θ + cx,
// y' = x sin θ + y cos θ + cy, without matrices.
struct Corner {
  int x, y;
  bool operator==(const Corner&) const = default;
};

std::array<Corner, 3> modelCorners(int frameCounter, int copy) {
  const double theta = frameCounter / 30.0;
  const double c = portableCos(theta);
  const double s = portableSin(theta);
  const double p = frameCounter + 3 * copy;
  const double cx = 160.0 + 80.0 * portableCos(p * 10.0 / 257.0);
  const double cy = 120.0 + 40.0 * portableSin(p * 5.0 / 86.0);
  auto corner = [&](double x, double y) {
    return Corner{static_cast<int>(x * c - y * s + cx), static_cast<int>(x * s + y * c + cy)};
  };
  return {corner(10, 5), corner(-20, -2), corner(0, -20)};
}

std::uint32_t copyColour(int copy) {
  return 65025u + 10u * static_cast<std::uint32_t>(copy);
}

// The chain drawn edge by edge from the closed form, copy 0 first.
std::vector<std::uint32_t> modelTriangles(int frameCounter) {
  HeadlessConsole model(320, 240, kBefore);
  for (int copy = 0; copy < 8; ++copy) {
    const auto v = modelCorners(frameCounter, copy);
    for (int edge = 0; edge < 3; ++edge) {
      const Corner& a = v[static_cast<std::size_t>(edge)];
      const Corner& b = v[static_cast<std::size_t>((edge + 1) % 3)];
      model.drawLine(a.x, a.y, b.x, b.y, copyColour(copy));
    }
  }
  return model.snapshot();
}

TEST(SpinningTriangles, FirstFrameStartsAtTheRightOfThePath) {
  // Copy 0 at frame 0: no turn, centre (240, 120).
  const std::array<Corner, 3> expected = {Corner{250, 125}, Corner{220, 118}, Corner{240, 100}};
  EXPECT_EQ(modelCorners(0, 0), expected);

  HeadlessConsole console(320, 240, kBefore);
  drawSpinningTriangles(console);
  EXPECT_EQ(console.snapshot(), modelTriangles(0));
  // The last copy is drawn last, so its corners keep its colour: (p = 21).
  for (const Corner& corner : modelCorners(0, 7)) {
    EXPECT_EQ(console.at(corner.x, 239 - corner.y), 0x00FE47u) << corner.x << "," << corner.y;
  }
}

TEST(SpinningTriangles, TurnAndDriftMatchTheClosedFormAtManyFrames) {
  for (int frame : {1, 29, 30, 47, 94, 141, 188, 500, 4171, 123457}) {
    HeadlessConsole console(320, 240, kBefore);
    console.frameCounter = frame;
    drawSpinningTriangles(console);
    EXPECT_EQ(console.snapshot(), modelTriangles(frame)) << "frame " << frame;
  }
}

TEST(SpinningTriangles, OnlyTheChainsGreensAndNeverClipped) {
  for (int frame = 0; frame < 400; frame += 7) {
    HeadlessConsole console(320, 240, 0);
    console.frameCounter = frame;
    drawSpinningTriangles(console);
    std::vector<std::uint32_t> colours;
    for (int r = 0; r < 240; ++r) {
      for (int x = 0; x < 320; ++x) {
        const std::uint32_t word = console.at(x, r);
        if (word == 0) continue;
        const int y = 239 - r;
        ASSERT_TRUE(x >= 59 && x <= 260 && y >= 59 && y <= 180)
            << "frame " << frame << " pixel " << x << "," << y;
        colours.push_back(word);
      }
    }
    std::sort(colours.begin(), colours.end());
    colours.erase(std::unique(colours.begin(), colours.end()), colours.end());
    // The last copy is drawn last, so its colour always shows and 65105 never
    // does; a middle copy can be wholly drawn over by its neighbours.
    EXPECT_EQ(colours.back(), 0x00FE47u) << "frame " << frame;
    EXPECT_GE(colours.front(), 0x00FE01u) << "frame " << frame;
    for (std::uint32_t colour : colours)
      EXPECT_EQ((colour - 65025u) % 10u, 0u) << colour;
  }
}

}  // namespace
}  // namespace vornisk
