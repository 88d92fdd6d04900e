// Helpers shared by the tests: a headless console, scripted random draws and a
// scripted clock, each restored when it goes out of scope.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "clock/clock.h"
#include "shell/demo_console.h"
#include "shell/random.h"

namespace vornisk::testing {

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

// Counts the draws of the real generator without changing them.
class CountingRandom {
 public:
  explicit CountingRandom(std::uint32_t seed);
  ~CountingRandom();
  std::size_t drawsTaken() const { return count_; }

 private:
  static std::uint32_t draw(void* self);
  std::uint32_t state_;
  std::size_t count_ = 0;
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

// A fresh empty directory under the system's temporary folder.
std::string makeTempDirectory();

// Writes bytes to a file; fails the test if it cannot.
void writeFile(const std::string& path, const std::vector<unsigned char>& bytes);

}  // namespace vornisk::testing
