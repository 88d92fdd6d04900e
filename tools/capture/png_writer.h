// PNG stills of captured frames: 8-bit RGB, filter 0 on every row, enlarged by
// whole-pixel replication. A file appears under its final name only once
// complete (written to a temporary name, then renamed).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace capture {

enum class PngEncoder {
  // libpng with zlib: the same bytes on every machine (the data generator's
  // icons are compared across builds).
  Zlib,
  // ISA-L's deflate with the chunks written here, where ISA-L is built in:
  // several times zlib's speed, other bytes, the same pixels. Zlib otherwise.
  Fastest,
};

class PngWriter {
 public:
  explicit PngWriter(std::uint32_t scale, PngEncoder encoder = PngEncoder::Zlib)
      : scale_(scale), encoder_(encoder) {}

  // Encodes packed 0x00RRGGBB rows (memory row 0 at the top) as a PNG file.
  // Returns an empty string, or a one-line description of what went wrong.
  std::string write(const std::string& path, const std::uint32_t* pixels, int width, int height);

  // Takes the buffers for frames of this size now (std::bad_alloc when memory
  // is short), so that writing them later needs no more.
  void reserve(int width, int height);

  // Encodes without writing; the bytes stay available through encoded() (none
  // if the encoder failed).
  void encode(const std::uint32_t* pixels, int width, int height);
  const std::vector<unsigned char>& encoded() const { return file_; }

 private:
  void encodeWithZlib(std::size_t width, std::size_t height);
  void encodeWithIsal(std::size_t width, std::size_t height);

  std::uint32_t scale_;
  PngEncoder encoder_;
  // Reused between frames: a long capture writes thousands of them.
  std::vector<unsigned char> rows_;  // each row: its filter byte (0), then R, G, B per pixel
  std::vector<unsigned char*> rowPointers_;
  std::vector<unsigned char> deflateBuffer_;  // ISA-L's working memory
  std::vector<unsigned char> file_;
};

}  // namespace capture
