// The show's window on a real X server (an Xvfb of the test's own): at several
// window sizes the frame must be scaled to the largest 4:3 rectangle that fits
// (a whole-number factor whenever 1:1 fits), centred, with black borders.
// Checked by pixels read back from the server, on a test card of coloured
// blocks whose colours tell every block, and so a flip or a shift, apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "ptc/ptc.h"
#include "support/test_support.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

// After everything else: Xlib's macros would clash with the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace vornisk {
namespace {

constexpr int kWidth = 320, kHeight = 240, kBlock = 40;

// Block (bx, by) of the card: never black, red and green by column and row.
std::uint32_t blockColour(int bx, int by) {
  return static_cast<std::uint32_t>((bx * 30 + 20) << 16 | (by * 40 + 20) << 8 | (0x90 - bx * 8));
}

struct Rect {
  int x, y, w, h;
};

// The rule, worked out on its own.
Rect expectedRect(int windowWidth, int windowHeight) {
  double scale = std::min(static_cast<double>(windowWidth) / kWidth,
                          static_cast<double>(windowHeight) / kHeight);
  if (scale >= 1.0) scale = static_cast<int>(scale);
  const int w = static_cast<int>(kWidth * scale), h = static_cast<int>(kHeight * scale);
  return {(windowWidth - w) / 2, (windowHeight - h) / 2, w, h};
}

// What is wrong with the window's pixels (empty when nothing is).
std::string check(XImage* image, const Rect& r) {
  const auto at = [&](int x, int y) {
    return static_cast<std::uint32_t>(XGetPixel(image, x, y)) & 0xFFFFFFu;
  };
  for (int by = 0; by < kHeight / kBlock; ++by) {
    for (int bx = 0; bx < kWidth / kBlock; ++bx) {
      const int x = r.x + (bx * kBlock + kBlock / 2) * r.w / kWidth;
      const int y = r.y + (by * kBlock + kBlock / 2) * r.h / kHeight;
      if (at(x, y) != blockColour(bx, by))
        return "block " + std::to_string(bx) + "," + std::to_string(by);
    }
  }
  // The rectangle's corners hold the card; the pixels just outside are black.
  if (at(r.x, r.y) != blockColour(0, 0) ||
      at(r.x + r.w - 1, r.y + r.h - 1) != blockColour(kWidth / kBlock - 1, kHeight / kBlock - 1)) {
    return "the corners";
  }
  const int midX = r.x + r.w / 2, midY = r.y + r.h / 2;
  if ((r.x > 0 && at(r.x - 1, midY) != 0) || (r.y > 0 && at(midX, r.y - 1) != 0) ||
      (r.x + r.w < image->width && at(r.x + r.w, midY) != 0) ||
      (r.y + r.h < image->height && at(midX, r.y + r.h) != 0)) {
    return "the borders";
  }
  return {};
}

TEST(Window, ScalesAndLetterboxesAtEverySize) {
  if (std::system("command -v Xvfb >/dev/null") != 0) {
    if (std::getenv("VORNISK_REQUIRE_X") != nullptr) FAIL() << "needs Xvfb";
    GTEST_SKIP() << "needs Xvfb (scripts/install-deps.sh --with-tools)";
  }
  testing::Child xvfb(
      {"Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1280x1024x24"}, {}, "/");
  for (int i = 0; i < 1000 && xvfb.out().find('\n') == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_NE(xvfb.out().find('\n'), std::string::npos) << xvfb.err();
  const std::string display = ":" + xvfb.out().substr(0, xvfb.out().find('\n'));
  const testing::ScopedEnvironment onDisplay("DISPLAY", display), driver("SDL_VIDEODRIVER", "x11"),
      pacing("PTC_FPS", "0");
  std::vector<std::uint32_t> card(kWidth * kHeight);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      card[y * kWidth + x] = blockColour(x / kBlock, y / kBlock);

#if defined(__SANITIZE_ADDRESS__)
  // The video drivers' libraries keep a few blocks for the life of the process.
  __lsan_disable();
#endif
  const auto backend = ptc::makeWindowBackend();
  backend->open("Vornisk", kWidth, kHeight, false);
  Display* server = XOpenDisplay(display.c_str());
  ASSERT_NE(server, nullptr);
  // A read of a window being resized may fail: it is read again.
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  Window root = 0, parent = 0, *children = nullptr, window = 0;
  unsigned count = 0;
  XQueryTree(server, DefaultRootWindow(server), &root, &parent, &children, &count);
  for (unsigned i = 0; i < count; ++i) {
    char* name = nullptr;
    if (XFetchName(server, children[i], &name) != 0 && std::string(name) == "Vornisk")
      window = children[i];
    if (name != nullptr) XFree(name);
  }
  if (children != nullptr) XFree(children);
  ASSERT_NE(window, 0u);

  const std::pair<int, int> sizes[] = {{960, 720}, {1000, 700}, {700, 900}, {400, 300}, {200, 300}};
  for (const auto& [width, height] : sizes) {
    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
    // At the screen's corner: only what is on screen can be read back.
    XMoveResizeWindow(server, window, 0, 0, static_cast<unsigned>(width),
                      static_cast<unsigned>(height));
    XSync(server, False);
    // The resize reaches the show's side as an event: frames until it shows.
    std::string problem = "no picture of that size";
    for (int attempt = 0; attempt < 300 && !problem.empty(); ++attempt) {
      if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      backend->present(card.data(), kWidth, kHeight);
      XSync(server, False);
      XWindowAttributes attributes{};
      XGetWindowAttributes(server, window, &attributes);
      if (attributes.width != width || attributes.height != height ||
          attributes.map_state != IsViewable) {
        continue;
      }
      XImage* image = XGetImage(server, window, 0, 0, static_cast<unsigned>(width),
                                static_cast<unsigned>(height), AllPlanes, ZPixmap);
      if (image != nullptr) {
        problem = check(image, expectedRect(width, height));
        XDestroyImage(image);
      }
    }
    EXPECT_EQ(problem, "");
  }
  XCloseDisplay(server);
  backend->close();
#if defined(__SANITIZE_ADDRESS__)
  __lsan_enable();
#endif
}

}  // namespace
}  // namespace vornisk
