// The show's two title pictures, drawn from scratch: chrome lettering of our own
// bitmap font over a synthwave horizon (starfield, striped sun, mountains and a
// perspective grid), written in the loader's format.
#pragma once

#include <vector>

namespace datagen {

enum class TitlePicture { Opening, Closing };

inline constexpr int kTitleWidth = 320;
inline constexpr int kTitleHeight = 240;

// The whole file: an 18-byte header (an uncompressed 24-bit TGA header with the
// origin at the bottom left), then BGR pixels, bottom row first.
std::vector<unsigned char> makeTitlePicture(TitlePicture which);

}  // namespace datagen
