// Monotonic millisecond clock with a replaceable source.
#include "clock/clock.h"

#include <chrono>

namespace timing {
namespace {

TimeSource currentSource = nullptr;
void* currentContext = nullptr;

}  // namespace

void setTimeSource(TimeSource source, void* context) {
  currentSource = source;
  currentContext = context;
}

#ifndef __EMSCRIPTEN__
// (In a web browser the page's clock takes its place: web_clock.cpp.)
std::uint32_t monotonicMilliseconds() {
  const auto sinceEpoch = std::chrono::steady_clock::now().time_since_epoch();
  const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch);
  // Keep the low 32 bits: readings wrap like the classic multimedia timer.
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(milliseconds.count()));
}
#endif

}  // namespace timing

std::uint32_t timeGetTime() {
  if (timing::currentSource != nullptr) return timing::currentSource(timing::currentContext);
  return timing::monotonicMilliseconds();
}
