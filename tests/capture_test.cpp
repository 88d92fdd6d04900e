// vornisk-capture as its users meet it: the built tool run as a subprocess on
// pictures and music the test writes itself, with its outputs decoded
// independently (PNG chunks, CRCs and zlib stream; ffprobe for video). The
// virtual clock is also checked in-process against its defining inequality.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "capture/capture.h"
#include "capture/video_writer.h"
#include "support/test_support.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using vornisk::testing::makeTempDirectory;
using vornisk::testing::writeFile;

constexpr int kWidth = 320;
constexpr int kHeight = 240;

// ---------------------------------------------------------------------------
// Running the tool

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
  std::vector<std::string> errLines() const {
    std::vector<std::string> lines;
    std::istringstream stream(err);
    for (std::string line; std::getline(stream, line);)
      lines.push_back(line);
    return lines;
  }
};

std::string toolPath() {
  const char* bin = std::getenv("VORNISK_BIN");
  return std::string(bin != nullptr ? bin : VORNISK_DEFAULT_BIN) + "/vornisk-capture";
}

std::string readText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Runs the tool with `arguments`; `pathVariable`, when given, replaces PATH.
ToolRun runTool(const std::vector<std::string>& arguments, const std::string& workingDirectory = {},
                const std::string* pathVariable = nullptr) {
  const std::string scratch = makeTempDirectory();
  const std::string outPath = scratch + "/out";
  const std::string errPath = scratch + "/err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (!workingDirectory.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
  }
  std::vector<std::string> argumentStore = {toolPath()};
  argumentStore.insert(argumentStore.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : argumentStore)
    argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::vector<std::string> environmentStore;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (pathVariable != nullptr && std::strncmp(*entry, "PATH=", 5) == 0) continue;
    environmentStore.emplace_back(*entry);
  }
  if (pathVariable != nullptr) environmentStore.push_back("PATH=" + *pathVariable);
  std::vector<char*> envp;
  for (std::string& entry : environmentStore)
    envp.push_back(entry.data());
  envp.push_back(nullptr);

  ToolRun run;
  pid_t child = -1;
  const int error = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(error);
    return run;
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
  }
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.out = readText(outPath);
  run.err = readText(errPath);
  fs::remove_all(scratch);
  return run;
}

// ---------------------------------------------------------------------------
// Test data: pictures in the title format (18-byte header, B,G,R rows bottom
// row first) that differ everywhere from each other and from black, with
// distinct channels and no symmetry, so a flip or a channel swap shows.

std::uint32_t firstTitle(int x, int memoryRow) {
  return (static_cast<std::uint32_t>(x & 0xFF) << 16) |
         (static_cast<std::uint32_t>(memoryRow) << 8) |
         static_cast<std::uint32_t>(0x80 + (x / 5 + memoryRow / 3) % 64);
}

std::uint32_t secondTitle(int x, int memoryRow) {
  return (static_cast<std::uint32_t>(255 - memoryRow) << 16) |
         (static_cast<std::uint32_t>((x * 3) & 0xFF) << 8) |
         static_cast<std::uint32_t>(0x10 + (x + 2 * memoryRow) % 64);
}

void writePicture(const std::string& path, std::uint32_t (*colour)(int, int)) {
  std::vector<unsigned char> bytes(18, 0);
  bytes[12] = kWidth & 0xFF;
  bytes[13] = kWidth >> 8;
  bytes[14] = kHeight & 0xFF;
  bytes[15] = kHeight >> 8;
  for (int stored = 0; stored < kHeight; ++stored) {
    const int memoryRow = kHeight - 1 - stored;  // bottom row first
    for (int x = 0; x < kWidth; ++x) {
      const std::uint32_t word = colour(x, memoryRow);
      bytes.push_back(static_cast<unsigned char>(word));
      bytes.push_back(static_cast<unsigned char>(word >> 8));
      bytes.push_back(static_cast<unsigned char>(word >> 16));
    }
  }
  writeFile(path, bytes);
}

// A quarter second of a 440 Hz tone as 16-bit mono WAV: music any sound
// backend and ffmpeg can read.
void writeMusic(const std::string& path) {
  const std::uint32_t rate = 8000;
  const std::uint32_t samples = rate / 4;
  std::vector<unsigned char> bytes;
  auto put32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
      bytes.push_back(static_cast<unsigned char>(v >> (8 * i)));
  };
  auto put16 = [&](std::uint32_t v) {
    bytes.push_back(static_cast<unsigned char>(v));
    bytes.push_back(static_cast<unsigned char>(v >> 8));
  };
  auto tag = [&](const char* text) {
    for (int i = 0; i < 4; ++i)
      bytes.push_back(static_cast<unsigned char>(text[i]));
  };
  tag("RIFF");
  put32(36 + samples * 2);
  tag("WAVE");
  tag("fmt ");
  put32(16);
  put16(1);  // PCM
  put16(1);  // mono
  put32(rate);
  put32(rate * 2);
  put16(2);
  put16(16);
  tag("data");
  put32(samples * 2);
  for (std::uint32_t i = 0; i < samples; ++i) {
    const double phase = 2.0 * 3.141592653589793 * 440.0 * i / rate;
    put16(static_cast<std::uint16_t>(static_cast<std::int16_t>(8000.0 * std::sin(phase))));
  }
  writeFile(path, bytes);
}

struct DataFolder {
  explicit DataFolder(bool withMusic = true) : path(makeTempDirectory()) {
    writePicture(path + "/title._vq", firstTitle);
    writePicture(path + "/title2._vq", secondTitle);
    if (withMusic) writeMusic(path + "/music._vq");
  }
  ~DataFolder() { fs::remove_all(path); }
  std::string path;
};

// ---------------------------------------------------------------------------
// Reading the outputs

struct HashLine {
  unsigned long long frame;
  std::uint32_t crc;
};

// The hash lines of standard output; `others` collects any other line.
std::vector<HashLine> hashLines(const std::string& out,
                                std::vector<std::string>* others = nullptr) {
  static const std::regex pattern("([0-9]+) ([0-9a-f]{8})");
  std::vector<HashLine> lines;
  std::istringstream stream(out);
  for (std::string line; std::getline(stream, line);) {
    std::smatch match;
    if (std::regex_match(line, match, pattern)) {
      lines.push_back(
          {std::stoull(match[1]), static_cast<std::uint32_t>(std::stoul(match[2], nullptr, 16))});
    } else if (others != nullptr) {
      others->push_back(line);
    }
  }
  return lines;
}

std::uint32_t wordsCrc(const std::vector<std::uint32_t>& words) {
  uLong crc = crc32(0L, nullptr, 0);
  for (const std::uint32_t word : words) {
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(word), static_cast<unsigned char>(word >> 8),
        static_cast<unsigned char>(word >> 16), static_cast<unsigned char>(word >> 24)};
    crc = crc32(crc, bytes, 4);
  }
  return static_cast<std::uint32_t>(crc);
}

struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> words;  // 0x00RRGGBB, top row first
  std::uint32_t at(int x, int row) const {
    return words[static_cast<std::size_t>(row) * width + x];
  }
};

std::uint32_t bigEndian32(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

// A strict reader for what the tool promises: 8-bit RGB, no interlace, filter
// 0 on every row, every chunk's CRC right, IEND last.
Image decodePng(const std::string& path) {
  Image image;
  const std::string data = readText(path);
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  EXPECT_GE(data.size(), 8u);
  if (data.size() < 8 || std::memcmp(bytes, kSignature, 8) != 0) {
    ADD_FAILURE() << path << ": no PNG signature";
    return image;
  }
  std::vector<unsigned char> zlibStream;
  std::size_t position = 8;
  bool sawEnd = false;
  while (position + 12 <= data.size() && !sawEnd) {
    const std::uint32_t length = bigEndian32(bytes + position);
    if (position + 12 + length > data.size()) break;
    const std::string type(data, position + 4, 4);
    const unsigned char* body = bytes + position + 8;
    const std::uint32_t storedCrc = bigEndian32(body + length);
    EXPECT_EQ(storedCrc, crc32(0L, bytes + position + 4, length + 4)) << path << " " << type;
    if (type == "IHDR") {
      EXPECT_EQ(length, 13u);
      image.width = static_cast<int>(bigEndian32(body));
      image.height = static_cast<int>(bigEndian32(body + 4));
      EXPECT_EQ(body[8], 8) << "bit depth";
      EXPECT_EQ(body[9], 2) << "colour type RGB";
      EXPECT_EQ(body[12], 0) << "interlace";
    } else if (type == "IDAT") {
      zlibStream.insert(zlibStream.end(), body, body + length);
    } else if (type == "IEND") {
      sawEnd = true;
    }
    position += 12 + length;
  }
  EXPECT_TRUE(sawEnd) << path << ": no IEND";
  EXPECT_EQ(position, data.size()) << path << ": bytes after IEND";
  const std::size_t rowBytes = 1 + static_cast<std::size_t>(image.width) * 3;
  std::vector<unsigned char> raw(rowBytes * image.height);
  uLongf rawSize = static_cast<uLongf>(raw.size());
  EXPECT_EQ(
      uncompress(raw.data(), &rawSize, zlibStream.data(), static_cast<uLong>(zlibStream.size())),
      Z_OK)
      << path;
  EXPECT_EQ(rawSize, raw.size()) << path;
  for (int row = 0; row < image.height; ++row) {
    const unsigned char* line = raw.data() + row * rowBytes;
    EXPECT_EQ(line[0], 0) << "filter of row " << row;
    for (int x = 0; x < image.width; ++x) {
      const unsigned char* p = line + 1 + 3 * x;
      image.words.push_back((std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2]);
    }
  }
  return image;
}

std::string frameFile(const std::string& folder, int frame) {
  char name[32];
  std::snprintf(name, sizeof name, "/frame_%05d.png", frame);
  return folder + name;
}

// The share of pixels of `image` for which `expected` holds.
double shareMatching(const Image& image, const std::function<std::uint32_t(int, int)>& expected) {
  if (image.words.empty()) return 0.0;
  std::size_t hits = 0;
  for (int row = 0; row < image.height; ++row) {
    for (int x = 0; x < image.width; ++x)
      hits += image.at(x, row) == expected(x, row) ? 1 : 0;
  }
  return static_cast<double>(hits) / static_cast<double>(image.words.size());
}

// ---------------------------------------------------------------------------
// The virtual clock

// Frame k must see elapsed e = floor(k × 1000 / F), i.e. e × F ≤ k × 1000 < (e + 1) × F,
// as an unsigned 32-bit difference from the seed even when the reading wraps.
TEST(VirtualClock, EveryFrameSeesFloorOfFrameTimesThousandOverRate) {
  struct Case {
    std::uint32_t seed;
    std::uint32_t fps;
  };
  for (const Case c :
       {Case{0, 60}, Case{12345, 30}, Case{4294900000u, 25}, Case{4294967295u, 7}, Case{1000, 1}}) {
    SCOPED_TRACE(testing::Message() << "seed " << c.seed << ", fps " << c.fps);
    capture::VirtualClock clock(c.seed, c.fps);
    const std::uint64_t frames = capture::showFrameCount(c.fps);
    EXPECT_EQ(frames, 174ull * c.fps);
    bool wrapped = false;
    for (std::uint64_t k = 0; k <= frames; ++k) {
      const std::uint32_t reading = clock.reading();
      EXPECT_EQ(reading, clock.reading()) << "a reading must not move the clock";
      const std::uint64_t elapsed = static_cast<std::uint32_t>(reading - c.seed);
      ASSERT_LE(elapsed * c.fps, k * 1000) << "frame " << k;
      ASSERT_GT((elapsed + 1) * c.fps, k * 1000) << "frame " << k;
      // The show's last frame is the last one whose elapsed time is below 174000.
      EXPECT_EQ(elapsed < 174000, k < frames) << "frame " << k;
      wrapped = wrapped || reading < c.seed;
      clock.framePresented();
    }
    EXPECT_EQ(wrapped, c.seed > 0xFFFFFFFFu - 174000u);
  }
}

TEST(VirtualClock, FrameTimesBeyondThirtyTwoBitsStayExact) {
  // At a million frames per second k × 1000 passes 2^32 after 4.3 million
  // frames; a 32-bit product would make time jump backwards there.
  capture::VirtualClock clock(5, 1000000);
  for (std::uint64_t k = 0; k < 4300000; ++k)
    clock.framePresented();
  EXPECT_EQ(clock.reading(), 5u + 4300u);
  EXPECT_EQ(capture::showFrameCount(1000000), 174000000ull);
  EXPECT_EQ(capture::showFrameCount(4294967295u), 174ull * 4294967295ull);
}

// ---------------------------------------------------------------------------
// Options

TEST(CaptureOptions, BadCommandLinesAreOneLineAndStatusTwo) {
  const std::vector<std::vector<std::string>> bad = {
      {"--bogus"},         {"stray"},
      {"--fps", "0"},      {"--fps", "-5"},
      {"--fps", "12x"},    {"--fps=4294967296"},
      {"--seed", "-1"},    {"--seed", "4294967296"},
      {"--seed", " 7"},    {"--frames"},
      {"--frames", "1.5"}, {"--scale", "0"},
      {"--scale", "65"},   {"--hash=yes"},
      {"--png", ""},       {"--video="},
      {"--data"},
  };
  for (const auto& arguments : bad) {
    std::string shown;
    for (const auto& argument : arguments)
      shown += "[" + argument + "] ";
    SCOPED_TRACE(shown);
    const ToolRun run = runTool(arguments);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    const auto lines = run.errLines();
    ASSERT_EQ(lines.size(), 1u) << run.err;
    EXPECT_EQ(lines[0].rfind("vornisk-capture: ", 0), 0u) << lines[0];
  }
}

TEST(CaptureOptions, HelpListsEveryOptionOnStandardOutput) {
  const ToolRun run = runTool({"--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  for (const char* option :
       {"--data", "--seed", "--fps", "--frames", "--hash", "--png", "--video", "--scale"}) {
    EXPECT_NE(run.out.find(option), std::string::npos) << option;
  }
}

TEST(CaptureOptions, ParserTakesBothValueSpellingsAndTheLimits) {
  const auto parsed = capture::parseCommandLine(
      {"--seed=4294967295", "--fps", "4294967295", "--frames=18446744073709551615", "--scale", "64",
       "--data", "d", "--hash", "--png=p", "--video", "v.mp4"});
  ASSERT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.options.seed, 4294967295u);
  EXPECT_EQ(parsed.options.framesPerSecond, 4294967295u);
  EXPECT_EQ(parsed.options.frameLimit, 18446744073709551615ull);
  EXPECT_EQ(parsed.options.scale, 64u);
  EXPECT_EQ(parsed.options.dataDirectory, "d");
  EXPECT_TRUE(parsed.options.hash);
  EXPECT_EQ(parsed.options.pngDirectory, "p");
  EXPECT_EQ(parsed.options.videoFile, "v.mp4");
  const auto defaults = capture::parseCommandLine({});
  EXPECT_EQ(defaults.options.seed, 0u);
  EXPECT_EQ(defaults.options.framesPerSecond, 60u);
  EXPECT_FALSE(defaults.options.frameLimit.has_value());
  EXPECT_FALSE(defaults.options.scale.has_value());
}

// ---------------------------------------------------------------------------
// Hashes and frame counts

TEST(CaptureHash, OneLinePerFrameAndNothingElse) {
  const DataFolder data;  // with playable music: the sound layer has nothing to report
  const ToolRun run = runTool({"--data", data.path, "--frames", "7", "--hash", "--fps", "30"});
  ASSERT_EQ(run.status, 0) << run.err;
  static const std::regex line("(0|[1-9][0-9]*) [0-9a-f]{8}\n");
  std::istringstream stream(run.out);
  int count = 0;
  for (std::string text; std::getline(stream, text); ++count) {
    EXPECT_TRUE(std::regex_match(text + "\n", line)) << text;
    EXPECT_EQ(text.substr(0, text.find(' ')), std::to_string(count));
  }
  EXPECT_EQ(count, 7);
  EXPECT_EQ(run.out.back(), '\n');
  // The summary is the last line on standard error.
  const auto lines = run.errLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("7 frames"), std::string::npos) << lines.back();

  // Same options, same frames; the working directory is the default data folder.
  const ToolRun again = runTool({"--frames", "7", "--hash", "--fps", "30"}, data.path);
  EXPECT_EQ(again.out, run.out);
}

TEST(CaptureHash, FramesLimitsTheRunAndZeroDrawsNothing) {
  const DataFolder data;
  const ToolRun none = runTool({"--data", data.path, "--frames", "0", "--hash"});
  EXPECT_EQ(none.status, 0) << none.err;
  EXPECT_EQ(none.out, "");
  // A limit past the show's end changes nothing: the show stops at 174 s.
  const ToolRun whole = runTool({"--data", data.path, "--hash", "--fps", "1"});
  const ToolRun capped = runTool({"--data", data.path, "--hash", "--fps", "1", "--frames", "1000"});
  EXPECT_EQ(whole.status, 0) << whole.err;
  EXPECT_EQ(hashLines(whole.out).size(), 174u);
  EXPECT_EQ(capped.out, whole.out);
  const ToolRun part = runTool({"--data", data.path, "--hash", "--fps", "1", "--frames", "40"});
  EXPECT_EQ(part.out, whole.out.substr(0, part.out.size()));
  EXPECT_EQ(hashLines(part.out).size(), 40u);
}

// The clock seen end to end: the whole show lasts 174 × F frames at any seed,
// the title appears at exactly 23200 ms and the second title only after
// 153500 ms, also when the clock wraps past 2^32 during the show.
TEST(CaptureClock, ShowPhasesFallOnTheFramesTheFormulaGives) {
  const DataFolder data;
  struct Case {
    std::uint32_t seed;
    std::uint32_t fps;
    std::uint64_t frames;
  };
  // 4294867296 wraps 100 s into the show; at 2 fps frame 307 is exactly 153500 ms.
  for (const Case c : {Case{0, 2, 348}, Case{4294867296u, 2, 348}}) {
    SCOPED_TRACE(testing::Message() << "seed " << c.seed);
    const std::string folder = makeTempDirectory();
    const ToolRun run = runTool({"--data", data.path, "--seed", std::to_string(c.seed), "--fps",
                                 std::to_string(c.fps), "--hash", "--png", folder});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto hashes = hashLines(run.out);
    EXPECT_EQ(hashes.size(), c.frames);
    EXPECT_TRUE(fs::exists(frameFile(folder, static_cast<int>(c.frames) - 1)));
    EXPECT_FALSE(fs::exists(frameFile(folder, static_cast<int>(c.frames))));

    auto black = [](int, int) { return 0u; };
    // Frame 46 is 23000 ms: black; frame 47, 23500 ms: the title.
    EXPECT_GT(shareMatching(decodePng(frameFile(folder, 46)), black), 0.5);
    EXPECT_GT(shareMatching(decodePng(frameFile(folder, 47)), firstTitle), 0.5);
    // Frame 307 is exactly 153500 ms: still the first title; 308 shows the second.
    const Image last = decodePng(frameFile(folder, 307));
    EXPECT_GT(shareMatching(last, firstTitle), 0.5);
    EXPECT_EQ(shareMatching(last, secondTitle), 0.0);
    EXPECT_GT(shareMatching(decodePng(frameFile(folder, 308)), secondTitle), 0.5);
    fs::remove_all(folder);
  }
  // At 5 fps frame 116 is exactly 23200 ms: the glitch phase (title) begins.
  const std::string folder = makeTempDirectory();
  const ToolRun run = runTool(
      {"--data", data.path, "--seed", "77", "--fps", "5", "--frames", "117", "--png", folder});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_GT(shareMatching(decodePng(frameFile(folder, 115)), [](int, int) { return 0u; }), 0.5);
  EXPECT_GT(shareMatching(decodePng(frameFile(folder, 116)), firstTitle), 0.5);
  fs::remove_all(folder);
}

// ---------------------------------------------------------------------------
// PNG and video

TEST(CapturePng, FramesDecodeToTheHashedPixels) {
  const DataFolder data;
  const std::string folder = makeTempDirectory() + "/nested/frames";  // made by the tool
  const ToolRun run = runTool({"--data", data.path, "--frames", "3", "--hash", "--png", folder});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto hashes = hashLines(run.out);
  ASSERT_EQ(hashes.size(), 3u);
  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    ++files;
    EXPECT_EQ(entry.path().extension(), ".png") << entry.path();
  }
  EXPECT_EQ(files, 3u) << "no temporary files are left behind";
  for (int frame = 0; frame < 3; ++frame) {
    const Image image = decodePng(frameFile(folder, frame));
    EXPECT_EQ(image.width, kWidth);
    EXPECT_EQ(image.height, kHeight);
    EXPECT_EQ(wordsCrc(image.words), hashes[frame].crc) << "frame " << frame;
  }

  const std::string scaledFolder = folder + "-scaled";
  const ToolRun scaled =
      runTool({"--data", data.path, "--frames", "1", "--png", scaledFolder, "--scale", "2"});
  ASSERT_EQ(scaled.status, 0) << scaled.err;
  const Image big = decodePng(frameFile(scaledFolder, 0));
  ASSERT_EQ(big.width, 2 * kWidth);
  ASSERT_EQ(big.height, 2 * kHeight);
  std::vector<std::uint32_t> sampled;
  bool blocksUniform = true;
  for (int row = 0; row < kHeight; ++row) {
    for (int x = 0; x < kWidth; ++x) {
      const std::uint32_t word = big.at(2 * x, 2 * row);
      blocksUniform = blocksUniform && big.at(2 * x + 1, 2 * row) == word &&
                      big.at(2 * x, 2 * row + 1) == word && big.at(2 * x + 1, 2 * row + 1) == word;
      sampled.push_back(word);
    }
  }
  EXPECT_TRUE(blocksUniform);
  EXPECT_EQ(wordsCrc(sampled), hashes[0].crc);
  fs::remove_all(fs::path(folder).parent_path().parent_path());
}

// The first glitch-phase frame shows the title as the file stores it: bottom
// row first, blue-green-red. Top-left and bottom-right corners are compared
// where the net cannot reach.
TEST(CapturePng, TitleKeepsItsOrientationAndChannels) {
  const DataFolder data;
  const std::string folder = makeTempDirectory();
  const ToolRun run =
      runTool({"--data", data.path, "--fps", "5", "--frames", "117", "--png", folder});
  ASSERT_EQ(run.status, 0) << run.err;
  const Image image = decodePng(frameFile(folder, 116));
  ASSERT_EQ(image.width, kWidth);
  EXPECT_EQ(image.at(0, 0), firstTitle(0, 0));
  EXPECT_EQ(image.at(7, 2), firstTitle(7, 2));
  EXPECT_EQ(image.at(kWidth - 1, kHeight - 1), firstTitle(kWidth - 1, kHeight - 1));
  fs::remove_all(folder);
}

bool haveFfmpeg() {
  return !capture::findOnPath("ffmpeg").empty() && !capture::findOnPath("ffprobe").empty();
}

std::string probe(const std::string& file, const std::string& entries,
                  const std::string& stream = "v:0") {
  const std::string command = "ffprobe -v error -count_frames -select_streams " + stream +
                              " -show_entries " + entries + " -of csv=p=0 '" + file + "'";
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
      output += buffer;
    pclose(pipe);
  }
  while (!output.empty() && (output.back() == '\n' || output.back() == ','))
    output.pop_back();
  return output;
}

TEST(CaptureVideo, FramesAndMusicReachTheFile) {
  if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not installed";
  const DataFolder data;
  const std::string folder = makeTempDirectory();
  const std::string video = folder + "/show.mp4";
  const ToolRun run = runTool(
      {"--data", data.path, "--frames", "12", "--fps", "24", "--video", video, "--scale", "2"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(probe(video, "stream=nb_read_frames,width,height"), "640,480,12");
  EXPECT_EQ(probe(video, "stream=codec_type", "a:0"), "audio") << "the music is muxed in";

  // Without music the video is silent; the default scale is 3.
  const DataFolder silent(/*withMusic=*/false);
  const std::string quiet = folder + "/quiet.mkv";
  const ToolRun silentRun = runTool({"--data", silent.path, "--frames", "5", "--video", quiet});
  ASSERT_EQ(silentRun.status, 0) << silentRun.err;
  EXPECT_EQ(probe(quiet, "stream=nb_read_frames,width,height"), "960,720,5");
  EXPECT_EQ(probe(quiet, "stream=codec_type", "a:0"), "");
  fs::remove_all(folder);
}

// ---------------------------------------------------------------------------
// Failures: one line on standard error, a non-zero status, earlier output kept

TEST(CaptureErrors, MissingFirstPictureStopsBeforeAnyFrame) {
  const std::string empty = makeTempDirectory();
  const ToolRun run = runTool({"--data", empty, "--hash"});
  EXPECT_NE(run.status, 0);
  EXPECT_EQ(hashLines(run.out).size(), 0u);
  const auto lines = run.errLines();
  ASSERT_EQ(lines.size(), 1u) << run.err;
  EXPECT_NE(lines[0].find("title._vq"), std::string::npos) << lines[0];
  fs::remove_all(empty);
}

TEST(CaptureErrors, MissingSecondPictureEndsTheRunWithItsFramesKept) {
  const DataFolder data;
  fs::remove(data.path + "/title2._vq");
  const std::string folder = makeTempDirectory();
  const ToolRun run = runTool({"--data", data.path, "--fps", "1", "--hash", "--png", folder});
  EXPECT_NE(run.status, 0);
  // At 1 fps frame 154 is the first past 153500 ms: frames 0..153 were presented.
  EXPECT_EQ(hashLines(run.out).size(), 154u);
  const Image last = decodePng(frameFile(folder, 153));
  EXPECT_EQ(last.width, kWidth);
  const auto lines = run.errLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("title2._vq"), std::string::npos) << run.err;
  fs::remove_all(folder);
}

TEST(CaptureErrors, UnusableOutputsAreRefusedBeforeDrawing) {
  const DataFolder data;
  const std::string folder = makeTempDirectory();
  writeFile(folder + "/plain-file", {1, 2, 3});
  struct Case {
    std::vector<std::string> arguments;
    const char* mention;
  };
  const std::vector<Case> cases = {
      {{"--png", folder + "/plain-file/frames"}, "plain-file"},
      {{"--video", folder + "/no-such-folder/show.mp4"}, "no-such-folder"},
      {{"--video", folder}, "folder"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments = {"--data", data.path, "--hash", "--frames", "3"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const ToolRun run = runTool(arguments);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(hashLines(run.out).size(), 0u);
    const auto lines = run.errLines();
    ASSERT_EQ(lines.size(), 1u) << run.err;
    EXPECT_NE(lines[0].find(c.mention), std::string::npos) << lines[0];
  }
  fs::remove_all(folder);
}

TEST(CaptureErrors, VideoWithoutFfmpegSaysSo) {
  const DataFolder data;
  const std::string folder = makeTempDirectory();
  const std::string emptyPath = folder;  // a PATH with no ffmpeg on it
  const ToolRun run =
      runTool({"--data", data.path, "--video", folder + "/show.mp4"}, {}, &emptyPath);
  EXPECT_EQ(run.status, 1);
  const auto lines = run.errLines();
  ASSERT_EQ(lines.size(), 1u) << run.err;
  EXPECT_NE(lines[0].find("ffmpeg"), std::string::npos) << lines[0];
  EXPECT_FALSE(fs::exists(folder + "/show.mp4"));
  fs::remove_all(folder);
}

}  // namespace
