// The show's one random generator: a 32-bit linear congruential generator whose
// draws are 0..32767. Every probability in the show depends on this range and on
// the order of the draws, so there is exactly one process-wide state.
#pragma once

#include <cstdint>

namespace vornisk {

namespace random_detail {
// The generator's step: state · kMultiplier + kIncrement (mod 2^32).
inline constexpr std::uint32_t kMultiplier = 214013u;
inline constexpr std::uint32_t kIncrement = 2531011u;
inline constexpr std::uint32_t kLargestDraw = 0x7FFFu;
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
  random_detail::state =
      random_detail::state * random_detail::kMultiplier + random_detail::kIncrement;
  return (random_detail::state >> 16) & random_detail::kLargestDraw;
}

// Whether m divides a draw d, without dividing: for d < 2^15 and m ≥ 2, m
// divides d exactly when the low 32 bits of d·f are below f, with the factor
// f = ⌊(2^32 − 1) / min(m, 2^15)⌋ + 1 (the 32-bit case of Lemire, Kaser and
// Kurz, "Faster remainder by direct computation"; a modulus above 32767
// divides only the draw 0, as 2^15 does).
constexpr std::uint32_t drawDivisibilityFactor(std::uint32_t modulus) {
  return 0xFFFFFFFFu / (modulus < 32768u ? modulus : 32768u) + 1u;
}
constexpr bool drawDivisibleBy(std::uint32_t draw, std::uint32_t factor) {
  return draw * factor < factor;
}

// Whether a draw's remainder by 1000 is below `limit` (0..999), without
// dividing: with c = ⌈2^32 / 1000⌉, the low 32 bits of d·c are (d mod 1000)
// thousandths of 2^32 plus less than one, for every d < 2^15 (Lemire, Kaser
// and Kurz again), so d mod 1000 < limit exactly when they are below
// drawRemainderBound(limit) = ⌈limit · 2^32 / 1000⌉.
inline constexpr std::uint32_t kThousandthFactor = 4294968u;  // ⌈2^32 / 1000⌉
constexpr std::uint32_t drawRemainderBound(std::uint32_t limit) {
  return static_cast<std::uint32_t>(((std::uint64_t{limit} << 32) + 999u) / 1000u);
}
constexpr bool drawRemainderBelow(std::uint32_t draw, std::uint32_t bound) {
  return draw * kThousandthFactor < bound;
}

// Replaces the draws with a script (tests only); nullptr restores the generator.
void setRandomScript(random_detail::Script script, void* context);

}  // namespace vornisk
