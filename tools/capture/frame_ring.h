// Frames handed from the show's thread to one output thread, in order, through
// a fixed ring of buffers: a hand-over is a copy under a lock, never an
// allocation, and the show waits only while every buffer is still full.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace capture {

class FrameRing {
 public:
  struct Frame {
    std::vector<std::uint32_t> pixels;
    int width = 0;
    int height = 0;
  };

  // `slots` buffers of `wordsPerFrame` words each; a larger frame grows its buffer.
  FrameRing(std::size_t slots, std::size_t wordsPerFrame);

  // The show's side. Copies the frame into the next free buffer, waiting while
  // there is none. Returns false, copying nothing, once the output side has
  // given up.
  bool push(const std::uint32_t* pixels, int width, int height);
  // No frame follows: the output side drains what is left, then stops.
  void close();

  // The output side. The oldest frame not yet taken, waiting for one; null
  // once the ring is closed and empty. The frame stays valid until pop().
  const Frame* front();
  void pop();
  // Takes no more frames: push() refuses them from now on and stops waiting.
  void abandon();

 private:
  std::mutex mutex_;
  std::condition_variable frameAdded_;
  std::condition_variable slotFreed_;
  std::vector<Frame> slots_;
  // A side that found nothing to do sleeps until a batch of slots is ready:
  // waking a thread costs a system call, too dear to pay for every frame.
  std::size_t batch_;
  std::size_t first_ = 0;  // the oldest filled slot
  std::size_t filled_ = 0;
  bool showWaiting_ = false;
  bool outputWaiting_ = false;
  bool closed_ = false;
  bool abandoned_ = false;
};

}  // namespace capture
