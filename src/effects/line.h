// The line walk of DemoConsole::drawLine on any buffer of packed rows (memory
// row 0 at the top, y upward). Its stores are atomic: threads may draw lines of
// one colour into one buffer at once, and the pixels come out the same.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vornisk {

void drawLineInto(std::uint32_t* pixels, int width, int height, int x0, int y0, int x1, int y1,
                  std::uint32_t colour);

// Nearly every line a wire net draws has both ends in the buffer and moves at
// most kSpan pixels along either axis. This holds, for each such (dx, dy),
// where the line's pixels lie in a buffer of one width, as offsets from its
// first pixel (past its last step, its last pixel's offset again). Made once
// for a width, then only read: the threads that draw into one buffer share it.
class NearLineSteps {
 public:
  static constexpr int kSpan = 15;
  // Every near line stores its first pixel and this many steps; only a longer
  // one goes on to kSpan. Most lines of a net take 3 to 7 steps.
  static constexpr int kStepsAlways = 9;
  struct Line {
    std::int16_t offsets[kSpan];  // of the pixel after step 1, 2, …
    bool longer;                  // more than kStepsAlways steps
  };

  explicit NearLineSteps(int width = 0) { build(width); }
  void build(int width);
  int width() const { return width_; }
  // False for widths whose offsets would not fit in 16 bits (above 2183).
  bool usable() const { return usable_; }
  const Line& line(int dx, int dy) const { return lines_[dy + kSpan][dx + kSpan]; }

 private:
  int width_ = 0;
  bool usable_ = false;
  Line lines_[2 * kSpan + 1][2 * kSpan + 1] = {};
};

// A line's ends in 16 bits, and a run of such lines drawn one after another
// (as drawLineInto would draw them, with less work per line where `near` is
// usable and made for `width`).
struct ShortLineEnds {
  std::int16_t x0, y0, x1, y1;
};
void drawLinesInto(std::uint32_t* pixels, int width, int height, const NearLineSteps& near,
                   const ShortLineEnds* lines, std::size_t count, std::uint32_t colour);

}  // namespace vornisk
