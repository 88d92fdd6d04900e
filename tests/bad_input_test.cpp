// The real programs against bad files, missing devices and every way out.
// Each case starts `vornisk` or `vornisk-capture` from the build's bin folder
// as a child process in a folder of its own and checks what a user would see:
// the exit status, the lines on standard output and standard error, the time
// it took, and that no file was written. A child that hangs is killed after
// 30 s and the case fails; nothing here can block the suite.
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
using testing::makeTempDirectory;
using testing::writeFile;
using Bytes = std::vector<unsigned char>;

constexpr auto kHardTimeout = std::chrono::seconds(30);
// A show at 60 frames per second must be gone this soon after a signal: a frame
// or two, plus closing the display and the sound device.
constexpr auto kPromptExit = std::chrono::milliseconds(1000);
// How long a demo runs before the test ends it, once it is in its frame loop.
constexpr auto kShowRunsFor = std::chrono::milliseconds(1500);

std::string binDirectory() {
  const char* bin = std::getenv("VORNISK_BIN");
  return bin != nullptr ? bin : VORNISK_DEFAULT_BIN;
}

std::string sourceDirectory() {
  const char* source = std::getenv("VORNISK_SOURCE");
  return source != nullptr ? source : VORNISK_DEFAULT_SOURCE;
}

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
  Clock::duration exitAfterSignal{};  // from the signal to the child's end
  bool signalSent = false;

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
  Clock::time_point signalledAt{};
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
      if (outcome.signalSent) outcome.exitAfterSignal = now - signalledAt;
    }
    if (!reaped && launch.signalToSend != 0 && !outcome.signalSent) {
      if (readySince == Clock::time_point{} && catchesSignal(pid, launch.signalToSend)) {
        readySince = now;
      }
      if (readySince != Clock::time_point{} && now - readySince >= kShowRunsFor) {
        kill(pid, launch.signalToSend);
        signalledAt = now;
        outcome.signalSent = true;
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

void putLittle(Bytes& bytes, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i)
    bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// A 16-bit PCM WAV whose header announces `announcedSeconds` of sound but
// which holds only `heldSeconds` of it (a file cut short), with `channels`.
Bytes waveFile(double announcedSeconds, double heldSeconds, std::uint16_t channels = 1) {
  constexpr std::uint32_t kRate = 22050;
  const std::uint16_t frameBytes = static_cast<std::uint16_t>(2 * std::max<int>(channels, 1));
  const auto announced = static_cast<std::uint32_t>(announcedSeconds * kRate) * frameBytes;
  const auto held = static_cast<std::uint32_t>(heldSeconds * kRate) * frameBytes;
  Bytes bytes{'R', 'I', 'F', 'F'};
  putLittle(bytes, 36 + announced, 4);
  bytes.insert(bytes.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  putLittle(bytes, 16, 4);
  putLittle(bytes, 1, 2);  // PCM
  putLittle(bytes, channels, 2);
  putLittle(bytes, kRate, 4);
  putLittle(bytes, kRate * frameBytes, 4);
  putLittle(bytes, frameBytes, 2);
  putLittle(bytes, 16, 2);
  bytes.insert(bytes.end(), {'d', 'a', 't', 'a'});
  putLittle(bytes, announced, 4);
  for (std::uint32_t i = 0; i < held / 2; ++i) {
    putLittle(bytes, (i / 25) % 2 == 0 ? 0x2000u : 0xE000u, 2);  // a square wave
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
  ASSERT_TRUE(shown.exited && shown.signalSent) << shown.describe();
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
    ASSERT_TRUE(shown.exited && shown.signalSent) << shown.describe();
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
    if (!shown.exited || !shown.signalSent) {
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
  ASSERT_TRUE(shown.exited && shown.signalSent) << shown.describe();
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
    ASSERT_TRUE(shown.signalSent) << "the show never reached its frame loop: " << shown.describe();
    ASSERT_TRUE(shown.exited) << shown.describe();
    EXPECT_EQ(shown.status, 0) << shown.describe();
    EXPECT_LT(shown.exitAfterSignal, kPromptExit)
        << std::chrono::duration<double>(shown.exitAfterSignal).count() << " s";
    EXPECT_EQ(shown.out, "");
    EXPECT_EQ(shown.err, "");
    EXPECT_EQ(listing(folder), before);
  }
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
