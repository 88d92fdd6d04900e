// The application icon: the sunset at the heart of the opening title picture,
// cut to a square and resampled to each size of the desktop's icon theme.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace datagen {

// The sizes of the hicolor theme's fixed-size folders ("16x16/apps", ...).
inline constexpr std::array<int, 7> kIconSizes = {16, 24, 32, 48, 64, 128, 256};
// The web page's icons: its own small one, and the two sizes a web app
// manifest must list for browsers to offer installing the page.
inline constexpr std::array<int, 3> kWebIconSizes = {32, 192, 512};

// size × size pixels as 0x00RRGGBB, top row first.
std::vector<std::uint32_t> makeIcon(int size);

}  // namespace datagen
