// Progress of a capture on standard error. On a terminal: a bar redrawn a few
// times a second on its own line, with the cursor left below it so that any
// message printed meanwhile starts on a clean line. Elsewhere (CI logs, files):
// a plain line per tenth of the run, at most one every two seconds.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace capture {

class Progress {
 public:
  enum class Style { Bar, Lines };

  Progress(std::FILE* stream, Style style, std::uint64_t totalFrames);

  // Called after every frame with the count done so far.
  void update(std::uint64_t framesDone);
  // Draws the final state (once) if anything was drawn before.
  void finish(std::uint64_t framesDone);

 private:
  void drawBar(std::uint64_t framesDone);

  std::FILE* stream_;
  Style style_;
  std::uint64_t totalFrames_;
  std::uint64_t nextTenth_ = 1;
  bool barShown_ = false;
  std::uint64_t framesDrawn_ = 0;
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace capture
