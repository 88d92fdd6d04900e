// Work of the drawing thread that a helper thread may join while it is open.
// The owner opens the gate, works, and closes it; once close() returns, the
// helper has left and the owner may reuse everything the work touched.
#pragma once

#include <atomic>

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

class HelperGate {
 public:
  // Owner: whatever was written before open() is seen by a helper inside.
  void open() { open_.store(true, std::memory_order_seq_cst); }
  // Owner: returns once no helper is inside.
  void close() {
    open_.store(false, std::memory_order_seq_cst);
    while (helping_.load(std::memory_order_seq_cst))
      cpuRelax();
  }
  bool isOpen() const { return open_.load(std::memory_order_acquire); }

  // Helper: runs `work` if the gate is open, holding the owner's close() back
  // until it returns. The helper marks itself inside before it looks at the
  // gate (both sequentially consistent), so it never works behind a closed one.
  template <class Work>
  void enter(Work&& work) {
    helping_.store(true, std::memory_order_seq_cst);
    if (open_.load(std::memory_order_seq_cst)) work();
    helping_.store(false, std::memory_order_release);
  }

 private:
  alignas(64) std::atomic<bool> open_{false};
  std::atomic<bool> helping_{false};
};

}  // namespace vornisk
