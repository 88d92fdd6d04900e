// The line walk as the algorithm states it, unclipped and step by step in 64
// bits: the reference that the clipped drawLine is compared with, by the line
// tests and the line fuzzer alike. Header-only so the fuzz build can use it.
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

}  // namespace vornisk::testing
