// Screening of music images before they reach the decoders. SDL2_mixer trusts
// the headers it reads: a WAV or AIFF with 0 channels makes it divide by zero;
// a sample rate of a few hertz makes its resampler allocate gigabytes (and a
// rate in the megahertz overflow a size); and an image in none of the streamed
// formats goes to the tracker and MIDI decoders, which parse it whole, taking
// about 30 ms per megabyte of garbage. Such images are refused here as an
// unknown format, and the show plays on without music.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fsound {

// Sample rates and channel counts a header may give: from telephone-like rates
// well below any real music's to the fastest audio converters' 768 kHz; at most
// the 8 channels the mixer converts.
inline constexpr std::uint32_t kMinSampleRate = 1000;
inline constexpr std::uint32_t kMaxSampleRate = 768000;
inline constexpr std::uint32_t kMaxChannels = 8;
// Images without the signature of a streamed format (WAV, AIFF, Ogg, FLAC,
// MP3) are tracker modules or MIDI files, a few megabytes at most when real.
inline constexpr std::size_t kMaxWholeParsedBytes = 16u << 20;

// False when the image is one the decoders cannot be trusted with (see above);
// true for anything else, which is left to the decoders.
bool hasPlayableContainerHeader(const unsigned char* image, std::size_t length);

}  // namespace fsound
