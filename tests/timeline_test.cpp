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

// The two start-up readings (seed, startTime) give `base`, every later one base +
// the elapsed time scheduled for the frame being drawn (the last entry after).
struct ScheduledClock {
  static std::uint32_t read(void* self) {
    auto* clock = static_cast<ScheduledClock*>(self);
    if (clock->readings++ < 2) return clock->base;
    return clock->base + clock->schedule[std::min(clock->frames, clock->schedule.size() - 1)];
  }
  std::uint32_t base;
  std::vector<std::uint32_t> schedule;
  std::size_t frames = 0, readings = 0;
  timing::ScopedTimeSource source{&ScheduledClock::read, this};
};

// What a frame shows: '.' black, 't' the title, 'T' the title and the triangles
// (any of their greens 0x00FE01 + 10k), 's' the second title, '?' anything else.
char shown(const testing::Frame& frame) {
  const auto title = std::count(frame.begin(), frame.end(), kTitleColour);
  const auto second = std::count(frame.begin(), frame.end(), kSecondTitleColour);
  const bool triangles = std::any_of(frame.begin(), frame.end(), [](std::uint32_t word) {
    return word >= 0x00FE01u && word <= 0x00FE47u && (word - 0x00FE01u) % 10 == 0;
  });
  if (title > 30000 && second == 0) return triangles ? 'T' : 't';
  if (second > 30000 && title == 0 && !triangles) return 's';
  return title + second == 0 && !triangles ? '.' : '?';
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

  // The show with these elapsed times per frame; a key after `keyAfterFrames` (if ≥ 0).
  testing::ShowRun run(std::vector<std::uint32_t> schedule, std::uint32_t base = 1000,
                       long long keyAfterFrames = -1) {
    ScheduledClock clock{base, std::move(schedule)};
    return testing::runHeadlessShow(directory_, keyAfterFrames, [&] { ++clock.frames; });
  }

  std::string directory_ = testing::makeTempDirectory();
};

// Every boundary of the timeline is strict on one side: one frame on each side
// of it, also from a clock that wraps past 2^32 between 23.2 s and 46.2 s.
TEST_F(Timeline, EveryPhaseStartsAndEndsOnItsExactMillisecond) {
  // Black before 23.2 s; the glitch phase up to and including 153.5 s, with the
  // triangles strictly between 46.2 and 69.5 s; the second title, loaded and
  // shown in the same frame, until the show ends at exactly 174 s.
  const std::vector<std::uint32_t> schedule = {23199, 23200,  46200,  46201,  69499,
                                               69500, 153500, 153501, 173999, 174000};
  for (const std::uint32_t base : {1000u, 0xFFFFFFFFu - 30000}) {
    const testing::ShowRun show = run(schedule, base);
    EXPECT_EQ(show.status, 0);
    std::string phases;
    for (const testing::Frame& frame : show.frames)
      phases += shown(frame);
    EXPECT_EQ(phases, ".ttTTttss") << "clock starting at " << base;
  }
}

// A key ends the show before the first frame or after a presented one.
TEST_F(Timeline, AKeyEndsTheShowEarly) {
  for (const long long keyAfter : {0, 5}) {
    const testing::ShowRun show = run({0}, 1000, keyAfter);
    EXPECT_EQ(show.status, 0);
    EXPECT_EQ(show.frames.size(), static_cast<std::size_t>(keyAfter));
  }
}

}  // namespace
}  // namespace vornisk
