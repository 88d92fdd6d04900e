// What the show's two threads need from the operating system: a word one
// thread sleeps on until another changes it, and how many processors the
// process may use right now. Linux uses futexes, Windows WaitOnAddress; other
// systems a mutex and condition variable per group of words.
#pragma once

#include <atomic>
#include <cstdint>

namespace threading {

// Sleeps while `word` holds `seen`; returns at once if it does not. May also
// return without a change: callers look again. Wakes only through wakeAll().
void sleepWhile(const std::atomic<std::uint32_t>& word, std::uint32_t seen);
// Wakes every thread sleeping on `word`. Call it after changing the word.
void wakeAll(const std::atomic<std::uint32_t>& word);

// The same pair built on a mutex and a condition variable, which any system
// has; the operating system's own where it has none, and in tests.
namespace fallback {
void sleepWhile(const std::atomic<std::uint32_t>& word, std::uint32_t seen);
void wakeAll(const std::atomic<std::uint32_t>& word);
}  // namespace fallback

// A 32-bit counter that threads can sleep on until it changes. Changing it
// costs a system call only while a thread sleeps on it: the sleeper announces
// itself before its last look, and the writer looks for sleepers after its
// store (both sequentially consistent), so either the sleeper sees the new
// value or the writer sees the sleeper. No wake-up can be lost.
class WaitWord {
 public:
  std::uint32_t load(std::memory_order order = std::memory_order_acquire) const {
    return word_.load(order);
  }
  void store(std::uint32_t value) {
    word_.store(value, std::memory_order_seq_cst);
    wakeSleepers();
  }
  std::uint32_t add(std::uint32_t amount) {
    const std::uint32_t result = word_.fetch_add(amount, std::memory_order_seq_cst) + amount;
    wakeSleepers();
    return result;
  }
  // Returns once the word no longer holds `seen` (at once if it does not).
  void waitWhile(std::uint32_t seen) {
    while (word_.load(std::memory_order_acquire) == seen) {
      sleepers_.fetch_add(1, std::memory_order_seq_cst);
      if (word_.load(std::memory_order_seq_cst) == seen) sleepWhile(word_, seen);
      sleepers_.fetch_sub(1, std::memory_order_relaxed);
    }
  }

 private:
  void wakeSleepers() {
    if (sleepers_.load(std::memory_order_seq_cst) != 0) wakeAll(word_);
  }
  std::atomic<std::uint32_t> word_{0};
  std::atomic<std::uint32_t> sleepers_{0};
};

// Names the calling thread for debuggers, profilers and /proc (at most 15
// characters are kept); does nothing where threads have no names.
void nameThisThread(const char* name);

// How many processors this process may run on now: its affinity mask and, on
// Linux, its control group's CPU quota (rounded down, at least 1).
int usableProcessors();

// The processor time the calling thread has had, in nanoseconds, or -1 where
// it cannot be read finely enough to tell a millisecond (Windows counts it in
// scheduler ticks of about 15 ms).
std::int64_t thisThreadCpuNanoseconds();

}  // namespace threading
