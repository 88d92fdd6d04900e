// DemoConsole's pixel stores and frame presentation, and the toolkit's SDL
// console opened for real on SDL's dummy video driver.
#include <gtest/gtest.h>

#include <csignal>
#include <vector>

#include "ptc/headless.h"
#include "shell/demo_console.h"
#include "support/test_support.h"

namespace vornisk {
namespace {

using testing::HeadlessConsole;

TEST(PixelStores, YCountsUpFromTheBottomRow) {
  HeadlessConsole console;
  console.putPixel(0, 0, 0x112233u);
  console.putPixel(0, 239, 0x445566u);
  console.putPixel(319, 120, 0x778899u);
  EXPECT_EQ(console.at(0, 239), 0x112233u);  // bottom-left on screen
  EXPECT_EQ(console.at(0, 0), 0x445566u);    // top-left on screen
  EXPECT_EQ(console.at(319, 119), 0x778899u);
}

TEST(PixelStores, DropPixelsOutsideTheBufferSilently) {
  HeadlessConsole console(320, 240, 0xABCDEFu);
  const int xs[] = {-1, 320, 0, 0, -2147483647 - 1, 2147483647, 5};
  const int ys[] = {0, 0, -1, 240, 0, 0, -2147483647 - 1};
  for (int i = 0; i < 7; ++i) {
    console.putPixel(xs[i], ys[i], 1u);
    console.putPixelRGB(xs[i], ys[i], 1, 2, 3);
  }
  console.putPixel(5, 2147483647, 1u);
  for (int i = 0; i < 320 * 240; ++i)
    ASSERT_EQ(console.pixels[i], 0xABCDEFu) << i;
}

TEST(PixelStores, RgbComponentsWrapWithoutClamping) {
  HeadlessConsole console;
  console.putPixelRGB(1, 0, 255, 0, 0);
  console.putPixelRGB(2, 0, 255, 256, 0);  // green carries into red, red into the top byte
  console.putPixelRGB(3, 0, 0, 0, 300);    // blue carries into green
  console.putPixelRGB(4, 0, 255, 60 * 6, 60);
  console.putPixelRGB(5, 0, -1, 0, 0);  // 32-bit wrap-around
  EXPECT_EQ(console.at(1, 239), 0x00FF0000u);
  EXPECT_EQ(console.at(2, 239), 0x01000000u);
  EXPECT_EQ(console.at(3, 239), 0x0000012Cu);
  EXPECT_EQ(console.at(4, 239), 0x0100683Cu);
  EXPECT_EQ(console.at(5, 239), 0xFFFF0000u);
}

TEST(Present, CountsFramesAndShowsTheBackBufferAsItStood) {
  std::vector<std::vector<std::uint32_t>> shown;
  DemoConsole console;
  console.setBackend(std::make_unique<ptc::HeadlessBackend>(
      [&](const std::uint32_t* frame, int w, int h) { shown.emplace_back(frame, frame + w * h); }));
  console.open("test", 320, 240, true);
  EXPECT_EQ(console.width, 320);
  EXPECT_EQ(console.height, 240);
  EXPECT_EQ(console.pitch, 1280);
  for (int k = 0; k < 3; ++k) {
    console.lock();
    EXPECT_EQ(console.frameCounter, k);  // drawing during frame k sees k
    console.putPixel(k, 0, 0xFF0000u + static_cast<std::uint32_t>(k));
    console.present();
  }
  EXPECT_EQ(console.frameCounter, 3);
  ASSERT_EQ(shown.size(), 3u);
  // The back buffer is never cleared: frame 2 still holds frames 0 and 1's pixels.
  const std::size_t bottomRow = 239 * 320;
  EXPECT_EQ(shown[0][bottomRow + 0], 0xFF0000u);
  EXPECT_EQ(shown[0][bottomRow + 1], 0u);
  EXPECT_EQ(shown[2][bottomRow + 0], 0xFF0000u);
  EXPECT_EQ(shown[2][bottomRow + 2], 0xFF0002u);
  console.close();
  console.close();  // closing twice is harmless
}

TEST(Present, NeverOpenedConsoleOwnsNothing) {
  DemoConsole console;
  EXPECT_EQ(console.backSurface, nullptr);
  EXPECT_EQ(console.titleSurface, nullptr);
  EXPECT_EQ(console.screenArea, nullptr);
  EXPECT_EQ(console.zBuffer, nullptr);
  EXPECT_FALSE(console.keyPressed());
  console.close();
}

class SdlConsole : public ::testing::Test {
 protected:
  testing::ScopedEnvironment video_{"SDL_VIDEODRIVER", "dummy"};
  testing::ScopedEnvironment unpaced_{"PTC_FPS", "0"};
};

TEST_F(SdlConsole, OpensPresentsAndClosesHeadless) {
  for (const bool fullscreen : {true, false}) {
    DemoConsole console;
    console.open("Vornisk", 320, 240, fullscreen);
    for (int k = 0; k < 3; ++k) {
      console.lock();
      console.putPixel(k, k, 0x00FF00u);
      console.present();
    }
    EXPECT_FALSE(console.keyPressed());
    console.close();
  }
}

TEST_F(SdlConsole, TerminationSignalCountsAsAKeyPress) {
  for (const int signal : {SIGTERM, SIGINT}) {
    DemoConsole console;
    console.open("Vornisk", 320, 240, true);
    EXPECT_FALSE(console.keyPressed());
    std::raise(signal);
    EXPECT_TRUE(console.keyPressed());
    EXPECT_TRUE(console.keyPressed());  // the press stays waiting
    console.close();
  }
}

TEST_F(SdlConsole, NoDisplayIsAToolkitError) {
  const testing::ScopedEnvironment noDisplay("SDL_VIDEODRIVER", "no-such-driver");
  DemoConsole console;
  try {
    console.open("Vornisk", 320, 240, true);
    FAIL() << "open succeeded without a display";
  } catch (const ptc::DynamicError& error) {
    EXPECT_NE(std::string(error.message()).find("cannot open the display"), std::string::npos)
        << error.message();
  }
  console.close();
}

}  // namespace
}  // namespace vornisk
