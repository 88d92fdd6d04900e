// DemoConsole: creation, the pixel stores and presenting a frame.
#include "console/demo_console.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace vornisk {

DemoConsole::DemoConsole() = default;

DemoConsole::~DemoConsole() {
  backSurface.reset();
  titleSurface.reset();
  screenArea.reset();
  zBuffer.reset();
}

void DemoConsole::open(const char* title, int width_, int height_, bool fullscreen) {
  option(fullscreen ? "fullscreen output" : "windowed output");
  create(title, width_, height_);
}

void DemoConsole::create(const char* title, int width_, int height_) {
  const ptc::Format format(32, 0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0);
  ptc::Console::open(title, width_, height_, format, 0);
  backSurface = std::make_unique<ptc::Surface>(width_, height_, format);
  titleSurface = std::make_unique<ptc::Surface>(width_, height_, format);
  screenArea = std::make_unique<ptc::Area>(0, 0, width_, height_);
  // The z-buffer is left uninitialised until the first clearFrame().
  zBuffer.reset(new (
      std::nothrow) float[static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_)]);
  if (!zBuffer) {
    std::fputs("Cannot allock memory for z-buffer - ERROR!\n", stderr);
    std::fflush(stderr);
    std::exit(-1);
  }
  width = backSurface->width();
  height = backSurface->height();
  pitch = backSurface->pitch();
  frameCounter = 0;
  drawnEverywhere();
  depthCleared_ = false;
}

void DemoConsole::trackDrawing(bool on) {
  if (on == tracking_) return;
  tracking_ = on;
  drawnEverywhere();
  depthCleared_ = false;
}

bool DemoConsole::repaintOnlyDrawn(Background shown) {
  const bool onlyDrawn = background_ == shown && backgroundAt_ == pixels;
  background_ = tracking_ ? shown : Background::Unknown;
  backgroundAt_ = pixels;
  if (!onlyDrawn) drawnCount_ = 0;
  return onlyDrawn;
}

void DemoConsole::addDrawn(long long left, long long top, long long right, long long bottom) {
  left = std::max(left, 0LL);
  top = std::max(top, 0LL);
  right = std::min(right, static_cast<long long>(width));
  bottom = std::min(bottom, static_cast<long long>(height));
  if (left >= right || top >= bottom) return;
  const Drawn added{static_cast<int>(left), static_cast<int>(top), static_cast<int>(right),
                    static_cast<int>(bottom)};
  if (drawnCount_ < kMostDrawn) {
    drawn_[drawnCount_++] = added;
    return;
  }
  // All taken: widen the rectangle whose area grows least.
  auto joined = [&added](const Drawn& d) {
    return Drawn{std::min(d.left, added.left), std::min(d.top, added.top),
                 std::max(d.right, added.right), std::max(d.bottom, added.bottom)};
  };
  auto area = [](const Drawn& d) {
    return static_cast<long long>(d.right - d.left) * (d.bottom - d.top);
  };
  int best = 0;
  long long bestGrowth = 0;
  for (int i = 0; i < kMostDrawn; ++i) {
    const long long growth = area(joined(drawn_[i])) - area(drawn_[i]);
    if (i == 0 || growth < bestGrowth) {
      best = i;
      bestGrowth = growth;
    }
  }
  drawn_[best] = joined(drawn_[best]);
}

void DemoConsole::lock() {
  pixels = static_cast<std::uint32_t*>(backSurface->lock());
}

// The y-flip is done in 64 bits so that any int y is safe to test.
static bool outside(int x, long long row, int width, int height) {
  return x < 0 || x >= width || row < 0 || row >= height;
}

void DemoConsole::putPixelRGB(int x, int y, int r, int g, int b) {
  const long long row = static_cast<long long>(height) - 1 - y;
  if (outside(x, row, width, height)) return;
  pixels[x + width * row] = packRGB(r, g, b);
  markDrawn(x, row, x + 1LL, row + 1);
}

void DemoConsole::putPixel(int x, int y, std::uint32_t colour) {
  const long long row = static_cast<long long>(height) - 1 - y;
  if (outside(x, row, width, height)) return;
  pixels[x + width * row] = colour;
  markDrawn(x, row, x + 1LL, row + 1);
}

void DemoConsole::present() {
  backSurface->unlock();
  pixels = nullptr;
  // The back buffer goes to the output as it stands, without a copy into the
  // console; it keeps its picture for the next frame either way.
  if (!show(*backSurface)) {
    backSurface->copy(*this, *screenArea, *screenArea);
    update();
  }
  frameCounter += 1;
}

bool DemoConsole::keyPressed() {
  return key();
}

void DemoConsole::close() {
  ptc::Console::close();
}

}  // namespace vornisk
