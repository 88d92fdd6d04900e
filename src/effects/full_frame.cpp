// Full-frame effects of the console: the black clear, the checkerboard and the
// two copies of the title picture (straight and row-jittered). Each repaints the
// back buffer in one call and keeps no state of its own.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "console/demo_console.h"
#include "console/random.h"

namespace vornisk {

namespace {

constexpr float kFarDepth = 50000.0f;  // bit pattern 0x47435000
constexpr std::uint32_t kGreyMultiplier = 0x010101u;
constexpr std::uint32_t kJitterSkips = 25;  // a row loses 0..24 leading pixels

std::size_t pixelCount(int width, int height) {
  return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
}

}  // namespace

template <typename Repaint>
void DemoConsole::repaintDrawn(Repaint repaint) {
  for (int i = 0; i < drawnCount_; ++i) {
    const Drawn& d = drawn_[i];
    for (int row = d.top; row < d.bottom; ++row) {
      repaint(static_cast<std::ptrdiff_t>(row) * width + d.left,
              static_cast<std::size_t>(d.right - d.left));
    }
  }
  drawnCount_ = 0;
}

void DemoConsole::clearFrame() {
  const std::size_t count = pixelCount(width, height);
  auto clear = [this](std::ptrdiff_t start, std::size_t words) {
    std::fill_n(pixels + start, words, 0u);
  };
  if (repaintOnlyDrawn(Background::Black)) {
    repaintDrawn(clear);
  } else {
    clear(0, count);
  }
  // Nothing else writes the z-buffer: while tracking, one fill lasts.
  if (!depthCleared_) std::fill_n(zBuffer.get(), count, kFarDepth);
  depthCleared_ = tracking_;
}

void DemoConsole::drawCheckerboard(int cellSize, int level) {
  // Truncating remainder: a negative level stays negative, and the product
  // wraps in 32 bits (level -1 gives 0xFFFEFEFF), as the show has always drawn it.
  const int m = level % 256;
  const std::uint32_t colour = static_cast<std::uint32_t>(m) * kGreyMultiplier;
  drawnEverywhere();
  for (int memoryRow = 0; memoryRow < height; ++memoryRow) {
    const int rowCell = memoryRow / cellSize;
    std::uint32_t* row = pixels + static_cast<std::ptrdiff_t>(width) * memoryRow;
    for (int x = 0; x < width; ++x) {
      // Truncating division mirrors a negative size onto its absolute value:
      // the quotients only change sign, so their sum keeps its parity.
      const int cellSum = rowCell + x / cellSize;
      row[x] = (cellSum % 2 != 0) ? colour : 0u;
    }
  }
}

void DemoConsole::copyTitle() {
  const auto* title = static_cast<const std::uint32_t*>(titleSurface->lock());
  auto copy = [this, title](std::ptrdiff_t start, std::size_t words) {
    std::copy_n(title + start, words, pixels + start);
  };
  if (repaintOnlyDrawn(Background::Title)) {
    repaintDrawn(copy);
  } else {
    copy(0, pixelCount(width, height));
  }
  titleSurface->unlock();
}

void DemoConsole::jitterTitle() {
  drawnEverywhere();
  const auto* title = static_cast<const std::uint32_t*>(titleSurface->lock());
  // One write position for the whole call: each row's run follows the previous
  // row's run directly, so the skips add up and the picture shears leftward.
  // The words past the last run keep what they held.
  std::size_t write = 0;
  for (int titleRow = 0; titleRow < height; ++titleRow) {
    // One draw per row, in row order, even for rows that end up contributing nothing.
    const int skip = static_cast<int>(nextRandom() % kJitterSkips);
    const std::uint32_t* source = title + static_cast<std::ptrdiff_t>(width) * titleRow;
    if (skip < width) {
      std::copy(source + skip, source + width, pixels + write);
      write += static_cast<std::size_t>(width - skip);
    }
  }
  titleSurface->unlock();
}

}  // namespace vornisk
