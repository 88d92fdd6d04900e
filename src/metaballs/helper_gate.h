// Work of the drawing thread that a helper thread may join while it is open.
// The owner opens the gate, works, and closes it; once close() returns, the
// helper has left and the owner may reuse everything the work touched.
//
// Either side may be kept off its processor at any moment on a busy machine.
// So neither waits long on the other with its processor busy: the helper
// leaves when the owner lists nothing new for a while, and the owner, when the
// helper holds up a piece it has claimed or is slow to leave, looks for a
// short while and then sleeps until the helper wakes it. Such a sleep is
// counted (lateWaits()): it tells that the helper is not getting a processor
// in time.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "threading/threading.h"

namespace vornisk {

// A hint to the processor that this thread waits for another: it leaves the
// core's resources to the thread beside it, as a system call would not.
inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

// Looks (with the processor's pause between looks) until `done()` or until
// `limit` has passed; whether it was done. The clock is read once in 64 looks.
template <class Done>
bool spinUntil(Done&& done, std::chrono::nanoseconds limit) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point giveUp = Clock::now() + limit;
  for (unsigned looks = 1;; ++looks) {
    if (done()) return true;
    if (looks % 64 == 0 && Clock::now() >= giveUp) return done();
    cpuRelax();
  }
}

class HelperGate {
 public:
  // How long a side looks for the other before it sleeps or leaves: well
  // beyond the microsecond a piece of shared work takes, far below the
  // milliseconds for which a scheduler keeps a thread waiting on a busy machine.
  static constexpr std::chrono::microseconds kPatience{50};

  // Owner: whatever was written before open() is seen by a helper inside.
  void open() { open_.store(true, std::memory_order_seq_cst); }
  // Owner: returns once no helper is inside.
  void close() {
    open_.store(false, std::memory_order_seq_cst);
    awaitHelper([this] { return !helping_.load(std::memory_order_seq_cst); });
  }
  bool isOpen() const { return open_.load(std::memory_order_acquire); }

  // Owner: returns once `done()`, which a piece the helper finishes makes
  // true (the helper calls pieceDone() after it).
  template <class Done>
  void awaitHelper(Done&& done) {
    if (spinUntil(done, kPatience)) return;
    ++lateWaits_;
    for (;;) {
      const std::uint32_t seen = progress_.load(std::memory_order_seq_cst);
      ownerAsleep_.store(true, std::memory_order_relaxed);
      std::atomic_thread_fence(std::memory_order_seq_cst);
      if (done()) break;
      progress_.waitWhile(seen);
    }
    ownerAsleep_.store(false, std::memory_order_relaxed);
  }
  // Owner: how many of its waits had to sleep, since the gate was made.
  std::uint32_t lateWaits() const { return lateWaits_; }

  // Helper: runs `work` if the gate is open, holding the owner's close() back
  // until it returns. The helper marks itself inside before it looks at the
  // gate (both sequentially consistent), so it never works behind a closed one.
  template <class Work>
  void enter(Work&& work) {
    helping_.store(true, std::memory_order_seq_cst);
    if (open_.load(std::memory_order_seq_cst)) work();
    helping_.store(false, std::memory_order_seq_cst);
    pieceDone();
  }
  // Helper: after a piece of work the owner may be waiting for is published.
  // Its fence and the owner's order each side's store before its look at the
  // other's: either the owner sees the piece or the helper sees it asleep.
  void pieceDone() {
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (ownerAsleep_.load(std::memory_order_relaxed)) progress_.add(1);
  }

 private:
  alignas(64) std::atomic<bool> open_{false};
  std::atomic<bool> helping_{false};
  std::atomic<bool> ownerAsleep_{false};
  threading::WaitWord progress_;  // counts pieces done while the owner slept
  std::uint32_t lateWaits_ = 0;
};

}  // namespace vornisk
