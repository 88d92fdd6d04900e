// Fuzzes drawLine with any four 32-bit end points, on the show's 320 × 240
// buffer or (with two more input bytes) on a small one of 1..256 × 1..256.
//
// Input: x0, y0, x1, y1 as little-endian int32 (missing bytes read as 0), then
// optionally width − 1 and height − 1 as one byte each.
//
// What must hold for every line: the frame and the guard areas around it hold
// exactly the pixels of the walk's closed form (tests/support/reference_line.h),
// whichever end the line is drawn from; and when the walk is short (at most
// 4096 steps) the closed form agrees with the plain step-by-step walk. Time
// spent must follow the on-screen pixels, not the length: a walk over 2^32
// steps takes seconds, which the runs catch with libFuzzer's -timeout.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "console/demo_console.h"
#include "support/reference_line.h"

namespace {

constexpr std::uint32_t kSentinel = 0xA5000000u;  // the top byte no colour here uses
constexpr std::uint32_t kColour = 0x00C0FFEEu;
constexpr std::int64_t kShortWalk = 4096;

// A frame between two guard areas of 16 rows (at least 1024 words) each: a
// store one row, or a few, beyond the frame lands in a guard; one further off
// lands outside the allocation, where AddressSanitizer reports it.
struct GuardedFrame {
  int width = 0;
  int height = 0;
  std::size_t guard = 0;
  std::vector<std::uint32_t> words;

  void reset(int frameWidth, int frameHeight) {
    width = frameWidth;
    height = frameHeight;
    guard = std::max<std::size_t>(16 * static_cast<std::size_t>(width), 1024);
    const std::size_t total = 2 * guard + static_cast<std::size_t>(width) * height;
    // Copied from a ready block: far quicker than a sanitized fill.
    static std::vector<std::uint32_t> sentinels;
    if (sentinels.size() < total) sentinels.assign(total, kSentinel);
    words.assign(sentinels.begin(), sentinels.begin() + static_cast<std::ptrdiff_t>(total));
  }
  std::uint32_t* frame() { return words.data() + guard; }
  // Stores the colour at (x, y), y counting up from the bottom row, if on screen.
  void plot(std::int64_t x, std::int64_t y) {
    if (x < 0 || x >= width || y < 0 || y >= height) return;
    frame()[static_cast<std::size_t>(x + (height - 1 - y) * width)] = kColour;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static vornisk::DemoConsole console;  // only its pixel fields are used: no output opens
  static GuardedFrame drawn;
  static GuardedFrame expected;

  std::int32_t ends[4] = {};  // little-endian, as on every machine the show runs on
  std::copy_n(data, std::min<std::size_t>(size, sizeof ends),
              reinterpret_cast<std::uint8_t*>(ends));
  const std::int64_t x0 = ends[0], y0 = ends[1], x1 = ends[2], y1 = ends[3];
  const int width = size >= 18 ? 1 + data[16] : 320;
  const int height = size >= 18 ? 1 + data[17] : 240;
  const auto fail = [&](const char* what) {
    std::fprintf(stderr, "drawLine(%lld, %lld, %lld, %lld) on %d x %d: %s\n",
                 static_cast<long long>(x0), static_cast<long long>(y0), static_cast<long long>(x1),
                 static_cast<long long>(y1), width, height, what);
    std::abort();
  };

  expected.reset(width, height);
  vornisk::testing::closedFormWalk(x0, y0, x1, y1, width, height,
                                   [&](std::int64_t x, std::int64_t y) { expected.plot(x, y); });
  console.width = width;
  console.height = height;
  for (const bool reversed : {false, true}) {
    drawn.reset(width, height);
    console.pixels = drawn.frame();
    const int from = reversed ? 2 : 0;
    console.drawLine(ends[from], ends[from + 1], ends[2 - from], ends[3 - from], kColour);
    if (drawn.words != expected.words)
      fail(reversed ? "drawn B to A, differs from the walk" : "differs from the walk");
  }

  if (std::abs(x1 - x0) <= kShortWalk && std::abs(y1 - y0) <= kShortWalk) {
    drawn.reset(width, height);
    vornisk::testing::naiveWalk(x0, y0, x1, y1,
                                [&](std::int64_t x, std::int64_t y) { drawn.plot(x, y); });
    if (drawn.words != expected.words) fail("the closed form differs from the plain walk");
  }
  return 0;
}
