// The real programs against bad files, missing devices and every way out.
// Each case starts `vornisk` or `vornisk-capture` from the build's bin folder
// as a child process in a folder of its own and checks what a user would see:
// the exit status, the lines on standard output and standard error, the time
// it took, and that no file was written. A child that hangs is killed after
// 30 s and the case fails; nothing here can block the suite.
#include <dlfcn.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

extern char** environ;

namespace vornisk {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testing::binDirectory;
using testing::makeTempDirectory;
using testing::sourceDirectory;
using testing::writeFile;
using Bytes = std::vector<unsigned char>;

constexpr auto kHardTimeout = std::chrono::seconds(30);
// A show at 60 frames per second must be gone this soon after a signal: a frame
// or two, plus closing the display and the sound device.
constexpr auto kPromptExit = std::chrono::milliseconds(1000);
// How long a demo runs before the test ends it, once it is in its frame loop.
constexpr auto kShowRunsFor = std::chrono::milliseconds(1500);

// How the child's working directory is spoiled before the program starts.
enum class WorkingDirectory { Normal, Deleted, Unreadable };

struct Launch {
  std::string program;  // "vornisk" or "vornisk-capture"
  std::vector<std::string> arguments;
  std::string directory;  // the working directory
  // Changes to the test's environment: a value sets, nullopt removes.
  std::map<std::string, std::optional<std::string>> environment;
  WorkingDirectory workingDirectory = WorkingDirectory::Normal;
  // Send this signal once the program is in its frame loop and has run a while.
  int signalToSend = 0;
  // Or, more generally: once `isRunning` has held for a while, `stop` it.
  std::function<bool(pid_t)> isRunning;
  std::function<void(pid_t)> stop;
};

Launch demoIn(const std::string& folder) {
  Launch launch;
  launch.program = "vornisk";
  launch.directory = folder;
  return launch;
}

Launch captureIn(const std::string& folder, std::vector<std::string> arguments) {
  Launch launch;
  launch.program = "vornisk-capture";
  launch.arguments = std::move(arguments);
  launch.directory = folder;
  return launch;
}

struct Outcome {
  bool started = false;
  bool timedOut = false;
  bool exited = false;
  int status = -1;      // exit status when `exited`
  int deathSignal = 0;  // the signal that killed it otherwise
  std::string out;
  std::string err;
  Clock::duration runTime{};
  Clock::duration exitAfterStop{};  // from the signal (or other stop) to the child's end
  bool stopSent = false;

  std::string describe() const {
    std::ostringstream text;
    if (timedOut) text << "killed after the hard timeout; ";
    if (exited) text << "exit status " << status << "; ";
    if (deathSignal != 0) text << "killed by signal " << deathSignal << "; ";
    text << "stdout:\n" << out << "\nstderr:\n" << err;
    return text.str();
  }
};

std::vector<std::string> childEnvironment(const Launch& launch) {
  std::map<std::string, std::string> values;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::size_t equals = text.find('=');
    if (equals != std::string::npos) values[text.substr(0, equals)] = text.substr(equals + 1);
  }
  // The demo paces to 60 frames per second unless a test says otherwise.
  values["PTC_FPS"] = "60";
  for (const auto& [name, value] : launch.environment) {
    if (value) {
      values[name] = *value;
    } else {
      values.erase(name);
    }
  }
  std::vector<std::string> result;
  for (const auto& [name, value] : values)
    result.push_back(name + "=" + value);
  return result;
}

// Whether process `pid` has a handler for `signal` (SDL installs its SIGINT and
// SIGTERM handlers when the display opens, just before the frame loop).
bool catchesSignal(pid_t pid, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("SigCgt:", 0) == 0) {
      const std::uint64_t mask = std::strtoull(line.c_str() + 7, nullptr, 16);
      return ((mask >> (signal - 1)) & 1u) != 0;
    }
  }
  return false;
}

constexpr int kCannotDropPrivileges = 125;

// Runs the program as a child with its output captured, a hard timeout and,
// if asked, a signal once it is in its frame loop.
Outcome run(const Launch& launch) {
  Outcome outcome;
  const std::string path = binDirectory() + "/" + launch.program;
  std::vector<std::string> argumentText{path};
  argumentText.insert(argumentText.end(), launch.arguments.begin(), launch.arguments.end());
  std::vector<char*> argv;
  for (std::string& text : argumentText)
    argv.push_back(text.data());
  argv.push_back(nullptr);
  std::vector<std::string> environmentText = childEnvironment(launch);
  std::vector<char*> envp;
  for (std::string& text : environmentText)
    envp.push_back(text.data());
  envp.push_back(nullptr);

  int outPipe[2];
  int errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "cannot make pipes";
    return outcome;
  }
  const Clock::time_point start = Clock::now();
  const pid_t pid = fork();
  if (pid < 0) {
    ADD_FAILURE() << "cannot fork";
    return outcome;
  }
  if (pid == 0) {
    // The child: only async-signal-safe calls until exec.
    const int devNull = open("/dev/null", O_RDONLY);
    dup2(devNull, STDIN_FILENO);
    dup2(outPipe[1], STDOUT_FILENO);
    dup2(errPipe[1], STDERR_FILENO);
    if (chdir(launch.directory.c_str()) != 0) _exit(127);
    if (launch.workingDirectory == WorkingDirectory::Deleted) {
      if (rmdir(launch.directory.c_str()) != 0) _exit(127);
    } else if (launch.workingDirectory == WorkingDirectory::Unreadable) {
      if (chmod(".", 0) != 0) _exit(127);
      // Root reads through any permission; an unprivileged user cannot.
      if (geteuid() == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) {
          _exit(kCannotDropPrivileges);
        }
      }
    }
    execve(path.c_str(), argv.data(), envp.data());
    const char message[] = "cannot start the program\n";
    [[maybe_unused]] const ssize_t ignored = write(STDERR_FILENO, message, sizeof message - 1);
    _exit(errno == EACCES ? kCannotDropPrivileges : 127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  outcome.started = true;

  Clock::time_point readySince{};
  Clock::time_point stoppedAt{};
  std::function<bool(pid_t)> isRunning = launch.isRunning;
  std::function<void(pid_t)> stop = launch.stop;
  if (launch.signalToSend != 0) {
    const int signal = launch.signalToSend;
    isRunning = [signal](pid_t child) { return catchesSignal(child, signal); };
    stop = [signal](pid_t child) { kill(child, signal); };
  }
  bool outOpen = true;
  bool errOpen = true;
  int waitStatus = 0;
  bool reaped = false;
  while (!reaped || outOpen || errOpen) {
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    poll(fds, 2, 5);
    for (int i = 0; i < 2; ++i) {
      bool& open = i == 0 ? outOpen : errOpen;
      if (!open || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      char buffer[4096];
      const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        (i == 0 ? outcome.out : outcome.err).append(buffer, static_cast<std::size_t>(got));
      } else {
        open = false;
      }
    }
    const Clock::time_point now = Clock::now();
    if (!reaped && waitpid(pid, &waitStatus, WNOHANG) == pid) {
      reaped = true;
      outcome.runTime = now - start;
      if (outcome.stopSent) outcome.exitAfterStop = now - stoppedAt;
    }
    if (!reaped && stop && !outcome.stopSent) {
      if (readySince == Clock::time_point{} && isRunning(pid)) readySince = now;
      if (readySince != Clock::time_point{} && now - readySince >= kShowRunsFor) {
        stop(pid);
        stoppedAt = Clock::now();
        outcome.stopSent = true;
      }
    }
    if (!reaped && now - start > kHardTimeout) {
      kill(pid, SIGKILL);
      outcome.timedOut = true;
      waitpid(pid, &waitStatus, 0);
      reaped = true;
    }
    if (reaped && now - start > kHardTimeout + std::chrono::seconds(5)) break;
  }
  close(outPipe[0]);
  close(errPipe[0]);
  if (WIFEXITED(waitStatus)) {
    outcome.exited = true;
    outcome.status = WEXITSTATUS(waitStatus);
  } else if (WIFSIGNALED(waitStatus)) {
    outcome.deathSignal = WTERMSIG(waitStatus);
  }
  return outcome;
}

int milliseconds(Clock::duration duration) {
  return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(duration).count());
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream stream(text);
  std::string line;
  while (std::getline(stream, line))
    result.push_back(line);
  return result;
}

// One clear line: exactly one newline-terminated line, naming `mentions`.
void expectOneLine(const std::string& err, const std::string& mentions) {
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_TRUE(!err.empty() && err.back() == '\n') << err;
  EXPECT_NE(err.find(mentions), std::string::npos) << err;
}

bool isHashLine(const std::string& line) {
  std::istringstream stream(line);
  unsigned long long frame = 0;
  std::string hash;
  return static_cast<bool>(stream >> frame >> hash) && hash.size() == 8 &&
         hash.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::size_t countHashLines(const std::string& out) {
  const std::vector<std::string> all = lines(out);
  return static_cast<std::size_t>(std::count_if(all.begin(), all.end(), isHashLine));
}

// ---------------------------------------------------------------------------
// Data files made by the tests themselves.

Bytes titlePicture(int width, int height) {
  Bytes bytes(18, 0);
  bytes[12] = static_cast<unsigned char>(width & 0xFF);
  bytes[13] = static_cast<unsigned char>(width >> 8);
  bytes[14] = static_cast<unsigned char>(height & 0xFF);
  bytes[15] = static_cast<unsigned char>(height >> 8);
  for (int i = 0; i < width * height; ++i) {
    bytes.push_back(static_cast<unsigned char>(i));
    bytes.push_back(static_cast<unsigned char>(i >> 8));
    bytes.push_back(static_cast<unsigned char>(i * 7));
  }
  return bytes;
}

// A 16-bit PCM WAV whose header announces `announcedSeconds` of sound but
// which holds only `heldSeconds` of it (a file cut short), with `channels`.
Bytes waveFile(double announcedSeconds, double heldSeconds, std::uint16_t channels = 1) {
  constexpr std::uint32_t kRate = 22050;
  const std::uint32_t frames = static_cast<std::uint32_t>(heldSeconds * kRate);
  std::vector<std::int16_t> samples(static_cast<std::size_t>(frames) * std::max<int>(channels, 1));
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = (i / 25) % 2 == 0 ? 0x2000 : -0x2000;  // a square wave
  }
  Bytes bytes = testing::wavFile(kRate, channels, samples);
  // Let the RIFF and data sizes promise the announced length.
  const std::uint32_t frameBytes = 2u * static_cast<std::uint32_t>(std::max<int>(channels, 1));
  const std::uint32_t announced = static_cast<std::uint32_t>(announcedSeconds * kRate) * frameBytes;
  for (int i = 0; i < 4; ++i) {
    bytes[4 + i] = static_cast<unsigned char>((36 + announced) >> (8 * i));
    bytes[40 + i] = static_cast<unsigned char>(announced >> (8 * i));
  }
  return bytes;
}

void putBig(Bytes& bytes, std::uint32_t value, int size) {
  for (int i = size - 1; i >= 0; --i)
    bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// An AIFF of 1000 silent 16-bit sample frames at 22050 Hz with `channels`.
Bytes aiffFile(std::uint16_t channels) {
  Bytes common;
  putBig(common, channels, 2);
  putBig(common, 1000, 4);  // sample frames
  putBig(common, 16, 2);    // bits per sample
  // 22050 as an 80-bit extended float: exponent 16383 + 14, mantissa 22050 / 2^14.
  putBig(common, 16383 + 14, 2);
  putBig(common, 0xAC440000u, 4);
  putBig(common, 0, 4);
  Bytes sound;
  putBig(sound, 0, 4);  // offset
  putBig(sound, 0, 4);  // block size
  sound.resize(sound.size() + 2000, 0);
  Bytes body{'A', 'I', 'F', 'F', 'C', 'O', 'M', 'M'};
  putBig(body, static_cast<std::uint32_t>(common.size()), 4);
  body.insert(body.end(), common.begin(), common.end());
  body.insert(body.end(), {'S', 'S', 'N', 'D'});
  putBig(body, static_cast<std::uint32_t>(sound.size()), 4);
  body.insert(body.end(), sound.begin(), sound.end());
  Bytes bytes{'F', 'O', 'R', 'M'};
  putBig(bytes, static_cast<std::uint32_t>(body.size()), 4);
  bytes.insert(bytes.end(), body.begin(), body.end());
  return bytes;
}

Bytes garbage(std::size_t size) {
  Bytes bytes;
  std::uint32_t state = 12345;
  for (std::size_t i = 0; i < size; ++i) {
    state = state * 1103515245u + 12345u;
    bytes.push_back(static_cast<unsigned char>(state >> 23));
  }
  return bytes;
}

Bytes readWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A folder with both title pictures and, unless empty, the music.
std::string showFolder(const Bytes& music) {
  const std::string folder = makeTempDirectory();
  writeFile(folder + "/title._vq", titlePicture(320, 240));
  writeFile(folder + "/title2._vq", titlePicture(320, 240));
  if (!music.empty()) writeFile(folder + "/music._vq", music);
  return folder;
}

// Names and sizes of the files in a folder: "nothing written" compares these.
std::map<std::string, std::uintmax_t> listing(const std::string& folder) {
  std::map<std::string, std::uintmax_t> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    files[entry.path().filename().string()] =
        entry.is_regular_file() ? entry.file_size() : static_cast<std::uintmax_t>(-1);
  }
  return files;
}

void removeFolder(const std::string& folder) {
  std::error_code ignored;
  fs::permissions(folder, fs::perms::owner_all, ignored);
  fs::remove_all(folder, ignored);
}

// ---------------------------------------------------------------------------
// Closing the window as a user would: an X server of the test's own (Xvfb) and
// the window manager's close request, sent with libX11 (loaded at run time, so
// the tests need no X development files).

std::string findOnPath(const char* name) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    const std::string candidate = folder + "/" + name;
    if (!folder.empty() && access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

// Xvfb on a display number it picks itself, for the life of the object.
class VirtualDisplay {
 public:
  VirtualDisplay() {
    const std::string server = findOnPath("Xvfb");
    if (server.empty()) return;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      const int devNull = open("/dev/null", O_RDWR);
      dup2(devNull, STDIN_FILENO);
      dup2(devNull, STDOUT_FILENO);
      dup2(devNull, STDERR_FILENO);
      dup2(fds[1], 3);  // -displayfd writes the chosen number here
      execl(server.c_str(), "Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-screen", "0",
            "1024x768x24", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
    while (pid_ > 0 && Clock::now() < deadline && number.find('\n') == std::string::npos) {
      pollfd fd{fds[0], POLLIN, 0};
      if (poll(&fd, 1, 100) <= 0) continue;
      char buffer[16];
      const ssize_t got = read(fds[0], buffer, sizeof buffer);
      if (got <= 0) break;
      number.append(buffer, static_cast<std::size_t>(got));
    }
    close(fds[0]);
    if (number.find('\n') != std::string::npos) name_ = ":" + number.substr(0, number.find('\n'));
  }
  ~VirtualDisplay() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;
  const std::string& name() const { return name_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

enum class WindowAction { Probe, Find, Close };

// Finds the top-level window titled `title` on `display` and, for Close, sends
// it WM_DELETE_WINDOW. Runs in a child process that ends with _exit, so that
// libX11's own allocations never reach the test's leak check. True on success.
bool onWindow(const std::string& display, const char* title, WindowAction action) {
  const pid_t pid = fork();
  if (pid == 0) {
    using Window = unsigned long;
    using Atom = unsigned long;
    void* x11 = dlopen("libX11.so.6", RTLD_NOW);
    if (x11 == nullptr) _exit(2);
    if (action == WindowAction::Probe) _exit(0);
    auto symbol = [x11](const char* name) { return dlsym(x11, name); };
    auto openDisplay = reinterpret_cast<void* (*)(const char*)>(symbol("XOpenDisplay"));
    auto rootWindow = reinterpret_cast<Window (*)(void*)>(symbol("XDefaultRootWindow"));
    auto queryTree =
        reinterpret_cast<int (*)(void*, Window, Window*, Window*, Window**, unsigned*)>(
            symbol("XQueryTree"));
    auto fetchName = reinterpret_cast<int (*)(void*, Window, char**)>(symbol("XFetchName"));
    auto freeData = reinterpret_cast<int (*)(void*)>(symbol("XFree"));
    auto internAtom = reinterpret_cast<Atom (*)(void*, const char*, int)>(symbol("XInternAtom"));
    auto sendEvent =
        reinterpret_cast<int (*)(void*, Window, int, long, void*)>(symbol("XSendEvent"));
    auto flush = reinterpret_cast<int (*)(void*)>(symbol("XFlush"));
    void* connection = openDisplay != nullptr ? openDisplay(display.c_str()) : nullptr;
    if (connection == nullptr) _exit(2);
    Window found = 0;
    std::vector<Window> pending{rootWindow(connection)};
    while (found == 0 && !pending.empty()) {
      const Window window = pending.back();
      pending.pop_back();
      char* name = nullptr;
      if (fetchName(connection, window, &name) != 0 && name != nullptr) {
        if (std::strcmp(name, title) == 0) found = window;
        freeData(name);
      }
      Window root = 0;
      Window parent = 0;
      Window* children = nullptr;
      unsigned count = 0;
      if (queryTree(connection, window, &root, &parent, &children, &count) != 0) {
        pending.insert(pending.end(), children, children + count);
        if (children != nullptr) freeData(children);
      }
    }
    if (found == 0) _exit(1);
    if (action == WindowAction::Close) {
      // An XClientMessageEvent inside the 24-long XEvent union.
      struct ClientMessage {
        int type;
        unsigned long serial;
        int sendEvent;
        void* display;
        Window window;
        Atom messageType;
        int format;
        long data[5];
      };
      union {
        ClientMessage message;
        long padding[24];
      } event{};
      constexpr int kClientMessage = 33;
      event.message.type = kClientMessage;
      event.message.window = found;
      event.message.messageType = internAtom(connection, "WM_PROTOCOLS", 0);
      event.message.format = 32;
      event.message.data[0] = static_cast<long>(internAtom(connection, "WM_DELETE_WINDOW", 0));
      if (sendEvent(connection, found, 0, 0, &event) == 0) _exit(1);
      flush(connection);
    }
    _exit(0);
  }
  if (pid < 0) return false;
  int status = 0;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(5);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class BadInput : public ::testing::Test {
 protected:
  void SetUp() override {
    if (binDirectory().empty() || !fs::exists(binDirectory() + "/vornisk") ||
        !fs::exists(binDirectory() + "/vornisk-capture")) {
      GTEST_FAIL() << binDirectory()
                   << " lacks vornisk or vornisk-capture (VORNISK_BIN "
                      "names another bin folder)";
    }
  }
  void TearDown() override {
    for (const std::string& folder : folders_)
      removeFolder(folder);
  }
  std::string keep(std::string folder) {
    folders_.push_back(folder);
    return folder;
  }

 private:
  std::vector<std::string> folders_;
};

// ---------------------------------------------------------------------------
// Title pictures

TEST_F(BadInput, FirstTitleMissingShortOrTooLargeEndsAtOnceWithOneLine) {
  struct Case {
    const char* what;
    std::optional<Bytes> title;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"missing", std::nullopt, "title._vq: could not open image file for reading"},
      {"shorter than its header", Bytes(17, 0x40), "title._vq"},
      {"one pixel larger than the surface", titlePicture(321, 240), "title._vq"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string folder = keep(showFolder(waveFile(0.5, 0.5)));
    if (c.title) {
      writeFile(folder + "/title._vq", *c.title);
    } else {
      fs::remove(folder + "/title._vq");
    }
    const auto before = listing(folder);

    // The demo: one line on standard error, nothing on standard output (the
    // music never started), status 1, no file left behind.
    Launch demo = demoIn(folder);
    const Outcome shown = run(demo);
    ASSERT_TRUE(shown.exited) << shown.describe();
    EXPECT_EQ(shown.status, 1) << shown.describe();
    expectOneLine(shown.err, c.message);
    EXPECT_EQ(shown.err.rfind("vornisk: ", 0), 0u) << shown.err;
    EXPECT_EQ(shown.out, "") << shown.describe();
    EXPECT_EQ(listing(folder), before);

    // The capture tool runs the same start-up: no frame, the same line.
    Launch capture = captureIn(folder, {"--data", folder, "--hash", "--fps", "10"});
    const Outcome captured = run(capture);
    ASSERT_TRUE(captured.exited) << captured.describe();
    EXPECT_EQ(captured.status, 1) << captured.describe();
    EXPECT_EQ(countHashLines(captured.out), 0u) << captured.describe();
    EXPECT_NE(captured.err.find(c.message), std::string::npos) << captured.describe();
    EXPECT_EQ(listing(folder), before);
  }
}

TEST_F(BadInput, SecondTitleMissingEndsTheShowAt153500WithOneLine) {
  const std::string folder = keep(showFolder(waveFile(0.5, 0.5)));
  fs::remove(folder + "/title2._vq");
  const auto before = listing(folder);
  // At one frame per second, frame k sees k seconds: frames 0..153 are drawn
  // and frame 154 (t = 154000 > 153500) is the one that needs the picture.
  Launch capture = captureIn(folder, {"--data", folder, "--hash", "--fps", "1"});
  const Outcome captured = run(capture);
  ASSERT_TRUE(captured.exited) << captured.describe();
  EXPECT_EQ(captured.status, 1) << captured.describe();
  EXPECT_EQ(countHashLines(captured.out), 154u) << captured.describe();
  const std::vector<std::string> outLines = lines(captured.out);
  ASSERT_FALSE(outLines.empty());
  EXPECT_EQ(outLines.back().rfind("153 ", 0), 0u) << outLines.back();
  // The show's own line; the tool's progress lines may surround it.
  const std::vector<std::string> errLines = lines(captured.err);
  EXPECT_EQ(std::count(errLines.begin(), errLines.end(),
                       "vornisk: " + folder + "/title2._vq: could not open image file for reading"),
            1)
      << captured.err;
  EXPECT_EQ(listing(folder), before);
}

// ---------------------------------------------------------------------------
// Music

TEST_F(BadInput, MusicMissingIsReportedAndTheWholeShowRunsSilently) {
  const std::string folder = keep(showFolder({}));
  Launch capture = captureIn(folder, {"--data", folder, "--hash", "--fps", "2"});
  const Outcome captured = run(capture);
  ASSERT_TRUE(captured.exited) << captured.describe();
  EXPECT_EQ(captured.status, 0) << captured.describe();
  const std::vector<std::string> outLines = lines(captured.out);
  ASSERT_GE(outLines.size(), 2u) << captured.describe();
  EXPECT_EQ(outLines[0], "Error!");
  EXPECT_EQ(outLines[1], "File Not Found");
  EXPECT_EQ(countHashLines(captured.out), 174u * 2) << "the whole show, to its end";
  EXPECT_EQ(outLines.size(), 2u + 174u * 2);

  // The demo says the same and plays on until it is told to stop.
  Launch demo = demoIn(folder);
  demo.signalToSend = SIGTERM;
  const Outcome shown = run(demo);
  ASSERT_TRUE(shown.exited && shown.stopSent) << shown.describe();
  EXPECT_EQ(shown.status, 0) << shown.describe();
  EXPECT_EQ(shown.out, "Error!\nFile Not Found\n");
  EXPECT_EQ(shown.err, "");
}

TEST_F(BadInput, MusicGarbageOrCutShortIsReportedAndTheShowRunsOn) {
  struct Case {
    const char* what;
    Bytes music;
    std::optional<std::string> expectedOut;  // nullopt: a report is allowed, not required
  };
  std::vector<Case> cases;
  cases.push_back({"garbage", garbage(4096), std::string("Error!\nUnknown file format\n")});
  cases.push_back({"empty", {}, std::nullopt});
  // The mixer reaches the cut within the run: it must end the stream, not the show.
  cases.push_back({"WAV cut short", waveFile(3.0, 0.3), std::nullopt});
  const Bytes ogg = readWhole(sourceDirectory() + "/tests/data/tone.ogg");
  ASSERT_GT(ogg.size(), 1000u) << "tests/data/tone.ogg is needed";
  cases.push_back({"Ogg Vorbis cut in the middle",
                   Bytes(ogg.begin(), ogg.begin() + static_cast<std::ptrdiff_t>(ogg.size() / 2)),
                   std::nullopt});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string folder = keep(showFolder({}));
    writeFile(folder + "/music._vq", c.music);
    const auto before = listing(folder);
    Launch demo = demoIn(folder);
    demo.signalToSend = SIGTERM;
    const Outcome shown = run(demo);
    ASSERT_TRUE(shown.exited && shown.stopSent) << shown.describe();
    EXPECT_EQ(shown.status, 0) << shown.describe();
    EXPECT_EQ(shown.err, "");
    if (c.expectedOut) {
      EXPECT_EQ(shown.out, *c.expectedOut);
    } else if (!shown.out.empty()) {
      // A file refused at the start is reported in the usual two lines.
      const std::vector<std::string> outLines = lines(shown.out);
      ASSERT_EQ(outLines.size(), 2u) << shown.out;
      EXPECT_EQ(outLines[0], "Error!");
    }
    EXPECT_EQ(listing(folder), before);
  }
}

// A WAV or AIFF header may claim any channel count; SDL2_mixer 2.6 keeps only
// its low byte and, given 0 (0 or 256 channels), divides by it while opening
// the file: the process dies of SIGFPE inside Mix_LoadMUS_RW. The sound layer
// has to refuse such a file before the mixer sees it.
TEST_F(BadInput, MusicWithZeroChannelsIsRefusedNotACrash) {
  struct Case {
    std::string what;
    Bytes music;
  };
  std::vector<Case> cases;
  for (const std::uint16_t channels : {std::uint16_t{0}, std::uint16_t{256}}) {
    cases.push_back(
        {"WAV with " + std::to_string(channels) + " channels", waveFile(0.5, 0.5, channels)});
    cases.push_back({"AIFF with " + std::to_string(channels) + " channels", aiffFile(channels)});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string folder = keep(showFolder(c.music));
    Launch demo = demoIn(folder);
    demo.signalToSend = SIGTERM;
    const Outcome shown = run(demo);
    if (!shown.exited || !shown.stopSent) {
      ADD_FAILURE() << shown.describe();
      continue;
    }
    EXPECT_EQ(shown.status, 0) << shown.describe();
    EXPECT_EQ(shown.out, "Error!\nUnknown file format\n");
  }
}

// ---------------------------------------------------------------------------
// Devices

TEST_F(BadInput, NoAudioDeviceIsReportedAndTheShowRunsSilently) {
  const std::string folder = keep(showFolder(waveFile(1.0, 1.0)));
  Launch demo = demoIn(folder);
  demo.environment["SDL_AUDIODRIVER"] = "no-such-driver";
  demo.signalToSend = SIGTERM;
  const Outcome shown = run(demo);
  ASSERT_TRUE(shown.exited && shown.stopSent) << shown.describe();
  EXPECT_EQ(shown.status, 0) << shown.describe();
  const std::vector<std::string> outLines = lines(shown.out);
  ASSERT_GE(outLines.size(), 2u) << shown.out;
  EXPECT_EQ(outLines[0], "Error!");
  EXPECT_EQ(outLines[1], "Error initializing output device.");
  // Every later report is another "Error!" and its reason: the show goes on.
  EXPECT_EQ(outLines.size() % 2, 0u) << shown.out;
  EXPECT_EQ(shown.err, "");
}

TEST_F(BadInput, NoDisplayEndsWithOneLine) {
  const std::string folder = keep(showFolder(waveFile(1.0, 1.0)));
  const auto before = listing(folder);
  Launch demo = demoIn(folder);
  demo.environment["SDL_VIDEODRIVER"] = std::nullopt;
  demo.environment["DISPLAY"] = std::nullopt;
  demo.environment["WAYLAND_DISPLAY"] = std::nullopt;
  const Outcome shown = run(demo);
  ASSERT_TRUE(shown.exited) << shown.describe();
  if (shown.status == 0) {
    GTEST_SKIP() << "this machine has a console display (KMS/DRM) the show could open";
  }
  EXPECT_EQ(shown.status, 1) << shown.describe();
  expectOneLine(shown.err, "vornisk: cannot open the display: ");
  EXPECT_EQ(shown.out, "");
  EXPECT_EQ(listing(folder), before);
}

// ---------------------------------------------------------------------------
// Ways out

TEST_F(BadInput, SigintOrSigtermEndsTheShowNormallyWithinAFrameOrTwo) {
  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(strsignal(signal));
    const std::string folder = keep(showFolder(waveFile(3.0, 3.0)));
    const auto before = listing(folder);
    Launch demo = demoIn(folder);
    demo.signalToSend = signal;
    const Outcome shown = run(demo);
    ASSERT_TRUE(shown.stopSent) << "the show never reached its frame loop: " << shown.describe();
    ASSERT_TRUE(shown.exited) << shown.describe();
    EXPECT_EQ(shown.status, 0) << shown.describe();
    EXPECT_LT(shown.exitAfterStop, kPromptExit)
        << std::chrono::duration<double>(shown.exitAfterStop).count() << " s";
    RecordProperty(std::string(signal == SIGINT ? "sigint" : "sigterm") + "_to_exit_ms",
                   milliseconds(shown.exitAfterStop));
    EXPECT_EQ(shown.out, "");
    EXPECT_EQ(shown.err, "");
    EXPECT_EQ(listing(folder), before);
  }
}

TEST_F(BadInput, ClosingTheWindowEndsTheShowNormallyWithinAFrameOrTwo) {
  VirtualDisplay display;
  if (display.name().empty()) {
    GTEST_SKIP() << "needs Xvfb (scripts/install-deps.sh --with-tools installs it)";
  }
  if (!onWindow(display.name(), "", WindowAction::Probe)) {
    GTEST_SKIP() << "needs libX11.so.6";
  }
  const std::string folder = keep(showFolder(waveFile(3.0, 3.0)));
  Launch demo = demoIn(folder);
  demo.environment["DISPLAY"] = display.name();
  demo.environment["SDL_VIDEODRIVER"] = std::nullopt;
  demo.environment["WAYLAND_DISPLAY"] = std::nullopt;
  demo.environment["PTC_WINDOWED"] = "1";
  // The X11 driver's libraries keep a few blocks for the life of the process
  // (D-Bus, and one that SDL unloads before exit, so it cannot be named in a
  // suppression); the headless runs carry the leak check.
  const char* asanOptions = std::getenv("ASAN_OPTIONS");
  demo.environment["ASAN_OPTIONS"] =
      std::string(asanOptions != nullptr ? asanOptions : "") + ":detect_leaks=0";
  Clock::time_point lastLook{};
  demo.isRunning = [&](pid_t) {
    // A look costs a process: a few per second are plenty.
    if (Clock::now() - lastLook < std::chrono::milliseconds(100)) return false;
    lastLook = Clock::now();
    return onWindow(display.name(), "Vornisk", WindowAction::Find);
  };
  demo.stop = [&](pid_t) { onWindow(display.name(), "Vornisk", WindowAction::Close); };
  const Outcome shown = run(demo);
  ASSERT_TRUE(shown.stopSent) << "the window never appeared: " << shown.describe();
  ASSERT_TRUE(shown.exited) << shown.describe();
  EXPECT_EQ(shown.status, 0) << shown.describe();
  EXPECT_LT(shown.exitAfterStop, kPromptExit)
      << std::chrono::duration<double>(shown.exitAfterStop).count() << " s";
  RecordProperty("window_close_to_exit_ms", milliseconds(shown.exitAfterStop));
  EXPECT_EQ(shown.out, "");
  EXPECT_EQ(shown.err, "");
}

TEST_F(BadInput, WorkingDirectoryDeletedOrUnreadableEndsWithOneLine) {
  // Deleted under the program's feet: it still stands in the folder, which is
  // gone with its files. This works for any user, root included.
  {
    SCOPED_TRACE("deleted");
    const std::string folder = makeTempDirectory();
    Launch demo = demoIn(folder);
    demo.workingDirectory = WorkingDirectory::Deleted;
    const Outcome shown = run(demo);
    ASSERT_TRUE(shown.exited) << shown.describe();
    EXPECT_NE(shown.status, 0) << shown.describe();
    expectOneLine(shown.err, "title._vq: could not open image file for reading");
    EXPECT_EQ(shown.out, "");
    EXPECT_FALSE(fs::exists(folder));
  }
  // Without permission to read it (as root the child gives up its rights first).
  {
    SCOPED_TRACE("unreadable");
    const std::string folder = keep(showFolder(waveFile(1.0, 1.0)));
    Launch demo = demoIn(folder);
    demo.workingDirectory = WorkingDirectory::Unreadable;
    const Outcome shown = run(demo);
    ASSERT_TRUE(shown.exited) << shown.describe();
    if (shown.status == kCannotDropPrivileges) {
      GTEST_SKIP() << "running as root, and the unprivileged user cannot reach " << binDirectory()
                   << " (the deleted-folder case above still ran)";
    }
    EXPECT_NE(shown.status, 0) << shown.describe();
    expectOneLine(shown.err, "title._vq: could not open image file for reading");
    EXPECT_EQ(shown.out, "");
  }
}

}  // namespace
}  // namespace vornisk
