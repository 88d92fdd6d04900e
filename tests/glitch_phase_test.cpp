// The glitch phase run through the real show loop: which background each frame
// gets from its random draws, in which order they are taken, and how a jitter
// burst starts, restarts and counts down. Each frame's first draws are scripted.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "console/random.h"
#include "console/show_state.h"
#include "support/test_support.h"

namespace vornisk {
namespace {

using testing::Frame;
using testing::HeadlessConsole;

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr std::uint32_t kNetColour = 0x008060FF;
// Every unscripted draw: r10 = 0 (the title is drawn), 10 pixels of row jitter,
// not below the burst threshold, never 0 modulo a product of Intensity; and in the
// renderer no flash, jitter or spike, so the net keeps its plain colour (its
// pixels are left out of every comparison).
constexpr std::uint32_t kQuiet = 10;

// Red the memory row, green the column's low byte, blue 0x10 or 0x11 by its high
// bit: every word differs, none is black, grey or the net's colour.
std::uint32_t titleWord(int column, int memoryRow) {
  return (static_cast<std::uint32_t>(memoryRow) << 16) |
         (static_cast<std::uint32_t>(column & 0xFF) << 8) |
         (0x10u | static_cast<std::uint32_t>(column >> 8));
}

struct FrameScript {
  std::vector<std::vector<std::uint32_t>> perFrame;
  std::size_t frame = 0, next = 0;
  static std::uint32_t draw(void* self) {
    auto* s = static_cast<FrameScript*>(self);
    const std::size_t index = s->next++;
    return s->frame < s->perFrame.size() && index < s->perFrame[s->frame].size()
               ? s->perFrame[s->frame][index]
               : kQuiet;
  }
};

const Frame kBlack(kWidth* kHeight, 0u);

Frame titleFrame() {
  Frame words;
  for (int i = 0; i < kWidth * kHeight; ++i)
    words.push_back(titleWord(i % kWidth, i / kWidth));
  return words;
}

// What an oracle console holds after `draw` over `previous`, with the title loaded.
template <typename Draw>
Frame oracle(const Frame& previous, Draw draw) {
  HeadlessConsole console(kWidth, kHeight);
  const Frame title = titleFrame();
  std::copy(title.begin(), title.end(), console.title());
  std::copy(previous.begin(), previous.end(), console.pixels);
  draw(console);
  return console.snapshot();
}

// Compares a frame with the expected background, leaving out the net's pixels.
::testing::AssertionResult backgroundIs(const Frame& actual, const Frame& expected) {
  std::size_t net = 0, wrong = 0;
  for (std::size_t i = 0; i < actual.size(); ++i) {
    net += actual[i] == kNetColour ? 1 : 0;
    wrong += actual[i] != kNetColour && actual[i] != expected[i] ? 1 : 0;
  }
  // A frame that is mostly net would compare vacuously.
  if (wrong == 0 && net <= actual.size() / 5) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << wrong << " words differ; " << net << " net pixels";
}

TEST(GlitchPhase, BackgroundsBurstsAndTheirCountdownFollowTheDraws) {
  // Frame 6's row skips run past 25, so the modulus matters.
  std::vector<std::uint32_t> skips;
  for (std::uint32_t i = 0; i < kHeight; ++i)
    skips.push_back(7 * i + 3);
  std::vector<std::vector<std::uint32_t>> perFrame(60);
  perFrame[1] = {0, 10, 0};           // title, no burst, clear
  perFrame[2] = {0, 10, 10, 594000};  // title, no burst, no clear, checkerboard
  perFrame[3] = {9, 10, 0, 0};        // both: the checkerboard comes last
  perFrame[4] = {0, 10, 594000, 1};   // neither: 594000 = 990 (Intensity) × 600, not × 1000
  perFrame[5] = {0, 9, 0};            // title copied; burst roll 9 < 10 hits; 0 % 50 + 50 = 50
  perFrame[6] = {3};                  // r10 = 3: the title is jittered, then the roll 10 misses
  perFrame[6].insert(perFrame[6].end(), skips.begin(), skips.end());
  perFrame[6].push_back(10);
  perFrame[8] = {0};  // a new burst while one runs, of 100 % 50 + 50 = 50, replacing 47
  perFrame[8].insert(perFrame[8].end(), kHeight, kQuiet);
  perFrame[8].insert(perFrame[8].end(), {5, 100});

  // Frame 0 runs at elapsed 0 (the black opening), every later one at 30 s (the
  // glitch phase, before triangles and bars).
  const std::string directory = testing::makeTempDirectory();
  testing::writeFile(directory + "/title._vq", testing::titlePicture(kWidth, kHeight, titleWord));
  testing::ScriptedClock clock(5000);
  FrameScript script{perFrame};
  setRandomScript(&FrameScript::draw, &script);
  std::vector<std::int32_t> jitterAfter;
  ::testing::internal::CaptureStdout();  // the sound layer's report of the missing music
  const testing::ShowRun show = testing::runHeadlessShow(directory, 60, [&] {
    jitterAfter.push_back(jitterFrames);
    ++script.frame;
    script.next = 0;
    clock.set(35000);
  });
  ::testing::internal::GetCapturedStdout();
  setRandomScript(nullptr, nullptr);
  ASSERT_EQ(show.status, 0);
  ASSERT_EQ(show.frames.size(), 60u);

  const Frame checker = oracle(kBlack, [](HeadlessConsole& c) { c.drawCheckerboard(8, 128); });
  const Frame title = titleFrame();
  const Frame* expected[] = {&kBlack, &kBlack, &checker, &checker, &title, &title};
  for (std::size_t f = 0; f < 6; ++f)
    EXPECT_TRUE(backgroundIs(show.frames[f], *expected[f])) << "frame " << f;
  for (std::size_t f = 6; f <= 58; ++f) {
    testing::ScriptedRandom random(f == 6 ? skips : std::vector<std::uint32_t>(kHeight, kQuiet));
    const Frame jittered = oracle(show.frames[f - 1], [](HeadlessConsole& c) { c.jitterTitle(); });
    EXPECT_TRUE(backgroundIs(show.frames[f], jittered)) << "frame " << f;
  }
  EXPECT_TRUE(backgroundIs(show.frames[59], title)) << "the plain title returns";

  std::vector<std::int32_t> counts = {0, 0, 0, 0, 0, 50, 49, 48, 50};
  for (std::int32_t left = 49; left >= 0; --left)
    counts.push_back(left);  // frames 9..58
  counts.push_back(0);       // frame 59
  EXPECT_EQ(jitterAfter, counts);
}

}  // namespace
}  // namespace vornisk
