// The ring's hand-over. The copy into a free slot happens outside the lock: a
// slot between first_ + filled_ and the end of the free run belongs to the
// show's thread alone until it is counted in filled_.
#include "capture/frame_ring.h"

#include <algorithm>

namespace capture {

FrameRing::FrameRing(std::size_t slots, std::size_t wordsPerFrame)
    : slots_(slots), batch_(std::max<std::size_t>(slots / 2, 1)) {
  for (Frame& frame : slots_)
    frame.pixels.resize(wordsPerFrame);
}

bool FrameRing::push(const std::uint32_t* pixels, int width, int height) {
  std::size_t slot;
  {
    std::unique_lock lock(mutex_);
    if (filled_ == slots_.size() && !abandoned_) {
      showWaiting_ = true;
      slotFreed_.wait(lock, [&] { return abandoned_ || filled_ + batch_ <= slots_.size(); });
      showWaiting_ = false;
    }
    if (abandoned_) return false;
    slot = (first_ + filled_) % slots_.size();
  }
  Frame& frame = slots_[slot];
  const std::size_t words = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (frame.pixels.size() < words) frame.pixels.resize(words);
  std::copy_n(pixels, words, frame.pixels.begin());
  frame.width = width;
  frame.height = height;
  bool wake;
  {
    std::lock_guard lock(mutex_);
    ++filled_;
    wake = outputWaiting_ && filled_ >= batch_;
  }
  if (wake) frameAdded_.notify_one();
  return true;
}

void FrameRing::close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  frameAdded_.notify_one();
}

const FrameRing::Frame* FrameRing::front() {
  std::unique_lock lock(mutex_);
  if (filled_ == 0 && !closed_) {
    outputWaiting_ = true;
    frameAdded_.wait(lock, [&] { return closed_ || filled_ >= batch_; });
    outputWaiting_ = false;
  }
  return filled_ > 0 ? &slots_[first_] : nullptr;
}

void FrameRing::pop() {
  bool wake;
  {
    std::lock_guard lock(mutex_);
    first_ = (first_ + 1) % slots_.size();
    --filled_;
    wake = showWaiting_ && filled_ + batch_ <= slots_.size();
  }
  if (wake) slotFreed_.notify_one();
}

void FrameRing::abandon() {
  {
    std::lock_guard lock(mutex_);
    abandoned_ = true;
  }
  slotFreed_.notify_one();
}

}  // namespace capture
