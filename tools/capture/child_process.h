// A helper program started with its standard input fed through a pipe (the
// video encoder): its standard output goes nowhere, its standard error is
// ours. POSIX systems (posix_spawn) in child_process_posix.cpp, Windows
// (CreateProcessW, with PATH split at ';' and PATHEXT tried) in
// child_process_windows.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace capture {

// The full path of an executable found on PATH, or an empty string; a name
// with a folder in it is taken as it is.
std::string findOnPath(const std::string& name);

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();  // closes the pipe and waits
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts `program` (a path) with `arguments`, argument 0 first. Returns an
  // empty string or the reason it could not start.
  std::string start(const std::string& program, const std::vector<std::string>& arguments);

  enum class Sent { All, ReaderGone, Failed };
  // Writes all of `size` bytes into the child's standard input; after
  // Failed, error() says why.
  Sent write(const void* data, std::size_t size);
  std::string error() const { return error_; }

  // The child's standard input reaches its end.
  void closeInput();

  struct End {
    bool waited = false;  // false: error() says why
    bool signalled = false;
    int status = 0;  // the exit status, or the signal that ended it
  };
  // Closes the input and waits for the child's end (at once if it has none).
  End wait();
  // Ends the child at once (it finishes nothing), then waits for it.
  void kill();

  bool running() const { return process_ != kNone; }

 private:
  static constexpr std::intptr_t kNone = -1;
  std::intptr_t process_ = kNone;  // a pid, or a process handle
  std::intptr_t input_ = kNone;    // a file descriptor, or a pipe handle
  std::string error_;
};

}  // namespace capture
