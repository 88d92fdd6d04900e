// A console backend without a window: frames go to a callback, and key presses
// come from a script. Tests and the capture tool run the show on it.
#pragma once

#include <cstdint>
#include <functional>

#include "ptc/ptc.h"

namespace ptc {

class HeadlessBackend : public Backend {
 public:
  using FrameSink = std::function<void(const std::uint32_t* pixels, int width, int height)>;

  // `sink` may be empty. With `keyAfterFrames` >= 0, a key press waits once that
  // many frames have been presented (0: a key is waiting from the start).
  explicit HeadlessBackend(FrameSink sink = {}, long long keyAfterFrames = -1)
      : sink_(std::move(sink)), keyAfterFrames_(keyAfterFrames) {}

  void open(const char*, int, int, bool) override { open_ = true; }
  void present(const std::uint32_t* pixels, int width, int height) override {
    if (sink_) sink_(pixels, width, height);
    ++framesPresented_;
  }
  bool keyWaiting() override { return keyAfterFrames_ >= 0 && framesPresented_ >= keyAfterFrames_; }
  void close() override { open_ = false; }

  long long framesPresented() const { return framesPresented_; }
  bool isOpen() const { return open_; }

 private:
  FrameSink sink_;
  long long keyAfterFrames_;
  long long framesPresented_ = 0;
  bool open_ = false;
};

}  // namespace ptc
