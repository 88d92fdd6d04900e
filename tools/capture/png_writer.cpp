// PNG encoding into memory: 8-bit RGB, no interlace, no filter (filter 0 on
// every row). Two deflaters behind one row builder: libpng with zlib's fastest
// level, and ISA-L's with the four chunks written here.
#include "capture/png_writer.h"

#include <png.h>
#include <zlib.h>
#if VORNISK_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "capture/crc32.h"

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

#if VORNISK_HAVE_ISAL
// ISA-L's level 1 with its default working memory: measured on the show's
// frames, level 2 and 3 cost more time than the smaller files save in writing.
constexpr std::uint32_t kIsalLevel = 1;
constexpr std::size_t kIsalLevelBufferSize = ISAL_DEF_LVL1_DEFAULT;

void putBigEndian(unsigned char* at, std::uint32_t value) {
  at[0] = static_cast<unsigned char>(value >> 24);
  at[1] = static_cast<unsigned char>(value >> 16);
  at[2] = static_cast<unsigned char>(value >> 8);
  at[3] = static_cast<unsigned char>(value);
}

// Completes the chunk at `chunk` whose `length` data bytes are already in place
// after its 8-byte head: length, type and the CRC of type and data. Returns the
// chunk's whole size.
std::size_t sealChunk(unsigned char* chunk, const char* type, std::uint32_t length) {
  putBigEndian(chunk, length);
  std::memcpy(chunk + 4, type, 4);
  putBigEndian(chunk + 8 + length, crc32Of(chunk + 4, std::size_t{length} + 4));
  return std::size_t{length} + 12;
}
#endif

// 0x00RRGGBB as the word whose bytes in memory are R, G, B, 0.
std::uint32_t rgbInMemoryOrder(std::uint32_t word) {
  const std::uint32_t red = word >> 16 & 0xFF, green = word >> 8 & 0xFF, blue = word & 0xFF;
  if constexpr (std::endian::native == std::endian::little) {
    return red | green << 8 | blue << 16;
  } else {
    return red << 24 | green << 16 | blue << 8;
  }
}

}  // namespace

void PngWriter::reserve(int width, int height) {
  const std::size_t rowBytes = 1 + static_cast<std::size_t>(width) * scale_ * 3;
  const std::size_t rawSize = rowBytes * static_cast<std::size_t>(height) * scale_;
  // Both taken before either is filled: a shortage shows at once.
  rows_.reserve(rawSize + 1);
  // The deflated file, even of incompressible rows (see encodeWithIsal's bound).
  file_.reserve(rawSize + rawSize / 4096 + 1024);
  rows_.resize(rawSize + 1);
}

void PngWriter::encode(const std::uint32_t* pixels, int width, int height) {
  const std::size_t scale = scale_;
  const std::size_t outWidth = static_cast<std::size_t>(width) * scale;
  const std::size_t outHeight = static_cast<std::size_t>(height) * scale;
  const std::size_t rowBytes = 1 + outWidth * 3;

  // A source row is built once, then repeated `scale` times. Each pixel is
  // stored as four bytes, R, G, B and one that the next store overwrites: one
  // spare byte at the end takes the last one.
  rows_.resize(rowBytes * outHeight + 1);
  for (int memoryRow = 0; memoryRow < height; ++memoryRow) {
    unsigned char* row = rows_.data() + static_cast<std::size_t>(memoryRow) * scale * rowBytes;
    unsigned char* out = row;
    *out++ = 0;  // filter type 0: the bytes as they are
    const std::uint32_t* in = pixels + static_cast<std::size_t>(memoryRow) * width;
    for (int x = 0; x < width; ++x) {
      const std::uint32_t rgbx = rgbInMemoryOrder(in[x]);
      for (std::size_t copy = 0; copy < scale; ++copy, out += 3) {
        std::memcpy(out, &rgbx, 4);
      }
    }
    for (std::size_t copy = 1; copy < scale; ++copy) {
      std::memcpy(row + copy * rowBytes, row, rowBytes);
    }
  }
  if (encoder_ == PngEncoder::Fastest) {
    encodeWithIsal(outWidth, outHeight);
  } else {
    encodeWithZlib(outWidth, outHeight);
  }
}

void PngWriter::encodeWithZlib(std::size_t width, std::size_t height) {
  const std::size_t rowBytes = 1 + width * 3;
  rowPointers_.resize(height);
  // libpng writes each row's filter byte itself.
  for (std::size_t row = 0; row < height; ++row)
    rowPointers_[row] = rows_.data() + row * rowBytes + 1;

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
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  png_set_compression_level(png, kCompressionLevel);
  png_set_compression_strategy(png, kCompressionStrategy);
  png_write_info(png, info);
  png_write_image(png, rowPointers_.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
}

void PngWriter::encodeWithIsal(std::size_t width, std::size_t height) {
#if VORNISK_HAVE_ISAL
  const std::size_t rawSize = rows_.size() - 1;  // without the spare byte
  // Incompressible rows become stored blocks, 5 bytes of head per 65,535: the
  // bound has room to spare. A chunk's length must stay below 2^31, which
  // the largest scale's frames (under 1 GB of rows) do.
  const std::size_t bound = rawSize + rawSize / 4096 + ISAL_DEF_MAX_HDR_SIZE + 64;
  static constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  file_.resize(sizeof kSignature + 25 + 12 + bound + 12);
  unsigned char* at = file_.data();
  std::memcpy(at, kSignature, sizeof kSignature);
  at += sizeof kSignature;

  // Width, height, 8 bits per channel, colour type 2 (RGB), deflate, filter
  // method 0, no interlace.
  putBigEndian(at + 8, static_cast<std::uint32_t>(width));
  putBigEndian(at + 12, static_cast<std::uint32_t>(height));
  const unsigned char format[5] = {8, 2, 0, 0, 0};
  std::memcpy(at + 16, format, sizeof format);
  at += sealChunk(at, "IHDR", 13);

  // The zlib stream (header and Adler-32 included) straight into the IDAT chunk.
  isal_zstream stream{};  // zeroed: ISA-L reads its hash tables before it has filled them
  isal_deflate_stateless_init(&stream);
  deflateBuffer_.resize(kIsalLevelBufferSize);
  stream.level = kIsalLevel;
  stream.level_buf = deflateBuffer_.data();
  stream.level_buf_size = static_cast<std::uint32_t>(deflateBuffer_.size());
  stream.gzip_flag = IGZIP_ZLIB;
  stream.end_of_stream = 1;
  stream.flush = NO_FLUSH;
  stream.next_in = rows_.data();
  stream.avail_in = static_cast<std::uint32_t>(rawSize);
  stream.next_out = at + 8;
  stream.avail_out = static_cast<std::uint32_t>(bound);
  const int status = isal_deflate_stateless(&stream);
  clearUpperVectorState();
  if (status != COMP_OK) {
    file_.clear();
    return;
  }
  at += sealChunk(at, "IDAT", stream.total_out);
  at += sealChunk(at, "IEND", 0);
  file_.resize(static_cast<std::size_t>(at - file_.data()));
#else
  encodeWithZlib(width, height);
#endif
}

std::string PngWriter::write(const std::string& path, const std::uint32_t* pixels, int width,
                             int height) {
  encode(pixels, width, height);
  if (file_.empty()) {
    const bool isal = VORNISK_HAVE_ISAL && encoder_ == PngEncoder::Fastest;
    return "cannot encode " + path + (isal ? ": ISA-L failed" : ": libpng failed");
  }
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
