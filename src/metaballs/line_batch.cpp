#include "metaballs/line_batch.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace vornisk {

void LineBatch::open(std::uint32_t* pixels, int width, int height, std::uint32_t colour) {
  pixels_ = pixels;
  if (near_.width() != width) near_.build(width);
  width_ = width;
  height_ = height;
  colour_ = colour;
  ++opened_;
  count_ = 0;
  wideCount_ = 0;
  runCount_ = 0;
  listed_.store(0, std::memory_order_relaxed);
  claimed_.store(0, std::memory_order_relaxed);
  runsListed_.store(0, std::memory_order_relaxed);
  runsClaimed_.store(0, std::memory_order_relaxed);
  gate_.open();
}

void LineBatch::addCells(const WireCell* cells, std::uint32_t count, bool moved,
                         const float (&offsets)[6]) {
  for (std::uint32_t first = 0; first < count; first += kRunCells) {
    CellRun& run = runs_[runCount_++];
    run.cells = cells + first;
    run.count = std::min(kRunCells, count - first);
    run.moved = moved;
    std::copy(std::begin(offsets), std::end(offsets), run.offsets);
    runsListed_.store(runCount_, std::memory_order_release);
  }
}

namespace {

// A small net's face ends move as one vector of four coordinates (x0, y0,
// x1, y1): there int + float is exact in single precision and its truncation
// lands well within 16 bits, so no range needs testing, and the values are
// those of jitteredPixelCoordinate.
typedef std::int32_t EndWords __attribute__((vector_size(4 * sizeof(std::int32_t))));
typedef float EndFloats __attribute__((vector_size(4 * sizeof(float))));
typedef std::int16_t EndShorts __attribute__((vector_size(4 * sizeof(std::int16_t))));
static_assert(sizeof(WireCell::ends[0]) == sizeof(EndWords) &&
              sizeof(ShortLineEnds) == sizeof(EndShorts));

[[gnu::always_inline]] inline ShortLineEnds faceLine(const PixelPoint (&ends)[2], bool moved,
                                                     EndFloats moves) {
  EndWords words;
  std::memcpy(&words, ends, sizeof words);
  if (moved)
    words = __builtin_convertvector(__builtin_convertvector(words, EndFloats) + moves, EndWords);
  const EndShorts shorts = __builtin_convertvector(words, EndShorts);
  ShortLineEnds line;
  std::memcpy(&line, &shorts, sizeof line);
  return line;
}

}  // namespace

bool LineBatch::drawRun() {
  std::uint32_t first = runsClaimed_.load(std::memory_order_relaxed);
  for (;;) {
    if (first >= runsListed_.load(std::memory_order_acquire)) return false;
    if (runsClaimed_.compare_exchange_weak(first, first + 1, std::memory_order_relaxed)) break;
  }
  const CellRun& run = runs_[first];
  const float(&o)[6] = run.offsets;
  const EndFloats xyMoves = {o[0], o[1], o[2], o[3]};
  const EndFloats yzMoves = {o[4], o[5], 0.0f, 0.0f};
  Line lines[3 * kRunCells];
  std::uint32_t count = 0;
  for (const WireCell* cell = run.cells; cell != run.cells + run.count; ++cell) {
    if ((cell->faces & 1u) != 0) lines[count++] = faceLine(cell->ends[0], run.moved, xyMoves);
    if ((cell->faces & 2u) != 0) lines[count++] = faceLine(cell->ends[1], false, xyMoves);
    if ((cell->faces & 4u) != 0) lines[count++] = faceLine(cell->ends[2], run.moved, yzMoves);
  }
  drawLinesInto(pixels_, width_, height_, near_, lines, count, colour_);
  return true;
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
      drawLinesInto(pixels_, width_, height_, near_, chunk, end - first, colour_);
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
  while (drawRun() || drawChunk()) {
  }
  gate_.close();
}

void LineBatch::help() {
  // Until the batch is closed, which happens only once every line is taken,
  // or until the drawing thread lists nothing for a while: then it is most
  // likely kept off its processor, and looking on would only hold up the
  // thread that would run in its place.
  gate_.enter([this] {
    for (;;) {
      if (drawRun() || drawChunk()) continue;
      if (!spinUntil([this] { return !gate_.isOpen() || somethingListed(); },
                     HelperGate::kPatience) ||
          !gate_.isOpen()) {
        return;
      }
    }
  });
}

}  // namespace vornisk
