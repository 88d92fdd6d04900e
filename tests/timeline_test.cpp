// The show's timeline, run through the real loop on a headless console with a
// clock the test schedules frame by frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "clock/clock.h"
#include "support/test_support.h"

namespace vornisk {
namespace {

constexpr std::uint32_t kTitleColour = 0x00C01020u;
constexpr std::uint32_t kSecondTitleColour = 0x00204080u;

// The two start-up readings (the seed and startTime) return `base`; every later
// reading returns base + the elapsed time scheduled for the frame being drawn
// (the last entry holds for all later frames).
class ScheduledClock {
 public:
  ScheduledClock(std::uint32_t base, std::vector<std::uint32_t> schedule)
      : base_(base), schedule_(std::move(schedule)), source_(&ScheduledClock::read, this) {}
  void framePresented() { ++frames_; }

 private:
  static std::uint32_t read(void* self) {
    auto* clock = static_cast<ScheduledClock*>(self);
    if (clock->readings_++ < 2) return clock->base_;
    const std::size_t index = std::min(clock->frames_, clock->schedule_.size() - 1);
    return clock->base_ + clock->schedule_[index];
  }
  std::uint32_t base_;
  std::vector<std::uint32_t> schedule_;
  timing::ScopedTimeSource source_;
  std::size_t frames_ = 0;
  int readings_ = 0;
};

std::size_t count(const testing::Frame& frame, std::uint32_t colour) {
  return static_cast<std::size_t>(std::count(frame.begin(), frame.end(), colour));
}

// Whether the frame holds any pixel of the triangles' greens (0x00FE01 + 10k).
bool hasTriangles(const testing::Frame& frame) {
  return std::any_of(frame.begin(), frame.end(), [](std::uint32_t word) {
    return word >= 0x00FE01u && word <= 0x00FE47u && (word - 0x00FE01u) % 10 == 0;
  });
}

class Timeline : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = testing::makeTempDirectory();
    testing::writeFile(directory_ + "/title._vq",
                       testing::titlePicture(320, 240, [](int, int) { return kTitleColour; }));
    testing::writeFile(directory_ + "/title2._vq", testing::titlePicture(320, 240, [](int, int) {
                         return kSecondTitleColour;
                       }));
  }

  // Runs the show with the given elapsed time per frame; a key is pressed after
  // `keyAfterFrames` frames (never when negative).
  testing::ShowRun run(std::vector<std::uint32_t> schedule, std::uint32_t base = 1000,
                       long long keyAfterFrames = -1) {
    ScheduledClock clock(base, std::move(schedule));
    return testing::runHeadlessShow(directory_, keyAfterFrames, [&] { clock.framePresented(); });
  }

  std::string directory_;
};

// Every boundary of the timeline is strict on one side: one frame on each side
// of it. The same schedule also runs from a clock that wraps past 2^32 between
// 23.2 s and 46.2 s, which must change nothing.
TEST_F(Timeline, EveryPhaseStartsAndEndsOnItsExactMillisecond) {
  struct Expected {
    std::uint32_t elapsedMs;
    bool title, secondTitle, triangles;
  };
  const std::vector<Expected> frames = {
      {23199, false, false, false},  // black before 23.2 s
      {23200, true, false, false},  {46200, true, false, false},
      {46201, true, false, true},   {69499, true, false, true},
      {69500, true, false, false},  {153500, true, false, false},  // still the glitch phase
      {153501, false, true, false},  // loaded and shown in the same frame
      {173999, false, true, false},
  };
  std::vector<std::uint32_t> schedule;
  for (const Expected& frame : frames)
    schedule.push_back(frame.elapsedMs);
  schedule.push_back(174000);
  for (const std::uint32_t base : {1000u, 0xFFFFFFFFu - 30000}) {
    SCOPED_TRACE(::testing::Message() << "clock starting at " << base);
    const testing::ShowRun show = run(schedule, base);
    EXPECT_EQ(show.status, 0);
    ASSERT_EQ(show.frames.size(), frames.size()) << "the show ends at exactly 174000 ms";
    for (std::size_t k = 0; k < frames.size(); ++k) {
      SCOPED_TRACE(::testing::Message() << "elapsed " << frames[k].elapsedMs);
      const testing::Frame& frame = show.frames[k];
      EXPECT_EQ(count(frame, kTitleColour) > 30000, frames[k].title);
      EXPECT_EQ(count(frame, kSecondTitleColour) > 30000, frames[k].secondTitle);
      if (!frames[k].title) {
        EXPECT_EQ(count(frame, kTitleColour), 0u);
      }
      EXPECT_EQ(hasTriangles(frame), frames[k].triangles);
    }
  }
}

TEST_F(Timeline, KeyEndsTheShowBeforeTheFirstFrameOrAfterAPresentedOne) {
  for (const long long keyAfter : {0, 5}) {
    const testing::ShowRun show = run({0}, 1000, keyAfter);
    EXPECT_EQ(show.status, 0);
    EXPECT_EQ(show.frames.size(), static_cast<std::size_t>(keyAfter));
  }
}

TEST_F(Timeline, MissingTitleEndsWithStatusOneAndNoFrame) {
  std::remove((directory_ + "/title._vq").c_str());
  ::testing::internal::CaptureStderr();
  const testing::ShowRun show = run({0, 174000});
  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(show.status, 1);
  EXPECT_TRUE(show.frames.empty());
  EXPECT_NE(errors.find("title._vq"), std::string::npos) << errors;
  EXPECT_NE(errors.find("could not open image file for reading"), std::string::npos) << errors;
  EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
}

}  // namespace
}  // namespace vornisk
