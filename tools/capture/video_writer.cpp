// The ffmpeg encoder as a child process fed through a pipe.
#include "capture/video_writer.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace capture {
namespace {

bool isExecutableFile(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

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

// Writes all of `size` bytes, across partial writes and interruptions.
bool writeAll(int fd, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(fd, bytes, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
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

std::string findOnPath(const std::string& name) {
  if (name.find('/') != std::string::npos) return isExecutableFile(name) ? name : std::string();
  const char* path = std::getenv("PATH");
  if (path == nullptr) return {};
  const std::string directories = path;
  std::size_t begin = 0;
  while (begin <= directories.size()) {
    std::size_t end = directories.find(':', begin);
    if (end == std::string::npos) end = directories.size();
    // An empty entry means the working directory.
    std::string directory = directories.substr(begin, end - begin);
    if (directory.empty()) directory = ".";
    const std::string candidate = directory + '/' + name;
    if (isExecutableFile(candidate)) return candidate;
    begin = end + 1;
  }
  return {};
}

// Reached without finish() only when the run failed: its file is not kept.
VideoWriter::~VideoWriter() {
  if (pipe_ >= 0 || encoder_ > 0) abandon();
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

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    return std::string("cannot make a pipe for ffmpeg: ") + std::strerror(errno);
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // Frames on standard input; standard output stays ours (it may carry hashes).
  posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);

  const std::vector<std::string> arguments = commandLine(width, height);
  std::vector<char*> argv;
  for (const std::string& argument : arguments)
    argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  pid_t child = -1;
  const int spawnError =
      posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[0]);
  if (spawnError != 0) {
    ::close(fds[1]);
    return "cannot start " + program + ": " + std::strerror(spawnError);
  }
  encoder_ = child;
  pipe_ = fds[1];
  return {};
}

std::string VideoWriter::write(const std::uint32_t* pixels, int width, int height) {
  if (encoder_ < 0) {
    std::string error = start(width, height);
    if (!error.empty()) return error;
  }
  if (pipe_ < 0) return "ffmpeg is no longer running";

  // bgr0 is byte order B, G, R, 0: the 0x00RRGGBB word as a little-endian
  // machine stores it.
  if (!writeAll(pipe_, pixels,
                static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                    sizeof(std::uint32_t))) {
    const int writeErrno = errno;
    ::close(pipe_);
    pipe_ = -1;
    std::string status = waitForEncoder();
    if (writeErrno == EPIPE) {
      return "ffmpeg stopped reading frames" +
             (status.empty() ? std::string() : " (" + status + ")");
    }
    return std::string("cannot send a frame to ffmpeg: ") + std::strerror(writeErrno);
  }
  return {};
}

std::string VideoWriter::waitForEncoder() {
  if (encoder_ <= 0) return {};
  int status = 0;
  pid_t waited;
  do {
    waited = ::waitpid(encoder_, &status, 0);
  } while (waited < 0 && errno == EINTR);
  encoder_ = 0;  // started and finished: never started again
  if (waited < 0) return std::string("cannot wait for ffmpeg: ") + std::strerror(errno);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {};
  if (WIFEXITED(status))
    return "ffmpeg failed with exit status " + std::to_string(WEXITSTATUS(status));
  return "ffmpeg was ended by signal " + std::to_string(WTERMSIG(status));
}

void VideoWriter::abandon() {
  if (pipe_ >= 0) {
    ::close(pipe_);
    pipe_ = -1;
  }
  if (encoder_ > 0) ::kill(encoder_, SIGKILL);
  waitForEncoder();
}

std::string VideoWriter::finish() {
  if (pipe_ >= 0) {
    ::close(pipe_);
    pipe_ = -1;
  }
  return waitForEncoder();
}

}  // namespace capture
