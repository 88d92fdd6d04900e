// Console, surface, format and area: the toolkit's device-independent half.
#include <algorithm>
#include <cstring>
#include <string>

#include "ptc/ptc.h"

namespace ptc {

Format::Format(int bits, std::uint32_t redMask, std::uint32_t greenMask, std::uint32_t blueMask,
               std::uint32_t alphaMask)
    : bits_(bits) {
  if (bits != 32 || redMask != 0x00FF0000u || greenMask != 0x0000FF00u || blueMask != 0x000000FFu ||
      alphaMask != 0) {
    throw DynamicError("unsupported pixel format (only 32-bit 0x00RRGGBB is available)");
  }
}

Area::Area(int left, int top, int right, int bottom)
    : left_(left), top_(top), right_(right), bottom_(bottom) {}

Console::Console() = default;

Console::~Console() {
  close();
}

void Console::setBackend(std::unique_ptr<Backend> backend) {
  backend_ = std::move(backend);
}

bool Console::option(const std::string& text) {
  if (text == "fullscreen output") {
    fullscreen_ = true;
    return true;
  }
  if (text == "windowed output") {
    fullscreen_ = false;
    return true;
  }
  return false;
}

void Console::open(const char* title, int width, int height, const Format& /*format*/,
                   int /*pages*/) {
  if (width <= 0 || height <= 0) throw DynamicError("invalid console size");
  close();
  if (!backend_) backend_ = makeWindowBackend();
  frame_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0u);
  frameWidth_ = width;
  frameHeight_ = height;
  backend_->open(title, width, height, fullscreen_);
  open_ = true;
}

void Console::update() {
  if (open_) backend_->present(frame_.data(), frameWidth_, frameHeight_);
}

bool Console::show(const Surface& surface) {
  if (surface.width_ != frameWidth_ || surface.height_ != frameHeight_) return false;
  if (open_) backend_->present(surface.pixels_.data(), frameWidth_, frameHeight_);
  return true;
}

bool Console::key() {
  return open_ && backend_->keyWaiting();
}

void Console::close() {
  if (!open_) return;
  open_ = false;
  backend_->close();
}

void Console::receive(const std::uint32_t* pixels, const Area& source, int sourceWidth,
                      const Area& destination) {
  // A 1:1 copy of the overlap of both areas, clipped to the console, row by row.
  const int width = std::min(source.width(), destination.width());
  const int height = std::min(source.height(), destination.height());
  const int firstColumn = std::max(0, -destination.left());
  const int lastColumn = std::min(width, frameWidth_ - destination.left());
  if (lastColumn <= firstColumn) return;
  const int firstRow = std::max(0, -destination.top());
  const int lastRow = std::min(height, frameHeight_ - destination.top());
  // Whole rows of the same width on both sides lie back to back: one copy.
  if (destination.left() == 0 && source.left() == 0 && lastColumn == frameWidth_ &&
      sourceWidth == frameWidth_) {
    if (lastRow > firstRow) {
      const std::size_t firstFrom = static_cast<std::size_t>(source.top() + firstRow);
      const std::size_t firstTo = static_cast<std::size_t>(destination.top() + firstRow);
      std::copy_n(pixels + firstFrom * sourceWidth,
                  static_cast<std::size_t>(lastRow - firstRow) * frameWidth_,
                  frame_.data() + firstTo * frameWidth_);
    }
    return;
  }
  for (int row = firstRow; row < height; ++row) {
    const int toRow = destination.top() + row;
    if (toRow >= frameHeight_) break;
    const std::uint32_t* from = pixels +
                                static_cast<std::size_t>(source.top() + row) * sourceWidth +
                                source.left() + firstColumn;
    std::uint32_t* to = frame_.data() + static_cast<std::size_t>(toRow) * frameWidth_ +
                        destination.left() + firstColumn;
    std::copy_n(from, lastColumn - firstColumn, to);
  }
}

Surface::Surface(int width, int height, const Format& /*format*/) : width_(width), height_(height) {
  if (width <= 0 || height <= 0) throw DynamicError("invalid surface size");
  pixels_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0u);
}

void* Surface::lock() {
  return pixels_.data();
}

void Surface::unlock() {}

void Surface::copy(Console& console, const Area& source, const Area& destination) {
  // Clip the source to this surface so the console never reads past it.
  const Area clipped(std::max(source.left(), 0), std::max(source.top(), 0),
                     std::min(source.right(), width_), std::min(source.bottom(), height_));
  if (clipped.width() <= 0 || clipped.height() <= 0) return;
  const Area shifted(destination.left() + (clipped.left() - source.left()),
                     destination.top() + (clipped.top() - source.top()), destination.right(),
                     destination.bottom());
  console.receive(pixels_.data(), clipped, width_, shifted);
}

}  // namespace ptc
