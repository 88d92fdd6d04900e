// The CRC helper and the vector-state reset that goes with ISA-L's code.
#include "capture/crc32.h"

#include <zlib.h>
#if VORNISK_HAVE_ISAL
#include <isa-l/crc.h>
#endif

namespace capture {

void clearUpperVectorState() {
#if VORNISK_HAVE_ISAL && defined(__x86_64__)
  // vzeroupper does not exist on processors without AVX; ISA-L uses none there.
  static const bool hasAvx = __builtin_cpu_supports("avx");
  if (hasAvx) asm volatile("vzeroupper" ::: "memory");
#endif
}

std::uint32_t crc32Of(const void* bytes, std::size_t size, std::uint32_t crc) {
#if VORNISK_HAVE_ISAL
  const std::uint32_t result = crc32_gzip_refl(crc, static_cast<const unsigned char*>(bytes),
                                               static_cast<std::uint64_t>(size));
  clearUpperVectorState();
  return result;
#else
  return static_cast<std::uint32_t>(crc32_z(crc, static_cast<const Bytef*>(bytes), size));
#endif
}

}  // namespace capture
