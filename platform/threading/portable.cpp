// Systems without an address wait of their own: the mutex and condition
// variable pairs, and the processors the standard library reports.
#include <ctime>
#include <thread>

#include "threading/threading.h"

namespace threading {

void sleepWhile(const std::atomic<std::uint32_t>& word, std::uint32_t seen) {
  fallback::sleepWhile(word, seen);
}

void wakeAll(const std::atomic<std::uint32_t>& word) {
  fallback::wakeAll(word);
}

void nameThisThread(const char*) {}

int usableProcessors() {
  const unsigned count = std::thread::hardware_concurrency();
  return count == 0 ? 1 : static_cast<int>(count);
}

std::int64_t thisThreadCpuNanoseconds() {
#ifdef CLOCK_THREAD_CPUTIME_ID
  timespec now{};
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) != 0) return -1;
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
#else
  return -1;
#endif
}

}  // namespace threading
