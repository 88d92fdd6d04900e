// The copper bars: five red-to-yellow bars of seven lines that swing about the
// screen's middle line with the frame counter. Their swing shrinks as Intensity
// falls, and their position is quantised to steps of 1/s lines, so they glide
// while Intensity is high and jump coarsely when it is low.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "clock/clock.h"
#include "console/demo_console.h"
#include "console/show_state.h"
#include "effects/effects.h"
#include "effects/phase_memo.h"
#include "geometry/trig.h"

namespace vornisk {

namespace {

constexpr std::uint32_t kCopperStartMs = 69500;  // drawn only strictly after this
constexpr int kBarCount = 5;
constexpr int kBarOffsetStep = 10;
constexpr int kBarLines = 7;
constexpr int kLineLength = 320;                    // fixed, not the console's width
constexpr double kPhaseStep = 0.06666666666666667;  // 1/15 radian per frame
constexpr double kAmplitude = 80.0;
constexpr double kCentreLine = 120.0;

// cos(phase / 15) for the phase of a bar (frame counter plus offset). The
// bars are ten frames apart on one wave, so a frame's five phases are mostly
// those of the frame ten before: with the last 64 kept, a frame works out one
// cosine instead of five.
double wave(int phase) {
  thread_local PhaseMemo<double, 64> kept;
  return kept.at(phase,
                 [](int which) { return portableCos(static_cast<double>(which) * kPhaseStep); });
}

}  // namespace

void drawCopperBars(DemoConsole& console) {
  // Unsigned difference: correct across a wrap of the millisecond clock.
  const std::uint32_t elapsedMs = timeGetTime() - startTime;
  if (elapsedMs <= kCopperStartMs) return;

  // Both kept as 32-bit floats: their rounding decides where the bars land.
  const float s = static_cast<float>(static_cast<double>(Intensity) * 0.002 + 0.3);
  const float inv = static_cast<float>(1.0 / static_cast<double>(s));

  for (int bar = 0; bar < kBarCount; ++bar) {
    const int offset = bar * kBarOffsetStep;
    // Truncating the swing before scaling it back by inv is what quantises it.
    const int swing =
        static_cast<int>(wave(offset + console.frameCounter) * static_cast<double>(s) * kAmplitude);
    // The swing times inv is an int times a float, so it is formed in single
    // precision (as C++ does) and only then widened for the centre line; at some
    // swings that rounding lands exactly on an integer and moves the bar a line.
    const float scaledSwing = static_cast<float>(swing) * inv;
    const int base = static_cast<int>(static_cast<double>(scaledSwing) + kCentreLine);
    for (int line = 0; line < kBarLines; ++line) {
      // Green passes 255 on the upper lines; putPixelRGB lets it carry into red
      // and the top byte, which turns those lines dark blue-green.
      const int green = offset + 60 * line;
      const int blue = 10 * line;
      // A whole line of one colour: putPixelRGB's word, stored where that row
      // and those columns are in the buffer.
      const long long memoryRow = static_cast<long long>(console.height) - 1 - (base + line);
      if (memoryRow < 0 || memoryRow >= console.height) continue;
      std::fill_n(console.pixels + memoryRow * console.width, std::min(kLineLength, console.width),
                  packRGB(255, green, blue));
    }
    // The bar's lines take consecutive memory rows.
    const long long lastRow = console.height - 1LL;
    console.markDrawn(0, lastRow - (base + kBarLines - 1LL), kLineLength, lastRow - base + 1);
  }
}

}  // namespace vornisk
