// The show's soundtrack, synthesised from scratch: drums, bass, pads, a bell
// arpeggio and a lead, arranged so that its sections change with the show's.
#pragma once

#include <cstdint>
#include <vector>

namespace datagen {

inline constexpr int kSampleRate = 44100;
inline constexpr int kSoundtrackSeconds = 174;
inline constexpr std::int64_t kSoundtrackFrames =
    static_cast<std::int64_t>(kSampleRate) * kSoundtrackSeconds;

// 16-bit stereo at 44.1 kHz, left and right interleaved: the same bits on
// every machine.
std::vector<std::int16_t> makeSoundtrackSamples();

// The samples in a canonical 44-byte WAV header (PCM, 16-bit, stereo, 44.1 kHz).
std::vector<unsigned char> wavFile(const std::vector<std::int16_t>& samples);

}  // namespace datagen
