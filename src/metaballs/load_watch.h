// Whether the field worker is getting a processor in time, decided from the
// drawing thread's waits for it.
//
// On a quiet machine with two processors the worker has one of its own, and
// the drawing thread never has to sleep waiting for it. On a busy machine the
// scheduler keeps it off for milliseconds at a time, while the drawing thread
// waits for a field or a share of the lines; it then does better alone. So a
// few frames that had to sleep within a short window send the drawing thread
// on alone for a rest, after which the worker is tried again; a trial that
// fails at once doubles the rest, one that lasts resets it. With fewer than
// two processors to run on (the affinity mask, the control group's quota) the
// drawing thread stays alone until more are allowed.
#pragma once

#include <cstdint>

namespace vornisk {

class LoadWatch {
 public:
  static constexpr int kWindowFrames = 32;
  static constexpr int kLateFramesToLeave = 3;  // within one window
  static constexpr std::uint32_t kFirstRestFrames = 1024;
  static constexpr std::uint32_t kLongestRestFrames = 65536;

  // Whether the drawing thread works alone for the next frame.
  bool alone() const { return restLeft_ != 0; }
  // Whether the next frameFinished() starts a window or ends a rest, where
  // the processors to be had are looked at again.
  bool wantsProcessorCount() const {
    return restLeft_ == 1 || (restLeft_ == 0 && windowFrames_ == 0);
  }
  // How often the drawing thread has gone on alone.
  std::uint32_t departures() const { return departures_; }

  // After each frame: whether the drawing thread had to sleep for the worker
  // in it, and how many processors the process may use.
  void frameFinished(bool late, int processors) {
    if (restLeft_ != 0) {
      if (--restLeft_ == 0 && processors < 2) restLeft_ = kFirstRestFrames;
      return;
    }
    if (processors < 2) {
      leave();
      return;
    }
    lateFrames_ += late ? 1 : 0;
    if (lateFrames_ >= kLateFramesToLeave) {
      leave();
      return;
    }
    if (++windowFrames_ == kWindowFrames) {
      // A whole window without enough late frames: the worker keeps up.
      rest_ = kFirstRestFrames;
      firstWindow_ = false;
      windowFrames_ = 0;
      lateFrames_ = 0;
    }
  }

 private:
  void leave() {
    // Leaving again in the first window after a rest: the machine is still
    // busy, so the next rest is longer.
    if (firstWindow_ && departures_ != 0 && rest_ < kLongestRestFrames) rest_ *= 2;
    restLeft_ = rest_;
    ++departures_;
    firstWindow_ = true;
    windowFrames_ = 0;
    lateFrames_ = 0;
  }

  std::uint32_t rest_ = kFirstRestFrames;  // the length of the next rest
  std::uint32_t restLeft_ = 0;
  std::uint32_t departures_ = 0;
  int windowFrames_ = 0;
  int lateFrames_ = 0;
  bool firstWindow_ = true;  // the window since the start or the last rest
};

}  // namespace vornisk
