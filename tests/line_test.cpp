// drawLine against the reference walk (support/reference_line.h): worked cases,
// many random lines of every octant with exact ties in either direction, and
// end points across the whole 32-bit range through the walk's closed form.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <utility>
#include <vector>

#include "support/reference_line.h"
#include "support/test_support.h"

namespace vornisk {
namespace {

using testing::HeadlessConsole;
using Pixels = std::vector<std::pair<std::int64_t, std::int64_t>>;  // (x, y), y upward
using Line = std::array<int, 4>;

// Draws the line on the cleared console; the pixels that then hold the colour, sorted.
Pixels drawn(HeadlessConsole& console, const Line& line) {
  std::fill(console.pixels, console.pixels + console.width * console.height, 0u);
  console.drawLine(line[0], line[1], line[2], line[3], 0x00ABCDEF);
  Pixels pixels;
  for (int row = 0; row < console.height; ++row) {
    for (int x = 0; x < console.width; ++x) {
      if (console.at(x, row) == 0x00ABCDEF) pixels.push_back({x, console.height - 1 - row});
    }
  }
  std::sort(pixels.begin(), pixels.end());
  return pixels;
}

// The pixels of the step-by-step walk, or of its closed form, on a width × height buffer, sorted.
Pixels walked(const Line& line, int width, int height, bool closedForm = false) {
  Pixels pixels;
  auto plot = [&](std::int64_t x, std::int64_t y) {
    if (x >= 0 && x < width && y >= 0 && y < height) pixels.push_back({x, y});
  };
  if (closedForm) {
    testing::closedFormWalk(line[0], line[1], line[2], line[3], width, height, plot);
  } else {
    testing::naiveWalk(line[0], line[1], line[2], line[3], plot);
  }
  std::sort(pixels.begin(), pixels.end());
  return pixels;
}

TEST(DrawLine, WorkedCases) {
  // Each line with its walk in the order walked, where one is given.
  const std::pair<Line, Pixels> cases[] = {
      {{5, 5, 5, 5}, {{5, 5}}},
      // A tie moves the minor coordinate only while the major one decreases.
      {{0, 0, 4, 2}, {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}}},
      {{4, 2, 0, 0}, {{4, 2}, {3, 1}, {2, 1}, {1, 0}, {0, 0}}},
      {{0, 0, 2, 4}, {{0, 0}, {0, 1}, {1, 2}, {1, 3}, {2, 4}}},
      {{0, 0, -4, 2}, {{0, 0}, {-1, 1}, {-2, 1}, {-3, 2}, {-4, 2}}},  // only (0, 0) on screen
      {{0, 0, 3, 3}, {{0, 0}, {1, 1}, {2, 2}, {3, 3}}},
      {{0, 0, 319, 0}, {}},  // the bottom row: memory row 239
      // Wholly outside, on every side and beyond the corners.
      {{-10, -10, -1, 500}, {}},
      {{320, 0, 900, 239}, {}},
      {{0, 240, 319, 240}, {}},
      {{-5, 3, 3, -5}, {}},
      {{INT_MIN, INT_MAX, INT_MAX, INT_MIN}, {}},  // x + y = −1
  };
  HeadlessConsole console;
  for (const auto& [line, walk] : cases) {
    SCOPED_TRACE(::testing::PrintToString(line));
    if (!walk.empty()) {
      Pixels inOrder;
      testing::naiveWalk(line[0], line[1], line[2], line[3], [&](std::int64_t x, std::int64_t y) {
        inOrder.push_back({x, y});
      });
      EXPECT_EQ(inOrder, walk) << "the reference walk";
    }
    EXPECT_EQ(drawn(console, line), walked(line, 320, 240, true));
  }
}

// A random line through a random point near the buffer, reaching out by up to
// `reach` in a random direction on each side; slopes of every octant and exact
// ties (runs that are multiples of 2 × rise) come out often.
struct LineMaker {
  std::mt19937_64 random{0x5EED1234};
  int width, height;

  int near(int size) { return std::uniform_int_distribution<int>(-8, size + 8)(random); }
  std::int64_t upTo(std::int64_t reach) {
    return std::uniform_int_distribution<std::int64_t>(-reach, reach)(random);
  }

  Line through(std::int64_t reachStart, std::int64_t reachEnd) {
    const std::int64_t px = near(width), py = near(height);
    std::int64_t dirX = upTo(64), dirY = upTo(64);
    if (random() % 4 == 0) dirY = dirX / 2 * (random() % 2 ? 1 : -1);  // 2:1 ties
    if (random() % 8 == 0) dirY = random() % 2 ? dirX : -dirX;         // diagonals
    if (random() % 8 == 0) std::swap(dirX, dirY);
    const std::int64_t size = std::max<std::int64_t>({1, std::abs(dirX), std::abs(dirY)});
    const std::int64_t before =
        std::uniform_int_distribution<std::int64_t>(0, reachStart)(random) / size;
    const std::int64_t after =
        std::uniform_int_distribution<std::int64_t>(0, reachEnd)(random) / size;
    auto clamp32 = [](std::int64_t v) {
      return static_cast<int>(std::clamp<std::int64_t>(v, INT_MIN, INT_MAX));
    };
    // Small random offsets keep the end points off the exact ray.
    return {clamp32(px - before * dirX + upTo(3)), clamp32(py - before * dirY + upTo(3)),
            clamp32(px + after * dirX + upTo(3)), clamp32(py + after * dirY + upTo(3))};
  }
};

TEST(DrawLine, RandomLinesMatchTheWalkAndItsClosedForm) {
  HeadlessConsole console(61, 47);
  LineMaker lines{.width = 61, .height = 47};
  std::vector<Line> cases;
  // Short lines, then lines with one or both ends far off, entering mid-walk.
  const std::int64_t reaches[][2] = {{100, 100}, {0, 1 << 13}, {1 << 13, 50}, {1 << 12, 1 << 12}};
  for (int i = 0; i < 6000; ++i)
    cases.push_back(lines.through(reaches[i % 4][0], reaches[i % 4][1]));
  // Lines that only graze a corner or run along an edge.
  for (int d = -3; d <= 3; ++d) {
    cases.insert(cases.end(), {{-1000 + d, -1000, 1000, 1000 + d},
                               {60 + d, -500, 60 - d, 500},
                               {-7000, 46 + d, 7000, 46 - d},
                               {100000, -100000 + d, -100000, 100046}});
  }
  for (const Line& line : cases) {
    const Pixels walk = walked(line, 61, 47);
    ASSERT_EQ(drawn(console, line), walk) << ::testing::PrintToString(line);
    ASSERT_EQ(walked(line, 61, 47, true), walk)
        << "closed form, " << ::testing::PrintToString(line);
  }
}

TEST(DrawLine, EndPointsAcrossTheWhole32BitRange) {
  HeadlessConsole console(61, 47);
  LineMaker lines{.width = 61, .height = 47};
  // The extremes: both diagonals' neighbours, the axes, and near-axis slopes.
  std::vector<Line> cases = {{INT_MIN, INT_MIN, INT_MAX, INT_MAX},
                             {INT_MAX, INT_MAX, INT_MIN, INT_MIN},
                             {INT_MIN, 0, INT_MAX, 0},
                             {0, INT_MAX, 0, INT_MIN},
                             {INT_MIN, 10, INT_MAX, 30},
                             {INT_MAX, 30, INT_MIN, 10},
                             {20, INT_MIN, 40, INT_MAX},
                             {INT_MIN, INT_MIN + 1, INT_MAX, INT_MAX},
                             {INT_MIN + 1, INT_MIN, INT_MAX, INT_MAX}};
  for (int i = 0; i < 4000; ++i) {
    const std::int64_t reach = std::int64_t{1} << (31 + i % 2);
    cases.push_back(lines.through(i % 3 == 0 ? 0 : reach, reach));
  }
  for (const Line& line : cases)
    ASSERT_EQ(drawn(console, line), walked(line, 61, 47, true)) << ::testing::PrintToString(line);
  // The bottom row of a full-size buffer from one end of the range to the other.
  HeadlessConsole full;
  EXPECT_EQ(drawn(full, {INT_MIN, 0, INT_MAX, 0}),
            walked({INT_MIN, 0, INT_MAX, 0}, 320, 240, true));
}

}  // namespace
}  // namespace vornisk
