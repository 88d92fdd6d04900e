// A video of captured frames, encoded by the ffmpeg command-line tool: frames
// are piped to it raw (bgr0, which is the show's 0x00RRGGBB word in little-endian
// memory order), enlarged by whole-pixel replication, and the music is muxed in
// when there is one to add.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace capture {

// The full path of an executable found on PATH, or an empty string.
std::string findOnPath(const std::string& name);

// The ffmpeg container (muxer) that a video file's extension names: .mp4 and
// .m4v (mp4), .mov (mov), .mkv (matroska); empty for any other name.
std::string containerFor(const std::string& file);

struct VideoSettings {
  std::string outputFile;
  std::string container;  // ffmpeg's muxer; the file's name need not tell it
  std::uint32_t framesPerSecond = 60;
  std::uint32_t scale = 3;
  std::string musicFile;  // empty: a silent video
};

class VideoWriter {
 public:
  explicit VideoWriter(VideoSettings settings) : settings_(std::move(settings)) {}
  ~VideoWriter();
  VideoWriter(const VideoWriter&) = delete;
  VideoWriter& operator=(const VideoWriter&) = delete;

  // Starts ffmpeg on the first frame, so that a run that draws nothing leaves no
  // file behind. Returns an empty string or a one-line error.
  std::string write(const std::uint32_t* pixels, int width, int height);

  // Closes the pipe so ffmpeg finishes the file with the frames sent so far,
  // and waits for it. Returns an empty string or a one-line error.
  std::string finish();
  // Whether ffmpeg was started (by a first frame).
  bool started() const { return encoder_ != -1; }
  // Ends ffmpeg at once, without finishing its file (which is then removed).
  void abandon();

  // The ffmpeg command line for frames of this size (the program name first).
  std::vector<std::string> commandLine(int width, int height) const;

 private:
  std::string start(int width, int height);
  std::string waitForEncoder();

  VideoSettings settings_;
  pid_t encoder_ = -1;
  int pipe_ = -1;
};

}  // namespace capture
