// Resampling by area: each icon pixel is the mean of the picture area it
// covers, weighted by the covered fraction of each picture pixel. That one rule
// shrinks without aliasing the thin grid lines and enlarges (for 256 × 256)
// with blended seams between the enlarged pixels.
#include "icons.h"

#include <algorithm>
#include <cstddef>

#include "title_pictures.h"

namespace datagen {
namespace {

// The square of the picture between the lettering above and the caption below:
// the sun, the mountains and the grid. Columns and rows counted from the top.
constexpr int kCropLeft = 104;
constexpr int kCropTop = 90;
constexpr int kCropSize = 112;
constexpr int kHeaderBytes = 18;

// The crop's red, green and blue channels, top row first.
struct Crop {
  std::array<std::vector<double>, 3> channels;
};

Crop cropOpeningPicture() {
  const std::vector<unsigned char> file = makeTitlePicture(TitlePicture::Opening);
  Crop crop;
  for (auto& channel : crop.channels)
    channel.assign(kCropSize * kCropSize, 0.0);
  for (int row = 0; row < kCropSize; ++row) {
    // The file stores the bottom row first.
    const int fileRow = kTitleHeight - 1 - (kCropTop + row);
    for (int column = 0; column < kCropSize; ++column) {
      const std::size_t at =
          kHeaderBytes + 3 * static_cast<std::size_t>(fileRow * kTitleWidth + kCropLeft + column);
      const std::size_t to = static_cast<std::size_t>(row * kCropSize + column);
      crop.channels[0][to] = file[at + 2];  // red
      crop.channels[1][to] = file[at + 1];  // green
      crop.channels[2][to] = file[at];      // blue
    }
  }
  return crop;
}

// How much of source cell [cell, cell + 1) lies inside [from, to).
double overlap(int cell, double from, double to) {
  return std::max(0.0, std::min(to, cell + 1.0) - std::max(from, static_cast<double>(cell)));
}

}  // namespace

std::vector<std::uint32_t> makeIcon(int size) {
  const Crop crop = cropOpeningPicture();
  const double step = static_cast<double>(kCropSize) / size;
  std::vector<std::uint32_t> icon(static_cast<std::size_t>(size) * size);
  for (int y = 0; y < size; ++y) {
    const double top = y * step;
    const double bottom = top + step;
    for (int x = 0; x < size; ++x) {
      const double left = x * step;
      const double right = left + step;
      std::array<double, 3> sum = {0, 0, 0};
      double weightSum = 0;
      for (int row = static_cast<int>(top); row < kCropSize && row < bottom; ++row) {
        const double rowWeight = overlap(row, top, bottom);
        for (int column = static_cast<int>(left); column < kCropSize && column < right; ++column) {
          const double weight = rowWeight * overlap(column, left, right);
          const std::size_t at = static_cast<std::size_t>(row * kCropSize + column);
          for (std::size_t c = 0; c < 3; ++c)
            sum[c] += weight * crop.channels[c][at];
          weightSum += weight;
        }
      }
      std::uint32_t pixel = 0;
      for (std::size_t c = 0; c < 3; ++c) {
        const auto value = static_cast<std::uint32_t>(sum[c] / weightSum + 0.5);
        pixel = (pixel << 8) | std::min<std::uint32_t>(value, 255);
      }
      icon[static_cast<std::size_t>(y) * size + x] = pixel;
    }
  }
  return icon;
}

}  // namespace datagen
