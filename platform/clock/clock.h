// The millisecond clock the show reads: unsigned 32-bit milliseconds that wrap
// after about 49.7 days. Callers only ever take unsigned differences of two
// readings, so a wrap in the middle of the show changes nothing.
//
// The time source can be replaced: tests script it, and the capture tool drives
// the show with a virtual clock that advances per presented frame.
#pragma once

#include <cstdint>

// Milliseconds from the current time source (a monotonic clock by default).
std::uint32_t timeGetTime();

namespace timing {

// A time source returns the current reading; `context` is passed back unchanged.
using TimeSource = std::uint32_t (*)(void* context);

// Makes `source` the clock of timeGetTime(); nullptr restores the monotonic clock.
// Set it from the thread that runs the show, before the show starts.
void setTimeSource(TimeSource source, void* context);

// Installs a time source for the lifetime of the object, then restores the monotonic clock.
class ScopedTimeSource {
 public:
  ScopedTimeSource(TimeSource source, void* context) { setTimeSource(source, context); }
  ~ScopedTimeSource() { setTimeSource(nullptr, nullptr); }
  ScopedTimeSource(const ScopedTimeSource&) = delete;
  ScopedTimeSource& operator=(const ScopedTimeSource&) = delete;
};

// Milliseconds of the monotonic clock, truncated to 32 bits.
std::uint32_t monotonicMilliseconds();

}  // namespace timing
