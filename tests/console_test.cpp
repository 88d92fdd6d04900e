// DemoConsole's pixel stores and frame presentation, and the toolkit's SDL
// console opened for real on SDL's dummy video driver.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <vector>

#include "console/demo_console.h"
#include "ptc/headless.h"
#include "support/test_support.h"

namespace vornisk {
namespace {

TEST(PixelStores, YCountsUpFromTheBottomRowAndRgbWrapsWithoutClamping) {
  testing::HeadlessConsole console;
  console.putPixel(0, 0, 0x112233u);
  console.putPixel(0, 239, 0x445566u);
  EXPECT_EQ(console.at(0, 239), 0x112233u);  // bottom-left on screen
  EXPECT_EQ(console.at(0, 0), 0x445566u);    // top-left
  auto rgb = [&](int x, int y, int r, int g, int b) {
    console.putPixelRGB(x, y, r, g, b);
    return console.at(x, 239 - y);
  };
  EXPECT_EQ(rgb(1, 0, 255, 0, 0), 0x00FF0000u);
  EXPECT_EQ(rgb(2, 0, 255, 256, 0), 0x01000000u);  // green carries into red, red into the top byte
  EXPECT_EQ(rgb(3, 1, 0, 0, 300), 0x0000012Cu);    // blue carries into green
  EXPECT_EQ(rgb(4, 0, 255, 60 * 6, 60), 0x0100683Cu);
  EXPECT_EQ(rgb(5, 0, -1, 0, 0), 0xFFFF0000u);  // 32-bit wrap-around
}

// y = -1 is one row past the bottom of the buffer: a store that let it through
// would write past the end, which the sanitizer build reports.
TEST(PixelStores, DropPixelsOutsideTheBufferSilently) {
  testing::HeadlessConsole console(320, 240, 0xABCDEFu);
  const int outside[][2] = {{-1, 0},      {320, 0},     {0, -1},      {319, -1},   {0, 240},
                            {INT_MIN, 0}, {INT_MAX, 0}, {5, INT_MIN}, {5, INT_MAX}};
  for (const auto& [x, y] : outside) {
    console.putPixel(x, y, 1u);
    console.putPixelRGB(x, y, 1, 2, 3);
  }
  EXPECT_EQ(console.snapshot(), testing::Frame(320 * 240, 0xABCDEFu));
}

TEST(Present, CountsFramesAndShowsTheBackBufferAsItStood) {
  std::vector<std::vector<std::uint32_t>> shown;
  DemoConsole console;
  console.close();  // a console never opened owns nothing
  console.setBackend(std::make_unique<ptc::HeadlessBackend>(
      [&](const std::uint32_t* frame, int w, int h) { shown.emplace_back(frame, frame + w * h); },
      /*keyAfterFrames=*/0));
  EXPECT_FALSE(console.keyPressed()) << "a console not open has no key waiting";
  console.open("test", 320, 240, true);
  EXPECT_TRUE(console.keyPressed());
  for (int k = 0; k < 3; ++k) {
    console.lock();
    EXPECT_EQ(console.frameCounter, k);  // drawing during frame k sees k
    console.putPixel(k, 0, 0xFF0000u + static_cast<std::uint32_t>(k));
    console.present();
  }
  ASSERT_EQ(shown.size(), 3u);
  // The back buffer is never cleared: frame 2 still holds frames 0 and 1's pixels.
  EXPECT_EQ(shown[0][239 * 320 + 1], 0u);
  EXPECT_EQ(shown[2][239 * 320 + 0], 0xFF0000u);
  EXPECT_EQ(shown[2][239 * 320 + 2], 0xFF0002u);
  console.close();  // and the destructor closes it again: harmless
}

// A surface copied partly off a smaller console lands clipped: nothing is
// written outside the console's own frame (the sanitizer build sees any such store).
TEST(Present, ACopyIsClippedToTheConsole) {
  std::vector<std::uint32_t> shown;
  ptc::Console console;
  console.setBackend(std::make_unique<ptc::HeadlessBackend>(
      [&](const std::uint32_t* frame, int w, int h) { shown.assign(frame, frame + w * h); }));
  const ptc::Format format(32, 0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0);
  console.open("test", 4, 3, format, 0);
  ptc::Surface surface(6, 5, format);
  auto* words = static_cast<std::uint32_t*>(surface.lock());
  for (std::uint32_t i = 0; i < 30; ++i)
    words[i] = 100 + i;
  surface.copy(console, ptc::Area(0, 0, 6, 5), ptc::Area(-1, 1, 5, 6));
  console.update();
  EXPECT_EQ(shown,
            (std::vector<std::uint32_t>{0, 0, 0, 0, 101, 102, 103, 104, 107, 108, 109, 110}));

  // Whole rows as wide as the console, shifted down and then up past its edges.
  ptc::Surface rows(4, 5, format);
  words = static_cast<std::uint32_t*>(rows.lock());
  for (std::uint32_t i = 0; i < 20; ++i)
    words[i] = 200 + i;
  rows.copy(console, ptc::Area(0, 0, 4, 5), ptc::Area(0, 1, 4, 6));
  console.update();
  EXPECT_EQ(shown,
            (std::vector<std::uint32_t>{0, 0, 0, 0, 200, 201, 202, 203, 204, 205, 206, 207}));
  rows.copy(console, ptc::Area(0, 1, 4, 5), ptc::Area(0, -2, 4, 2));
  console.update();
  EXPECT_EQ(shown, (std::vector<std::uint32_t>{212, 213, 214, 215, 216, 217, 218, 219, 204, 205,
                                               206, 207}));

  // A surface of the console's size is shown as it stands, without touching
  // the console's own frame; any other size is refused.
  EXPECT_FALSE(console.show(rows));
  EXPECT_EQ(shown[0], 212u);
  ptc::Surface same(4, 3, format);
  words = static_cast<std::uint32_t*>(same.lock());
  for (std::uint32_t i = 0; i < 12; ++i)
    words[i] = 300 + i;
  EXPECT_TRUE(console.show(same));
  EXPECT_EQ(shown, (std::vector<std::uint32_t>{300, 301, 302, 303, 304, 305, 306, 307, 308, 309,
                                               310, 311}));
  console.update();
  EXPECT_EQ(shown[0], 212u);
}

// Full screen, then windowed; a termination signal counts as a key press.
TEST(SdlConsole, OpensPresentsAndTakesASignalAsAKeyPress) {
  const testing::ScopedEnvironment video("SDL_VIDEODRIVER", "dummy"), unpaced("PTC_FPS", "0");
  for (const int signal : {SIGTERM, SIGINT}) {
    DemoConsole console;
    console.open("Vornisk", 320, 240, signal == SIGTERM);
    console.lock();
    console.present();
    EXPECT_FALSE(console.keyPressed());
    std::raise(signal);
    EXPECT_TRUE(console.keyPressed() && console.keyPressed()) << "the press stays waiting";
    console.close();
  }
}

TEST(SdlConsole, NoDisplayIsAToolkitError) {
  const testing::ScopedEnvironment noDisplay("SDL_VIDEODRIVER", "no-such-driver");
  DemoConsole console;
  try {
    console.open("Vornisk", 320, 240, true);
    ADD_FAILURE() << "open succeeded without a display";
  } catch (const ptc::DynamicError& error) {
    EXPECT_THAT(error.message(), ::testing::HasSubstr("cannot open the display"));
  }
}

}  // namespace
}  // namespace vornisk
