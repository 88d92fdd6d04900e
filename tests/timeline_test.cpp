// The show's timeline, run through the real loop on a headless console with a
// clock the test schedules frame by frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "clock/clock.h"
#include "ptc/headless.h"
#include "shell/show.h"
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

// A picture file of one colour.
std::vector<unsigned char> solidPicture(int width, int height, std::uint32_t colour) {
  std::vector<unsigned char> bytes(18, 0);
  bytes[12] = static_cast<unsigned char>(width & 0xFF);
  bytes[13] = static_cast<unsigned char>(width >> 8);
  bytes[14] = static_cast<unsigned char>(height & 0xFF);
  bytes[15] = static_cast<unsigned char>(height >> 8);
  for (int i = 0; i < width * height; ++i) {
    bytes.push_back(static_cast<unsigned char>(colour & 0xFF));
    bytes.push_back(static_cast<unsigned char>((colour >> 8) & 0xFF));
    bytes.push_back(static_cast<unsigned char>((colour >> 16) & 0xFF));
  }
  return bytes;
}

struct ShowRun {
  int status = 0;
  std::vector<std::vector<std::uint32_t>> frames;

  std::size_t count(std::size_t frame, std::uint32_t colour) const {
    return static_cast<std::size_t>(
        std::count(frames[frame].begin(), frames[frame].end(), colour));
  }
  // Whether the frame holds any pixel of the triangles' greens (0x00FE01 + 10k).
  bool hasTriangles(std::size_t frame) const {
    return std::any_of(frames[frame].begin(), frames[frame].end(), [](std::uint32_t word) {
      return word >= 0x00FE01u && word <= 0x00FE47u && (word - 0x00FE01u) % 10 == 0;
    });
  }
};

class Timeline : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = testing::makeTempDirectory();
    testing::writeFile(directory_ + "/title._vq", solidPicture(320, 240, kTitleColour));
    testing::writeFile(directory_ + "/title2._vq", solidPicture(320, 240, kSecondTitleColour));
  }

  // Runs the show with the given elapsed time per frame; a key is pressed after
  // `keyAfterFrames` frames (never when negative).
  ShowRun run(std::vector<std::uint32_t> schedule, std::uint32_t base = 1000,
              long long keyAfterFrames = -1) {
    ShowRun result;
    ScheduledClock clock(base, std::move(schedule));
    ShowSetup setup;
    setup.dataDirectory = directory_;
    setup.makeBackend = [&] {
      return std::make_unique<ptc::HeadlessBackend>(
          [&](const std::uint32_t* pixels, int width, int height) {
            result.frames.emplace_back(pixels, pixels + width * height);
            clock.framePresented();
          },
          keyAfterFrames);
    };
    result.status = runShow(setup);
    return result;
  }

  std::string directory_;
};

TEST_F(Timeline, EndsAtExactly174Seconds) {
  const ShowRun show = run({0, 100000, 173999, 174000});
  EXPECT_EQ(show.status, 0);
  EXPECT_EQ(show.frames.size(), 3u);
}

TEST_F(Timeline, ClockThatWrapsDuringTheShowChangesNothing) {
  const std::vector<std::uint32_t> schedule = {23199, 23200, 50000, 153501, 174000};
  const ShowRun plain = run(schedule, 1000);
  const ShowRun wrapped = run(schedule, 0xFFFFFFFFu - 30000);  // wraps between frames 1 and 2
  ASSERT_EQ(plain.frames.size(), 4u);
  EXPECT_EQ(wrapped.frames.size(), plain.frames.size());
  // Different seeds give different random draws, but the phases are the same.
  for (std::size_t k = 0; k < plain.frames.size(); ++k) {
    EXPECT_EQ(plain.count(k, kTitleColour) > 30000, wrapped.count(k, kTitleColour) > 30000) << k;
    EXPECT_EQ(plain.count(k, kSecondTitleColour) > 30000,
              wrapped.count(k, kSecondTitleColour) > 30000)
        << k;
  }
}

TEST_F(Timeline, GlitchPhaseStartsAtExactly23200) {
  const ShowRun show = run({23199, 23200, 174000});
  ASSERT_EQ(show.frames.size(), 2u);
  EXPECT_EQ(show.count(0, kTitleColour), 0u);  // black before 23.2 s
  EXPECT_GT(show.count(1, kTitleColour), 30000u);
}

TEST_F(Timeline, SecondTitleLoadsAfter153500AndShowsInThatFrame) {
  const ShowRun show = run({153500, 153501, 160000, 174000});
  ASSERT_EQ(show.frames.size(), 3u);
  EXPECT_GT(show.count(0, kTitleColour), 30000u);  // 153500 is still the glitch phase
  EXPECT_EQ(show.count(0, kSecondTitleColour), 0u);
  EXPECT_GT(show.count(1, kSecondTitleColour), 30000u);
  EXPECT_EQ(show.count(1, kTitleColour), 0u);
  EXPECT_GT(show.count(2, kSecondTitleColour), 30000u);
}

TEST_F(Timeline, TrianglesOnlyStrictlyBetween46200And69500) {
  const ShowRun show = run({46200, 46201, 60000, 69499, 69500, 174000});
  ASSERT_EQ(show.frames.size(), 5u);
  EXPECT_FALSE(show.hasTriangles(0));
  EXPECT_TRUE(show.hasTriangles(1));
  EXPECT_TRUE(show.hasTriangles(2));
  EXPECT_TRUE(show.hasTriangles(3));
  EXPECT_FALSE(show.hasTriangles(4));
}

TEST_F(Timeline, KeyWaitingBeforeTheLoopDrawsNothing) {
  const ShowRun show = run({0}, 1000, 0);
  EXPECT_EQ(show.status, 0);
  EXPECT_TRUE(show.frames.empty());
}

TEST_F(Timeline, KeyEndsTheShowAfterThePresentedFrame) {
  const ShowRun show = run({0}, 1000, 5);
  EXPECT_EQ(show.status, 0);
  EXPECT_EQ(show.frames.size(), 5u);
}

TEST_F(Timeline, MissingTitleEndsWithStatusOneAndNoFrame) {
  std::remove((directory_ + "/title._vq").c_str());
  ::testing::internal::CaptureStderr();
  const ShowRun show = run({0, 174000});
  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(show.status, 1);
  EXPECT_TRUE(show.frames.empty());
  EXPECT_NE(errors.find("title._vq"), std::string::npos) << errors;
  EXPECT_NE(errors.find("could not open image file for reading"), std::string::npos) << errors;
  EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
}

}  // namespace
}  // namespace vornisk
