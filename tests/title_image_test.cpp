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

std::vector<unsigned char> header(int width, int height) {
  std::vector<unsigned char> bytes(18, 0);
  bytes[2] = 2;  // bytes 0..11 and 16..17 are ignored; make them look like a real header
  bytes[12] = static_cast<unsigned char>(width & 0xFF);
  bytes[13] = static_cast<unsigned char>(width >> 8);
  bytes[14] = static_cast<unsigned char>(height & 0xFF);
  bytes[15] = static_cast<unsigned char>(height >> 8);
  bytes[16] = 24;
  return bytes;
}

// A word whose three channels differ and depend on where it is stored: red the
// column's high bits, green the memory row, blue the column's low byte.
std::uint32_t pictureWord(int x, int memoryRow) {
  return 0x00800000u | static_cast<std::uint32_t>(x >> 8) << 16 |
         static_cast<std::uint32_t>(memoryRow) << 8 | static_cast<std::uint32_t>(x & 0xFF);
}

class TitleImage : public ::testing::Test {
 protected:
  void SetUp() override { directory_ = testing::makeTempDirectory(); }
  void TearDown() override { std::filesystem::remove_all(directory_); }

  std::string file(const std::vector<unsigned char>& bytes) {
    const std::string path = directory_ + "/title._vq";
    testing::writeFile(path, bytes);
    return path;
  }

  bool titleUntouched() {
    const std::uint32_t* title = console_.title();
    for (int i = 0; i < 320 * 240; ++i) {
      if (title[i] != kUntouched) return false;
    }
    return true;
  }

  std::string directory_;
  testing::HeadlessConsole console_{320, 240, kUntouched};
};

TEST_F(TitleImage, AFullPictureLandsBottomRowLastWithRedInTheHighByte) {
  std::vector<unsigned char> bytes = testing::titlePicture(320, 240, pictureWord);
  // The layout written out by hand, so that a fault shared by the test's
  // picture builder and the loader cannot hide.
  ASSERT_EQ(bytes[12], 0x40);
  ASSERT_EQ(bytes[13], 0x01);
  ASSERT_EQ(bytes[14], 0xF0);
  ASSERT_EQ(bytes[15], 0x00);
  bytes[18] = 0x10;  // the first stored pixel, blue, green, red
  bytes[19] = 0x20;
  bytes[20] = 0x30;
  console_.loadTitleImage(file(bytes).c_str());

  const std::uint32_t* title = console_.title();
  EXPECT_EQ(title[239 * 320], 0x00302010u);  // bottom left
  for (int memoryRow = 0; memoryRow < 240; ++memoryRow) {
    for (int x = memoryRow == 239 ? 1 : 0; x < 320; ++x) {
      ASSERT_EQ(title[x + memoryRow * 320], pictureWord(x, memoryRow))
          << "memory row " << memoryRow << ", x " << x;
    }
  }
}

TEST_F(TitleImage, ATwoByTwoPictureWritesFourPackedWordsOnly) {
  std::vector<unsigned char> bytes = header(2, 2);
  bytes.insert(bytes.end(), {0x01, 0x02, 0x03, 0x04, 0x05, 0x06,    // first stored row
                             0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C});  // second stored row
  console_.loadTitleImage(file(bytes).c_str());
  const std::uint32_t* title = console_.title();
  EXPECT_EQ(title[2], 0x00030201u);
  EXPECT_EQ(title[3], 0x00060504u);
  EXPECT_EQ(title[0], 0x00090807u);
  EXPECT_EQ(title[1], 0x000C0B0Au);
  for (int i = 4; i < 320 * 240; ++i)
    ASSERT_EQ(title[i], kUntouched) << "word " << i;
}

TEST_F(TitleImage, AShortFileFinishesBlack) {
  // Cut after the first stored row: memory row 239 filled, all above black.
  std::vector<unsigned char> bytes = testing::titlePicture(320, 240, pictureWord);
  bytes.resize(18 + 320 * 3);
  console_.loadTitleImage(file(bytes).c_str());
  const std::uint32_t* title = console_.title();
  for (int x = 0; x < 320; ++x)
    ASSERT_EQ(title[x + 239 * 320], pictureWord(x, 239));
  for (int i = 0; i < 239 * 320; ++i)
    ASSERT_EQ(title[i], 0u) << "word " << i;

  // Cut inside a pixel: it keeps the bytes it got, the rest of it and all later pixels are 0.
  bytes = header(2, 2);
  bytes.insert(bytes.end(), {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08});
  console_.loadTitleImage(file(bytes).c_str());
  EXPECT_EQ(title[2], 0x00030201u);
  EXPECT_EQ(title[3], 0x00060504u);
  EXPECT_EQ(title[0], 0x00000807u);
  EXPECT_EQ(title[1], 0u);

  // Header only: every pixel black, the loader still finishes normally.
  console_.loadTitleImage(file(header(2, 1)).c_str());
  EXPECT_EQ(title[0], 0u);
  EXPECT_EQ(title[1], 0u);
}

TEST_F(TitleImage, RefusedFilesLeaveTheTitleUntouched) {
  try {
    console_.loadTitleImage((directory_ + "/missing._vq").c_str());
    ADD_FAILURE() << "a missing file was accepted";
  } catch (const ptc::DynamicError& error) {
    EXPECT_STREQ(error.message(), "could not open image file for reading");
  }
  EXPECT_TRUE(titleUntouched());

  struct Case {
    const char* what;
    std::vector<unsigned char> bytes;
    const char* messagePart;
  };
  std::vector<unsigned char> shortHeader = header(2, 2);
  shortHeader.resize(17);
  // Too large, with pixel data that must not be stored.
  auto tooLarge = [](int width, int height) {
    std::vector<unsigned char> bytes = header(width, height);
    bytes.resize(bytes.size() + 3000, 0x77);
    return bytes;
  };
  const Case cases[] = {
      {"empty file", {}, "18-byte header"},
      {"17 header bytes", shortHeader, "18-byte header"},
      {"one row too many", tooLarge(320, 241), "320 x 241"},
      {"wider than the surface holds", tooLarge(65535, 2), "larger than the 320 x 240"},
      {"largest width and height", tooLarge(65535, 65535), "65535 x 65535"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      console_.loadTitleImage(file(c.bytes).c_str());
      ADD_FAILURE() << "accepted";
    } catch (const ptc::DynamicError& error) {
      EXPECT_NE(std::string(error.message()).find(c.messagePart), std::string::npos)
          << error.message();
    }
    EXPECT_TRUE(titleUntouched());
  }
}

TEST_F(TitleImage, APictureWithTheSurfacesWordCountIsAcceptedWhateverItsShape) {
  // 640 x 120 fills the 320 x 240 surface exactly, with its own row stride.
  console_.loadTitleImage(file(testing::titlePicture(640, 120, pictureWord)).c_str());
  const std::uint32_t* title = console_.title();
  for (int memoryRow = 0; memoryRow < 120; ++memoryRow) {
    for (int x = 0; x < 640; ++x)
      ASSERT_EQ(title[x + memoryRow * 640], pictureWord(x, memoryRow)) << x << ", " << memoryRow;
  }
}

}  // namespace
}  // namespace vornisk
