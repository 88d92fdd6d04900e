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
struct ScheduledClock {
  static std::uint32_t read(void* self) {
    auto* clock = static_cast<ScheduledClock*>(self);
    if (clock->readings++ < 2) return clock->base;
    return clock->base + clock->schedule[std::min(clock->frames, clock->schedule.size() - 1)];
  }
  std::uint32_t base;
  std::vector<std::uint32_t> schedule;
  std::size_t frames = 0;
  int readings = 0;
  timing::ScopedTimeSource source{&ScheduledClock::read, this};
};

// Whether the frame holds any pixel of the triangles' greens (0x00FE01 + 10k).
bool hasTriangles(const testing::Frame& frame) {
  return std::any_of(frame.begin(), frame.end(), [](std::uint32_t word) {
    return word >= 0x00FE01u && word <= 0x00FE47u && (word - 0x00FE01u) % 10 == 0;
  });
}

class Timeline : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const auto& [name, colour] :
         {std::pair{"/title._vq", kTitleColour}, {"/title2._vq", kSecondTitleColour}}) {
      testing::writeFile(directory_ + name,
                         testing::titlePicture(320, 240, [&](int, int) { return colour; }));
    }
  }

  // Runs the show with the given elapsed time per frame; a key is pressed after
  // `keyAfterFrames` frames (never when negative).
  testing::ShowRun run(std::vector<std::uint32_t> schedule, std::uint32_t base = 1000,
                       long long keyAfterFrames = -1) {
    ScheduledClock clock{base, std::move(schedule)};
    return testing::runHeadlessShow(directory_, keyAfterFrames, [&] { ++clock.frames; });
  }

  std::string directory_ = testing::makeTempDirectory();
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
      EXPECT_EQ(std::count(frame.begin(), frame.end(), kTitleColour) > 30000, frames[k].title);
      EXPECT_EQ(std::count(frame.begin(), frame.end(), kSecondTitleColour) > 30000,
                frames[k].secondTitle);
      EXPECT_TRUE(frames[k].title || std::count(frame.begin(), frame.end(), kTitleColour) == 0);
      EXPECT_EQ(hasTriangles(frame), frames[k].triangles);
    }
  }
}

// A key ends the show before the first frame or after a presented one; a
// missing title ends it with status 1 and one line, before any frame.
TEST_F(Timeline, AKeyOrAMissingTitleEndsTheShowEarly) {
  for (const long long keyAfter : {0, 5}) {
    const testing::ShowRun show = run({0}, 1000, keyAfter);
    EXPECT_EQ(show.status, 0);
    EXPECT_EQ(show.frames.size(), static_cast<std::size_t>(keyAfter));
  }
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
