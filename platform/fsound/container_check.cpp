#include "fsound/container_check.h"

#include <cstring>

namespace fsound {
namespace {

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
  const std::size_t size = std::strlen(tag);
  return length >= at + size && std::memcmp(image + at, tag, size) == 0;
}

bool rateAndChannelsFit(std::uint32_t sampleRate, std::uint32_t channels) {
  return sampleRate >= kMinSampleRate && sampleRate <= kMaxSampleRate && channels >= 1 &&
         channels <= kMaxChannels;
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
  const std::uint32_t blockAlign = little(format + 12, 2);
  return rateAndChannelsFit(little(format + 4, 4), little(format + 2, 2)) && blockAlign != 0;
}

// The rate is an 80-bit extended float: sign and 15-bit exponent, then a 64-bit
// mantissa with its integer bit on top.
std::uint32_t extendedToRate(const unsigned char* p) {
  const int exponent = static_cast<int>(big(p, 2) & 0x7FFF) - 16383;
  if (exponent < 0) return 0;
  if (exponent > 31) return UINT32_MAX;
  return big(p + 2, 4) >> (31 - exponent);
}

bool playableAiff(const unsigned char* image, std::size_t length) {
  std::size_t bodyLength = 0;
  const unsigned char* common = findChunk(image, length, "COMM", true, bodyLength);
  if (common == nullptr || bodyLength < 18) return true;
  const std::uint32_t sampleBits = big(common + 6, 2);
  return rateAndChannelsFit(extendedToRate(common + 8), big(common, 2)) && sampleBits >= 1 &&
         sampleBits <= 32;
}

// STREAMINFO, the first metadata block: 20 bits of sample rate at byte 10 of
// its body, then 3 bits of channels less one.
bool playableFlac(const unsigned char* image, std::size_t length) {
  if (length < 8 + 18 || (image[4] & 0x7F) != 0) return true;
  const unsigned char* info = image + 8;
  const std::uint32_t rate = big(info + 10, 3) >> 4;
  return rateAndChannelsFit(rate, ((info[12] >> 1) & 7u) + 1);
}

// The first packet of the first Ogg page: Vorbis's or Opus's identification
// header (Opus always decodes at 48 kHz; its rate field is only informative).
bool playableOgg(const unsigned char* image, std::size_t length) {
  if (length < 27) return true;
  const std::size_t packet = 27 + std::size_t{image[26]};
  if (startsWith(image, length, packet, "\x01vorbis") && length >= packet + 16) {
    return rateAndChannelsFit(little(image + packet + 12, 4), image[packet + 11]);
  }
  if (startsWith(image, length, packet, "OpusHead") && length >= packet + 10) {
    return rateAndChannelsFit(48000, image[packet + 9]);
  }
  return true;
}

bool isMpegAudio(const unsigned char* image, std::size_t length) {
  return startsWith(image, length, 0, "ID3") ||
         (length >= 2 && image[0] == 0xFF && (image[1] & 0xE0) == 0xE0);
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
  if (startsWith(image, length, 0, "fLaC")) return playableFlac(image, length);
  if (startsWith(image, length, 0, "OggS")) return playableOgg(image, length);
  return isMpegAudio(image, length) || length <= kMaxWholeParsedBytes;
}

}  // namespace fsound
