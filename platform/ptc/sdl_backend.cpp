// The SDL2 console backend: a full-screen or resizable window that shows each
// frame scaled nearest-neighbour, letterboxed in black, paced to a steady rate.
#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "ptc/ptc.h"

namespace ptc {
namespace {

constexpr int kDefaultFramesPerSecond = 60;
constexpr int kWindowedScale = 3;

int framesPerSecondSetting() {
  const char* text = std::getenv("PTC_FPS");
  if (text == nullptr || *text == '\0') return kDefaultFramesPerSecond;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (*end != '\0' || value < 0 || value > 10000) return kDefaultFramesPerSecond;
  return static_cast<int>(value);
}

bool hasEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

bool windowedSetting() {
  const char* text = std::getenv("PTC_WINDOWED");
  return text != nullptr && *text != '\0' && std::string(text) != "0";
}

// The largest rectangle of the frame's aspect that fits the output, with a
// whole-number scale whenever at least 1:1 fits, centred.
SDL_Rect fitFrame(int outputWidth, int outputHeight, int frameWidth, int frameHeight) {
  const double scaleX = static_cast<double>(outputWidth) / frameWidth;
  const double scaleY = static_cast<double>(outputHeight) / frameHeight;
  double scale = std::min(scaleX, scaleY);
  if (scale >= 1.0) scale = static_cast<int>(scale);
  SDL_Rect rect;
  rect.w = std::max(1, static_cast<int>(frameWidth * scale));
  rect.h = std::max(1, static_cast<int>(frameHeight * scale));
  rect.x = (outputWidth - rect.w) / 2;
  rect.y = (outputHeight - rect.h) / 2;
  return rect;
}

class SdlBackend : public Backend {
 public:
  ~SdlBackend() override { close(); }

  void open(const char* title, int width, int height, bool fullscreen) override {
    // Left to itself, SDL falls back to an invisible offscreen driver when no
    // display can be reached, and the show would play to nobody. Unless the
    // user names a driver, try only the outputs this session has: X11, Wayland,
    // then the console's own KMS/DRM.
    if (!hasEnvironment("SDL_VIDEODRIVER")) {
      std::string drivers;
      if (hasEnvironment("DISPLAY")) drivers += "x11,";
      if (hasEnvironment("WAYLAND_DISPLAY")) drivers += "wayland,";
      drivers += "kmsdrm";
      SDL_SetHint(SDL_HINT_VIDEODRIVER, drivers.c_str());
    }
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
      throw DynamicError(std::string("cannot open the display: ") + SDL_GetError());
    }
    videoStarted_ = true;
    // A fatal exit of the program still restores the desktop's display mode.
    static const bool quitAtExit = (std::atexit(SDL_Quit), true);
    (void)quitAtExit;

    if (windowedSetting()) fullscreen = false;
    framesPerSecond_ = framesPerSecondSetting();
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "0");

    Uint32 flags = SDL_WINDOW_SHOWN;
    int windowWidth = width * kWindowedScale;
    int windowHeight = height * kWindowedScale;
    if (fullscreen) {
      // Desktop-sized from the start, so the picture fills the screen even
      // where no window manager honours the full-screen request.
      flags |= SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_BORDERLESS;
      SDL_DisplayMode desktop;
      if (SDL_GetDesktopDisplayMode(0, &desktop) == 0 && desktop.w > 0 && desktop.h > 0) {
        windowWidth = desktop.w;
        windowHeight = desktop.h;
      }
    } else {
      flags |= SDL_WINDOW_RESIZABLE;
    }
    window_ = SDL_CreateWindow(title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, windowWidth,
                               windowHeight, flags);
    if (window_ == nullptr) fail("cannot open a window");
    if (fullscreen) SDL_ShowCursor(SDL_DISABLE);

    const Uint32 vsync = framesPerSecond_ > 0 ? SDL_RENDERER_PRESENTVSYNC : 0;
    renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_ACCELERATED | vsync);
    if (renderer_ == nullptr) renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
    if (renderer_ == nullptr) fail("cannot create a renderer");
    texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                 width, height);
    if (texture_ == nullptr) fail("cannot create a texture");
    nextDeadline_ = Clock::now();
  }

  void present(const std::uint32_t* pixels, int width, int height) override {
    if (renderer_ == nullptr) return;
    SDL_UpdateTexture(texture_, nullptr, pixels, width * 4);
    int outputWidth = 0;
    int outputHeight = 0;
    SDL_GetRendererOutputSize(renderer_, &outputWidth, &outputHeight);
    const SDL_Rect target = fitFrame(outputWidth, outputHeight, width, height);
    SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
    SDL_RenderClear(renderer_);
    SDL_RenderCopy(renderer_, texture_, nullptr, &target);
    SDL_RenderPresent(renderer_);
    pace();
    pollEvents();
  }

  bool keyWaiting() override {
    pollEvents();
    return keyWaiting_;
  }

  void close() override {
    if (texture_ != nullptr) SDL_DestroyTexture(texture_);
    if (renderer_ != nullptr) SDL_DestroyRenderer(renderer_);
    if (window_ != nullptr) SDL_DestroyWindow(window_);
    texture_ = nullptr;
    renderer_ = nullptr;
    window_ = nullptr;
    if (videoStarted_) {
      SDL_ShowCursor(SDL_ENABLE);
      SDL_QuitSubSystem(SDL_INIT_VIDEO);
      videoStarted_ = false;
    }
  }

 private:
  using Clock = std::chrono::steady_clock;

  [[noreturn]] void fail(const char* what) {
    const std::string message = std::string(what) + ": " + SDL_GetError();
    close();
    throw DynamicError(message);
  }

  // Motion in the show is counted in frames, so frames must come at a steady
  // rate whatever the monitor's refresh: vsync shows them without tearing, and
  // sleeping up to the next deadline keeps a fast monitor from running the show
  // faster.
  void pace() {
    if (framesPerSecond_ <= 0) return;
    const auto period = std::chrono::nanoseconds(1'000'000'000LL / framesPerSecond_);
    nextDeadline_ += period;
    const auto now = Clock::now();
    if (nextDeadline_ > now) {
      std::this_thread::sleep_until(nextDeadline_);
    } else if (now - nextDeadline_ > period) {
      nextDeadline_ = now;  // fell behind: do not rush to catch up
    }
  }

  // A key press, closing the window, SIGINT or SIGTERM (SDL turns the signals
  // into a quit event) all count as a key that stays waiting.
  void pollEvents() {
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) {
      if (event.type == SDL_KEYDOWN || event.type == SDL_QUIT) keyWaiting_ = true;
    }
  }

  SDL_Window* window_ = nullptr;
  SDL_Renderer* renderer_ = nullptr;
  SDL_Texture* texture_ = nullptr;
  Clock::time_point nextDeadline_{};
  int framesPerSecond_ = kDefaultFramesPerSecond;
  bool videoStarted_ = false;
  bool keyWaiting_ = false;
};

}  // namespace

std::unique_ptr<Backend> makeWindowBackend() {
  return std::make_unique<SdlBackend>();
}

}  // namespace ptc
