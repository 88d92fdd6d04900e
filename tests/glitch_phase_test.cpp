// The glitch phase run through the real show loop: which background each frame
// gets from its random draws, in which order the draws are taken, and how a
// jitter burst starts, restarts and counts down.
//
// The random draws are scripted frame by frame: each frame's first draws come
// from a list and every later draw of the frame is kQuiet, a value that hits none
// of the glitch phase's tests nor any of the metaball renderer's disturbances
// (which take thousands of draws per frame). So the net is always drawn in its
// plain colour, and its pixels are left out of every comparison.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "shell/random.h"
#include "shell/show_state.h"
#include "support/test_support.h"

namespace vornisk {
namespace {

using testing::Frame;
using testing::HeadlessConsole;
using testing::ScriptedClock;
using testing::ScriptedRandom;

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr std::uint32_t kNetColour = 0x008060FF;
// r10 = 0 (the title is drawn), 10 % 25 = 10 pixels of row jitter, not below the
// burst threshold of 10, never 0 modulo a product of Intensity; in the renderer:
// no flash, no jitter, no spike, and every reset roll succeeds.
constexpr std::uint32_t kQuiet = 10;
constexpr std::uint32_t kGlitchMs = 30000;  // glitch phase, before triangles and bars

// Title word for (column, memory row): red the row, green the low byte of the
// column, blue 0x10 or 0x11 by the column's high bit. Every word differs, none is
// black, grey or the net's colour.
std::uint32_t titleWord(int column, int memoryRow) {
  return (static_cast<std::uint32_t>(memoryRow) << 16) |
         (static_cast<std::uint32_t>(column & 0xFF) << 8) |
         (0x10u | static_cast<std::uint32_t>(column >> 8));
}

// Each frame's leading draws; every other draw is kQuiet.
class FrameScript {
 public:
  explicit FrameScript(std::vector<std::vector<std::uint32_t>> perFrame)
      : perFrame_(std::move(perFrame)) {
    setRandomScript(&FrameScript::draw, this);
  }
  ~FrameScript() { setRandomScript(nullptr, nullptr); }
  FrameScript(const FrameScript&) = delete;
  FrameScript& operator=(const FrameScript&) = delete;

  void framePresented() {
    ++frame_;
    next_ = 0;
  }

 private:
  static std::uint32_t draw(void* self) {
    auto* script = static_cast<FrameScript*>(self);
    const std::size_t index = script->next_++;
    if (script->frame_ < script->perFrame_.size() &&
        index < script->perFrame_[script->frame_].size()) {
      return script->perFrame_[script->frame_][index];
    }
    return kQuiet;
  }
  std::vector<std::vector<std::uint32_t>> perFrame_;
  std::size_t frame_ = 0;
  std::size_t next_ = 0;
};

struct GlitchRun {
  testing::ShowRun show;
  std::vector<std::int32_t> jitterFramesAfter;  // jitterFrames as each frame is presented
};

// Frame 0 runs at elapsed 0 (the black opening); every later frame in the glitch
// phase. A key ends the show after `frameCount` frames.
GlitchRun runGlitchShow(std::vector<std::vector<std::uint32_t>> perFrame, long long frameCount) {
  const std::string directory = testing::makeTempDirectory();
  testing::writeFile(directory + "/title._vq", testing::titlePicture(kWidth, kHeight, titleWord));
  GlitchRun result;
  ScriptedClock clock(5000);
  FrameScript script(std::move(perFrame));
  // No music file: the sound layer's report of it is not what this test is about.
  ::testing::internal::CaptureStdout();
  result.show = testing::runHeadlessShow(directory, frameCount, [&] {
    result.jitterFramesAfter.push_back(jitterFrames);
    script.framePresented();
    clock.set(5000 + kGlitchMs);
  });
  ::testing::internal::GetCapturedStdout();
  return result;
}

Frame titleFrame() {
  Frame words(kWidth * kHeight);
  for (int r = 0; r < kHeight; ++r) {
    for (int x = 0; x < kWidth; ++x)
      words[static_cast<std::size_t>(x + kWidth * r)] = titleWord(x, r);
  }
  return words;
}

// What jitterTitle makes of `previous` with these draws.
Frame jitteredFrame(const Frame& previous, const std::vector<std::uint32_t>& draws) {
  HeadlessConsole oracle(kWidth, kHeight);
  const Frame title = titleFrame();
  std::copy(title.begin(), title.end(), oracle.title());
  std::copy(previous.begin(), previous.end(), oracle.pixels);
  ScriptedRandom random(draws);
  oracle.jitterTitle();
  return oracle.snapshot();
}

Frame checkerFrame() {
  HeadlessConsole oracle(kWidth, kHeight);
  oracle.drawCheckerboard(8, 128);
  return oracle.snapshot();
}

// Compares a frame with the expected background, leaving out the net's pixels.
::testing::AssertionResult backgroundIs(const Frame& actual, const Frame& expected) {
  std::size_t net = 0;
  for (std::size_t i = 0; i < actual.size(); ++i) {
    if (actual[i] == kNetColour) {
      ++net;
      continue;
    }
    if (actual[i] != expected[i]) {
      return ::testing::AssertionFailure()
             << "word " << i << " (column " << i % kWidth << ", memory row " << i / kWidth
             << ") is 0x" << std::hex << actual[i] << ", expected 0x" << expected[i];
    }
  }
  // A frame that is mostly net would compare vacuously.
  if (net > actual.size() / 5) return ::testing::AssertionFailure() << net << " net pixels";
  return ::testing::AssertionSuccess();
}

TEST(GlitchPhase, BurstStartsRestartsAndCountsDownOnlyInJitteredFrames) {
  // Frame 2's row skips: the draws run past 25 so the modulus matters.
  std::vector<std::uint32_t> skips(kHeight);
  for (std::size_t i = 0; i < skips.size(); ++i)
    skips[i] = static_cast<std::uint32_t>(7 * i + 3);
  std::vector<std::uint32_t> frame2 = {3};  // r10 = 3: the title is drawn
  frame2.insert(frame2.end(), skips.begin(), skips.end());
  frame2.push_back(10);  // the burst roll after the jitter: 10 is not below 10
  std::vector<std::uint32_t> frame4 = {0};
  frame4.insert(frame4.end(), kHeight, kQuiet);
  frame4.push_back(5);    // a new burst while one runs...
  frame4.push_back(100);  // ...of 100 % 50 + 50 = 50 frames, replacing the 47 left

  std::vector<std::vector<std::uint32_t>> perFrame(56);
  perFrame[1] = {0, 9, 0};  // title copied; burst roll 9 < 10 hits; 0 % 50 + 50 = 50
  perFrame[2] = frame2;
  perFrame[4] = frame4;
  const GlitchRun glitch = runGlitchShow(perFrame, 56);
  ASSERT_EQ(glitch.show.status, 0);
  const std::vector<Frame>& frames = glitch.show.frames;
  ASSERT_EQ(frames.size(), 56u);

  EXPECT_TRUE(backgroundIs(frames[0], Frame(kWidth * kHeight, 0u))) << "black opening";
  EXPECT_TRUE(backgroundIs(frames[1], titleFrame()));
  EXPECT_TRUE(backgroundIs(frames[2], jitteredFrame(frames[1], skips)));
  const std::vector<std::uint32_t> quietSkips(kHeight, kQuiet);
  for (std::size_t f = 3; f <= 54; ++f) {
    EXPECT_TRUE(backgroundIs(frames[f], jitteredFrame(frames[f - 1], quietSkips))) << "frame " << f;
  }
  EXPECT_TRUE(backgroundIs(frames[55], titleFrame())) << "the plain title returns";

  std::vector<std::int32_t> expectedCount = {0, 50, 49, 48, 50};
  for (std::int32_t left = 49; left >= 0; --left)
    expectedCount.push_back(left);  // frames 5..54
  expectedCount.push_back(0);       // frame 55
  EXPECT_EQ(glitch.jitterFramesAfter, expectedCount);
}

TEST(GlitchPhase, RareClearAndCheckerboardDrawOverTheTitle) {
  std::vector<std::vector<std::uint32_t>> perFrame(5);
  perFrame[1] = {0, 10, 0};       // title, no burst, clear
  perFrame[2] = {0, 10, 10, 0};   // title, no burst, no clear, checkerboard
  perFrame[3] = {9, 10, 0, 0};    // both: the checkerboard comes last
  perFrame[4] = {0, 10, 1, 600};  // neither: 1 and 600 are not multiples of the products
  const GlitchRun glitch = runGlitchShow(perFrame, 5);
  const std::vector<Frame>& frames = glitch.show.frames;
  ASSERT_EQ(frames.size(), 5u);
  EXPECT_TRUE(backgroundIs(frames[1], Frame(kWidth * kHeight, 0u)));
  EXPECT_TRUE(backgroundIs(frames[2], checkerFrame()));
  EXPECT_TRUE(backgroundIs(frames[3], checkerFrame()));
  EXPECT_TRUE(backgroundIs(frames[4], titleFrame()));
  for (std::int32_t count : glitch.jitterFramesAfter)
    EXPECT_EQ(count, 0);
}

}  // namespace
}  // namespace vornisk
