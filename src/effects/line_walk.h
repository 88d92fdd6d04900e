// The walk of drawLine through a buffer, shared by drawLine and by the code
// that works out a line's pixels ahead of drawing it: both must step alike.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vornisk {

// Where a walk starts in a width × height buffer and how far each kind of step
// moves in it (memory rows count down as y counts up).
struct Walk {
  std::ptrdiff_t start;
  std::ptrdiff_t majorStride;
  std::ptrdiff_t minorStride;
};

inline Walk walkFrom(std::int64_t major, std::int64_t minor, bool xMajor, int majorStep,
                     int minorStep, int width, int height) {
  const std::ptrdiff_t rowStride = -static_cast<std::ptrdiff_t>(width);
  const std::int64_t x = xMajor ? major : minor;
  const std::int64_t y = xMajor ? minor : major;
  return {static_cast<std::ptrdiff_t>(x + static_cast<std::int64_t>(width) * (height - 1 - y)),
          xMajor ? majorStep : majorStep * rowStride, xMajor ? minorStep * rowStride : minorStep};
}

// For a line of A < kShortLine steps whose minor coordinate moves B times,
// bit i of bits[tie][A][B]: whether step i + 1 moves it. The walk of drawLine
// from step 0: error 2B − A, a move when error > 0 (or = 0 under the tie rule).
inline constexpr int kShortLine = 32;
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
inline constexpr MinorMoves kMinorMoves = minorMoves();

// The pixels drawLine stores for a line with both ends inside a width × height
// buffer, as offsets into it in walking order. Returns their count, or 0 when
// an end is outside or the line has more than `capacity` pixels.
inline std::size_t onScreenLinePixels(int x0, int y0, int x1, int y1, int width, int height,
                                      std::uint32_t* offsets, std::size_t capacity) {
  if (x0 < 0 || x0 >= width || x1 < 0 || x1 >= width || y0 < 0 || y0 >= height || y1 < 0 ||
      y1 >= height) {
    return 0;
  }
  // The walk of drawLine with nothing clipped: step 0, no minor moves yet.
  const std::int64_t dx = static_cast<std::int64_t>(x1) - x0;
  const std::int64_t dy = static_cast<std::int64_t>(y1) - y0;
  const std::int64_t absDx = dx >= 0 ? dx : -dx;
  const std::int64_t absDy = dy >= 0 ? dy : -dy;
  const bool xMajor = absDx > absDy;
  const int sx = dx >= 0 ? 1 : -1;
  const int sy = dy >= 0 ? 1 : -1;
  const int majorStep = xMajor ? sx : sy;
  const std::int64_t steps = xMajor ? absDx : absDy;
  const std::int64_t minorSpan = xMajor ? absDy : absDx;
  if (static_cast<std::uint64_t>(steps) >= capacity) return 0;
  const int tie = majorStep < 0 ? 1 : 0;
  const Walk walk = walkFrom(xMajor ? x0 : y0, xMajor ? y0 : x0, xMajor, majorStep,
                             xMajor ? sy : sx, width, height);
  std::int64_t error = 2 * minorSpan - steps;
  std::ptrdiff_t offset = walk.start;
  offsets[0] = static_cast<std::uint32_t>(offset);
  if (steps < kShortLine) {
    // The minor moves from the table: the offsets then depend on each other
    // only through one addition.
    const std::uint32_t moves = kMinorMoves.bits[tie][steps][minorSpan];
    for (std::int64_t i = 0; i < steps; ++i) {
      const std::ptrdiff_t move = -static_cast<std::ptrdiff_t>(moves >> i & 1u);
      offset += walk.majorStride + (walk.minorStride & move);
      offsets[i + 1] = static_cast<std::uint32_t>(offset);
    }
    return static_cast<std::size_t>(steps) + 1;
  }
  for (std::int64_t i = 0; i < steps; ++i) {
    if (error > 0 || (error == 0 && tie == 1)) {
      offset += walk.minorStride;
      error -= 2 * steps;
    }
    offset += walk.majorStride;
    error += 2 * minorSpan;
    offsets[i + 1] = static_cast<std::uint32_t>(offset);
  }
  return static_cast<std::size_t>(steps) + 1;
}

}  // namespace vornisk
