#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>

#include "ptc/headless.h"

namespace vornisk::testing {

HeadlessConsole::HeadlessConsole(int width_, int height_, std::uint32_t fill) {
  setBackend(std::make_unique<ptc::HeadlessBackend>());
  open("test", width_, height_, false);
  lock();
  for (int i = 0; i < width * height; ++i) {
    pixels[i] = fill;
    title()[i] = fill;
  }
}

HeadlessConsole::~HeadlessConsole() { close(); }

std::uint32_t* HeadlessConsole::title() {
  return static_cast<std::uint32_t*>(titleSurface->lock());
}

ScriptedRandom::ScriptedRandom(std::initializer_list<std::uint32_t> draws)
    : ScriptedRandom(std::vector<std::uint32_t>(draws)) {}

ScriptedRandom::ScriptedRandom(std::vector<std::uint32_t> draws) : draws_(std::move(draws)) {
  setRandomScript(&ScriptedRandom::draw, this);
}

ScriptedRandom::~ScriptedRandom() { setRandomScript(nullptr, nullptr); }

std::uint32_t ScriptedRandom::draw(void* self) {
  auto* script = static_cast<ScriptedRandom*>(self);
  const std::size_t index = script->next_++;
  return index < script->draws_.size() ? script->draws_[index] : 0u;
}

CountingRandom::CountingRandom(std::uint32_t seed) : state_(seed) {
  setRandomScript(&CountingRandom::draw, this);
}

CountingRandom::~CountingRandom() { setRandomScript(nullptr, nullptr); }

std::uint32_t CountingRandom::draw(void* self) {
  auto* counter = static_cast<CountingRandom*>(self);
  ++counter->count_;
  counter->state_ = counter->state_ * 214013u + 2531011u;
  return (counter->state_ >> 16) & 0x7FFFu;
}

ScriptedClock::ScriptedClock(std::uint32_t start, std::uint32_t stepPerReading)
    : now_(start), step_(stepPerReading) {
  timing::setTimeSource(&ScriptedClock::read, this);
}

ScriptedClock::~ScriptedClock() { timing::setTimeSource(nullptr, nullptr); }

std::uint32_t ScriptedClock::read(void* self) {
  auto* clock = static_cast<ScriptedClock*>(self);
  ++clock->readings_;
  const std::uint32_t now = clock->now_;
  clock->now_ += clock->step_;
  return now;
}

std::string makeTempDirectory() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                        "/vornisk-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot make a temporary folder";
  return pattern;
}

void writeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

}  // namespace vornisk::testing
