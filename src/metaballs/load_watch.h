// Whether the field worker is getting a processor in time, decided from the
// drawing thread's waits for it.
//
// On a quiet machine with two processors the worker has one of its own, and
// the drawing thread never has to sleep waiting for it. On a busy machine the
// scheduler keeps it off for milliseconds at a time, while the drawing thread
// waits for a field or a share of the lines; it then does better alone. It
// also does better alone when the process as a whole gets only a share of
// the machine: two threads spend it worse than one (more work to hand over,
// and each waits while the other is kept off). So the drawing thread goes on
// alone for a rest after a few frames that had to sleep within a window, or
// after two windows in a row in which it got too little of a processor
// itself while frames came as fast as they could. After the rest the worker
// is on trial for a window: one late frame or one starved window sends the
// drawing thread off again for twice as long; a trial that passes resets the
// rest. With fewer than two processors to run on (the affinity mask, the
// control group's quota) the drawing thread stays alone until more are
// allowed.
#pragma once

#include <cstdint>

namespace vornisk {

class LoadWatch {
 public:
  static constexpr int kWindowFrames = 32;
  static constexpr int kLateFramesToLeave = 3;      // within one window
  static constexpr int kStarvedWindowsToLeave = 2;  // in a row
  // In the first window after a rest the worker is on trial: each late frame
  // costs the drawing thread a wait of up to a scheduler's time slice.
  static constexpr int kLateFramesToEndTrial = 1;
  static constexpr std::uint32_t kFirstRestFrames = 1024;
  static constexpr std::uint32_t kLongestRestFrames = 65536;

  // Whether the drawing thread works alone for the next frame.
  bool alone() const { return restLeft_ != 0; }
  // Whether the next frameFinished() starts a window or ends a rest, where
  // the processors to be had are looked at again.
  bool wantsProcessorCount() const { return restLeft_ == 1 || windowStarts(); }
  // How often the drawing thread has gone on alone.
  std::uint32_t departures() const { return departures_; }

  // Whether a window starts with the next frame.
  bool windowStarts() const { return restLeft_ == 0 && windowFrames_ == 0; }
  // Whether the next frameFinished() ends a window, where the drawing
  // thread's share of a processor over the window is looked at.
  bool windowEnds() const { return restLeft_ == 0 && windowFrames_ == kWindowFrames - 1; }

  // After each frame: whether the drawing thread had to sleep for the worker
  // in it, how many processors the process may use, and, at the end of a
  // window, whether the drawing thread got too little processor time in it.
  void frameFinished(bool late, int processors, bool starved = false) {
    if (restLeft_ != 0) {
      if (--restLeft_ == 0 && processors < 2) restLeft_ = kFirstRestFrames;
      return;
    }
    if (processors < 2) {
      leave();
      return;
    }
    if (windowFrames_ == kWindowFrames - 1) {
      // One starved window can be a moment's disturbance on a quiet machine;
      // two in a row, or one while the worker is on trial after a rest, is
      // a busy machine.
      starvedWindows_ = starved ? starvedWindows_ + 1 : 0;
      if (starvedWindows_ >= (onTrial() ? 1 : kStarvedWindowsToLeave)) {
        leave();
        return;
      }
    }
    lateFrames_ += late ? 1 : 0;
    if (lateFrames_ >= (onTrial() ? kLateFramesToEndTrial : kLateFramesToLeave)) {
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
  bool onTrial() const { return firstWindow_ && departures_ != 0; }
  void leave() {
    // Leaving again in the first window after a rest: the machine is still
    // busy, so the next rest is longer.
    if (onTrial() && rest_ < kLongestRestFrames) rest_ *= 2;
    restLeft_ = rest_;
    ++departures_;
    firstWindow_ = true;
    windowFrames_ = 0;
    lateFrames_ = 0;
    starvedWindows_ = 0;
  }

  std::uint32_t rest_ = kFirstRestFrames;  // the length of the next rest
  std::uint32_t restLeft_ = 0;
  std::uint32_t departures_ = 0;
  int windowFrames_ = 0;
  int lateFrames_ = 0;
  int starvedWindows_ = 0;   // windows in a row, up to the last one
  bool firstWindow_ = true;  // the window since the start or the last rest
};

}  // namespace vornisk
