// PNG encoding with libpng, into memory: 8-bit RGB, no interlace, no filter
// (filter 0 on every row), zlib's fastest level.
#include "capture/png_writer.h"

#include <png.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace capture {
namespace {

// Frames are flat colour with thin lines, or a picture: the fastest level
// compresses them nearly as well as the default, at a fraction of the time.
// Run-length matching alone was no faster here and doubled the files;
// filtering would cost time for little gain at this level.
constexpr int kCompressionLevel = Z_BEST_SPEED;
constexpr int kCompressionStrategy = Z_DEFAULT_STRATEGY;

void appendToFile(png_structp png, png_bytep data, png_size_t length) {
  auto* file = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(png));
  file->insert(file->end(), data, data + length);
}

void flushNothing(png_structp) {}

// libpng reports errors by longjmp (running out of memory is the only one
// these settings allow); encode() then leaves the file empty and write() says so.
[[noreturn]] void failEncoding(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}
void ignoreWarning(png_structp, png_const_charp) {}

}  // namespace

void PngWriter::encode(const std::uint32_t* pixels, int width, int height) {
  const std::size_t scale = scale_;
  const std::size_t outWidth = static_cast<std::size_t>(width) * scale;
  const std::size_t outHeight = static_cast<std::size_t>(height) * scale;
  const std::size_t rowBytes = outWidth * 3;

  // R, G, B per pixel. A source row is built once and repeated `scale` times.
  rows_.resize(rowBytes * outHeight);
  for (int memoryRow = 0; memoryRow < height; ++memoryRow) {
    unsigned char* row = rows_.data() + static_cast<std::size_t>(memoryRow) * scale * rowBytes;
    unsigned char* out = row;
    const std::uint32_t* in = pixels + static_cast<std::size_t>(memoryRow) * width;
    for (int x = 0; x < width; ++x) {
      const std::uint32_t word = in[x];
      for (std::size_t copy = 0; copy < scale; ++copy) {
        *out++ = static_cast<unsigned char>(word >> 16);
        *out++ = static_cast<unsigned char>(word >> 8);
        *out++ = static_cast<unsigned char>(word);
      }
    }
    for (std::size_t copy = 1; copy < scale; ++copy) {
      std::memcpy(row + copy * rowBytes, row, rowBytes);
    }
  }
  rowPointers_.resize(outHeight);
  for (std::size_t row = 0; row < outHeight; ++row)
    rowPointers_[row] = rows_.data() + row * rowBytes;

  file_.clear();
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, failEncoding, ignoreWarning);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_write_struct(&png, &info);
    file_.clear();
    return;
  }
  png_set_write_fn(png, &file_, appendToFile, flushNothing);
  png_set_IHDR(png, info, static_cast<png_uint_32>(outWidth), static_cast<png_uint_32>(outHeight),
               8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  png_set_compression_level(png, kCompressionLevel);
  png_set_compression_strategy(png, kCompressionStrategy);
  png_write_info(png, info);
  png_write_image(png, rowPointers_.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
}

std::string PngWriter::write(const std::string& path, const std::uint32_t* pixels, int width,
                             int height) {
  encode(pixels, width, height);
  if (file_.empty()) return "cannot encode " + path + ": libpng failed";
  const std::string temporary = path + ".part";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) return "cannot write " + temporary + ": " + std::strerror(errno);
  const bool written = std::fwrite(file_.data(), 1, file_.size(), file) == file_.size();
  const int writeErrno = errno;
  if (std::fclose(file) != 0 || !written) {
    std::remove(temporary.c_str());
    return "cannot write " + temporary + ": " + std::strerror(written ? errno : writeErrno);
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    const int renameErrno = errno;
    std::remove(temporary.c_str());
    return "cannot rename " + temporary + " to " + path + ": " + std::strerror(renameErrno);
  }
  return {};
}

}  // namespace capture
