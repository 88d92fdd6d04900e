#include "support/test_support.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "ptc/headless.h"
#include "shell/show.h"

extern char** environ;

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

HeadlessConsole::~HeadlessConsole() {
  close();
}

std::uint32_t* HeadlessConsole::title() {
  return static_cast<std::uint32_t*>(titleSurface->lock());
}

ScriptedRandom::ScriptedRandom(std::initializer_list<std::uint32_t> draws)
    : ScriptedRandom(std::vector<std::uint32_t>(draws)) {}

ScriptedRandom::ScriptedRandom(std::vector<std::uint32_t> draws) : draws_(std::move(draws)) {
  setRandomScript(&ScriptedRandom::draw, this);
}

ScriptedRandom::~ScriptedRandom() {
  setRandomScript(nullptr, nullptr);
}

std::uint32_t ScriptedRandom::draw(void* self) {
  auto* script = static_cast<ScriptedRandom*>(self);
  const std::size_t index = script->next_++;
  return index < script->draws_.size() ? script->draws_[index] : 0u;
}

ScriptedClock::ScriptedClock(std::uint32_t start, std::uint32_t stepPerReading)
    : now_(start), step_(stepPerReading) {
  timing::setTimeSource(&ScriptedClock::read, this);
}

ScriptedClock::~ScriptedClock() {
  timing::setTimeSource(nullptr, nullptr);
}

std::uint32_t ScriptedClock::read(void* self) {
  auto* clock = static_cast<ScriptedClock*>(self);
  ++clock->readings_;
  const std::uint32_t now = clock->now_;
  clock->now_ += clock->step_;
  return now;
}

ShowRun runHeadlessShow(const std::string& dataDirectory, long long keyAfterFrames,
                        const std::function<void()>& afterFrame) {
  ShowRun result;
  ShowSetup setup;
  setup.dataDirectory = dataDirectory;
  setup.makeBackend = [&] {
    return std::make_unique<ptc::HeadlessBackend>(
        [&](const std::uint32_t* pixels, int width, int height) {
          result.frames.emplace_back(pixels, pixels + width * height);
          if (afterFrame) afterFrame();
        },
        keyAfterFrames);
  };
  result.status = runShow(setup);
  return result;
}

Watchdog::Watchdog(std::chrono::seconds limit, std::string what) {
  thread_ = std::thread([this, limit, what = std::move(what)] {
    std::unique_lock lock(mutex_);
    if (!done_.wait_for(lock, limit, [this] { return finished_; })) {
      std::fprintf(stderr, "watchdog: %s did not end within %lld s\n", what.c_str(),
                   static_cast<long long>(limit.count()));
      std::fflush(stderr);
      std::_Exit(1);
    }
  });
}

Watchdog::~Watchdog() {
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
  }
  done_.notify_one();
  thread_.join();
}

OneProcessor::OneProcessor() {
#ifdef __linux__
  cpu_set_t allowed;
  if (sched_getaffinity(0, sizeof allowed, &allowed) != 0 || CPU_COUNT(&allowed) < 2) return;
  previous_.assign(reinterpret_cast<unsigned char*>(&allowed),
                   reinterpret_cast<unsigned char*>(&allowed) + sizeof allowed);
  int first = 0;
  while (!CPU_ISSET(first, &allowed))
    ++first;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(first, &one);
  active_ = sched_setaffinity(0, sizeof one, &one) == 0;
#endif
}

OneProcessor::~OneProcessor() {
#ifdef __linux__
  if (active_)
    sched_setaffinity(0, previous_.size(), reinterpret_cast<cpu_set_t*>(previous_.data()));
#endif
}

std::string makeTempDirectory() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/vornisk-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot make a temporary folder";
  return pattern;
}

void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::string readText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

Bytes readBytes(const std::string& path) {
  const std::string text = readText(path);
  return {text.begin(), text.end()};
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);)
    lines.push_back(line);
  return lines;
}

std::string binDirectory() {
  const char* bin = std::getenv("VORNISK_BIN");
  return bin != nullptr ? bin : VORNISK_DEFAULT_BIN;
}

std::string sourceDirectory() {
  const char* source = std::getenv("VORNISK_SOURCE");
  return source != nullptr ? source : VORNISK_DEFAULT_SOURCE;
}

Bytes readFixture(const std::string& name) {
  const std::string path = sourceDirectory() + "/tests/data/" + name;
  EXPECT_TRUE(std::filesystem::is_regular_file(path)) << "missing fixture " << path;
  return readBytes(path);
}

ScopedEnvironment::ScopedEnvironment(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) previous_ = old;
  if (value) {
    setenv(name_.c_str(), value->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

ScopedEnvironment::~ScopedEnvironment() {
  if (previous_) {
    setenv(name_.c_str(), previous_->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

namespace {

void putLittle(Bytes& bytes, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i)
    bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

}  // namespace

Bytes titlePicture(int width, int height,
                   const std::function<std::uint32_t(int x, int memoryRow)>& colour) {
  Bytes bytes(12, 0);
  putLittle(bytes, static_cast<std::uint32_t>(width), 2);
  putLittle(bytes, static_cast<std::uint32_t>(height), 2);
  bytes.resize(18, 0);
  for (int memoryRow = height - 1; memoryRow >= 0; --memoryRow) {
    for (int x = 0; x < width; ++x)
      putLittle(bytes, colour(x, memoryRow), 3);  // blue, green, red
  }
  return bytes;
}

Bytes wavFile(std::uint32_t sampleRate, std::uint16_t channels,
              const std::vector<std::int16_t>& samples) {
  const auto dataBytes = static_cast<std::uint32_t>(2 * samples.size());
  const std::uint32_t blockAlign = 2u * channels;
  Bytes bytes{'R', 'I', 'F', 'F'};
  putLittle(bytes, 36 + dataBytes, 4);
  bytes.insert(bytes.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  putLittle(bytes, 16, 4);
  putLittle(bytes, 1, 2);  // PCM
  putLittle(bytes, channels, 2);
  putLittle(bytes, sampleRate, 4);
  putLittle(bytes, sampleRate * blockAlign, 4);
  putLittle(bytes, blockAlign, 2);
  putLittle(bytes, 16, 2);
  bytes.insert(bytes.end(), {'d', 'a', 't', 'a'});
  putLittle(bytes, dataBytes, 4);
  for (const std::int16_t sample : samples)
    putLittle(bytes, static_cast<std::uint16_t>(sample), 2);
  return bytes;
}

Child::Child(const std::vector<std::string>& argv, const Environment& environment,
             const std::string& folder)
    : files(makeTempDirectory()) {
  std::vector<std::string> text = {"/usr/bin/env"};  // options (-u) first, then settings
  for (const auto& [name, value] : environment)
    text.insert(value ? text.end() : text.begin() + 1, value ? name + "=" + *value : "-u" + name);
  text.insert(text.end(), argv.begin(), argv.end());
  std::vector<char*> pointers;
  for (std::string& each : text)
    pointers.push_back(each.data());
  pointers.push_back(nullptr);
  // The outputs go to files rather than pipes: nothing to drain while waiting.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string paths[] = {"/dev/null", files + "/out", files + "/err"};
  for (int fd = 0; fd < 3; ++fd) {
    posix_spawn_file_actions_addopen(&actions, fd, paths[fd].c_str(),
                                     fd == 0 ? O_RDONLY : O_WRONLY | O_CREAT, 0600);
  }
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  pid_t child = -1;
  if (posix_spawn(&child, pointers[0], &actions, nullptr, pointers.data(), environ) == 0) {
    pid = child;
  }
  posix_spawn_file_actions_destroy(&actions);
}

Child::~Child() {
  if (pid > 0 && kill(pid, SIGTERM) == 0) waitpid(pid, nullptr, 0);
  std::filesystem::remove_all(files);
}

int Child::wait() {
  int status = 0;
  while (pid > 0 && waitpid(pid, &status, 0) < 0) {
  }
  pid = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string Child::out() const {
  return readText(files + "/out");
}

std::string Child::err() const {
  return readText(files + "/err");
}

ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const ProgramOptions& options) {
  std::vector<std::string> argv = {binDirectory() + "/" + program};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  Child child(argv, options.environment, options.workingDirectory);
  if (child.pid < 0) ADD_FAILURE() << "cannot start " << argv[0];
  const int status = child.wait();
  return {status, child.out(), child.err()};
}

std::optional<HashLine> parseHashLine(const std::string& line) {
  // "<frame> <eight lower-case hex digits>", and nothing else.
  const std::size_t space = line.find(' ');
  if (space == 0 || space == std::string::npos || line.size() != space + 9) return std::nullopt;
  if (line.find_first_not_of("0123456789") < space) return std::nullopt;
  if (line.find_first_not_of("0123456789abcdef", space + 1) != std::string::npos) {
    return std::nullopt;
  }
  return HashLine{std::stoull(line.substr(0, space)),
                  static_cast<std::uint32_t>(std::stoul(line.substr(space + 1), nullptr, 16))};
}

std::vector<HashLine> hashLines(const std::string& out) {
  std::vector<HashLine> result;
  for (const std::string& line : splitLines(out)) {
    if (const auto hash = parseHashLine(line)) result.push_back(*hash);
  }
  return result;
}

}  // namespace vornisk::testing
