// The full-frame effects, the copper bars and the spinning triangles, checked
// word by word on small headless consoles with asymmetric pictures whose red,
// green and blue channels each encode something different.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "console/show_state.h"
#include "effects/effects.h"
#include "geometry/trig.h"
#include "support/test_support.h"

namespace vornisk {
namespace {

using testing::HeadlessConsole;

constexpr std::uint32_t kBefore = 0x00123456;  // what the buffer held before the effect

// Title word for (row, column): red carries the row, green the column, blue is
// fixed, so any shift, swap of rows or swap of channels shows.
std::uint32_t titleWord(int row, int column) {
  return (static_cast<std::uint32_t>(0xA0 + row) << 16) |
         (static_cast<std::uint32_t>(column) << 8) | 0x5Cu;
}

void paintTitle(HeadlessConsole& console) {
  for (int i = 0; i < console.width * console.height; ++i)
    console.title()[i] = titleWord(i / console.width, i % console.width);
}

TEST(FullFrame, ClearFrameBlanksEveryWordAndSetsFarDepth) {
  HeadlessConsole console(320, 240, kBefore);
  // Twice: without tracking, a clear knows nothing of what was written since the last one.
  for (int round = 0; round < 2; ++round) {
    std::fill_n(console.pixels, 320 * 240, kBefore);
    std::fill_n(console.zBuffer.get(), 320 * 240, 1.5f);
    console.clearFrame();
    EXPECT_EQ(console.snapshot(), testing::Frame(320 * 240, 0u));
    for (int i = 0; i < 320 * 240; ++i)
      ASSERT_EQ(std::bit_cast<std::uint32_t>(console.zBuffer[i]), 0x47435000u) << "depth " << i;
  }
}

// A 7 × 5 board: '#' for `colour`, '.' for 0, '?' for anything else (such as
// the words there before, which every call must repaint).
TEST(Checkerboard, CellSizesAndLevels) {
  const std::vector<std::string> ones = {".#.#.#.", "#.#.#.#", ".#.#.#.", "#.#.#.#", ".#.#.#."};
  const std::vector<std::string> twos = {"..##..#", "..##..#", "##..##.", "##..##.", "..##..#"};
  const std::vector<std::string> threes = {"...###.", "...###.", "...###.", "###...#", "###...#"};
  const std::vector<std::string> black(5, ".......");
  struct Case {
    int size, level;
    std::uint32_t colour;
    const std::vector<std::string>& rows;
  };
  const Case cases[] = {
      {1, 128, 0x00808080u, ones},
      {2, 255, 0x00FFFFFFu, twos},
      {3, 128, 0x00808080u, threes},
      // Partial cells at the right and bottom edges; a negative size draws its
      // absolute value; a cell wider than the buffer leaves it black.
      {-2, 255, 0x00FFFFFFu, twos},
      {-3, 1, 0x00010101u, threes},
      {7, 128, 0, black},
      {INT_MAX, 128, 0, black},
      {INT_MIN, 128, 0, black},
      // The level is taken modulo 256 with its sign, and the grey wraps in 32 bits.
      {2, 300, 0x002C2C2Cu, twos},
      {2, -1, 0xFFFEFEFFu, twos},
      {2, 512 + 3, 0x00030303u, twos},
      {2, -256, 0, black},
      {2, 256, 0, black},
  };
  for (const Case& c : cases) {
    HeadlessConsole console(7, 5, kBefore);
    console.drawCheckerboard(c.size, c.level);
    std::vector<std::string> rows(5);
    for (int i = 0; i < 7 * 5; ++i) {
      const std::uint32_t word = console.pixels[i];
      rows[static_cast<std::size_t>(i / 7)] += word == 0 ? '.' : word == c.colour ? '#' : '?';
    }
    EXPECT_EQ(rows, c.rows) << "size " << c.size << ", level " << c.level;
  }
}

TEST(TitleCopies, CopyAndJitterReproduceThePictureRunAfterRun) {
  HeadlessConsole console(320, 240, kBefore);
  paintTitle(console);
  const testing::Frame title(console.title(), console.title() + 320 * 240);
  console.copyTitle();
  EXPECT_EQ(console.snapshot(), title);
  console.clearFrame();
  std::vector<std::uint32_t> draws;  // multiples of 25 skip nothing
  for (std::uint32_t i = 0; i < 240; ++i)
    draws.push_back(25 * i);
  testing::ScriptedRandom random(draws);
  console.jitterTitle();
  EXPECT_EQ(random.drawsTaken(), 240u);
  EXPECT_EQ(console.snapshot(), title);

  // 10 × 4: row 0 skips 3, row 1 skips 27 % 25 = 2, row 2 skips 24 (>= width,
  // so it contributes nothing), row 3 skips 1.
  HeadlessConsole small(10, 4, kBefore);
  paintTitle(small);
  testing::ScriptedRandom shear({3, 27, 24, 1, 99});
  small.jitterTitle();
  EXPECT_EQ(shear.drawsTaken(), 4u) << "exactly one draw per row";
  std::vector<std::uint32_t> expected;
  for (const auto& [row, skip] : {std::pair{0, 3}, {1, 2}, {3, 1}}) {
    for (int x = skip; x < 10; ++x)
      expected.push_back(titleWord(row, x));  // each run right after the one before
  }
  expected.resize(40, kBefore);  // 3 + 2 + 10 + 1 words never written
  EXPECT_EQ(small.snapshot(), expected);
}

// The buffer after bars at the given base lines over kBefore: red 255, green
// o + 60n, blue 10n, green carrying into red and the top byte.
std::vector<std::uint32_t> expectedBars(const std::vector<int>& bases) {
  std::vector<std::uint32_t> words(320 * 240, kBefore);
  for (int bar = 0; bar < 5; ++bar) {
    for (int line = 0; line < 7; ++line) {
      const int memoryRow = 239 - (bases[static_cast<std::size_t>(bar)] + line);
      const auto word = 0x00FF0000u + static_cast<std::uint32_t>(10 * bar + 60 * line) * 256u +
                        static_cast<std::uint32_t>(10 * line);
      std::fill_n(words.begin() + 320 * memoryRow, 320, word);
    }
  }
  return words;
}

TEST(CopperBars, StartAndBaseLinesFollowTheClockIntensityAndFrameCounter) {
  resetShowState();
  struct Case {
    std::uint32_t start, elapsedMs;
    float intensity;
    int frameCounter;
    std::vector<int> bases;  // empty: nothing drawn
  };
  const std::vector<Case> cases = {
      // Drawn strictly after 69500 ms, also when the clock wraps; a reading
      // behind startTime is a huge unsigned elapsed time: bars draw.
      {0, 69500, 1000.0f, 0, {}},
      {0, 69501, 1000.0f, 0, {199, 182, 138, 86, 49}},
      {0xFFFFF000u, 69500, 1000.0f, 0, {}},
      {0xFFFFF000u, 69501, 1000.0f, 0, {199, 182, 138, 86, 49}},
      {100000, 0xFFFFFFFFu, 1000.0f, 0, {199, 182, 138, 86, 49}},
      // The frame counter advances the phase exactly as the bar offset does.
      {0, 80000, 1000.0f, 10, {182, 138, 86, 49, 41}},
      // Bar 0 at 194 and bar 10 at 195 overlap in six lines: the later bar wins.
      {0, 80000, 1000.0f, 89, {194, 195, 163, 113, 66}},
      // Single-precision roundings move bars a line: a × inv rounds to exactly
      // -10 (a = -23) and 50 (a = 17), which a double product would not reach;
      // inv kept as a float puts -27 × inv at -60.000004, so the bar lands on 59.
      {0, 80000, 1000.0f, 163, {110, 160, 194, 196, 165}},
      {0, 80000, 20.0f, 3, {196, 170, 122, 72, 43}},
      {0, 80000, 75.0f, 131, {59, 42, 57, 100, 151}},
  };
  for (const Case& c : cases) {
    HeadlessConsole console(320, 240, kBefore);
    Intensity = c.intensity;
    console.frameCounter = c.frameCounter;
    startTime = c.start;
    testing::ScriptedClock clock(c.start + c.elapsedMs);
    drawCopperBars(console);
    EXPECT_EQ(clock.readings(), 1u) << "one clock reading per call";
    EXPECT_EQ(console.snapshot(),
              c.bases.empty() ? testing::Frame(320 * 240, kBefore) : expectedBars(c.bases))
        << "start " << c.start << ", Intensity " << c.intensity << ", frame " << c.frameCounter;
  }
  resetShowState();
}

// A copy's corners from the closed form x' = x cos θ − y sin θ + cx,
// y' = x sin θ + y cos θ + cy, without matrices.
using Corner = std::pair<int, int>;

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

// A console that tracks its drawing against one that does not, through random
// runs of every operation that draws, on a buffer of an odd size: after each
// step both hold the same words (and, once cleared, the same depths), so each
// title copy or clear undoes all that was drawn.
TEST(TitleCopies, TrackedDrawingIsUndoneByTheNextRepaint) {
  std::mt19937 random(7);
  auto any = [&random](int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(random);
  };
  HeadlessConsole tracked(97, 61, kBefore), whole(97, 61, kBefore);
  std::vector<std::uint32_t> elsewhere(97 * 61, kBefore);
  tracked.trackDrawing(true);
  startTime = 0;
  testing::ScriptedClock clock(70000);  // bars draw
  for (HeadlessConsole* console : {&tracked, &whole})
    paintTitle(*console);
  bool cleared = false;
  for (int step = 0; step < 4000; ++step) {
    SCOPED_TRACE(step);
    const int op = any(0, 19);
    // The title is the usual background in the first half, black in the second.
    const bool onBlack = step >= 2000;
    cleared |= onBlack && op < 6;
    const auto seed = static_cast<std::uint32_t>(random());
    const int x0 = any(0, 3) == 0 ? any(-100000, 100000) : any(-5, 101);
    const int y0 = any(-5, 65), x1 = any(-5, 101), y1 = any(0, 3) == 0 ? INT_MIN : any(-5, 65);
    const int frame = any(0, 10000);
    for (HeadlessConsole* console : {&tracked, &whole}) {
      seedRandom(seed);
      console->frameCounter = frame;
      if (op < 6) {
        onBlack ? console->clearFrame() : console->copyTitle();
      } else if (op < 10) {
        console->putPixel(x0, y0, 0x00FF0000u);
      } else if (op < 12) {
        console->putPixelRGB(x1, y0, 1, 2, 3);
      } else if (op < 16) {
        console->drawLine(x0, y0, x1, y1, 0x0000FF00u);
      } else if (op < 17) {
        drawCopperBars(*console);
      } else if (op < 18) {
        console->jitterTitle();
      } else if (op < 19) {
        onBlack ? console->copyTitle() : console->drawCheckerboard(3, 77);
      } else {
        // Drawing into another buffer: a repaint there must be whole.
        std::uint32_t* own = console->pixels;
        console->pixels = elsewhere.data();
        onBlack ? console->clearFrame() : console->copyTitle();
        console->pixels = own;
      }
    }
    ASSERT_TRUE(tracked.snapshot() == whole.snapshot());
    if (cleared) {
      ASSERT_TRUE(std::equal(tracked.zBuffer.get(), tracked.zBuffer.get() + 97 * 61,
                             whole.zBuffer.get(), [](float a, float b) {
                               return std::bit_cast<std::uint32_t>(a) ==
                                      std::bit_cast<std::uint32_t>(b);
                             }));
    }
  }
}

// The chain drawn edge by edge from the closed form, copy 0 first, in the
// greens 65025 + 10 × copy.
std::vector<std::uint32_t> modelTriangles(int frameCounter) {
  HeadlessConsole model(320, 240, kBefore);
  for (int copy = 0; copy < 8; ++copy) {
    const auto v = modelCorners(frameCounter, copy);
    for (std::size_t edge = 0; edge < 3; ++edge) {
      model.drawLine(v[edge].first, v[edge].second, v[(edge + 1) % 3].first,
                     v[(edge + 1) % 3].second, 65025u + 10u * static_cast<std::uint32_t>(copy));
    }
  }
  return model.snapshot();
}

TEST(SpinningTriangles, TurnAndDriftMatchTheClosedFormAtManyFrames) {
  // Copy 0 at frame 0: no turn, centre (240, 120).
  EXPECT_EQ(modelCorners(0, 0), (std::array<Corner, 3>{{{250, 125}, {220, 118}, {240, 100}}}));
  for (int frame : {0, 1, 29, 30, 47, 94, 141, 188, 500, 4171, 123457}) {
    HeadlessConsole console(320, 240, kBefore);
    console.frameCounter = frame;
    drawSpinningTriangles(console);
    EXPECT_EQ(console.snapshot(), modelTriangles(frame)) << "frame " << frame;
  }
}

}  // namespace
}  // namespace vornisk
