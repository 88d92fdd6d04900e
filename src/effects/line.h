// The line walk of DemoConsole::drawLine on any buffer of packed rows (memory
// row 0 at the top, y upward). Its stores are atomic: threads may draw lines of
// one colour into one buffer at once, and the pixels come out the same.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vornisk {

void drawLineInto(std::uint32_t* pixels, int width, int height, int x0, int y0, int x1, int y1,
                  std::uint32_t colour);

// A line's ends in 16 bits, and a run of such lines drawn one after another
// (as drawLineInto would draw them, with less work per line).
struct ShortLineEnds {
  std::int16_t x0, y0, x1, y1;
};
void drawLinesInto(std::uint32_t* pixels, int width, int height, const ShortLineEnds* lines,
                   std::size_t count, std::uint32_t colour);

}  // namespace vornisk
