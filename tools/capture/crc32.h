// CRC-32 as zlib and PNG define it, at memory speed where ISA-L is built in.
#pragma once

#include <cstddef>
#include <cstdint>

namespace capture {

// The CRC of `size` bytes continuing from `crc` (0 to start): ISA-L's folding
// with carry-less multiplication where it is built in, zlib's otherwise.
std::uint32_t crc32Of(const void* bytes, std::size_t size, std::uint32_t crc = 0);

// To call after ISA-L's hand-written AVX-512 code, which returns with the upper
// halves of the vector registers in use: until they are cleared, every SSE
// instruction compiled code runs afterwards on this thread may pay a transition
// penalty (measured here: the whole show's rendering 40 % slower after each
// frame's CRC). Does nothing where there is no AVX.
void clearUpperVectorState();

}  // namespace capture
