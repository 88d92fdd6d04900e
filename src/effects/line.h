// The line walk of DemoConsole::drawLine on any buffer of packed rows (memory
// row 0 at the top, y upward). Its stores are atomic: threads may draw lines of
// one colour into one buffer at once, and the pixels come out the same.
#pragma once

#include <cstdint>

namespace vornisk {

void drawLineInto(std::uint32_t* pixels, int width, int height, int x0, int y0, int x1, int y1,
                  std::uint32_t colour);

}  // namespace vornisk
