// A small pixel toolkit on SDL2 (or a web page's canvas): a console that shows
// 32-bit frames and reports keys, off-screen surfaces, pixel formats, areas and
// the error object. It carries no logic of the show.
//
// A console shows its frames through a Backend: the SDL window by default, or
// any other (the headless one in headless.h serves tests and the capture tool).
//
// Settings of the toolkit, read when a console opens:
//   PTC_WINDOWED=1  windowed output even when the program asks for full screen
//   PTC_FPS=N       pace update() to N frames per second (default 60; 0 = unpaced)
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace ptc {

// The toolkit's error object: thrown with a one-line message.
class DynamicError : public std::runtime_error {
 public:
  explicit DynamicError(const std::string& message) : std::runtime_error(message) {}
  const char* message() const noexcept { return what(); }
};

// A pixel format. Only the direct 32-bit format 0x00RRGGBB is supported.
class Format {
 public:
  Format(int bits, std::uint32_t redMask, std::uint32_t greenMask, std::uint32_t blueMask,
         std::uint32_t alphaMask = 0);
  int bits() const { return bits_; }

 private:
  int bits_;
};

// A rectangle: left and top inclusive, right and bottom exclusive.
class Area {
 public:
  Area(int left, int top, int right, int bottom);
  int left() const { return left_; }
  int top() const { return top_; }
  int right() const { return right_; }
  int bottom() const { return bottom_; }
  int width() const { return right_ - left_; }
  int height() const { return bottom_ - top_; }

 private:
  int left_, top_, right_, bottom_;
};

// Where a console's frames go and where its key presses come from.
class Backend {
 public:
  virtual ~Backend() = default;
  // Throws DynamicError when the output cannot be opened.
  virtual void open(const char* title, int width, int height, bool fullscreen) = 0;
  // Shows one frame: packed rows of 0x00RRGGBB words, `width` words per row.
  // This and keyWaiting() throw DynamicError once the display is lost.
  virtual void present(const std::uint32_t* pixels, int width, int height) = 0;
  // True while a key press (or a request to quit) is waiting.
  virtual bool keyWaiting() = 0;
  // Idempotent; also called by the destructor of the console.
  virtual void close() = 0;
};

// The platform's window backend: the SDL window on the desktop (sdl_backend.cpp),
// the page's canvas in a web browser (web_backend.cpp).
std::unique_ptr<Backend> makeWindowBackend();

class Surface;

class Console {
 public:
  Console();
  virtual ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // Replaces the backend; before open(). Without one, open() uses the window backend.
  void setBackend(std::unique_ptr<Backend> backend);

  // "fullscreen output" or "windowed output"; false for any other text.
  bool option(const std::string& text);
  // Opens the output. `pages` is accepted for compatibility and ignored.
  void open(const char* title, int width, int height, const Format& format, int pages = 0);
  // Shows what was last copied to the console.
  void update();
  // Shows a surface of the console's size as copying the whole of it to the
  // console and update() would, without the copy: its pixels go straight to
  // the output. The console's own frame is left as it was. False, showing
  // nothing, when the sizes differ.
  bool show(const Surface& surface);
  // True while a key press is waiting.
  bool key();
  // Closes the output; harmless when not open or already closed.
  void close();

 private:
  friend class Surface;
  void receive(const std::uint32_t* pixels, const Area& source, int sourceWidth,
               const Area& destination);

  std::unique_ptr<Backend> backend_;
  std::vector<std::uint32_t> frame_;
  int frameWidth_ = 0;
  int frameHeight_ = 0;
  bool fullscreen_ = true;
  bool open_ = false;
};

// An off-screen surface of packed 32-bit pixels; its contents persist.
class Surface {
 public:
  Surface(int width, int height, const Format& format);
  int width() const { return width_; }
  int height() const { return height_; }
  int pitch() const { return width_ * 4; }
  // The first pixel of the top row; rows follow without gaps.
  void* lock();
  void unlock();
  // Copies `source` of this surface to `destination` of the console, 1:1.
  void copy(Console& console, const Area& source, const Area& destination);

 private:
  friend class Console;
  std::vector<std::uint32_t> pixels_;
  int width_;
  int height_;
};

}  // namespace ptc
