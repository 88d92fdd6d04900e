// The one line primitive: a Bresenham walk on doubled deltas whose tie rule
// makes A→B and B→A cover the same pixels.
//
// Metaball spikes and the conversion of huge projected coordinates hand this
// function end points up to 2^32 apart, so the walk runs in 64 bits and is
// clipped before it starts: the on-screen pixels of a line form one contiguous
// run of its steps, which is found analytically, and only that run is walked.
// The pixels stored are exactly those the full, unclipped walk would store.
#include "effects/line.h"

#include <algorithm>
#include <cstdint>

#include "console/demo_console.h"

namespace vornisk {

namespace {

// Products of a 33-bit doubled delta and a 32-bit step count need 65 bits.
__extension__ typedef __int128 Wide;

Wide floorDiv(Wide numerator, Wide positiveDenominator) {
  Wide quotient = numerator / positiveDenominator;
  if (numerator % positiveDenominator != 0 && numerator < 0) --quotient;
  return quotient;
}

Wide ceilDiv(Wide numerator, Wide positiveDenominator) {
  Wide quotient = numerator / positiveDenominator;
  if (numerator % positiveDenominator != 0 && numerator > 0) ++quotient;
  return quotient;
}

// The counts t in 0..limit for which start + step·t lies in lo..hi; empty when
// first > last.
struct StepRange {
  std::int64_t first;
  std::int64_t last;
};

StepRange stepsWithin(std::int64_t start, int step, std::int64_t lo, std::int64_t hi,
                      std::int64_t limit) {
  std::int64_t first = step > 0 ? lo - start : start - hi;
  std::int64_t last = step > 0 ? hi - start : start - lo;
  return {std::max<std::int64_t>(first, 0), std::min(last, limit)};
}

// Where a walk starts in a width × height buffer and how far each kind of step
// moves in it (memory rows count down as y counts up).
struct Walk {
  std::ptrdiff_t start;
  std::ptrdiff_t majorStride;
  std::ptrdiff_t minorStride;
};

Walk walkFrom(std::int64_t major, std::int64_t minor, bool xMajor, int majorStep, int minorStep,
              int width, int height) {
  const std::ptrdiff_t rowStride = -static_cast<std::ptrdiff_t>(width);
  const std::int64_t x = xMajor ? major : minor;
  const std::int64_t y = xMajor ? minor : major;
  return {static_cast<std::ptrdiff_t>(x + static_cast<std::int64_t>(width) * (height - 1 - y)),
          xMajor ? majorStep : majorStep * rowStride, xMajor ? minorStep * rowStride : minorStep};
}

// For a line of A < kShortLine steps whose minor coordinate moves B times,
// bit i of bits[tie][A][B]: whether step i + 1 moves it. The walk of drawLine
// from step 0: error 2B − A, a move when error > 0 (or = 0 under the tie rule).
constexpr int kShortLine = 32;
struct MinorMoves {
  std::uint32_t bits[2][kShortLine][kShortLine] = {};
};
constexpr MinorMoves minorMoves() {
  MinorMoves table;
  for (int tie = 0; tie < 2; ++tie) {
    for (int a = 1; a < kShortLine; ++a) {
      for (int b = 0; b <= a; ++b) {
        int error = 2 * b - a;
        std::uint32_t bits = 0;
        for (int i = 0; i < a; ++i) {
          if (error + tie > 0) {
            bits |= 1u << i;
            error -= 2 * a;
          }
          error += 2 * b;
        }
        table.bits[tie][a][b] = bits;
      }
    }
  }
  return table;
}
constexpr MinorMoves kMinorMoves = minorMoves();

// Relaxed atomic stores cost a plain store, and they let two threads draw lines
// of one colour into the same buffer at the same time.
void store(std::uint32_t* pixel, std::uint32_t colour) {
  __atomic_store_n(pixel, colour, __ATOMIC_RELAXED);
}

// The table walk from `pixel`: the first pixel, then `steps` steps along the
// major axis, diagonal where the next bit of `moves` is set.
[[gnu::always_inline]] inline void walkSteps(std::uint32_t* pixel, int steps, std::uint32_t moves,
                                             std::ptrdiff_t straight, std::ptrdiff_t diagonal,
                                             std::uint32_t colour) {
  store(pixel, colour);
  for (int i = steps; i != 0; --i, moves >>= 1) {
    pixel += (moves & 1u) != 0 ? diagonal : straight;
    store(pixel, colour);
  }
}

// How a line of deltas (dx, dy), fewer than kShortLine steps long, is walked
// in a buffer `width` wide, as the general walk below walks it (the same axes,
// tie rule and minor moves): its steps along the major axis, which of them
// also move along the minor one (bit i: step i + 1), and how far each kind of
// step moves in the buffer (memory rows count down as y counts up).
struct ShortWalk {
  int steps;
  std::uint32_t moves;
  std::ptrdiff_t majorStride;
  std::ptrdiff_t minorStride;
};
[[gnu::always_inline]] inline int majorSteps(int dx, int dy) {
  return std::max(dx >= 0 ? dx : -dx, dy >= 0 ? dy : -dy);
}
[[gnu::always_inline]] inline ShortWalk shortWalk(int dx, int dy, std::ptrdiff_t width) {
  const int absDx = dx >= 0 ? dx : -dx;
  const int absDy = dy >= 0 ? dy : -dy;
  const bool xMajor = absDx > absDy;
  const int steps = xMajor ? absDx : absDy;
  const int tie = (xMajor ? dx : dy) < 0 ? 1 : 0;
  const std::ptrdiff_t xStride = dx >= 0 ? 1 : -1;
  const std::ptrdiff_t yStride = dy >= 0 ? -width : width;
  return {steps, kMinorMoves.bits[tie][steps][xMajor ? absDy : absDx], xMajor ? xStride : yStride,
          xMajor ? yStride : xStride};
}

// Nearly every line of a wire net is a few pixels long with both ends on
// screen: those take the table walk straight away, in 32-bit arithmetic and
// without the clipping. The same walk as the general one below: the same
// axes, the same tie rule and the same moves. False for any other line.
[[gnu::always_inline]] inline bool drawShortLine(std::uint32_t* pixels, int width, int height,
                                                 int x0, int y0, int x1, int y1,
                                                 std::uint32_t colour) {
  const auto w = static_cast<unsigned>(width);
  const auto h = static_cast<unsigned>(height);
  if (static_cast<unsigned>(x0) >= w || static_cast<unsigned>(x1) >= w ||
      static_cast<unsigned>(y0) >= h || static_cast<unsigned>(y1) >= h) {
    return false;
  }
  const int dx = x1 - x0;
  const int dy = y1 - y0;
  if (majorSteps(dx, dy) >= kShortLine) return false;
  const ShortWalk walk = shortWalk(dx, dy, width);
  std::uint32_t* pixel =
      pixels + x0 +
      static_cast<std::ptrdiff_t>(width) * (height - 1 - static_cast<std::ptrdiff_t>(y0));
  walkSteps(pixel, walk.steps, walk.moves, walk.majorStride, walk.majorStride + walk.minorStride,
            colour);
  return true;
}

// Every other line: a 64-bit walk, clipped analytically.
[[gnu::noinline]] void drawLongOrClippedLine(std::uint32_t* pixels, int width, int height, int x0,
                                             int y0, int x1, int y1, std::uint32_t colour);

// Any line: the short walk where it applies, inlined into every caller here.
[[gnu::always_inline]] inline void drawAnyLine(std::uint32_t* pixels, int width, int height, int x0,
                                               int y0, int x1, int y1, std::uint32_t colour) {
  if (!drawShortLine(pixels, width, height, x0, y0, x1, y1, colour)) {
    drawLongOrClippedLine(pixels, width, height, x0, y0, x1, y1, colour);
  }
}

}  // namespace

void DemoConsole::drawLine(int x0, int y0, int x1, int y1, std::uint32_t colour) {
  drawLineInto(pixels, width, height, x0, y0, x1, y1, colour);
  markDrawnBetween(x0, y0, x1, y1);
}

void drawLineInto(std::uint32_t* pixels, int width, int height, int x0, int y0, int x1, int y1,
                  std::uint32_t colour) {
  drawAnyLine(pixels, width, height, x0, y0, x1, y1, colour);
}

void NearLineSteps::build(int width) {
  width_ = width;
  // A line's last pixel lies at most kSpan rows and kSpan columns from its first.
  usable_ = width > 0 && kSpan * (static_cast<long long>(width) + 1) <= INT16_MAX;
  if (!usable_) return;
  for (int dy = -kSpan; dy <= kSpan; ++dy) {
    for (int dx = -kSpan; dx <= kSpan; ++dx) {
      // The walk of drawShortLine, its steps' places added up.
      const ShortWalk walk = shortWalk(dx, dy, width);
      Line& line = lines_[dy + kSpan][dx + kSpan];
      std::ptrdiff_t offset = 0;
      for (int step = 0; step < kSpan; ++step) {
        if (step < walk.steps) {
          offset += walk.majorStride + (((walk.moves >> step) & 1u) != 0 ? walk.minorStride : 0);
        }
        line.offsets[step] = static_cast<std::int16_t>(offset);
      }
      line.longer = walk.steps > kStepsAlways;
    }
  }
}

void drawLinesInto(std::uint32_t* pixels, int width, int height, const NearLineSteps& near,
                   const ShortLineEnds* lines, std::size_t count, std::uint32_t colour) {
  // Without a table for this width every line takes the general walk.
  if (!near.usable() || near.width() != width) {
    for (std::size_t i = 0; i < count; ++i) {
      const ShortLineEnds& line = lines[i];
      drawAnyLine(pixels, width, height, line.x0, line.y0, line.x1, line.y1, colour);
    }
    return;
  }
  constexpr int kSpan = NearLineSteps::kSpan;
  const std::ptrdiff_t row = width;
  std::uint32_t* const bottomRow = pixels + row * (height - 1);
  const auto w = static_cast<unsigned>(width);
  const auto h = static_cast<unsigned>(height);
  for (std::size_t i = 0; i < count; ++i) {
    const ShortLineEnds& line = lines[i];
    const int x0 = line.x0, y0 = line.y0, x1 = line.x1, y1 = line.y1;
    const int dx = x1 - x0;
    const int dy = y1 - y0;
    if (static_cast<unsigned>(x0) >= w || static_cast<unsigned>(x1) >= w ||
        static_cast<unsigned>(y0) >= h || static_cast<unsigned>(y1) >= h ||
        static_cast<unsigned>(dx + kSpan) > 2 * kSpan ||
        static_cast<unsigned>(dy + kSpan) > 2 * kSpan) {
      drawAnyLine(pixels, width, height, x0, y0, x1, y1, colour);
      continue;
    }
    // A fixed number of stores, those past the line's end storing its last
    // pixel again: the line's length decides no loop exit, which nearly every
    // line would mispredict, and each store's place is looked up rather than
    // walked to.
    const NearLineSteps::Line& steps = near.line(dx, dy);
    std::uint32_t* const first = bottomRow + x0 - row * y0;
    store(first, colour);
#pragma GCC unroll 16
    for (int step = 0; step < NearLineSteps::kStepsAlways; ++step)
      store(first + steps.offsets[step], colour);
    if (steps.longer) {
#pragma GCC unroll 16
      for (int step = NearLineSteps::kStepsAlways; step < kSpan; ++step)
        store(first + steps.offsets[step], colour);
    }
  }
}

namespace {

void drawLongOrClippedLine(std::uint32_t* pixels, int width, int height, int x0, int y0, int x1,
                           int y1, std::uint32_t colour) {
  const std::int64_t dx = static_cast<std::int64_t>(x1) - x0;
  const std::int64_t dy = static_cast<std::int64_t>(y1) - y0;
  const int sx = dx >= 0 ? 1 : -1;
  const int sy = dy >= 0 ? 1 : -1;
  const std::int64_t absDx = dx >= 0 ? dx : -dx;
  const std::int64_t absDy = dy >= 0 ? dy : -dy;

  // Both branches of the walk are the same walk with the axes named major and
  // minor: the major coordinate moves on every step, the minor one on some.
  // An exact diagonal is y-major.
  const bool xMajor = absDx > absDy;
  const std::int64_t majorStart = xMajor ? x0 : y0;
  const std::int64_t minorStart = xMajor ? y0 : x0;
  const int majorStep = xMajor ? sx : sy;
  const int minorStep = xMajor ? sy : sx;
  const std::int64_t steps = xMajor ? absDx : absDy;      // A: the line has A + 1 pixels
  const std::int64_t minorSpan = xMajor ? absDy : absDx;  // B ≤ A
  const std::int64_t majorLimit = (xMajor ? width : height) - 1;
  const std::int64_t minorLimit = (xMajor ? height : width) - 1;
  // A tie (error exactly 0) moves the minor coordinate only while the major one decreases.
  const int tie = majorStep < 0 ? 1 : 0;

  std::int64_t first = 0;
  std::int64_t last = steps;
  std::int64_t minorMoves = 0;
  const bool bothEndsOnScreen = x0 >= 0 && x0 < width && x1 >= 0 && x1 < width && y0 >= 0 &&
                                y0 < height && y1 >= 0 && y1 < height;
  if (!bothEndsOnScreen) {
    const StepRange majorRun = stepsWithin(majorStart, majorStep, 0, majorLimit, steps);
    const StepRange minorRun = stepsWithin(minorStart, minorStep, 0, minorLimit, minorSpan);
    if (majorRun.first > majorRun.last || minorRun.first > minorRun.last) return;

    // After i steps the walk has made k(i) = floor((2B·i + A − 1 + tie) / 2A) minor
    // moves (B·i/A rounded to nearest, halves rounded by the tie rule), so the steps
    // whose minor offset lies within minorRun form one range, found by inverting k.
    const Wide a = steps;
    const Wide b = minorSpan;
    first = majorRun.first;
    last = majorRun.last;
    if (minorSpan > 0) {
      const Wide firstInside = ceilDiv(2 * a * minorRun.first - a + 1 - tie, 2 * b);
      const Wide lastInside = floorDiv(2 * a * minorRun.last + a - tie, 2 * b);
      first = static_cast<std::int64_t>(std::max<Wide>(first, firstInside));
      last = static_cast<std::int64_t>(std::min<Wide>(last, lastInside));
    }
    if (first > last) return;
    minorMoves =
        steps == 0 ? 0 : static_cast<std::int64_t>(floorDiv(2 * b * first + a - 1 + tie, 2 * a));
  }

  // Enter the walk at step `first` with the error term it would have there
  // (with both ends on screen nothing is clipped: step 0, no minor moves).
  std::int64_t error = static_cast<std::int64_t>(Wide{2} * minorSpan * (first + 1) - steps -
                                                 Wide{2} * steps * minorMoves);
  const std::int64_t twiceSteps = 2 * steps;
  const std::int64_t twiceMinorSpan = 2 * minorSpan;

  // Every pixel of the run is on screen: it is stored directly, memory rows
  // counting down as y counts up.
  const Walk walk = walkFrom(majorStart + majorStep * first, minorStart + minorStep * minorMoves,
                             xMajor, majorStep, minorStep, width, height);
  std::uint32_t* pixel = pixels + walk.start;
  store(pixel, colour);
  for (std::int64_t i = first; i < last; ++i) {
    if (error > 0 || (error == 0 && tie == 1)) {
      pixel += walk.minorStride;
      error -= twiceSteps;
    }
    pixel += walk.majorStride;
    error += twiceMinorSpan;
    store(pixel, colour);
  }
}

}  // namespace

}  // namespace vornisk
