// Fuzzes drawLine with any four 32-bit end points, on the show's 320 × 240
// buffer or (with two more input bytes) on a small one of 1..256 × 1..256.
//
// Input: x0, y0, x1, y1 as little-endian int32 (missing bytes read as 0), then
// optionally width − 1 and height − 1 as one byte each.
//
// What must hold for every line:
// - only on-screen pixels are stored: the buffer sits between two guard areas
//   of a whole frame each, and nothing outside the frame may change;
// - every stored pixel lies within half a pixel of the ideal line, at most one
//   per major-axis position, and every position whose one nearest pixel is on
//   screen has it (so the on-screen pixels are those of the unclipped walk);
// - the line from B to A stores the same pixels as the one from A to B;
// - when the unclipped walk is short (at most 4096 steps) the buffer equals
//   that of a plain 64-bit walk, step by step.
// Time spent must follow the on-screen pixels, not the length: a walk over 2^32
// steps takes seconds, which the runs catch with libFuzzer's -timeout.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "shell/demo_console.h"
#include "support/reference_line.h"

namespace {

__extension__ typedef __int128 Wide;

constexpr std::uint32_t kSentinel = 0xA5000000u;  // the top byte no colour here uses
constexpr std::uint32_t kColour = 0x00C0FFEEu;
constexpr std::int64_t kShortWalk = 4096;

[[noreturn]] void fail(const char* what, std::int64_t x0, std::int64_t y0, std::int64_t x1,
                       std::int64_t y1, int width, int height) {
  std::fprintf(stderr, "drawLine(%lld, %lld, %lld, %lld) on %d x %d: %s\n",
               static_cast<long long>(x0), static_cast<long long>(y0), static_cast<long long>(x1),
               static_cast<long long>(y1), width, height, what);
  std::abort();
}

std::int32_t readInt32(const std::uint8_t* data, std::size_t size, std::size_t offset) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    if (offset + i < size) value |= static_cast<std::uint32_t>(data[offset + i]) << (8 * i);
  }
  return static_cast<std::int32_t>(value);
}

// At least `count` sentinel words.
const std::uint32_t* sentinels(std::size_t count) {
  static std::vector<std::uint32_t> words;
  if (words.size() < count) words.assign(count, kSentinel);
  return words.data();
}

// A frame between two guard areas of 16 rows (at least 1024 words) each: a
// store one row, or a few, beyond the frame lands in a guard; one further off
// lands outside the allocation, where AddressSanitizer reports it.
struct GuardedFrame {
  int width = 0;
  int height = 0;
  std::size_t guardWords = 0;
  std::vector<std::uint32_t> words;

  void reset(int frameWidth, int frameHeight) {
    width = frameWidth;
    height = frameHeight;
    guardWords = std::max<std::size_t>(16 * static_cast<std::size_t>(width), 1024);
    const std::size_t total = 2 * guardWords + frameWords();
    // Filled by copying sentinels: far quicker than a sanitized fill.
    words.assign(sentinels(total), sentinels(total) + total);
  }
  std::size_t frameWords() const {
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  }
  std::uint32_t* frame() { return words.data() + guardWords; }
  bool guardsUntouched() const {
    const auto untouched = [](const std::uint32_t* from, std::size_t count) {
      return std::memcmp(from, sentinels(count), count * sizeof(std::uint32_t)) == 0;
    };
    return untouched(words.data(), guardWords) &&
           untouched(words.data() + guardWords + frameWords(), guardWords);
  }
};

void draw(vornisk::DemoConsole& console, GuardedFrame& target, int x0, int y0, int x1, int y1) {
  console.width = target.width;
  console.height = target.height;
  console.pixels = target.frame();
  console.drawLine(x0, y0, x1, y1, kColour);
}

// The unclipped walk exactly as the algorithm states it, in 64 bits.
void plainWalk(GuardedFrame& target, std::int64_t x0, std::int64_t y0, std::int64_t x1,
               std::int64_t y1) {
  auto plot = [&](std::int64_t x, std::int64_t y) {
    const std::int64_t row = target.height - 1 - y;
    if (x < 0 || x >= target.width || row < 0 || row >= target.height) return;
    target.frame()[static_cast<std::size_t>(x + row * target.width)] = kColour;
  };
  vornisk::testing::naiveWalk(x0, y0, x1, y1, plot);
}

struct Line {
  std::int64_t x0, y0, x1, y1;
  int width, height;
  [[noreturn]] void fail(const char* what) const { ::fail(what, x0, y0, x1, y1, width, height); }
};

// The checks that hold for a line of any length; `drawn` holds it drawn once.
void checkAgainstIdealLine(const Line& line, GuardedFrame& drawn) {
  if (!drawn.guardsUntouched()) line.fail("stored a word outside the frame");

  const std::int64_t dx = line.x1 - line.x0;
  const std::int64_t dy = line.y1 - line.y0;
  const std::int64_t absDx = dx >= 0 ? dx : -dx;
  const std::int64_t absDy = dy >= 0 ? dy : -dy;
  const bool xMajor = absDx > absDy;  // an exact diagonal is y-major
  const std::int64_t steps = xMajor ? absDx : absDy;
  const std::int64_t minorSpan = xMajor ? absDy : absDx;
  const std::int64_t majorStart = xMajor ? line.x0 : line.y0;
  const std::int64_t minorStart = xMajor ? line.y0 : line.x0;
  const std::int64_t majorStep = (xMajor ? dx : dy) >= 0 ? 1 : -1;
  const std::int64_t minorStep = (xMajor ? dy : dx) >= 0 ? 1 : -1;
  const int majorSize = xMajor ? line.width : line.height;
  const int minorSize = xMajor ? line.height : line.width;

  // Stored pixels per on-screen major position.
  std::vector<int> perMajor(static_cast<std::size_t>(majorSize), 0);
  const std::uint32_t* frame = drawn.frame();
  const std::size_t rowBytes = static_cast<std::size_t>(line.width) * sizeof(std::uint32_t);
  const std::uint32_t* blankRow = sentinels(static_cast<std::size_t>(line.width));
  for (int row = 0; row < line.height; ++row) {
    const std::uint32_t* rowWords = frame + static_cast<std::size_t>(row) * line.width;
    if (std::memcmp(rowWords, blankRow, rowBytes) == 0) continue;
    for (int x = 0; x < line.width; ++x) {
      const std::uint32_t word = frame[static_cast<std::size_t>(x + row * line.width)];
      if (word == kSentinel) continue;
      if (word != kColour) line.fail("stored a word other than the colour");
      const std::int64_t y = line.height - 1 - row;
      const std::int64_t major = xMajor ? x : y;
      const std::int64_t minor = xMajor ? y : x;
      const std::int64_t i = (major - majorStart) * majorStep;
      const std::int64_t k = (minor - minorStart) * minorStep;
      if (i < 0 || i > steps || k < 0 || k > minorSpan) line.fail("pixel outside the line's box");
      // Within half a pixel of the ideal line: |k − B·i/A| ≤ 1/2.
      const Wide offset = 2 * static_cast<Wide>(steps) * k - 2 * static_cast<Wide>(minorSpan) * i;
      if (steps == 0 ? k != 0 : (offset > steps || offset < -static_cast<Wide>(steps))) {
        line.fail("pixel more than half a pixel off the line");
      }
      if (++perMajor[static_cast<std::size_t>(major)] > 1) {
        line.fail("two pixels at one major position");
      }
    }
  }

  // Every major position whose one nearest pixel is on screen has that pixel.
  for (int major = 0; major < majorSize; ++major) {
    const std::int64_t i = (major - majorStart) * majorStep;
    if (i < 0 || i > steps) continue;
    if (perMajor[static_cast<std::size_t>(major)] == 1) continue;
    // k = round(B·i/A); a tie (exactly half way) may go either way.
    Wide k = 0;
    if (steps > 0) {
      const Wide twice = 2 * static_cast<Wide>(minorSpan) * i;
      const Wide a = steps;
      k = (twice + a) / (2 * a);
      if ((twice + a) % (2 * a) == 0) continue;  // a tie: either pixel is right
    }
    const Wide minor = minorStart + minorStep * k;
    if (minor >= 0 && minor < minorSize) line.fail("an on-screen pixel of the line is missing");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static vornisk::DemoConsole console;  // only its pixel fields are used: no output opens
  static GuardedFrame forward;
  static GuardedFrame backward;
  static GuardedFrame model;

  const std::int32_t x0 = readInt32(data, size, 0);
  const std::int32_t y0 = readInt32(data, size, 4);
  const std::int32_t x1 = readInt32(data, size, 8);
  const std::int32_t y1 = readInt32(data, size, 12);
  int width = 320;
  int height = 240;
  if (size >= 18) {
    width = 1 + data[16];
    height = 1 + data[17];
  }
  const Line line{x0, y0, x1, y1, width, height};

  forward.reset(width, height);
  backward.reset(width, height);
  draw(console, forward, x0, y0, x1, y1);
  draw(console, backward, x1, y1, x0, y0);
  checkAgainstIdealLine(line, forward);
  if (forward.words != backward.words) line.fail("B to A differs from A to B");

  const std::int64_t dx = static_cast<std::int64_t>(x1) - x0;
  const std::int64_t dy = static_cast<std::int64_t>(y1) - y0;
  if ((dx >= 0 ? dx : -dx) <= kShortWalk && (dy >= 0 ? dy : -dy) <= kShortWalk) {
    model.reset(width, height);
    plainWalk(model, x0, y0, x1, y1);
    if (forward.words != model.words) line.fail("differs from the plain walk");
  }
  return 0;
}
