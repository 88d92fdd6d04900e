// The show's one display object: the toolkit console extended with the back
// surface every effect draws into, the title surface, a z-buffer and the frame
// counter. The drawing operations of the effects, the camera and the title
// loader are operations of this class, defined beside their subsystems.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "geometry/matrix.h"
#include "geometry/vector.h"
#include "ptc/ptc.h"

namespace vornisk {

// The word putPixelRGB stores: ((r·256 + g)·256 + b) with 32-bit wrap-around.
inline std::uint32_t packRGB(int r, int g, int b) {
  return ((static_cast<std::uint32_t>(r) * 256u + static_cast<std::uint32_t>(g)) * 256u) +
         static_cast<std::uint32_t>(b);
}

class DemoConsole : public ptc::Console {
 public:
  DemoConsole();
  ~DemoConsole() override;

  // Sets "fullscreen output" or "windowed output", then create().
  void open(const char* title, int width, int height, bool fullscreen);
  void create(const char* title, int width, int height);
  // Makes `pixels` valid until the next present().
  void lock();
  // Pixel stores with y upward (y = 0 is the bottom row); pixels outside the
  // buffer are dropped. putPixelRGB forms ((r·256 + g)·256 + b) with 32-bit
  // wrap-around and no clamping, so a green above 255 carries into the red byte.
  void putPixelRGB(int x, int y, int r, int g, int b);
  void putPixel(int x, int y, std::uint32_t colour);
  // Unlock, show the back buffer (as a copy to the console and an update
  // would), count the frame.
  void present();
  bool keyPressed();
  void close();

  // Full-frame effects (effects/full_frame.cpp).
  void clearFrame();
  void drawCheckerboard(int cellSize, int level);
  void copyTitle();
  void jitterTitle();

  // The one line primitive (effects/line.cpp): y upward, clipped to the buffer.
  void drawLine(int x0, int y0, int x1, int y1, std::uint32_t colour);

  // The perspective camera's world-to-pixel matrix (console/view_transform.cpp).
  Matrix viewTransform(double windowWidth, double windowHeight, Vector target, Vector viewNormal,
                       Vector eye) const;

  // Fills the title surface from a picture file (media/title_image.cpp).
  // Throws ptc::DynamicError when the file cannot be opened or is not acceptable.
  void loadTitleImage(const char* fileName);

  // While tracking is on, the console remembers where it has drawn since the
  // last title copy or black clear, and the next one repaints only there when
  // it repaints the same background; a clear also leaves the z-buffer alone
  // once it holds the clear depth. The show's frames turn it on: all their
  // drawing goes through the console's operations, and drawing that writes
  // `pixels` itself reports what it touched through markDrawn(). Writing the
  // back buffer or the z-buffer in any other way while it is on leaves the
  // next copy or clear wrong. Off at first.
  void trackDrawing(bool on);
  // The back buffer may differ from its background inside columns
  // left..right − 1 of memory rows top..bottom − 1 (clipped to the buffer).
  void markDrawn(long long left, long long top, long long right, long long bottom) {
    if (background_ != Background::Unknown) addDrawn(left, top, right, bottom);
  }
  // The same for the box with corners (x0, y0) and (x1, y1), y upward, as
  // drawLine takes them: it holds any line between them.
  void markDrawnBetween(long long x0, long long y0, long long x1, long long y1) {
    const long long lastRow = height - 1LL;
    markDrawn(std::min(x0, x1), lastRow - std::max(y0, y1), std::max(x0, x1) + 1,
              lastRow - std::min(y0, y1) + 1);
  }

  // Fields, in the order the rest of the show knows them.
  std::unique_ptr<ptc::Surface> backSurface;
  std::uint32_t* pixels = nullptr;  // packed rows, memory row 0 at the top
  std::unique_ptr<float[]> zBuffer;
  int width = 0;
  int height = 0;
  int pitch = 0;
  int frameCounter = 0;
  std::unique_ptr<ptc::Surface> titleSurface;
  std::unique_ptr<ptc::Area> screenArea;

 private:
  void addDrawn(long long left, long long top, long long right, long long bottom);
  // The back buffer no longer holds one background outside a few rectangles.
  void drawnEverywhere() { background_ = Background::Unknown; }
  // What the background repaint `shown` still has to do: true when only the
  // rectangles need it, false for the whole buffer. Records `shown` as the
  // background from here on.
  enum class Background { Unknown, Title, Black };
  bool repaintOnlyDrawn(Background shown);
  // Repaints each rectangle a row at a time, through repaint(first word,
  // words), and forgets them (effects/full_frame.cpp).
  template <typename Repaint>
  void repaintDrawn(Repaint repaint);

  // While background_ is known: outside these rectangles (memory rows and
  // columns, half-open) `backgroundAt_` holds it.
  struct Drawn {
    int left, top, right, bottom;
  };
  static constexpr int kMostDrawn = 8;
  bool tracking_ = false;
  Background background_ = Background::Unknown;
  const std::uint32_t* backgroundAt_ = nullptr;
  int drawnCount_ = 0;
  Drawn drawn_[kMostDrawn] = {};
  bool depthCleared_ = false;  // while tracking: every z-buffer entry holds the clear depth
};

}  // namespace vornisk
