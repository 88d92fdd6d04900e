// The title picture loader: an 18-byte header carrying width and height, then
// 24-bit BGR pixels, bottom row first, read straight into the title surface.
// A picture that ends early finishes black; one that could not fit the surface
// (or has no complete header) is refused before the surface is touched.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "console/demo_console.h"
#include "media/data_file.h"

namespace vornisk {
namespace {

constexpr std::size_t kHeaderBytes = 18;

}  // namespace

void DemoConsole::loadTitleImage(const char* fileName) {
  // Whatever happens below, the back buffer may no longer show the title.
  drawnEverywhere();
  // Read through stdio's buffer; a FIFO, device or folder is refused unopened.
  const DataFile data = openDataFile(fileName);
  if (!data.notRegular.empty()) throw ptc::DynamicError(data.notRegular);
  std::FILE* const file = data.file.get();
  if (file == nullptr) throw ptc::DynamicError("could not open image file for reading");

  unsigned char header[kHeaderBytes] = {};
  if (std::fread(header, 1, kHeaderBytes, file) != kHeaderBytes) {
    throw ptc::DynamicError("image file is shorter than its 18-byte header");
  }
  const std::size_t pictureWidth = header[12] + 256u * header[13];
  const std::size_t pictureHeight = header[14] + 256u * header[15];

  // The rows are stored packed with the picture's own stride, so only the word
  // count has to fit; checked before the surface is locked.
  if (!titleSurface) throw ptc::DynamicError("no title surface: the console is not open");
  const std::size_t surfaceWords = static_cast<std::size_t>(titleSurface->width()) *
                                   static_cast<std::size_t>(titleSurface->height());
  if (pictureWidth * pictureHeight > surfaceWords) {
    throw ptc::DynamicError("image of " + std::to_string(pictureWidth) + " x " +
                            std::to_string(pictureHeight) + " pixels is larger than the " +
                            std::to_string(titleSurface->width()) + " x " +
                            std::to_string(titleSurface->height()) + " title surface");
  }

  auto* const surface = static_cast<std::uint32_t*>(titleSurface->lock());
  if (pictureHeight >= 1) {
    // Stored row 0 is the bottom of the picture: it lands in the last memory row.
    std::uint32_t* row = surface + (pictureHeight - 1) * pictureWidth;
    for (std::size_t storedRow = 0; storedRow < pictureHeight; ++storedRow) {
      for (std::size_t x = 0; x < pictureWidth; ++x) {
        // Bytes a short file never delivers stay 0: the partly read pixel keeps
        // what it got, every later one is black.
        unsigned char bgr[3] = {0, 0, 0};
        (void)std::fread(bgr, 1, 3, file);
        row[x] = static_cast<std::uint32_t>(bgr[0]) | static_cast<std::uint32_t>(bgr[1]) << 8 |
                 static_cast<std::uint32_t>(bgr[2]) << 16;
      }
      if (storedRow + 1 < pictureHeight) row -= pictureWidth;
    }
  }
  titleSurface->unlock();
}

}  // namespace vornisk
