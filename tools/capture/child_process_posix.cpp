// The video encoder as a child process on POSIX systems: posix_spawn with a
// pipe as its standard input.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "capture/child_process.h"

extern char** environ;

namespace capture {
namespace {

bool isExecutableFile(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

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

ChildProcess::~ChildProcess() {
  wait();
}

std::string ChildProcess::start(const std::string& program,
                                const std::vector<std::string>& arguments) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0)
    return std::string("cannot make a pipe: ") + std::strerror(errno);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);

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
    return std::strerror(spawnError);
  }
  process_ = child;
  input_ = fds[1];
  return {};
}

ChildProcess::Sent ChildProcess::write(const void* data, std::size_t size) {
  if (input_ == kNone) return Sent::ReaderGone;
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(static_cast<int>(input_), bytes, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      if (errno == EPIPE) return Sent::ReaderGone;
      error_ = std::strerror(errno);
      return Sent::Failed;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return Sent::All;
}

void ChildProcess::closeInput() {
  if (input_ == kNone) return;
  ::close(static_cast<int>(input_));
  input_ = kNone;
}

void ChildProcess::kill() {
  closeInput();
  if (process_ != kNone) ::kill(static_cast<pid_t>(process_), SIGKILL);
  wait();
}

ChildProcess::End ChildProcess::wait() {
  closeInput();
  End end;
  if (process_ == kNone) return end;
  int status = 0;
  pid_t waited;
  do {
    waited = ::waitpid(static_cast<pid_t>(process_), &status, 0);
  } while (waited < 0 && errno == EINTR);
  process_ = kNone;
  if (waited < 0) {
    error_ = std::strerror(errno);
    return end;
  }
  end.waited = true;
  end.signalled = !WIFEXITED(status);
  end.status = WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status);
  return end;
}

}  // namespace capture
