// Whether the field worker should help with a frame's lines and draws,
// decided by trial.
//
// Where the two threads run on one core's two hardware threads, they share its
// caches and the help is nearly free. Where they run on separate cores, each
// line's pixels cross between the cores twice (the drawing thread wrote the
// picture under them and reads the frame out after), and the help costs more
// than it saves. Which of the two a machine gives can change while the show
// runs, so at the start of every cycle of frames a trial takes turns between
// helping and not, and the way with the shorter median frame is kept for the
// rest of the cycle. Only frames that draw a wire net count: the others take
// as long either way, and late in the show, where two frames in five draw
// none, their short times would decide the medians.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace vornisk {

class SharingTrial {
 public:
  // The trial takes turns of kTurnFrames frames with help and without. A
  // turn's first frame is not counted: it presents the frame before it, whose
  // lines were drawn the other way.
  static constexpr int kTurnFrames = 4;
  static constexpr int kTrialFrames = 8 * kTurnFrames;
  static constexpr int kCycleFrames = 512;

  // Whether the next frame is to be helped with.
  bool sharing() const { return sharing_; }

  // The time the frame just finished took (from the end of the one before),
  // and whether it drew a wire net; frames that drew none are passed over.
  void frameFinished(std::chrono::nanoseconds interval, bool drewNet) {
    if (!drewNet) return;
    if (frame_ < kTrialFrames && frame_ % kTurnFrames != 0) {
      std::int64_t* samples = sharing_ ? helped_ : alone_;
      const int turn = frame_ / kTurnFrames / 2;
      samples[turn * (kTurnFrames - 1) + frame_ % kTurnFrames - 1] = interval.count();
    }
    ++frame_;
    if (frame_ == kCycleFrames) frame_ = 0;
    if (frame_ < kTrialFrames) {
      sharing_ = frame_ / kTurnFrames % 2 == 0;
    } else if (frame_ == kTrialFrames) {
      sharing_ = median(helped_) <= median(alone_);
    }
  }

 private:
  static constexpr int kEach = kTrialFrames / 2 / kTurnFrames * (kTurnFrames - 1);
  static std::int64_t median(const std::int64_t (&values)[kEach]) {
    std::int64_t sorted[kEach];
    std::copy(std::begin(values), std::end(values), sorted);
    std::nth_element(sorted, sorted + kEach / 2, sorted + kEach);
    return sorted[kEach / 2];
  }

  int frame_ = 0;  // the next frame's place in its cycle
  bool sharing_ = true;
  std::int64_t helped_[kEach] = {};
  std::int64_t alone_[kEach] = {};
};

}  // namespace vornisk
