// Helpers shared by the tests: a headless console, scripted random draws and a
// scripted clock (each restored when it goes out of scope), the show run
// in-process, the build's programs run as child processes, and the files the
// tests read or make themselves.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "clock/clock.h"
#include "console/demo_console.h"
#include "console/random.h"

namespace vornisk::testing {

using Bytes = std::vector<unsigned char>;
using Frame = std::vector<std::uint32_t>;

// A DemoConsole opened at `width` × `height` on the headless backend and locked,
// with both surfaces filled with `fill`.
class HeadlessConsole : public DemoConsole {
 public:
  explicit HeadlessConsole(int width = 320, int height = 240, std::uint32_t fill = 0);
  ~HeadlessConsole() override;
  // The title surface's words.
  std::uint32_t* title();
  // The pixel stored at column x, memory row r.
  std::uint32_t at(int x, int memoryRow) const { return pixels[x + width * memoryRow]; }
  // The back buffer's words.
  Frame snapshot() const { return {pixels, pixels + width * height}; }
};

// Replaces nextRandom() with the given draws, in order; once they run out, 0.
class ScriptedRandom {
 public:
  ScriptedRandom(std::initializer_list<std::uint32_t> draws);
  explicit ScriptedRandom(std::vector<std::uint32_t> draws);
  ~ScriptedRandom();
  ScriptedRandom(const ScriptedRandom&) = delete;
  ScriptedRandom& operator=(const ScriptedRandom&) = delete;
  // How many draws were taken so far (including those past the script's end).
  std::size_t drawsTaken() const { return next_; }

 private:
  static std::uint32_t draw(void* self);
  std::vector<std::uint32_t> draws_;
  std::size_t next_ = 0;
};

// A clock whose reading the test sets; optionally advancing on every reading.
class ScriptedClock {
 public:
  explicit ScriptedClock(std::uint32_t start = 0, std::uint32_t stepPerReading = 0);
  ~ScriptedClock();
  void set(std::uint32_t now) { now_ = now; }
  std::uint32_t readings() const { return readings_; }

 private:
  static std::uint32_t read(void* self);
  std::uint32_t now_;
  std::uint32_t step_;
  std::uint32_t readings_ = 0;
};

// The whole show run in-process on the headless backend with the data files of
// `dataDirectory`. `afterFrame` runs as each frame is presented, once it is
// recorded; a key is pressed after `keyAfterFrames` frames (never when negative).
struct ShowRun {
  int status = -1;
  std::vector<Frame> frames;
};
ShowRun runHeadlessShow(const std::string& dataDirectory, long long keyAfterFrames = -1,
                        const std::function<void()>& afterFrame = {});

// ---------------------------------------------------------------------------
// Threads

// Ends the test program with a failure line if the scope is still running
// after `limit`: a lost wake-up fails the test instead of hanging it.
class Watchdog {
 public:
  Watchdog(std::chrono::seconds limit, std::string what);
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  std::thread thread_;
};

// Keeps the calling thread, and the threads it starts meanwhile, on a single
// processor until the end of the scope, so that two of them never run at once
// (Linux; elsewhere, or when it fails, active() is false).
class OneProcessor {
 public:
  OneProcessor();
  ~OneProcessor();
  OneProcessor(const OneProcessor&) = delete;
  OneProcessor& operator=(const OneProcessor&) = delete;
  bool active() const { return active_; }

 private:
  bool active_ = false;
  std::vector<unsigned char> previous_;  // the affinity mask to restore
};

// ---------------------------------------------------------------------------
// Files

// A fresh empty directory under the system's temporary folder.
std::string makeTempDirectory();

// Writes bytes to a file; fails the test if it cannot.
void writeFile(const std::string& path, const Bytes& bytes);

// A whole file; empty when it cannot be read.
std::string readText(const std::string& path);
Bytes readBytes(const std::string& path);

// The lines of a text, without their line ends.
std::vector<std::string> splitLines(const std::string& text);

// The build's programs and the source tree: $VORNISK_BIN and $VORNISK_SOURCE,
// else the folders of the build that made the tests.
std::string binDirectory();
std::string sourceDirectory();

// A file of tests/data; fails the test if it is missing.
Bytes readFixture(const std::string& name);

// Sets an environment variable (or removes it, for nullopt) until the end of
// the scope, then restores what was there.
class ScopedEnvironment {
 public:
  ScopedEnvironment(std::string name, const std::optional<std::string>& value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::string name_;
  std::optional<std::string> previous_;
};

// A title picture file: an 18-byte header with the width at bytes 12..13 and
// the height at 14..15 (little-endian), then blue, green, red per pixel, bottom
// row first. `colour` gives the word 0x00RRGGBB the loader should store at
// column x of memory row r.
Bytes titlePicture(int width, int height,
                   const std::function<std::uint32_t(int x, int memoryRow)>& colour);

// A 16-bit PCM WAV file of `samples` (interleaved when there are several channels).
Bytes wavFile(std::uint32_t sampleRate, std::uint16_t channels,
              const std::vector<std::int16_t>& samples);

// ---------------------------------------------------------------------------
// The build's programs as child processes

using Environment = std::map<std::string, std::optional<std::string>>;

// A program started in `folder` (empty: the test's own) through env(1), which
// applies `environment` (a value sets, nullopt removes) to the test's own, with
// standard input from /dev/null and its outputs kept in files; ended with
// SIGTERM, if still running, at the end of the scope.
struct Child {
  Child(const std::vector<std::string>& argv, const Environment& environment,
        const std::string& folder = {});
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  // Waits for the end: the exit status, or 128 + the signal that ended it.
  int wait();
  std::string out() const;
  std::string err() const;

  std::string files;
  int pid = -1;  // -1 once reaped
};

struct ProgramRun {
  int status = -1;  // the exit status, or 128 + the signal that ended it
  std::string out;
  std::string err;
};

struct ProgramOptions {
  std::string workingDirectory{};  // empty: the test's own
  Environment environment{};       // changes to the test's environment
};

// Runs binDirectory()/`program` with `arguments` as a Child and waits for its end.
ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const ProgramOptions& options = {});

// One line of vornisk-capture --hash: the frame number and its pixels' CRC-32.
struct HashLine {
  std::uint64_t frame;
  std::uint32_t crc;
};
std::optional<HashLine> parseHashLine(const std::string& line);
// The hash lines of a standard output; other lines are skipped.
std::vector<HashLine> hashLines(const std::string& out);

}  // namespace vornisk::testing
