// The progress bar and its plain-line form for logs.
#include "capture/progress.h"

namespace capture {
namespace {

constexpr int kBarWidth = 40;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
// Plain lines are for logs: a short run prints none, a long one one per tenth.
constexpr auto kLineInterval = std::chrono::seconds(2);

}  // namespace

Progress::Progress(std::FILE* stream, Style style, std::uint64_t totalFrames)
    : stream_(stream),
      style_(style),
      totalFrames_(totalFrames),
      lastDraw_(std::chrono::steady_clock::now()) {}

void Progress::update(std::uint64_t framesDone) {
  if (totalFrames_ == 0) return;
  if (style_ == Style::Lines) {
    // One line at each tenth passed; several tenths at once print only the last.
    if (framesDone * 10 < nextTenth_ * totalFrames_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastDraw_ < kLineInterval) return;
    lastDraw_ = now;
    while (nextTenth_ <= 10 && framesDone * 10 >= nextTenth_ * totalFrames_)
      ++nextTenth_;
    std::fprintf(stream_, "vornisk-capture: %llu of %llu frames (%llu%%)\n",
                 static_cast<unsigned long long>(framesDone),
                 static_cast<unsigned long long>(totalFrames_),
                 static_cast<unsigned long long>(framesDone * 100 / totalFrames_));
    std::fflush(stream_);
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  if (barShown_ && now - lastDraw_ < kRedrawInterval && framesDone < totalFrames_) return;
  lastDraw_ = now;
  drawBar(framesDone);
}

void Progress::finish(std::uint64_t framesDone) {
  if (style_ == Style::Bar && barShown_ && framesDone != framesDrawn_) drawBar(framesDone);
}

void Progress::drawBar(std::uint64_t framesDone) {
  const std::uint64_t shown = framesDone < totalFrames_ ? framesDone : totalFrames_;
  const int filled = static_cast<int>(shown * kBarWidth / totalFrames_);
  char bar[kBarWidth + 1];
  for (int i = 0; i < kBarWidth; ++i)
    bar[i] = i < filled ? '#' : '.';
  bar[kBarWidth] = '\0';
  // Up to the bar's line, redraw it, clear what was left of a longer line, and
  // come back down: the cursor always waits at the start of the line below.
  std::fprintf(stream_, "%s\r[%s] %3llu%%  %llu/%llu frames\033[K\n", barShown_ ? "\033[A" : "",
               bar, static_cast<unsigned long long>(shown * 100 / totalFrames_),
               static_cast<unsigned long long>(framesDone),
               static_cast<unsigned long long>(totalFrames_));
  std::fflush(stream_);
  barShown_ = true;
  framesDrawn_ = framesDone;
}

}  // namespace capture
