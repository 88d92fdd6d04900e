// Sleeping on a word with a mutex and a condition variable. Words share 64
// pairs by address. The sleeper looks at the word with its pair's mutex held;
// the waker takes and drops that mutex after the change and before it
// notifies, so a sleeper either saw the change or was already waiting.
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "threading/threading.h"

namespace threading::fallback {
namespace {

struct Bucket {
  std::mutex mutex;
  std::condition_variable changed;
};

Bucket& bucketOf(const std::atomic<std::uint32_t>& word) {
  static Bucket buckets[64];
  const auto address = reinterpret_cast<std::uintptr_t>(&word);
  return buckets[(address / sizeof word) % 64];
}

}  // namespace

void sleepWhile(const std::atomic<std::uint32_t>& word, std::uint32_t seen) {
  Bucket& bucket = bucketOf(word);
  std::unique_lock lock(bucket.mutex);
  while (word.load(std::memory_order_acquire) == seen)
    bucket.changed.wait(lock);
}

void wakeAll(const std::atomic<std::uint32_t>& word) {
  Bucket& bucket = bucketOf(word);
  { std::lock_guard lock(bucket.mutex); }
  bucket.changed.notify_all();
}

}  // namespace threading::fallback
