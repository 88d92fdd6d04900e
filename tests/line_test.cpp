// drawLine: the worked cases, the tie rule's symmetry, and the clipped walk
// against a plain unclipped 64-bit walk on many random lines (fixed seed),
// including end points up to 2^32 apart.
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

struct Pixel {
  std::int64_t x, y;
  bool operator==(const Pixel&) const = default;
};

std::vector<Pixel> sorted(std::vector<Pixel> pixels) {
  std::sort(pixels.begin(), pixels.end(), [](const Pixel& a, const Pixel& b) {
    return std::pair(a.y, a.x) < std::pair(b.y, b.x);
  });
  return pixels;
}

// The pixels of the naive walk that land on a width × height buffer (y upward).
std::vector<Pixel> onScreenPixels(int x0, int y0, int x1, int y1, int width, int height) {
  std::vector<Pixel> pixels;
  testing::naiveWalk(x0, y0, x1, y1, [&](std::int64_t x, std::int64_t y) {
    if (x >= 0 && x < width && y >= 0 && y < height) pixels.push_back({x, y});
  });
  return pixels;
}

// Every pixel of the buffer that holds `colour`, in y-up coordinates.
std::vector<Pixel> drawnPixels(const HeadlessConsole& console, std::uint32_t colour) {
  std::vector<Pixel> pixels;
  for (int row = console.height - 1; row >= 0; --row) {
    for (int x = 0; x < console.width; ++x) {
      if (console.at(x, row) == colour) pixels.push_back({x, console.height - 1 - row});
    }
  }
  return pixels;
}

void clear(HeadlessConsole& console) {
  std::fill(console.pixels, console.pixels + console.width * console.height, 0u);
}

// Draws the line on the cleared `console` and compares the pixels it holds
// after with `expected`, in any order; the buffer is cleared after.
::testing::AssertionResult drawsExactly(HeadlessConsole& console, int x0, int y0, int x1, int y1,
                                        const std::vector<Pixel>& expected) {
  clear(console);
  console.drawLine(x0, y0, x1, y1, 0x00ABCDEF);
  const std::vector<Pixel> drawn = sorted(drawnPixels(console, 0x00ABCDEF));
  const std::vector<Pixel> wanted = sorted(expected);
  clear(console);
  if (drawn == wanted) return ::testing::AssertionSuccess();
  auto result = ::testing::AssertionFailure();
  result << "line (" << x0 << ", " << y0 << ") to (" << x1 << ", " << y1 << "): drew "
         << drawn.size() << " pixels, expected " << wanted.size();
  for (std::size_t i = 0; i < std::min(drawn.size(), wanted.size()); ++i) {
    if (!(drawn[i] == wanted[i])) {
      result << "; first difference: drew (" << drawn[i].x << ", " << drawn[i].y << "), expected ("
             << wanted[i].x << ", " << wanted[i].y << ")";
      break;
    }
  }
  return result;
}

::testing::AssertionResult drawsLikeTheWalk(HeadlessConsole& console, int x0, int y0, int x1,
                                            int y1) {
  return drawsExactly(console, x0, y0, x1, y1,
                      onScreenPixels(x0, y0, x1, y1, console.width, console.height));
}

TEST(DrawLine, WorkedCases) {
  struct Case {
    int x0, y0, x1, y1;
    std::vector<Pixel> walk;  // in the order walked
  };
  const Case cases[] = {
      {5, 5, 5, 5, {{5, 5}}},
      {0, 0, 4, 2, {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}}},
      {4, 2, 0, 0, {{4, 2}, {3, 1}, {2, 1}, {1, 0}, {0, 0}}},
      {0, 0, 2, 4, {{0, 0}, {0, 1}, {1, 2}, {1, 3}, {2, 4}}},
      {0, 0, -4, 2, {{0, 0}, {-1, 1}, {-2, 1}, {-3, 2}, {-4, 2}}},  // only (0, 0) is on screen
      {0, 0, 3, 3, {{0, 0}, {1, 1}, {2, 2}, {3, 3}}},
  };
  HeadlessConsole console;
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.x0 << "," << c.y0 << " to " << c.x1 << "," << c.y1);
    std::vector<Pixel> walk;
    testing::naiveWalk(c.x0, c.y0, c.x1, c.y1, [&](std::int64_t x, std::int64_t y) {
      walk.push_back({x, y});
    });
    EXPECT_EQ(walk, c.walk) << "the reference walk";
    EXPECT_TRUE(drawsLikeTheWalk(console, c.x0, c.y0, c.x1, c.y1));
  }

  // y = 0 is the bottom memory row, and the word is stored unchanged.
  console.drawLine(0, 0, 319, 0, 0x00FEDCBA);
  for (int x = 0; x < 320; ++x)
    ASSERT_EQ(console.at(x, 239), 0x00FEDCBAu) << x;
  EXPECT_EQ(drawnPixels(console, 0x00FEDCBA).size(), 320u);

  // Wholly outside, on every side and beyond the corners.
  EXPECT_TRUE(drawsExactly(console, -10, -10, -1, 500, {}));
  EXPECT_TRUE(drawsExactly(console, 320, 0, 900, 239, {}));
  EXPECT_TRUE(drawsExactly(console, 0, 240, 319, 240, {}));
  EXPECT_TRUE(drawsExactly(console, -5, 3, 3, -5, {}));
  EXPECT_TRUE(drawsExactly(console, INT_MIN, INT_MAX, INT_MAX, INT_MIN, {}));  // x + y = -1
}

TEST(DrawLine, EitherDirectionCoversTheSamePixels) {
  HeadlessConsole console(61, 47);
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> coordinate(-30, 90);
  for (int i = 0; i < 3000; ++i) {
    const int x0 = coordinate(random), y0 = coordinate(random);
    int x1 = coordinate(random), y1 = coordinate(random);
    // One line in three is a tie-prone slope: 1:2, 2:1 or 1:1.
    switch (i % 6) {
      case 0:
        y1 = y0 + (x1 - x0) / 2;
        break;
      case 1:
        x1 = x0 + (y1 - y0) / 2;
        break;
      case 2:
        y1 = y0 - (x1 - x0);
        break;
      default:
        break;
    }
    console.drawLine(x0, y0, x1, y1, 0x00000001);
    const std::vector<Pixel> forward = drawnPixels(console, 1);
    ASSERT_TRUE(drawsExactly(console, x1, y1, x0, y0, forward))
        << "(" << x0 << ", " << y0 << ") and (" << x1 << ", " << y1 << ")";
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

  std::array<int, 4> through(std::int64_t reachStart, std::int64_t reachEnd) {
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

TEST(DrawLine, ClippedWalkMatchesTheFullWalk) {
  HeadlessConsole console(61, 47);
  LineMaker lines{.width = 61, .height = 47};
  struct Kind {
    const char* name;
    std::int64_t reachStart, reachEnd;
    int count;
  };
  const Kind kinds[] = {
      {"short", 100, 100, 6000},          {"one far end", 0, 1 << 18, 1000},
      {"far start", 1 << 18, 50, 1000},   {"both ends far", 1 << 16, 1 << 16, 1000},
      {"very long", 1 << 25, 1 << 25, 3},
  };
  for (const Kind& kind : kinds) {
    SCOPED_TRACE(kind.name);
    for (int i = 0; i < kind.count; ++i) {
      const auto [x0, y0, x1, y1] = lines.through(kind.reachStart, kind.reachEnd);
      ASSERT_TRUE(drawsLikeTheWalk(console, x0, y0, x1, y1));
    }
  }
  // Lines that only graze a corner or run along an edge.
  for (int d = -3; d <= 3; ++d) {
    ASSERT_TRUE(drawsLikeTheWalk(console, -1000 + d, -1000, 1000, 1000 + d));
    ASSERT_TRUE(drawsLikeTheWalk(console, 60 + d, -500, 60 - d, 500));
    ASSERT_TRUE(drawsLikeTheWalk(console, -7000, 46 + d, 7000, 46 - d));
    ASSERT_TRUE(drawsLikeTheWalk(console, 100000, -100000 + d, -100000, 100046));
  }
}

// For end points up to 2^32 apart the full walk is too slow for a test, so the
// on-screen pixels come from the walk's closed form instead: after i major steps
// the minor coordinate has moved B·i/A rounded to nearest, halves rounded toward
// it only when the major coordinate decreases. The first test pins that model
// to the step-by-step walk.
std::vector<Pixel> modelPixels(int x0, int y0, int x1, int y1, int width, int height) {
  __extension__ typedef unsigned __int128 U128;
  const std::int64_t dx = static_cast<std::int64_t>(x1) - x0;
  const std::int64_t dy = static_cast<std::int64_t>(y1) - y0;
  const bool xMajor = std::abs(dx) > std::abs(dy);
  const std::int64_t majorDelta = xMajor ? dx : dy;
  const std::int64_t minorDelta = xMajor ? dy : dx;
  const U128 a = static_cast<U128>(std::abs(majorDelta));
  const U128 b = static_cast<U128>(std::abs(minorDelta));
  const std::int64_t majorStep = majorDelta < 0 ? -1 : 1;
  const std::int64_t minorStep = minorDelta < 0 ? -1 : 1;
  const std::int64_t majorStart = xMajor ? x0 : y0;
  const std::int64_t minorStart = xMajor ? y0 : x0;
  std::vector<Pixel> pixels;
  for (std::int64_t m = 0; m < (xMajor ? width : height); ++m) {
    const std::int64_t i = (m - majorStart) * majorStep;
    if (i < 0 || static_cast<U128>(i) > a) continue;
    std::int64_t moves = 0;
    if (a > 0) {
      const U128 product = b * static_cast<U128>(i);
      const U128 twiceRemainder = 2 * (product % a);
      const bool roundUp = twiceRemainder > a || (twiceRemainder == a && majorStep < 0);
      moves = static_cast<std::int64_t>(product / a) + (roundUp ? 1 : 0);
    }
    const std::int64_t n = minorStart + minorStep * moves;
    const Pixel p = xMajor ? Pixel{m, n} : Pixel{n, m};
    if (p.x >= 0 && p.x < width && p.y >= 0 && p.y < height) pixels.push_back(p);
  }
  return pixels;
}

TEST(DrawLine, ClosedFormModelMatchesTheWalk) {
  LineMaker lines{.width = 61, .height = 47};
  for (int i = 0; i < 4000; ++i) {
    const auto [x0, y0, x1, y1] = lines.through(i % 2 ? 300 : 5000, 3000);
    ASSERT_EQ(sorted(modelPixels(x0, y0, x1, y1, 61, 47)),
              sorted(onScreenPixels(x0, y0, x1, y1, 61, 47)))
        << "(" << x0 << ", " << y0 << ") to (" << x1 << ", " << y1 << ")";
  }
}

TEST(DrawLine, EndPointsAcrossTheWhole32BitRange) {
  HeadlessConsole console(61, 47);
  LineMaker lines{.width = 61, .height = 47};
  auto check = [&](int x0, int y0, int x1, int y1) {
    return drawsExactly(console, x0, y0, x1, y1, modelPixels(x0, y0, x1, y1, 61, 47));
  };
  for (int i = 0; i < 4000; ++i) {
    const std::int64_t reach = std::int64_t{1} << (31 + i % 2);
    const auto [x0, y0, x1, y1] = lines.through(i % 3 == 0 ? 0 : reach, reach);
    ASSERT_TRUE(check(x0, y0, x1, y1));
  }
  // The extremes: both diagonals' neighbours, the axes, and near-axis slopes.
  ASSERT_TRUE(check(INT_MIN, INT_MIN, INT_MAX, INT_MAX));
  ASSERT_TRUE(check(INT_MAX, INT_MAX, INT_MIN, INT_MIN));
  ASSERT_TRUE(check(INT_MIN, 0, INT_MAX, 0));
  ASSERT_TRUE(check(0, INT_MAX, 0, INT_MIN));
  ASSERT_TRUE(check(INT_MIN, 10, INT_MAX, 30));
  ASSERT_TRUE(check(INT_MAX, 30, INT_MIN, 10));
  ASSERT_TRUE(check(20, INT_MIN, 40, INT_MAX));
  ASSERT_TRUE(check(INT_MIN, INT_MIN + 1, INT_MAX, INT_MAX));
  ASSERT_TRUE(check(INT_MIN + 1, INT_MIN, INT_MAX, INT_MAX));
  // The bottom row of a full-size buffer from one end of the range to the other.
  HeadlessConsole full;
  full.drawLine(INT_MIN, 0, INT_MAX, 0, 0x00FEDCBA);
  EXPECT_EQ(drawnPixels(full, 0x00FEDCBA).size(), 320u);
  for (int x = 0; x < 320; ++x)
    ASSERT_EQ(full.at(x, 239), 0x00FEDCBAu) << x;
}

}  // namespace
}  // namespace vornisk
