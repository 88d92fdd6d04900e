// The console backend in a web browser: frames go to the page's <canvas>
// (Module.canvas, 320 x 240 backing pixels; the page scales it), and frames
// are paced to 60 per second whatever the display's refresh rate. Key presses
// come from the page, which decides which keys are meant for the show (not
// Tab, a lone Shift or a browser shortcut): it calls
// Module.vorniskScreen.press().
//
// present() is where the show gives the browser its turn: it waits, through
// Asyncify, for the animation frame in which the next frame is due, and while
// the page has paused the screen (Module.vorniskScreen.pause(), resume(); a
// hidden tab) for as long as it stays paused. The page sizes the canvas and
// offers full screen; nothing of the show is here.
#include <emscripten.h>

#include <vector>

#include "ptc/ptc.h"

namespace ptc {
namespace {

constexpr int kFramesPerSecond = 60;

// clang-format off
EM_JS(void, openCanvas, (int width, int height), {
  var canvas = Module.canvas;
  canvas.width = width;
  canvas.height = height;
  var screen = Module.vorniskScreen = {
    context: canvas.getContext('2d'),
    image: new ImageData(width, height),
    keyWaiting: false,
    due: 0,
    paused: false,
    onResume: null
  };
  screen.press = function() { screen.keyWaiting = true; };
  screen.pause = function() { screen.paused = true; };
  screen.resume = function() {
    screen.paused = false;
    if (screen.onResume) screen.onResume();
    screen.onResume = null;
  };
});

// Shows `bytes` (RGBA, one row after another) and waits until the next frame is
// due: on a 120 or 144 Hz display some animation frames pass by unused.
EM_ASYNC_JS(void, showAndWait, (const unsigned char* bytes, int framesPerSecond), {
  var screen = Module.vorniskScreen;
  screen.image.data.set(HEAPU8.subarray(bytes, bytes + screen.image.data.length));
  screen.context.putImageData(screen.image, 0, 0);
  if (Module.onFramePresented) Module.onFramePresented();
  var period = 1000 / framesPerSecond;
  await new Promise(function(resolve) {
    function tick(now) {
      if (screen.paused) {
        screen.onResume = function() { requestAnimationFrame(tick); };
        return;
      }
      // Half a millisecond of slack: a 60 Hz display's frames come at exactly the period.
      if (now + 0.5 < screen.due) return requestAnimationFrame(tick);
      // After a stall (a hidden page, a slow frame) start afresh rather than rush.
      screen.due = now - screen.due > period ? now + period : screen.due + period;
      resolve();
    }
    requestAnimationFrame(tick);
  });
});

EM_JS(int, keyWaitingOnPage, (), { return Module.vorniskScreen.keyWaiting ? 1 : 0; });

EM_JS(void, closeCanvas, (), { Module.vorniskScreen = null; });
// clang-format on

class WebBackend : public Backend {
 public:
  ~WebBackend() override { close(); }

  void open(const char* /*title*/, int width, int height, bool /*fullscreen*/) override {
    // The page's title and its full-screen button stand for the window's.
    rgba_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4, 0);
    openCanvas(width, height);
    open_ = true;
  }

  void present(const std::uint32_t* pixels, int width, int height) override {
    if (!open_) return;
    // 0x00RRGGBB words to the canvas's R, G, B, A bytes, fully opaque.
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    unsigned char* out = rgba_.data();
    for (std::size_t i = 0; i < count; ++i, out += 4) {
      const std::uint32_t pixel = pixels[i];
      out[0] = static_cast<unsigned char>(pixel >> 16);
      out[1] = static_cast<unsigned char>(pixel >> 8);
      out[2] = static_cast<unsigned char>(pixel);
      out[3] = 255;
    }
    showAndWait(rgba_.data(), kFramesPerSecond);
  }

  bool keyWaiting() override { return open_ && keyWaitingOnPage() != 0; }

  void close() override {
    if (!open_) return;
    open_ = false;
    closeCanvas();
  }

 private:
  std::vector<unsigned char> rgba_;
  bool open_ = false;
};

}  // namespace

std::unique_ptr<Backend> makeWindowBackend() {
  return std::make_unique<WebBackend>();
}

}  // namespace ptc
