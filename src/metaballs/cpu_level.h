// The x86-64 level the field's and the draws' vector code runs at, chosen once
// at run time from what the processor and the operating system support. Each
// fast path is built once per level from one always-inlined body, and
// cpu::pick() hands out the variant to call: no ELF ifunc is involved (as with
// GCC's function clones), so Windows and any other object format get the wide
// paths too. Every variant does the same IEEE and integer operations, so every
// level gives the same bits.
#pragma once

namespace vornisk::cpu {

enum class Level { Baseline, X86_64_V3, X86_64_V4 };

// GCC only: Clang's and ThreadSanitizer's builds stay at the baseline, and on
// other processors the three variants are the same code.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define VORNISK_FOR_X86_64_V3 __attribute__((target("arch=x86-64-v3")))
#define VORNISK_FOR_X86_64_V4 __attribute__((target("arch=x86-64-v4")))

inline Level level() {
  // libgcc's checks include the operating system's saving of the wide registers.
  static const Level chosen = [] {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("x86-64-v4")) return Level::X86_64_V4;
    if (__builtin_cpu_supports("x86-64-v3")) return Level::X86_64_V3;
    return Level::Baseline;
  }();
  return chosen;
}
#else
#define VORNISK_FOR_X86_64_V3
#define VORNISK_FOR_X86_64_V4

inline Level level() {
  return Level::Baseline;
}
#endif

// The variant of a fast path for this processor.
template <typename Function>
Function pick(Function forV4, Function forV3, Function baseline) {
  switch (level()) {
    case Level::X86_64_V4:
      return forV4;
    case Level::X86_64_V3:
      return forV3;
    case Level::Baseline:
      break;
  }
  return baseline;
}

}  // namespace vornisk::cpu
