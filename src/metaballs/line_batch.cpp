#include "metaballs/line_batch.h"

#include <algorithm>

namespace vornisk {

void LineBatch::open(std::uint32_t* pixels, int width, int height, std::uint32_t colour) {
  pixels_ = pixels;
  width_ = width;
  height_ = height;
  colour_ = colour;
  count_ = 0;
  wideCount_ = 0;
  listed_.store(0, std::memory_order_relaxed);
  claimed_.store(0, std::memory_order_relaxed);
  gate_.open();
}

bool LineBatch::drawChunk() {
  std::uint32_t first = claimed_.load(std::memory_order_relaxed);
  for (;;) {
    const std::uint32_t listed = listed_.load(std::memory_order_acquire);
    if (first >= listed) return false;
    const std::uint32_t end = std::min(first + kChunk, listed);
    if (claimed_.compare_exchange_weak(first, end, std::memory_order_relaxed)) {
      // The chunk was just written on the other thread's core: read it all at
      // once, so that its cache lines arrive together rather than line by line.
      Line chunk[kChunk];
      std::copy(lines_ + first, lines_ + end, chunk);
      drawLinesInto(pixels_, width_, height_, chunk, end - first, colour_);
      return true;
    }
  }
}

void LineBatch::close() {
  listed_.store(count_, std::memory_order_release);
  for (std::uint32_t i = 0; i < wideCount_; ++i) {
    const WideLine& line = wideLines_[i];
    drawLineInto(pixels_, width_, height_, line.x0, line.y0, line.x1, line.y1, colour_);
  }
  while (drawChunk()) {
  }
  gate_.close();
}

void LineBatch::help() {
  // Until the batch is closed, which happens only once every line is taken.
  gate_.enter([this] {
    for (;;) {
      if (drawChunk()) continue;
      if (!gate_.isOpen()) return;
      cpuRelax();
    }
  });
}

}  // namespace vornisk
