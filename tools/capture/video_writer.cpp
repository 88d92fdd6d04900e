// The ffmpeg encoder as a child process fed through a pipe (child_process.h).
#include "capture/video_writer.h"

#include <cstring>

namespace capture {
namespace {

bool endsWith(const std::string& text, const char* suffix) {
  const std::size_t length = std::strlen(suffix);
  if (text.size() < length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    const char c = text[text.size() - length + i];
    const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (lower != suffix[i]) return false;
  }
  return true;
}

}  // namespace

std::string containerFor(const std::string& file) {
  static constexpr const char* kContainers[][2] = {
      {".mp4", "mp4"}, {".m4v", "mp4"}, {".mov", "mov"}, {".mkv", "matroska"}};
  for (const auto& [extension, container] : kContainers) {
    if (endsWith(file, extension)) return container;
  }
  return {};
}

// Reached without finish() only when the run failed: its file is not kept.
VideoWriter::~VideoWriter() {
  if (encoder_.running()) abandon();
}

std::vector<std::string> VideoWriter::commandLine(int width, int height) const {
  const std::uint32_t scale = settings_.scale;
  std::vector<std::string> arguments = {
      "ffmpeg", "-hide_banner", "-nostats", "-loglevel", "error", "-y",
      // The frames: raw words on standard input, at the capture's own rate.
      "-f", "rawvideo", "-pix_fmt", "bgr0", "-video_size",
      std::to_string(width) + "x" + std::to_string(height), "-framerate",
      std::to_string(settings_.framesPerSecond), "-i", "pipe:0"};
  // "file:" keeps a name that starts with '-' or holds a ':' from being read as
  // an option or a protocol.
  if (!settings_.musicFile.empty()) {
    arguments.insert(arguments.end(), {"-i", "file:" + settings_.musicFile});
  }
  arguments.insert(arguments.end(), {"-map", "0:v:0"});
  // ffmpeg enlarges the frames itself, on its own threads: whole-pixel blocks
  // (nearest neighbour), and a quarter of the bytes through the pipe at scale 2.
  if (scale > 1) {
    arguments.insert(arguments.end(), {"-vf", "scale=iw*" + std::to_string(scale) + ":ih*" +
                                                  std::to_string(scale) + ":flags=neighbor"});
  }
  if (!settings_.musicFile.empty()) {
    // The music is padded with silence when it is shorter than the show and cut
    // where the frames end.
    arguments.insert(arguments.end(),
                     {"-map", "1:a:0", "-af", "apad", "-c:a", "aac", "-b:a", "192k", "-shortest"});
  }
  // ultrafast: the whole show in well under a minute on two cores (a third of
  // veryfast's work); crf 21 keeps it a little closer to the frames than
  // veryfast at crf 18, in files some 1.6 times as large. 4:2:0 so that every
  // player plays it; at an odd scale its 2 × 2 chroma blocks straddle source
  // pixels and tint the edges of one-pixel lines, which an even scale avoids.
  arguments.insert(arguments.end(), {"-c:v", "libx264", "-preset", "ultrafast", "-crf", "21",
                                     "-pix_fmt", "yuv420p"});
  // The index up front lets a player start before the whole file has arrived;
  // the option exists only for the MP4 family of containers.
  const std::string& container = settings_.container;
  if (container == "mp4" || container == "mov") {
    arguments.insert(arguments.end(), {"-movflags", "+faststart"});
  }
  // The container is named: the file is written under a temporary name.
  arguments.insert(arguments.end(), {"-f", container, "file:" + settings_.outputFile});
  return arguments;
}

std::string VideoWriter::start(int width, int height) {
  const std::string program = findOnPath("ffmpeg");
  if (program.empty()) return "ffmpeg was not found on PATH (install the ffmpeg package)";
  started_ = true;  // started or failed: never started again
  // Frames on standard input; standard output stays ours (it may carry hashes).
  if (std::string error = encoder_.start(program, commandLine(width, height)); !error.empty()) {
    return "cannot start " + program + ": " + error;
  }
  return {};
}

std::string VideoWriter::write(const std::uint32_t* pixels, int width, int height) {
  if (!started_) {
    std::string error = start(width, height);
    if (!error.empty()) return error;
  }
  if (!encoder_.running()) return "ffmpeg is no longer running";

  // bgr0 is byte order B, G, R, 0: the 0x00RRGGBB word as a little-endian
  // machine stores it.
  const ChildProcess::Sent sent =
      encoder_.write(pixels, static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                                 sizeof(std::uint32_t));
  if (sent == ChildProcess::Sent::All) return {};
  const std::string writeError = encoder_.error();
  const std::string status = waitForEncoder();
  if (sent == ChildProcess::Sent::ReaderGone) {
    return "ffmpeg stopped reading frames" + (status.empty() ? std::string() : " (" + status + ")");
  }
  return "cannot send a frame to ffmpeg: " + writeError;
}

std::string VideoWriter::waitForEncoder() {
  if (!encoder_.running()) return {};
  const ChildProcess::End end = encoder_.wait();
  if (!end.waited) return "cannot wait for ffmpeg: " + encoder_.error();
  if (!end.signalled && end.status == 0) return {};
  if (!end.signalled) return "ffmpeg failed with exit status " + std::to_string(end.status);
  return "ffmpeg was ended by signal " + std::to_string(end.status);
}

void VideoWriter::abandon() {
  encoder_.kill();
}

std::string VideoWriter::finish() {
  return waitForEncoder();
}

}  // namespace capture
