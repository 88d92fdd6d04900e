// The title picture loader on a headless console: header fields, row order and
// byte order, short files finishing black, and files refused before the title
// surface is touched.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace vornisk {
namespace {

constexpr std::uint32_t kUntouched = 0x00ABCDEF;

// The 18-byte header written out by hand (width at 12..13, height at 14..15,
// little-endian; the rest ignored), then `pixels` as stored.
std::vector<unsigned char> picture(int width, int height, std::vector<unsigned char> pixels = {}) {
  std::vector<unsigned char> bytes = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  for (const int field : {width, height, 24})
    bytes.insert(bytes.end(),
                 {static_cast<unsigned char>(field), static_cast<unsigned char>(field >> 8)});
  bytes.insert(bytes.end(), pixels.begin(), pixels.end());
  return bytes;
}

class TitleImage : public ::testing::Test {
 protected:
  void TearDown() override { std::filesystem::remove_all(directory_); }
  // Loads `bytes` as the title; the surface's words after it.
  testing::Frame load(const std::vector<unsigned char>& bytes) {
    testing::writeFile(directory_ + "/title._vq", bytes);
    console_.loadTitleImage((directory_ + "/title._vq").c_str());
    return {console_.title(), console_.title() + 320 * 240};
  }
  std::string directory_ = testing::makeTempDirectory();
  testing::HeadlessConsole console_{320, 240, kUntouched};
};

TEST_F(TitleImage, StoredRowsFillTheSurfaceBottomUpInBlueGreenRedOrder) {
  // 2 × 2: the first stored row lands in memory row 1, the second in row 0.
  testing::Frame expected(320 * 240, kUntouched);
  expected[0] = 0x00090807u;
  expected[1] = 0x000C0B0Au;
  expected[2] = 0x00030201u;
  expected[3] = 0x00060504u;
  EXPECT_EQ(load(picture(2, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12})), expected);

  // Cut inside a pixel: it keeps the bytes it got; the rest of it and every
  // later pixel are black, and the words past the picture stay as they were.
  expected[0] = 0x00000807u;
  expected[1] = 0;
  EXPECT_EQ(load(picture(2, 2, {1, 2, 3, 4, 5, 6, 7, 8})), expected);
  expected[2] = expected[3] = expected[0] = 0;
  EXPECT_EQ(load(picture(2, 2)), expected) << "header only: all black";

  // 640 × 120 has the surface's word count, so it is accepted with its own
  // row stride: memory row r holds stored row 119 - r.
  const auto word = [](int x, int r) { return static_cast<std::uint32_t>(x << 8 | r); };
  const testing::Frame wide = load(testing::titlePicture(640, 120, word));
  for (int i = 0; i < 320 * 240; ++i)
    ASSERT_EQ(wide[static_cast<std::size_t>(i)], word(i % 640, i / 640)) << "word " << i;
}

TEST_F(TitleImage, RefusedFilesLeaveTheTitleUntouched) {
  struct Case {
    const char* what;
    std::vector<unsigned char> bytes;
    const char* message;
  };
  // Too large, with pixel data that must not be stored.
  const std::vector<unsigned char> pixels(3000, 0x77);
  const Case cases[] = {
      {"no file", {}, "could not open image file for reading"},
      {"empty file", {}, "18-byte header"},
      {"17 header bytes", {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24}, "18-byte header"},
      {"one row too many", picture(320, 241, pixels), "320 x 241"},
      {"wider than the surface holds", picture(65535, 2, pixels), "larger than the 320 x 240"},
      {"largest width and height", picture(65535, 65535, pixels), "65535 x 65535"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (std::string(c.what) == "no file") {
      std::filesystem::remove(directory_ + "/title._vq");
    } else {
      testing::writeFile(directory_ + "/title._vq", c.bytes);
    }
    try {
      console_.loadTitleImage((directory_ + "/title._vq").c_str());
      ADD_FAILURE() << "accepted";
    } catch (const ptc::DynamicError& error) {
      EXPECT_NE(std::string(error.message()).find(c.message), std::string::npos) << error.message();
    }
    EXPECT_EQ(testing::Frame(console_.title(), console_.title() + 320 * 240),
              testing::Frame(320 * 240, kUntouched));
  }
}

}  // namespace
}  // namespace vornisk
