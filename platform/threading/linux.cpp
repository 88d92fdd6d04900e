// Futexes, and the processors the scheduler and the control group allow.
#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <ctime>

#include "threading/threading.h"

namespace threading {

void sleepWhile(const std::atomic<std::uint32_t>& word, std::uint32_t seen) {
  static_assert(sizeof word == sizeof(std::uint32_t));
  // The kernel compares the word with `seen` and sleeps in one step; a
  // signal or a spurious wake-up returns early, which callers allow for.
  syscall(SYS_futex, reinterpret_cast<const std::uint32_t*>(&word), FUTEX_WAIT_PRIVATE, seen,
          nullptr, nullptr, 0);
}

void wakeAll(const std::atomic<std::uint32_t>& word) {
  syscall(SYS_futex, reinterpret_cast<const std::uint32_t*>(&word), FUTEX_WAKE_PRIVATE, INT_MAX,
          nullptr, nullptr, 0);
}

void nameThisThread(const char* name) {
  pthread_setname_np(pthread_self(), name);
}

namespace {

// The control group's quota in whole processors, or INT_MAX without one:
// cgroup v2's cpu.max ("max 100000" or "50000 100000"), else v1's pair of files.
int quotaProcessors() {
  long long quota = -1, period = 0;
  if (std::FILE* file = std::fopen("/sys/fs/cgroup/cpu.max", "r")) {
    char first[32] = {};
    if (std::fscanf(file, "%31s %lld", first, &period) == 2 && first[0] != 'm') {
      std::sscanf(first, "%lld", &quota);
    }
    std::fclose(file);
  } else if (std::FILE* quotaFile = std::fopen("/sys/fs/cgroup/cpu/cpu.cfs_quota_us", "r")) {
    if (std::fscanf(quotaFile, "%lld", &quota) != 1) quota = -1;
    std::fclose(quotaFile);
    if (std::FILE* periodFile = std::fopen("/sys/fs/cgroup/cpu/cpu.cfs_period_us", "r")) {
      if (std::fscanf(periodFile, "%lld", &period) != 1) period = 0;
      std::fclose(periodFile);
    }
  }
  if (quota <= 0 || period <= 0) return INT_MAX;
  const long long whole = quota / period;
  return whole < 1 ? 1 : whole > INT_MAX ? INT_MAX : static_cast<int>(whole);
}

}  // namespace

int usableProcessors() {
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  int count = sched_getaffinity(0, sizeof allowed, &allowed) == 0 ? CPU_COUNT(&allowed) : 1;
  // The quota changes rarely and costs a file read: looked at once a process.
  static const int quota = quotaProcessors();
  if (quota < count) count = quota;
  return count < 1 ? 1 : count;
}

std::int64_t thisThreadCpuNanoseconds() {
  timespec now{};
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) != 0) return -1;
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

}  // namespace threading
