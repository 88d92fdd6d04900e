// The lines of one frame's wire net: listed by the drawing thread as it rolls
// its way through the cells, and drawn by that thread and, where there is one,
// by a helper thread at the same time. Every line of a frame has the same
// colour and nothing reads the pixels while they are drawn, so which thread
// draws a line, and when, changes no pixel. Most lines are listed a run of
// cells at a time, and the thread that takes a run works out its lines.
#pragma once

#include <atomic>
#include <cstdint>

#include "effects/line.h"
#include "metaballs/helper_gate.h"
#include "metaballs/wire_net.h"

namespace vornisk {

class LineBatch {
 public:
  // Each cell draws at most its three faces' lines.
  static constexpr std::uint32_t kMostLines = 3 * WireNet::kCellTotal;

  // The drawing thread's side: open a batch for a buffer of packed rows, list
  // its lines, close it. close() returns once every listed line is drawn.
  void open(std::uint32_t* pixels, int width, int height, std::uint32_t colour);
  void add(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1) {
    if (fitsShort(x0) && fitsShort(y0) && fitsShort(x1) && fitsShort(y1)) [[likely]] {
      lines_[count_++] = {static_cast<std::int16_t>(x0), static_cast<std::int16_t>(y0),
                          static_cast<std::int16_t>(x1), static_cast<std::int16_t>(y1)};
      if (count_ % kChunk == 0) listed_.store(count_, std::memory_order_release);
    } else {
      wideLines_[wideCount_++] = {x0, y0, x1, y1};
    }
  }
  // The lines of `count` cells of a small net (every end within ±kSmallEnd)
  // without a spike, under the jitter `offsets` (each within ±kSmallOffset)
  // where `moved`: the XY line moves at both ends, the XZ line not at all,
  // the YZ line at its first end. The cells are read when the run is drawn,
  // so they must stay as they are until close().
  static constexpr std::int32_t kSmallEnd = 1 << 14;
  static constexpr float kSmallOffset = 16.0f;
  void addCells(const WireCell* cells, std::uint32_t count, bool moved, const float (&offsets)[6]);
  void close();
  // How many batches have been opened (the drawing thread's count).
  std::uint32_t opened() const { return opened_; }
  // How many of the drawing thread's waits for the helper had to sleep.
  std::uint32_t lateWaits() const { return gate_.lateWaits(); }

  // The helper's side: whether a batch is open, and drawing its lines until it
  // is closed or nothing new is listed for a while.
  bool isOpen() const { return gate_.isOpen(); }
  void help();

 private:
  // The lines the helper may take, in 16 bits (half the bytes to pass from
  // core to core), and the rare ones beyond that range (spikes thrown far
  // off screen), which the drawing thread keeps for itself.
  using Line = ShortLineEnds;
  struct WideLine {
    std::int32_t x0, y0, x1, y1;
  };
  static bool fitsShort(std::int32_t value) { return value >= -32768 && value <= 32767; }
  // Lines are taken a chunk at a time: about a microsecond of drawing.
  static constexpr std::uint32_t kChunk = 16;
  // Takes and draws the next listed chunk; false when none is listed yet.
  bool drawChunk();
  // Cells are listed in runs of at most this many: some 25 lines.
  static constexpr std::uint32_t kRunCells = 16;
  struct CellRun {
    const WireCell* cells;
    std::uint32_t count;
    bool moved;
    float offsets[6];
  };
  // Takes and draws the next listed run; false when none is listed yet.
  bool drawRun();
  // Whether a run or a chunk is listed and not yet taken.
  bool somethingListed() const {
    return runsClaimed_.load(std::memory_order_relaxed) <
               runsListed_.load(std::memory_order_relaxed) ||
           claimed_.load(std::memory_order_relaxed) < listed_.load(std::memory_order_relaxed);
  }

  Line lines_[kMostLines];
  std::uint32_t opened_ = 0;
  std::uint32_t count_ = 0;  // lines listed so far (the drawing thread's count)
  WideLine wideLines_[kMostLines];
  std::uint32_t wideCount_ = 0;
  CellRun runs_[WireNet::kCellTotal];
  std::uint32_t runCount_ = 0;
  std::uint32_t* pixels_ = nullptr;
  NearLineSteps near_;  // for width_: made again when a batch opens on another width
  int width_ = 0;
  int height_ = 0;
  std::uint32_t colour_ = 0;
  // Lines published to the helper, and lines taken by either thread.
  alignas(64) std::atomic<std::uint32_t> listed_{0};
  alignas(64) std::atomic<std::uint32_t> claimed_{0};
  // The same for runs.
  alignas(64) std::atomic<std::uint32_t> runsListed_{0};
  alignas(64) std::atomic<std::uint32_t> runsClaimed_{0};
  HelperGate gate_;
};

}  // namespace vornisk
