// vornisk-capture: the show's own loop (runShow) with the window, the keys and
// the wall clock replaced, so that every run with the same options produces the
// same frames. Frames go to per-frame hashes, PNG files and/or an ffmpeg video.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace capture {

struct CaptureOptions {
  std::string dataDirectory;  // empty: the working directory
  std::uint32_t seed = 0;     // the virtual clock's first reading
  std::uint32_t framesPerSecond = 60;
  std::optional<std::uint64_t> frameLimit;  // stop after this many frames
  bool hash = false;
  std::string pngDirectory;            // empty: no PNG frames
  std::string videoFile;               // empty: no video
  std::optional<std::uint32_t> scale;  // default 1 for PNG frames, 3 for video
  bool overwrite = false;              // replace an existing video or folder's frames
  bool oneThread = false;              // prepare every field on the drawing thread
  bool help = false;
};

struct ParseResult {
  CaptureOptions options;
  std::string error;  // empty when the command line was accepted
};

// Reads the command line (argv[0] excluded). Accepts "--name value" and
// "--name=value". Every limit below is checked here, before any frame.
ParseResult parseCommandLine(const std::vector<std::string>& arguments);

// The usage text printed by --help.
std::string usageText();

// Scale defaults differ by output: a PNG frame is a true-size still, a video is
// meant to be watched and is enlarged by default.
inline constexpr std::uint32_t kDefaultPngScale = 1;
inline constexpr std::uint32_t kDefaultVideoScale = 3;
// A frame enlarged 64 times (20480 x 15360) is about the largest PNG whose rows
// fit in one allocation of a 32-bit size.
inline constexpr std::uint32_t kMaxScale = 64;
// H.264's largest level (6.2) takes at most 139,264 macroblocks a frame:
// 6720 x 5040 at scale 21. libx264 refuses much larger frames only once running.
inline constexpr std::uint32_t kMaxVideoScale = 21;
// Matroska stores times in milliseconds: faster frames would share them.
inline constexpr std::uint32_t kMaxVideoFramesPerSecond = 1000;
// A whole show of more frames (above 1000 frames a second) runs only when
// --frames asks for that many: minutes of work and gigabytes of PNG files.
inline constexpr std::uint64_t kMaxFramesUnasked = 174000;

// The clock the show reads while it is captured: every reading is
// seed + floor(k × 1000 / fps) modulo 2^32, where k counts the frames presented
// so far. Frame k thus sees the same elapsed time on every machine.
class VirtualClock {
 public:
  VirtualClock(std::uint32_t seed, std::uint32_t framesPerSecond)
      : seed_(seed), framesPerSecond_(framesPerSecond) {}

  std::uint32_t reading() const {
    // k × 1000 is formed in 64 bits: at high frame rates it passes 2^32 long
    // before the show ends. Only the sum wraps, like the real timer.
    const std::uint64_t elapsedMs = framesPresented_ * 1000u / framesPerSecond_;
    return seed_ + static_cast<std::uint32_t>(elapsedMs);
  }
  void framePresented() { ++framesPresented_; }
  std::uint64_t framesPresented() const { return framesPresented_; }

  // Adapter for timing::setTimeSource.
  static std::uint32_t read(void* self) { return static_cast<VirtualClock*>(self)->reading(); }

 private:
  std::uint32_t seed_;
  std::uint32_t framesPerSecond_;
  std::uint64_t framesPresented_ = 0;
};

// Frames in the whole show at this rate: frame k is drawn while
// floor(k × 1000 / fps) < 174000, that is while k < 174 × fps.
std::uint64_t showFrameCount(std::uint32_t framesPerSecond);

// Runs the capture and returns the process exit status (0, or 1 after an error
// reported as one line on standard error).
int runCapture(const CaptureOptions& options);

}  // namespace capture
