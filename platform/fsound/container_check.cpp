#include "fsound/container_check.h"

#include <cstdint>
#include <cstring>

namespace fsound {
namespace {

// The mixer converts at most 8 channels.
constexpr std::uint32_t kMaxChannels = 8;

std::uint32_t little(const unsigned char* p, int bytes) {
  std::uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i)
    value = (value << 8) | p[i];
  return value;
}

std::uint32_t big(const unsigned char* p, int bytes) {
  std::uint32_t value = 0;
  for (int i = 0; i < bytes; ++i)
    value = (value << 8) | p[i];
  return value;
}

bool startsWith(const unsigned char* image, std::size_t length, std::size_t at, const char* tag) {
  return length >= at + 4 && std::memcmp(image + at, tag, 4) == 0;
}

// Finds the first chunk called `tag` after a 12-byte RIFF or FORM header;
// `bigEndian` chooses how chunk sizes are read. Returns its body, or nullptr.
const unsigned char* findChunk(const unsigned char* image, std::size_t length, const char* tag,
                               bool bigEndian, std::size_t& bodyLength) {
  std::size_t at = 12;
  while (at + 8 <= length) {
    const std::uint32_t size = bigEndian ? big(image + at + 4, 4) : little(image + at + 4, 4);
    if (std::memcmp(image + at, tag, 4) == 0) {
      bodyLength = static_cast<std::size_t>(size) < length - at - 8 ? size : length - at - 8;
      return image + at + 8;
    }
    // Chunk bodies are padded to an even length.
    const std::uint64_t next = static_cast<std::uint64_t>(at) + 8 + size + (size & 1u);
    if (next > length) break;
    at = static_cast<std::size_t>(next);
  }
  return nullptr;
}

bool playableWave(const unsigned char* image, std::size_t length) {
  std::size_t bodyLength = 0;
  const unsigned char* format = findChunk(image, length, "fmt ", false, bodyLength);
  if (format == nullptr || bodyLength < 16) return true;  // the decoder refuses it by itself
  const std::uint32_t channels = little(format + 2, 2);
  const std::uint32_t sampleRate = little(format + 4, 4);
  const std::uint32_t blockAlign = little(format + 12, 2);
  return channels >= 1 && channels <= kMaxChannels && sampleRate != 0 && blockAlign != 0;
}

bool playableAiff(const unsigned char* image, std::size_t length) {
  std::size_t bodyLength = 0;
  const unsigned char* common = findChunk(image, length, "COMM", true, bodyLength);
  if (common == nullptr || bodyLength < 8) return true;
  const std::uint32_t channels = big(common, 2);
  const std::uint32_t sampleBits = big(common + 6, 2);
  return channels >= 1 && channels <= kMaxChannels && sampleBits >= 1 && sampleBits <= 32;
}

}  // namespace

bool hasPlayableContainerHeader(const unsigned char* image, std::size_t length) {
  if (image == nullptr) return true;
  if (startsWith(image, length, 0, "RIFF") && startsWith(image, length, 8, "WAVE")) {
    return playableWave(image, length);
  }
  if (startsWith(image, length, 0, "FORM") &&
      (startsWith(image, length, 8, "AIFF") || startsWith(image, length, 8, "AIFC"))) {
    return playableAiff(image, length);
  }
  return true;
}

}  // namespace fsound
