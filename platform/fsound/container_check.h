// Screening of music images before they reach the decoders: SDL2_mixer's WAV
// and AIFF readers divide by the channel count and the frame size they read
// from the header, so a header with 0 channels (or more than the mixer can
// convert) ends the whole process with a division by zero. Such images are
// refused here as an unknown format.
#pragma once

#include <cstddef>

namespace fsound {

// False when the image is a WAV or AIFF file whose format header no decoder
// can play; true for anything else (other formats are left to the decoders).
bool hasPlayableContainerHeader(const unsigned char* image, std::size_t length);

}  // namespace fsound
