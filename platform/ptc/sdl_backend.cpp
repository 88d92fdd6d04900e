// The SDL2 console backend: a full-screen or resizable window that shows each
// frame scaled nearest-neighbour, letterboxed in black, paced to a steady rate.
//
// A display that goes away under the show (the X server ended, the session
// logged out) is reported as a DynamicError from present() or keyWaiting(), and
// close() then leaves the dead connection alone.
#include <SDL.h>
#include <SDL_syswm.h>
#include <signal.h>

#if defined(SDL_VIDEO_DRIVER_X11) || defined(SDL_VIDEO_DRIVER_WAYLAND)
#include <dlfcn.h>
#endif

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

// Set by Xlib's I/O error handlers, which run inside SDL's calls on the show's
// thread; read after those calls return.
volatile sig_atomic_t displayLost = 0;
// Set by the SIGHUP handler.
volatile sig_atomic_t hangupReceived = 0;

void noteHangup(int) {
  hangupReceived = 1;
}

// SDL_Quit at exit, unless the display is gone: shutting video down would wait
// for the vanished server's answer for ever.
void quitSdlAtExit() {
  if (displayLost == 0) SDL_Quit();
}

#if defined(SDL_VIDEO_DRIVER_X11)
int noteLostDisplay(Display*) {
  displayLost = 1;
  return 0;
}

void carryOnWithoutDisplay(Display*, void*) {
  displayLost = 1;
}

// Xlib's own answer to a broken connection prints two lines and calls exit(),
// whose handlers then talk to the dead server. Instead, note the loss and let
// Xlib return (libX11 1.8 and later allow this: every later call on that
// connection fails at once), so the show ends through its normal shut-down.
// SDL loads libX11 itself; the handlers are set on the copy it loaded.
void watchForLostDisplay(SDL_Window* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (SDL_GetWindowWMInfo(window, &info) != SDL_TRUE || info.subsystem != SDL_SYSWM_X11) return;
  void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_NOLOAD);
  if (x11 == nullptr) return;
  const auto setHandler =
      reinterpret_cast<decltype(&XSetIOErrorHandler)>(dlsym(x11, "XSetIOErrorHandler"));
  const auto setExitHandler =
      reinterpret_cast<decltype(&XSetIOErrorExitHandler)>(dlsym(x11, "XSetIOErrorExitHandler"));
  // An older libX11 still exits, but quietly and without the hang at exit.
  if (setHandler != nullptr) setHandler(noteLostDisplay);
  // A write to the server's closed socket raises SIGPIPE, which would end the
  // show before Xlib could report the loss: the write's error is enough.
  signal(SIGPIPE, SIG_IGN);
  if (setExitHandler != nullptr)
    setExitHandler(info.info.x11.display, carryOnWithoutDisplay, nullptr);
  dlclose(x11);
}
#endif

#if defined(SDL_VIDEO_DRIVER_WAYLAND)
// SDL reports a broken Wayland connection as a quit event, and afterwards its
// calls on that connection fail at once; the connection's error tells the loss
// apart from a closed window.
bool waylandConnectionFailed(SDL_Window* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (window == nullptr || SDL_GetWindowWMInfo(window, &info) != SDL_TRUE ||
      info.subsystem != SDL_SYSWM_WAYLAND) {
    return false;
  }
  void* wayland = dlopen("libwayland-client.so.0", RTLD_NOW | RTLD_NOLOAD);
  if (wayland == nullptr) return false;
  using GetError = int (*)(wl_display*);
  const auto getError = reinterpret_cast<GetError>(dlsym(wayland, "wl_display_get_error"));
  const bool failed = getError != nullptr && getError(info.info.wl.display) != 0;
  dlclose(wayland);
  return failed;
}
#endif

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
    static const bool quitAtExit = (std::atexit(quitSdlAtExit), true);
    (void)quitAtExit;
    // A closed terminal (SIGHUP) ends the show like SIGINT and SIGTERM, which
    // SDL turns into a quit event; a SIGHUP ignored on purpose (nohup) stays so.
    struct sigaction hangup {};
    hangup.sa_handler = noteHangup;
    sigemptyset(&hangup.sa_mask);
    sigaction(SIGHUP, nullptr, &previousHangup_);
    if (previousHangup_.sa_handler == SIG_DFL) {
      sigaction(SIGHUP, &hangup, nullptr);
      hangupWatched_ = true;
    }

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
#if defined(SDL_VIDEO_DRIVER_X11)
    watchForLostDisplay(window_);
#endif
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
    if (hangupWatched_) {
      sigaction(SIGHUP, &previousHangup_, nullptr);
      hangupWatched_ = false;
    }
    if (displayLost != 0) {
      // Every SDL call below would wait on the dead connection: drop it all.
      texture_ = nullptr;
      renderer_ = nullptr;
      window_ = nullptr;
      videoStarted_ = false;
      return;
    }
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

  // A key press, closing the window, SIGINT, SIGTERM (SDL turns the signals
  // into a quit event) or SIGHUP all count as a key that stays waiting. A lost
  // display ends the show as an error, before anything else touches it.
  void pollEvents() {
    SDL_Event event;
    while (displayLost == 0 && SDL_PollEvent(&event) != 0) {
      if (event.type == SDL_KEYDOWN || event.type == SDL_QUIT) keyWaiting_ = true;
#if defined(SDL_VIDEO_DRIVER_WAYLAND)
      if (event.type == SDL_QUIT && waylandConnectionFailed(window_)) displayLost = 1;
#endif
    }
    if (displayLost != 0) throw DynamicError("lost the display");
    if (hangupReceived != 0) keyWaiting_ = true;
  }

  SDL_Window* window_ = nullptr;
  SDL_Renderer* renderer_ = nullptr;
  SDL_Texture* texture_ = nullptr;
  Clock::time_point nextDeadline_{};
  int framesPerSecond_ = kDefaultFramesPerSecond;
  struct sigaction previousHangup_ {};
  bool hangupWatched_ = false;
  bool videoStarted_ = false;
  bool keyWaiting_ = false;
};

}  // namespace

std::unique_ptr<Backend> makeWindowBackend() {
  return std::make_unique<SdlBackend>();
}

}  // namespace ptc
