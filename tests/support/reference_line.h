// The line walk as the algorithm states it, unclipped and step by step in 64
// bits, and the same walk in closed form: the references that the clipped
// drawLine is compared with, by the line tests and the line fuzzer alike.
// Header-only so the fuzz build can use it.
#pragma once

#include <cstdint>
#include <cstdlib>

namespace vornisk::testing {

// The unclipped walk, step by step in 64 bits, reporting every pixel it passes.
// The major axis is the one with the larger delta; on a tie of the error term
// the minor coordinate moves only when the major one decreases.
template <typename Plot>
void naiveWalk(std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1, Plot plot) {
  const std::int64_t dx = x1 - x0;
  const std::int64_t dy = y1 - y0;
  const bool xMajor = std::abs(dx) > std::abs(dy);
  std::int64_t x = x0;
  std::int64_t y = y0;
  std::int64_t& major = xMajor ? x : y;
  std::int64_t& minor = xMajor ? y : x;
  const std::int64_t majorEnd = xMajor ? x1 : y1;
  const std::int64_t majorStep = (xMajor ? dx : dy) >= 0 ? 1 : -1;
  const std::int64_t minorStep = (xMajor ? dy : dx) >= 0 ? 1 : -1;
  const std::int64_t majorTwice = 2 * std::abs(xMajor ? dx : dy);
  const std::int64_t minorTwice = 2 * std::abs(xMajor ? dy : dx);
  std::int64_t e = minorTwice - majorTwice / 2;
  plot(x, y);
  while (major != majorEnd) {
    if (e > 0 || (e == 0 && majorStep == -1)) {
      minor += minorStep;
      e -= majorTwice;
    }
    major += majorStep;
    e += minorTwice;
    plot(x, y);
  }
}

// The same walk in closed form, for lines too long to walk: after i major steps
// of A the minor coordinate has moved B·i/A rounded to nearest, a half rounded
// up only when the major coordinate decreases. Reports only the pixels within
// 0..width−1 × 0..height−1, at a cost that follows the buffer, not the line.
template <typename Plot>
void closedFormWalk(std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1, int width,
                    int height, Plot plot) {
  __extension__ typedef unsigned __int128 Wide;
  const std::int64_t dx = x1 - x0;
  const std::int64_t dy = y1 - y0;
  const bool xMajor = std::abs(dx) > std::abs(dy);
  const Wide a = static_cast<Wide>(std::abs(xMajor ? dx : dy));
  const Wide b = static_cast<Wide>(std::abs(xMajor ? dy : dx));
  const std::int64_t majorStep = (xMajor ? dx : dy) >= 0 ? 1 : -1;
  const std::int64_t minorStep = (xMajor ? dy : dx) >= 0 ? 1 : -1;
  const std::int64_t majorStart = xMajor ? x0 : y0;
  const std::int64_t minorStart = xMajor ? y0 : x0;
  for (std::int64_t m = 0; m < (xMajor ? width : height); ++m) {
    const std::int64_t i = (m - majorStart) * majorStep;
    if (i < 0 || static_cast<Wide>(i) > a) continue;
    const Wide product = b * static_cast<Wide>(i);
    const Wide twiceRemainder = a == 0 ? 0 : 2 * (product % a);
    const bool roundUp = twiceRemainder > a || (twiceRemainder == a && majorStep < 0);
    const std::int64_t n =
        minorStart + minorStep * (static_cast<std::int64_t>(a == 0 ? 0 : product / a) + roundUp);
    if (n < 0 || n >= (xMajor ? height : width)) continue;
    if (xMajor) {
      plot(m, n);
    } else {
      plot(n, m);
    }
  }
}

}  // namespace vornisk::testing
