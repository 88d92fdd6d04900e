// The real programs against bad files, missing devices and every way out, as
// one table: each row plants files in a folder of its own, starts `vornisk` or
// `vornisk-capture` there with some environment, acts on it once the show is in
// its frame loop (a signal; on a real X server or Wayland compositor of the
// row's own: the server ended, a key or a close request sent through it), then
// checks the exit status, both output streams and that no file was written. A
// child is killed after 30 s: no row can hang. Each row prints how soon it
// ended and its peak memory (the README's table).
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

extern char** environ;

namespace vornisk {

// Sends WM_DELETE_WINDOW to the window titled "Vornisk", as a window manager
// does when the user closes it (defined at the end: Xlib's macros stay there).
bool closeWindow(const std::string& display);

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testing::Bytes;
using testing::Environment;
using namespace std::chrono_literals;

// ---------------------------------------------------------------------------
// Files the rows plant.

Bytes title(int width, int height) {
  return testing::titlePicture(width, height, [](int x, int r) { return (x * 7 + r) * 0x010203u; });
}

// A square-wave WAV whose header announces `announcedSeconds` of sound but which
// holds only `heldSeconds` of it (a file cut short).
Bytes wave(double announcedSeconds, double heldSeconds, std::uint16_t channels = 1) {
  const std::uint32_t frameBytes = 2u * std::max<std::uint32_t>(channels, 1);
  std::vector<std::int16_t> samples(static_cast<std::size_t>(heldSeconds * 22050) * frameBytes / 2);
  for (std::size_t i = 0; i < samples.size(); ++i)
    samples[i] = (i / 25) % 2 == 0 ? 0x2000 : -0x2000;
  Bytes bytes = testing::wavFile(22050, channels, samples);
  const auto announced = static_cast<std::uint32_t>(announcedSeconds * 22050) * frameBytes;
  for (int i = 0; i < 4; ++i) {
    bytes[4 + i] = static_cast<unsigned char>((36 + announced) >> (8 * i));
    bytes[40 + i] = static_cast<unsigned char>(announced >> (8 * i));
  }
  return bytes;
}

// An AIFF of 1000 silent 16-bit frames at 22050 Hz (an 80-bit float: exponent
// 16383 + 14, mantissa 0xAC44 << 48) with `channels`.
Bytes aiff(std::uint16_t channels) {
  Bytes bytes;
  auto put = [&bytes](std::uint32_t value, int size) {
    for (int i = size - 1; i >= 0; --i)
      bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
  };
  auto tag = [&put](const char* text) {
    for (int i = 0; i < 4; ++i)
      put(static_cast<unsigned char>(text[i]), 1);
  };
  tag("FORM"), put(4 + 26 + 8 + 2008, 4), tag("AIFF");
  tag("COMM"), put(18, 4), put(channels, 2), put(1000, 4), put(16, 2);
  put(16383 + 14, 2), put(0xAC440000u, 4), put(0, 4);
  tag("SSND"), put(2008, 4), put(0, 4), put(0, 4);
  bytes.resize(bytes.size() + 2000, 0);
  return bytes;
}

Bytes garbage() {
  std::minstd_rand random(12345);
  Bytes bytes(4096);
  for (unsigned char& byte : bytes)
    byte = static_cast<unsigned char>(random() >> 16);
  return bytes;
}

// A WAV header announcing `dataBytes` of 16-bit stereo sound at `rate`, with
// none of it (a planted size fills it with silence).
Bytes waveHeader(std::uint32_t rate, std::uint32_t dataBytes = 0) {
  Bytes bytes = testing::wavFile(rate, 2, {});
  for (int i = 0; i < 4; ++i) {
    bytes[4 + i] = static_cast<unsigned char>((36 + dataBytes) >> (8 * i));
    bytes[40 + i] = static_cast<unsigned char>(dataBytes >> (8 * i));
  }
  return bytes;
}

// ---------------------------------------------------------------------------
// The table.

// What the test does once the show has run for a second, besides
// sending `signal` when a row names one.
enum class Act { Nothing, StopThenContinue, EndDisplay, Key, CloseWindow };
// Where the show runs: SDL's dummy video driver, or windowed on an Xvfb of the
// row's own, or on a Wayland compositor (weston) of its own, shown in an Xvfb.
enum class Server { Dummy, X, Wayland };

// A file the row puts in its folder: these bytes (nullopt: none, the file
// removed), then grown to `size` bytes (sparse) when that is larger; or a
// FIFO, a folder or a link to /dev/zero in its place.
enum class Kind { File, Fifo, Folder, DevZeroLink };
struct Plant {
  const char* name;
  std::optional<Bytes> bytes;
  Kind kind = Kind::File;
  std::uintmax_t size = 0;
};

struct Row {
  const char* name;
  std::vector<Plant> plant = {};
  std::vector<std::string> command = {"vornisk"};
  Environment environment = {};
  Server server = Server::Dummy;
  int signal = 0;
  Act act = Act::Nothing;
  int status = 0;
  std::string out = "";  // patterns (see matches) for the whole text; hash lines removed
  std::string err = "";
  int hashLines = -1;      // frames 0, 1, ... of vornisk-capture --hash; -1: not checked
  const char* shell = "";  // run in the folder just before the program
  const char* needs = "";  // programs the row needs on PATH (skipped without them)
};

void PrintTo(const Row& row, std::ostream* out) {
  *out << row.name;
}

std::vector<std::string> capture(const char* fps) {
  return {"vornisk-capture", "--data", ".", "--hash", "--fps", fps};
}

// A capture of 174,000 frames with hashes and `outputs`: minutes of work.
std::vector<std::string> captureLong(std::vector<std::string> outputs) {
  std::vector<std::string> command = {"vornisk-capture", "--data", ".", "--hash", "--fps", "1000"};
  command.insert(command.end(), outputs.begin(), outputs.end());
  return command;
}

// Whether `text` matches `pattern`, in which "*" stands for any run of
// characters within a line, "%" for any run at all, and "|" parts alternatives.
bool matches(const std::string& text, const std::string& pattern) {
  const auto glob = [](auto& self, const char* t, const char* p) -> bool {
    if (*p == '\0' || *p == '|') return *t == '\0';
    if (*p != '*' && *p != '%') return *t == *p && self(self, t + 1, p + 1);
    return self(self, t, p + 1) ||
           (*t != '\0' && (*p == '%' || *t != '\n') && self(self, t + 1, p));
  };
  for (std::size_t start = 0;; start = pattern.find('|', start) + 1) {
    if (glob(glob, text.c_str(), pattern.c_str() + start)) return true;
    if (pattern.find('|', start) == std::string::npos) return false;
  }
}

const char* const kNoTitle = "vornisk: *title._vq: could not open image file for reading\n";
const char* const kShortTitle =
    "vornisk: *title._vq: image file is shorter than its 18-byte header\n";
const char* const kLargeTitle =
    "vornisk: *title._vq: image of 321 x 240 pixels is larger than the 320 x 240 title surface\n";
const char* const kRefused = "Error!\nUnknown file format\n";
const char* const kMayReport = "|Error!\n*\n";  // refused at the start, or played as far as it goes

std::vector<Row> rows() {
  Bytes ogg = testing::readBytes(testing::sourceDirectory() + "/tests/data/tone.ogg");
  ogg.resize(ogg.size() / 2);  // cut in the middle
  const Bytes title321 = title(321, 240);
  // Among the capture tool's own lines.
  auto around = [](const char* line) { return std::string("%") + line + "%"; };
  // clang-format off
  return {
    {.name = "TitleMissing", .plant = {{"title._vq", {}}}, .status = 1, .err = kNoTitle},
    {.name = "TitleShort", .plant = {{"title._vq", Bytes(17, 0)}}, .status = 1, .err = kShortTitle},
    {.name = "TitleLarge", .plant = {{"title._vq", title321}}, .status = 1, .err = kLargeTitle},
    {.name = "CaptureTitleMissing", .plant = {{"title._vq", {}}}, .command = capture("10"),
     .status = 1, .err = around(kNoTitle), .hashLines = 0},
    {.name = "CaptureTitleShort", .plant = {{"title._vq", Bytes(17, 0)}}, .command = capture("10"),
     .status = 1, .err = around(kShortTitle), .hashLines = 0},
    {.name = "CaptureTitleLarge", .plant = {{"title._vq", title321}}, .command = capture("10"),
     .status = 1, .err = around(kLargeTitle), .hashLines = 0},
    // At one frame per second frame k sees k s: frame 154 is past 153.5 s.
    {.name = "SecondTitleMissingAt153500", .plant = {{"title2._vq", {}}}, .command = capture("1"),
     .status = 1, .err = around("vornisk: ./title2._vq: could not open image file for reading\n"),
     .hashLines = 154},
    {.name = "MusicMissingTheWholeShowRunsSilent", .plant = {{"music._vq", {}}},
     .command = capture("2"), .out = "Error!\nFile Not Found\n", .err = "%", .hashLines = 348},
    {.name = "MusicMissing", .plant = {{"music._vq", {}}}, .signal = SIGTERM,
     .out = "Error!\nFile Not Found\n"},
    {.name = "MusicGarbage", .plant = {{"music._vq", garbage()}}, .signal = SIGTERM,
     .out = kRefused},
    {.name = "MusicEmpty", .plant = {{"music._vq", Bytes{}}}, .signal = SIGTERM, .out = kMayReport},
    // The mixer reaches the cut within the run: it must end the stream, not the show.
    {.name = "MusicWavCutShort", .plant = {{"music._vq", wave(3.0, 0.3)}}, .signal = SIGTERM,
     .out = kMayReport},
    {.name = "MusicOggCutInTheMiddle", .plant = {{"music._vq", ogg}}, .signal = SIGTERM,
     .out = kMayReport},
    // SDL2_mixer 2.6 divides by the channel count's low byte while opening a
    // file: the sound layer must refuse 0 and 256 before the mixer sees them.
    {.name = "MusicWav0Channels", .plant = {{"music._vq", wave(0.5, 0.5, 0)}}, .signal = SIGTERM,
     .out = kRefused},
    {.name = "MusicWav256Channels", .plant = {{"music._vq", wave(0.5, 0.5, 256)}},
     .signal = SIGTERM, .out = kRefused},
    {.name = "MusicAiff0Channels", .plant = {{"music._vq", aiff(0)}}, .signal = SIGTERM,
     .out = kRefused},
    {.name = "MusicAiff256Channels", .plant = {{"music._vq", aiff(256)}}, .signal = SIGTERM,
     .out = kRefused},
    {.name = "NoAudioDevice", .environment = {{"SDL_AUDIODRIVER", "no-such-driver"}},
     .signal = SIGTERM, .out = "Error!\nError initializing output device.\n"
                               "Error!\nThis command failed because FSOUND_Init was not called\n"},
    // Skipped where the machine has a console display (KMS/DRM) to open.
    {.name = "NoDisplay",
     .environment = {{"SDL_VIDEODRIVER", {}}, {"DISPLAY", {}}, {"WAYLAND_DISPLAY", {}}},
     .status = 1, .err = "vornisk: cannot open the display: *\n"},
    {.name = "Sigint", .signal = SIGINT},
    {.name = "Sigterm", .signal = SIGTERM},
    {.name = "WorkingDirectoryDeleted", .status = 1, .err = kNoTitle, .shell = "rm -r \"$PWD\""},
    // As root the program runs as nobody, or the row is skipped.
    {.name = "WorkingDirectoryUnreadable", .status = 1, .err = kNoTitle,
     .shell = "chmod 0 . && if [ $(id -u) = 0 ]; then exec setpriv --reuid=65534 --regid=65534 "
              "--clear-groups \"$0\" \"$@\"; fi"},
    // Files that are not regular files, and huge or absurd ones: refused before
    // they are read (nothing blocks on a FIFO), each in one line.
    {.name = "TitleFifo", .plant = {{"title._vq", {}, Kind::Fifo}}, .status = 1,
     .err = "vornisk: title._vq: a FIFO, not a regular file\n"},
    {.name = "TitleFolder", .plant = {{"title._vq", {}, Kind::Folder}}, .status = 1,
     .err = "vornisk: title._vq: a folder, not a regular file\n"},
    {.name = "CaptureSecondTitleFifo", .plant = {{"title2._vq", {}, Kind::Fifo}},
     .command = capture("1"), .status = 1,
     .err = around("vornisk: ./title2._vq: a FIFO, not a regular file\n"), .hashLines = 154},
    {.name = "MusicFifo", .plant = {{"music._vq", {}, Kind::Fifo}}, .signal = SIGTERM,
     .out = "Error!\nmusic._vq: a FIFO, not a regular file\n"},
    {.name = "CaptureMusicFifo", .plant = {{"music._vq", {}, Kind::Fifo}},
     .command = capture("10"), .out = "Error!\n./music._vq: a FIFO, not a regular file\n",
     .err = "%", .hashLines = 1740},
    {.name = "MusicLinkToDevZero", .plant = {{"music._vq", {}, Kind::DevZeroLink}},
     .signal = SIGTERM, .out = "Error!\nmusic._vq: a device, not a regular file\n"},
    {.name = "MusicSparse3GiB", .plant = {{"music._vq", Bytes{}, Kind::File, 3ull << 30}},
     .signal = SIGTERM,
     .out = "Error!\nmusic._vq: 3221225472 bytes, more than the 128 MiB a music file may have\n"},
    // The largest music file the show reads: 12 minutes of CD-quality silence,
    // read whole before the first frame.
    {.name = "CaptureMusicWavOf128MiB",
     .plant = {{"music._vq", waveHeader(44100, (128u << 20) - 44), Kind::File, 128u << 20}},
     .command = {"vornisk-capture", "--data", ".", "--hash", "--frames", "10"}, .err = "%",
     .hashLines = 10},
    // In no streamed format: the tracker and MIDI decoders would parse it whole.
    {.name = "MusicUnknownOver16MiB",
     .plant = {{"music._vq", Bytes{}, Kind::File, (16u << 20) + 1}}, .signal = SIGTERM,
     .out = kRefused},
    {.name = "MusicWav1Hz", .plant = {{"music._vq", waveHeader(1, 176400)}}, .signal = SIGTERM,
     .out = kRefused},
    {.name = "MusicWav999Hz", .plant = {{"music._vq", waveHeader(999, 176400)}},
     .signal = SIGTERM, .out = kRefused},
    {.name = "MusicWav768001Hz", .plant = {{"music._vq", waveHeader(768001, 176400)}},
     .signal = SIGTERM, .out = kRefused},
    {.name = "MusicWav8MHz", .plant = {{"music._vq", waveHeader(8000000, 176400)}},
     .signal = SIGTERM, .out = kRefused},
    // The capture tool stopped: hash lines whole, unfinished outputs removed.
    {.name = "CaptureSigintHashes", .command = captureLong({}), .signal = SIGINT, .status = 130,
     .err = "%vornisk-capture: stopped by SIGINT after * frames\n"},
    {.name = "CaptureSigtermPng", .command = captureLong({"--png", "frames"}), .signal = SIGTERM,
     .status = 143,
     .err = "%vornisk-capture: stopped by SIGTERM after * frames; the unfinished PNG frames were "
            "removed\n"},
    {.name = "CaptureSighupVideo", .command = captureLong({"--video", "show.mp4"}),
     .signal = SIGHUP, .status = 129,
     .err = "%vornisk-capture: stopped by SIGHUP after * frames; the unfinished video was removed\n",
     .needs = "ffmpeg"},
    // A file size limit (SIGXFSZ ignored: the write fails) as a full disk would.
    {.name = "CapturePngOverFileSizeLimit",
     .command = {"vornisk-capture", "--data", ".", "--hash", "--fps", "1", "--png", "frames",
                 "--scale", "3"},
     .status = 1, .err = "%: File too large; the unfinished PNG frames were removed\n",
     .shell = "ulimit -f 64"},
    {.name = "CaptureScale64PngUnderMemoryLimit",
     .command = {"vornisk-capture", "--data", ".", "--frames", "1", "--png", "frames", "--scale",
                 "64"},
     .status = 1,
     .err = "vornisk-capture: not enough memory for PNG frames of 20480 x 15360 pixels\n",
     .shell = "ulimit -v 1000000"},
    {.name = "XDisplayEnded", .server = Server::X, .act = Act::EndDisplay, .status = 1,
     .err = "vornisk: lost the display\n"},
    {.name = "XSighup", .server = Server::X, .signal = SIGHUP},
    // Stopped for 2 s, it carries on (the pacing does not rush to catch up), and SIGTERM ends it.
    {.name = "XSigstopThenSigcont", .server = Server::X, .act = Act::StopThenContinue},
    {.name = "XKeyPress", .server = Server::X, .act = Act::Key},
    {.name = "XWindowClosed", .server = Server::X, .act = Act::CloseWindow},
    // libdecor may add a line of its own.
    {.name = "WaylandCompositorEnded", .server = Server::Wayland, .act = Act::EndDisplay,
     .status = 1, .err = "%vornisk: lost the display\n"},
  };
  // clang-format on
}

// ---------------------------------------------------------------------------
// The runner.

using testing::Child;

// Polls `done` for up to 10 s.
bool soon(const std::function<bool()>& done) {
  for (const auto deadline = Clock::now() + 10s; Clock::now() < deadline;) {
    if (done()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

// A number from /proc/PID/status (hexadecimal for the signal masks), or 0.
long statusField(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field, 0) == 0)
      return static_cast<long>(
          std::stoull(line.substr(field.size()), nullptr, field.rfind("Sig", 0) == 0 ? 16 : 10));
  }
  return 0;
}

// Whether the child has a handler for SIGTERM: SDL installs it when the display
// opens, just before the frame loop (the capture tool, as it starts).
bool catchesSigterm(pid_t pid) {
  return (statusField(pid, "SigCgt:") >> (SIGTERM - 1)) & 1;
}

void act(const Row& row, pid_t show, std::optional<Child>& server, const std::string& display) {
  if (row.signal != 0) kill(show, row.signal);
  if (row.act == Act::EndDisplay) server.reset();
  EXPECT_TRUE(row.act != Act::CloseWindow || closeWindow(display));
  // Through XTEST, to the window with the focus.
  const std::string key = "DISPLAY=" + display +
                          " timeout 10 xdotool search --sync --onlyvisible --name '^Vornisk$' "
                          "windowfocus --sync key space";
  EXPECT_TRUE(row.act != Act::Key || std::system(key.c_str()) == 0);
  if (row.act == Act::StopThenContinue) {
    kill(show, SIGSTOP);
    std::this_thread::sleep_for(2s);
    kill(show, SIGCONT);
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(waitpid(show, nullptr, WNOHANG), 0) << "the show ended on its own after SIGCONT";
    kill(show, SIGTERM);
  }
}

// Each entry's name, type and (for a regular file) size.
std::map<std::string, std::pair<int, std::uintmax_t>> listing(const std::string& folder) {
  std::map<std::string, std::pair<int, std::uintmax_t>> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const fs::file_status status = entry.symlink_status();
    files[entry.path().filename().string()] = {static_cast<int>(status.type()),
                                               fs::is_regular_file(status) ? entry.file_size() : 0};
  }
  return files;
}

void plant(const std::string& folder, const Plant& file) {
  const std::string path = folder + "/" + file.name;
  fs::remove(path);
  if (file.kind == Kind::Fifo) {
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  }
  if (file.kind == Kind::Folder) fs::create_directory(path);
  if (file.kind == Kind::DevZeroLink) fs::create_symlink("/dev/zero", path);
  if (file.kind != Kind::File || !file.bytes) return;
  testing::writeFile(path, *file.bytes);
  if (file.size > file.bytes->size()) fs::resize_file(path, file.size);
}

class BadInput : public ::testing::TestWithParam<Row> {};

TEST_P(BadInput, EndsAsTheTableSays) {
  const Row& row = GetParam();
  std::optional<Child> xvfb, weston;
  std::string display;
  std::string runtime;  // weston's XDG_RUNTIME_DIR
  Environment environment = row.environment;
  if (*row.needs != '\0' &&
      std::system(("command -v " + std::string(row.needs) + " >/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "needs " << row.needs << " (scripts/install-deps.sh --with-tools)";
  }
#if defined(__SANITIZE_ADDRESS__)
  // AddressSanitizer reserves terabytes of address space up front.
  if (std::string(row.shell).find("ulimit -v") != std::string::npos) {
    GTEST_SKIP() << "a limit on address space, under AddressSanitizer";
  }
#endif
  if (row.server != Server::Dummy) {
    const std::string tools = row.server == Server::X ? "Xvfb xdotool" : "Xvfb weston";
    if (std::system(("command -v " + tools + " >/dev/null").c_str()) != 0) {
      // CI sets VORNISK_REQUIRE_X: there these rows must run.
      if (std::getenv("VORNISK_REQUIRE_X") != nullptr) FAIL() << "needs " << tools;
      GTEST_SKIP() << "needs " << tools << " (scripts/install-deps.sh --with-tools)";
    }
    // Xvfb picks a free display number and prints it.
    xvfb.emplace(std::vector<std::string>{"Xvfb", "-displayfd", "1", "-nolisten", "tcp"},
                 Environment{}, "/");
    ASSERT_TRUE(soon([&] { return xvfb->out().find('\n') != std::string::npos; })) << xvfb->err();
    display = ":" + xvfb->out().substr(0, xvfb->out().find('\n'));
    // The video drivers' libraries keep a few blocks for the life of the process.
    const char* asan = std::getenv("ASAN_OPTIONS");
    environment.insert({{"DISPLAY", display},
                        {"SDL_VIDEODRIVER", {}},
                        {"WAYLAND_DISPLAY", {}},
                        {"PTC_WINDOWED", "1"},
                        {"ASAN_OPTIONS", std::string(asan ? asan : "") + ":detect_leaks=0"}});
  }
  if (row.server == Server::Wayland) {
    // On its X11 backend weston has an output and a seat, as on a desktop.
    runtime = testing::makeTempDirectory();
    weston.emplace(std::vector<std::string>{"weston", "--backend=x11-backend.so", "--use-pixman",
                                            "--socket=vornisk", "--idle-time=0"},
                   Environment{{"DISPLAY", display}, {"XDG_RUNTIME_DIR", runtime}}, "/");
    ASSERT_TRUE(soon([&] { return fs::exists(runtime + "/vornisk"); })) << weston->err();
    environment["DISPLAY"] = std::nullopt;
    environment["WAYLAND_DISPLAY"] = "vornisk";
    environment["XDG_RUNTIME_DIR"] = runtime;
  }
  const std::string folder = testing::makeTempDirectory();
  testing::writeFile(folder + "/title._vq", title(320, 240));
  testing::writeFile(folder + "/title2._vq", title(320, 240));
  testing::writeFile(folder + "/music._vq", wave(3.0, 3.0));
  for (const Plant& file : row.plant)
    plant(folder, file);
  const auto before = listing(folder);

  std::vector<std::string> argv = row.command;
  argv[0] = testing::binDirectory() + "/" + argv[0];
  argv.insert(argv.begin(), {"/bin/sh", "-c", std::string(row.shell) + "\nexec \"$0\" \"$@\""});
  Child show(argv, environment, folder);
  ASSERT_GT(show.pid, 0) << "cannot start " << argv[3];
  const bool acts = row.act != Act::Nothing || row.signal != 0;
  Clock::time_point started = Clock::now(), ready{}, acted{};
  int status = 0;
  bool timedOut = false;
  long peakKb = 0;  // VmHWM: the rusage of a spawned child counts its parent's memory
  while (waitpid(show.pid, &status, WNOHANG) == 0) {
    peakKb = std::max(peakKb, statusField(show.pid, "VmHWM:"));
    std::this_thread::sleep_for(10ms);
    if (Clock::now() - started > 30s) timedOut = kill(show.pid, SIGKILL) == 0;
    if (!acts || acted != Clock::time_point{}) continue;
    if (ready == Clock::time_point{} && catchesSigterm(show.pid)) ready = Clock::now();
    if (ready == Clock::time_point{} || Clock::now() - ready < 1s) continue;
    act(row, show.pid, weston ? weston : xvfb, display);
    acted = Clock::now();
  }
  show.pid = -1;
  const auto ended = Clock::now();
  const auto exitAfterAct = ended - acted;
  // For the README's table: how soon the row ended, and its peak memory.
  std::printf("[ measured ] %s: ended %.3f s after %s, peak %ld MB\n", row.name,
              std::chrono::duration<double>(acts ? exitAfterAct : ended - started).count(),
              acts ? "the act" : "the start", peakKb / 1024);
  const int exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  const std::string out = show.out(), err = show.err();
  const std::string seen = "status " + std::to_string(exitStatus) + "\nstdout:\n" +
                           out.substr(0, 2000) + "\nstderr:\n" + err;
  std::error_code ignored;  // the folder may be gone
  fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ignored);
  const bool folderKept = fs::exists(folder);
  const auto after = folderKept ? listing(folder) : before;
  fs::remove_all(folder);
  if (!runtime.empty()) fs::remove_all(runtime);
  ASSERT_FALSE(timedOut) << "killed after 30 s\n" << seen;
  if (acts) {
    ASSERT_NE(acted, Clock::time_point{}) << "the show never reached its frame loop\n" << seen;
    // A frame or two, then closing the display and the sound device: well under
    // a second (the measured line above); the limit here only guards against a
    // hang, as a loaded machine or a sanitizer build stretches every row.
    EXPECT_LT(exitAfterAct, 5s) << std::chrono::duration<double>(exitAfterAct).count() << " s";
  }
  if (row.name == std::string("NoDisplay") && exitStatus == 0) GTEST_SKIP() << "a console opened";
  if (std::string(row.shell).find("setpriv") != std::string::npos && exitStatus >= 126) {
    GTEST_SKIP() << "as root, and the unprivileged user cannot run " << argv[3];
  }
  EXPECT_EQ(exitStatus, row.status) << seen;
  std::string outText;
  int frames = 0;
  for (const std::string& line : testing::splitLines(out)) {
    const auto hash = testing::parseHashLine(line);
    EXPECT_TRUE(!hash || hash->frame == static_cast<std::uint64_t>(frames++)) << line;
    if (!hash) outText += line + "\n";
  }
  EXPECT_TRUE(matches(outText, row.out)) << seen;
  EXPECT_TRUE(matches(err, row.err)) << seen;
  EXPECT_TRUE(row.hashLines < 0 || frames == row.hashLines) << frames << " frames\n" << seen;
  EXPECT_EQ(after, before) << "the program wrote into its folder";
  EXPECT_EQ(folderKept, row.shell != std::string("rm -r \"$PWD\""));
}

INSTANTIATE_TEST_SUITE_P(Rows, BadInput, ::testing::ValuesIn(rows()),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace vornisk

// Xlib's header defines macros (None, Status, Bool, ...) that would clash above.
#include <X11/Xlib.h>

bool vornisk::closeWindow(const std::string& display) {
  // In a child that ends with _exit: libX11's allocations stay out of the leak check.
  const pid_t pid = fork();
  if (pid == 0) {
    Display* x = XOpenDisplay(display.c_str());
    if (x == nullptr) _exit(1);
    // A loaded machine may show the window late: look for it for up to 5 s.
    Window found = 0;
    for (int look = 0; look < 50 && found == 0; ++look) {
      if (look > 0) usleep(100000);
      Window root = 0, parent = 0, *children = nullptr;
      unsigned count = 0;
      XQueryTree(x, DefaultRootWindow(x), &root, &parent, &children, &count);
      for (unsigned i = 0; i < count; ++i) {
        char* name = nullptr;
        if (XFetchName(x, children[i], &name) != 0 && std::string(name) == "Vornisk")
          found = children[i];
        if (name != nullptr) XFree(name);
      }
      if (children != nullptr) XFree(children);
    }
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = found;
    event.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(x, "WM_DELETE_WINDOW", False));
    const bool sent = found != 0 && XSendEvent(x, found, False, NoEventMask, &event) != 0;
    XCloseDisplay(x);
    _exit(sent ? 0 : 1);
  }
  int status = 1;
  if (pid > 0) waitpid(pid, &status, 0);
  return pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
