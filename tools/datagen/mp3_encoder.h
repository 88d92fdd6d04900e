// The soundtrack as the show ships it: MP3, the one compressed format that
// SDL2_mixer and the Web Audio decoders of Chromium, Firefox and Safari all
// play, encoded by LAME.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace datagen {

// The soundtrack's mean bit rate: 174 s in 2.2 MB, so that the web page's
// whole first visit, compressed in transfer, stays within the 2,667 KiB that
// Lighthouse accepts without a payload warning (README.md, "In a web browser").
inline constexpr int kSoundtrackKbps = 104;

// Average bit rate `kbps`, joint stereo, with a LAME "Xing" frame first that
// tells decoders the encoder's delay and padding, so that they drop them and
// the decoded music starts on the show's first sample. Empty, with `error`
// set, when the encoder fails.
std::vector<unsigned char> encodeMp3(const std::vector<std::int16_t>& stereoSamples, int sampleRate,
                                     int kbps, std::string& error);

}  // namespace datagen
