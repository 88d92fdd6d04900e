// PNG encoding with zlib: signature, IHDR, one IDAT of filter-0 rows, IEND.
#include "capture/png_writer.h"

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace capture {
namespace {

// Frames are flat colour with thin lines: the fastest level compresses them
// nearly as well as the default, at a fraction of the time.
constexpr int kCompressionLevel = Z_BEST_SPEED;

void putBigEndian32(std::vector<unsigned char>& out, std::uint32_t value) {
  out.push_back(static_cast<unsigned char>(value >> 24));
  out.push_back(static_cast<unsigned char>(value >> 16));
  out.push_back(static_cast<unsigned char>(value >> 8));
  out.push_back(static_cast<unsigned char>(value));
}

// Appends a chunk: length, type, data, and the CRC of type and data.
void putChunk(std::vector<unsigned char>& out, const char type[4], const unsigned char* data,
              std::size_t length) {
  putBigEndian32(out, static_cast<std::uint32_t>(length));
  const std::size_t typeStart = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data, data + length);
  const uLong crc = crc32(0L, out.data() + typeStart, static_cast<uInt>(length + 4));
  putBigEndian32(out, static_cast<std::uint32_t>(crc));
}

}  // namespace

void PngWriter::encode(const std::uint32_t* pixels, int width, int height) {
  const std::size_t scale = scale_;
  const std::size_t outWidth = static_cast<std::size_t>(width) * scale;
  const std::size_t outHeight = static_cast<std::size_t>(height) * scale;
  const std::size_t rowBytes = 1 + outWidth * 3;

  // Raw scanlines: a filter byte of 0, then R, G, B per pixel. A source row is
  // built once and repeated `scale` times.
  rows_.resize(rowBytes * outHeight);
  for (int memoryRow = 0; memoryRow < height; ++memoryRow) {
    unsigned char* row = rows_.data() + static_cast<std::size_t>(memoryRow) * scale * rowBytes;
    row[0] = 0;
    unsigned char* out = row + 1;
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

  static constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  file_.assign(kSignature, kSignature + 8);

  std::vector<unsigned char> header;
  putBigEndian32(header, static_cast<std::uint32_t>(outWidth));
  putBigEndian32(header, static_cast<std::uint32_t>(outHeight));
  // Bit depth 8, colour type 2 (RGB), deflate, adaptive filtering, no interlace.
  header.insert(header.end(), {8, 2, 0, 0, 0});
  putChunk(file_, "IHDR", header.data(), header.size());

  uLongf compressedSize = compressBound(static_cast<uLong>(rows_.size()));
  idat_.resize(compressedSize);
  // compress2 fails only on a too-small buffer or a bad level; neither can occur.
  compress2(idat_.data(), &compressedSize, rows_.data(), static_cast<uLong>(rows_.size()),
            kCompressionLevel);
  putChunk(file_, "IDAT", idat_.data(), compressedSize);
  putChunk(file_, "IEND", nullptr, 0);
}

std::string PngWriter::write(const std::string& path, const std::uint32_t* pixels, int width,
                             int height) {
  encode(pixels, width, height);
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
