// PNG stills of captured frames, encoded by libpng: 8-bit RGB, filter 0 on
// every row, enlarged by whole-pixel replication. A file appears under its final
// name only once complete (written to a temporary name, then renamed).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace capture {

class PngWriter {
 public:
  explicit PngWriter(std::uint32_t scale) : scale_(scale) {}

  // Encodes packed 0x00RRGGBB rows (memory row 0 at the top) as a PNG file.
  // Returns an empty string, or a one-line description of what went wrong.
  std::string write(const std::string& path, const std::uint32_t* pixels, int width, int height);

  // Encodes without writing; the bytes stay available through encoded() (none
  // if libpng failed).
  void encode(const std::uint32_t* pixels, int width, int height);
  const std::vector<unsigned char>& encoded() const { return file_; }

 private:
  std::uint32_t scale_;
  // Reused between frames: a long capture writes thousands of them.
  std::vector<unsigned char> rows_;
  std::vector<unsigned char*> rowPointers_;
  std::vector<unsigned char> file_;
};

}  // namespace capture
