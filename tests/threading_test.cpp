// The word the field pipeline's threads sleep on: no wake-up may be lost, with
// the operating system's wait and with the mutex and condition variable that
// stand in for it elsewhere.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <random>
#include <thread>

#include "support/test_support.h"
#include "threading/threading.h"

namespace vornisk {
namespace {

using namespace std::chrono_literals;

// The pipeline's hand-over, many times over: one side posts numbered jobs,
// at most two ahead, and sleeps until there is room; the other sleeps until a
// job is posted and counts it finished. Each side sometimes looks a little
// before sleeping, so that changes land at every point of the other's way to
// sleep. A lost wake-up leaves both asleep, and the watchdog ends the test.
template <class Word>
void handOver(Word& posted, Word& finished, std::uint32_t jobs, unsigned seed) {
  std::thread worker([&] {
    std::minstd_rand random(seed + 1);
    for (std::uint32_t done = 0; done < jobs;) {
      for (unsigned spin = random() % 64; spin != 0 && posted.load() == done; --spin) {
      }
      posted.waitWhile(done);
      finished.store(++done);
    }
  });
  std::minstd_rand random(seed);
  for (std::uint32_t job = 1; job <= jobs; ++job) {
    for (std::uint32_t seen; (seen = finished.load()) + 2 < job;)
      finished.waitWhile(seen);
    if (random() % 4 == 0) std::this_thread::yield();
    posted.store(job);
  }
  for (std::uint32_t seen; (seen = finished.load()) != jobs;)
    finished.waitWhile(seen);
  worker.join();
}

// The same counter on the fallback's sleep and wake.
class FallbackWord {
 public:
  std::uint32_t load() const { return word_.load(std::memory_order_acquire); }
  void store(std::uint32_t value) {
    word_.store(value, std::memory_order_seq_cst);
    threading::fallback::wakeAll(word_);
  }
  void waitWhile(std::uint32_t seen) {
    while (load() == seen)
      threading::fallback::sleepWhile(word_, seen);
  }

 private:
  std::atomic<std::uint32_t> word_{0};
};

TEST(WaitWord, LosesNoWakeUpInAHandOver) {
  testing::Watchdog watchdog(60s, "the hand-over through threading::WaitWord");
  for (unsigned round = 0; round < 4; ++round) {
    threading::WaitWord posted, finished;
    handOver(posted, finished, 50000, round);
    EXPECT_EQ(finished.load(), 50000u);
  }
}

TEST(WaitWord, FallbackLosesNoWakeUpInAHandOver) {
  testing::Watchdog watchdog(60s, "the hand-over through the fallback wait");
  for (unsigned round = 0; round < 4; ++round) {
    FallbackWord posted, finished;
    handOver(posted, finished, 50000, round);
    EXPECT_EQ(finished.load(), 50000u);
  }
}

// On one processor the two sides can only take turns: every wait that finds
// the word unchanged must sleep and be woken by the other.
TEST(WaitWord, LosesNoWakeUpOnOneProcessor) {
  testing::OneProcessor oneProcessor;
  if (!oneProcessor.active()) GTEST_SKIP() << "needs a second processor to leave out";
  EXPECT_EQ(threading::usableProcessors(), 1);
  testing::Watchdog watchdog(60s, "the hand-over on one processor");
  threading::WaitWord posted, finished;
  handOver(posted, finished, 20000, 7);
  EXPECT_EQ(finished.load(), 20000u);
}

}  // namespace
}  // namespace vornisk
