// The show's one random generator: a 32-bit linear congruential generator whose
// draws are 0..32767. Every probability in the show depends on this range and on
// the order of the draws, so there is exactly one process-wide state.
#pragma once

#include <cstdint>

namespace vornisk {

namespace random_detail {
extern std::uint32_t state;
using Script = std::uint32_t (*)(void* context);
extern Script script;
extern void* scriptContext;
}  // namespace random_detail

inline void seedRandom(std::uint32_t seed) {
  random_detail::state = seed;
}

inline std::uint32_t nextRandom() {
  if (random_detail::script != nullptr) [[unlikely]] {
    return random_detail::script(random_detail::scriptContext);
  }
  random_detail::state = random_detail::state * 214013u + 2531011u;
  return (random_detail::state >> 16) & 0x7FFFu;
}

// Replaces the draws with a script (tests only); nullptr restores the generator.
void setRandomScript(random_detail::Script script, void* context);

}  // namespace vornisk
