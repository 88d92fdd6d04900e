// vornisk-capture as its users meet it: the built tool run as a subprocess on
// pictures and music the test writes itself, with its outputs decoded
// independently (PNG chunks, CRCs and zlib stream; ffprobe for video). The
// virtual clock is also checked in-process against its defining inequality.
#include <zlib.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include "capture/capture.h"
#include "capture/video_writer.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using vornisk::testing::hashLines;
using vornisk::testing::makeTempDirectory;
using vornisk::testing::ProgramRun;
using vornisk::testing::splitLines;
using vornisk::testing::writeFile;

constexpr int kWidth = 320;
constexpr int kHeight = 240;

ProgramRun runTool(const std::vector<std::string>& arguments,
                   const vornisk::testing::ProgramOptions& options = {}) {
  return vornisk::testing::runProgram("vornisk-capture", arguments, options);
}

// ---------------------------------------------------------------------------
// Test data: pictures that differ everywhere from each other and from black,
// with distinct channels and no symmetry, so a flip or a channel swap shows.

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

// A quarter second of a 440 Hz tone, 16-bit mono: music any sound backend and
// ffmpeg can read.
vornisk::testing::Bytes music() {
  constexpr std::uint32_t kRate = 8000;
  std::vector<std::int16_t> samples;
  for (std::uint32_t i = 0; i < kRate / 4; ++i)
    samples.push_back(
        static_cast<std::int16_t>(8000.0 * std::sin(2.0 * std::numbers::pi * 440.0 * i / kRate)));
  return vornisk::testing::wavFile(kRate, 1, samples);
}

struct DataFolder {
  explicit DataFolder(bool withMusic = true) : path(makeTempDirectory()) {
    writeFile(path + "/title._vq", vornisk::testing::titlePicture(kWidth, kHeight, firstTitle));
    writeFile(path + "/title2._vq", vornisk::testing::titlePicture(kWidth, kHeight, secondTitle));
    if (withMusic) writeFile(path + "/music._vq", music());
  }
  ~DataFolder() { fs::remove_all(path); }
  std::string path;
};

// ---------------------------------------------------------------------------
// Reading the outputs

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
  const std::string data = vornisk::testing::readText(path);
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
    const ProgramRun run = runTool(arguments);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    const auto lines = splitLines(run.err);
    ASSERT_EQ(lines.size(), 1u) << run.err;
    EXPECT_EQ(lines[0].rfind("vornisk-capture: ", 0), 0u) << lines[0];
  }
}

TEST(CaptureOptions, HelpListsEveryOptionOnStandardOutput) {
  const ProgramRun run = runTool({"--help"});
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
  const ProgramRun run = runTool({"--data", data.path, "--frames", "7", "--hash", "--fps", "30"});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto lines = splitLines(run.out);
  ASSERT_EQ(lines.size(), 7u) << run.out;
  EXPECT_EQ(run.out.back(), '\n');
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const auto hash = vornisk::testing::parseHashLine(lines[k]);
    EXPECT_TRUE(hash && hash->frame == k) << lines[k];
    EXPECT_EQ(lines[k].substr(0, lines[k].find(' ')), std::to_string(k)) << "no leading zeros";
  }
  // The summary is the last line on standard error.
  const auto errors = splitLines(run.err);
  ASSERT_FALSE(errors.empty());
  EXPECT_NE(errors.back().find("7 frames"), std::string::npos) << errors.back();

  // Same options, same frames; the working directory is the default data folder.
  const ProgramRun again =
      runTool({"--frames", "7", "--hash", "--fps", "30"}, {.workingDirectory = data.path});
  EXPECT_EQ(again.out, run.out);
}

TEST(CaptureHash, FramesLimitsTheRunAndZeroDrawsNothing) {
  const DataFolder data;
  const ProgramRun none = runTool({"--data", data.path, "--frames", "0", "--hash"});
  EXPECT_EQ(none.status, 0) << none.err;
  EXPECT_EQ(none.out, "");
  // A limit past the show's end changes nothing: the show stops at 174 s.
  const ProgramRun whole = runTool({"--data", data.path, "--hash", "--fps", "1"});
  const ProgramRun capped =
      runTool({"--data", data.path, "--hash", "--fps", "1", "--frames", "1000"});
  EXPECT_EQ(whole.status, 0) << whole.err;
  EXPECT_EQ(hashLines(whole.out).size(), 174u);
  EXPECT_EQ(capped.out, whole.out);
  const ProgramRun part = runTool({"--data", data.path, "--hash", "--fps", "1", "--frames", "40"});
  EXPECT_EQ(part.out, whole.out.substr(0, part.out.size()));
  EXPECT_EQ(hashLines(part.out).size(), 40u);
}

// The clock seen end to end: the whole show lasts 174 × F frames at any seed,
// the title appears at exactly 23200 ms and the second title only after
// 153500 ms, also when the clock wraps past 2^32 during the show.
TEST(CaptureClock, ShowPhasesFallOnTheFramesTheFormulaGives) {
  const DataFolder data;
  auto black = [](int, int) { return 0u; };
  // Seed 4294867296 wraps 100 s into the show; at 2 fps frame 307 is exactly
  // 153500 ms. (Shows that do not wrap are every other test's.)
  const std::string frames = makeTempDirectory();
  const ProgramRun show = runTool(
      {"--data", data.path, "--seed", "4294867296", "--fps", "2", "--hash", "--png", frames});
  ASSERT_EQ(show.status, 0) << show.err;
  EXPECT_EQ(hashLines(show.out).size(), 348u);
  EXPECT_TRUE(fs::exists(frameFile(frames, 347)));
  EXPECT_FALSE(fs::exists(frameFile(frames, 348)));
  // Frame 46 is 23000 ms: black; frame 47, 23500 ms: the title.
  EXPECT_GT(shareMatching(decodePng(frameFile(frames, 46)), black), 0.5);
  EXPECT_GT(shareMatching(decodePng(frameFile(frames, 47)), firstTitle), 0.5);
  // Frame 307 is exactly 153500 ms: still the first title; 308 shows the second.
  const Image last = decodePng(frameFile(frames, 307));
  EXPECT_GT(shareMatching(last, firstTitle), 0.5);
  EXPECT_EQ(shareMatching(last, secondTitle), 0.0);
  EXPECT_GT(shareMatching(decodePng(frameFile(frames, 308)), secondTitle), 0.5);
  fs::remove_all(frames);

  // At 5 fps frame 116 is exactly 23200 ms: the glitch phase (title) begins,
  // showing the title as the file stores it: bottom row first, blue-green-red.
  const std::string folder = makeTempDirectory();
  const ProgramRun run = runTool(
      {"--data", data.path, "--seed", "77", "--fps", "5", "--frames", "117", "--png", folder});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_GT(shareMatching(decodePng(frameFile(folder, 115)), black), 0.5);
  const Image first = decodePng(frameFile(folder, 116));
  EXPECT_GT(shareMatching(first, firstTitle), 0.5);
  // Corners where the net cannot reach.
  ASSERT_EQ(first.width, kWidth);
  EXPECT_EQ(first.at(0, 0), firstTitle(0, 0));
  EXPECT_EQ(first.at(7, 2), firstTitle(7, 2));
  EXPECT_EQ(first.at(kWidth - 1, kHeight - 1), firstTitle(kWidth - 1, kHeight - 1));
  fs::remove_all(folder);
}

// ---------------------------------------------------------------------------
// PNG and video

TEST(CapturePng, FramesDecodeToTheHashedPixels) {
  const DataFolder data;
  const std::string folder = makeTempDirectory() + "/nested/frames";  // made by the tool
  const ProgramRun run = runTool({"--data", data.path, "--frames", "3", "--hash", "--png", folder});
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
  const ProgramRun scaled =
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
  const ProgramRun run = runTool(
      {"--data", data.path, "--frames", "12", "--fps", "24", "--video", video, "--scale", "2"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(probe(video, "stream=nb_read_frames,width,height"), "640,480,12");
  EXPECT_EQ(probe(video, "stream=codec_type", "a:0"), "audio") << "the music is muxed in";

  // Without music the video is silent; the default scale is 3.
  const DataFolder silent(/*withMusic=*/false);
  const std::string quiet = folder + "/quiet.mkv";
  const ProgramRun silentRun = runTool({"--data", silent.path, "--frames", "5", "--video", quiet});
  ASSERT_EQ(silentRun.status, 0) << silentRun.err;
  EXPECT_EQ(probe(quiet, "stream=nb_read_frames,width,height"), "960,720,5");
  EXPECT_EQ(probe(quiet, "stream=codec_type", "a:0"), "");
  fs::remove_all(folder);
}

// ---------------------------------------------------------------------------
// Failures: one line on standard error, a non-zero status, earlier output kept

TEST(CaptureErrors, RefusedBeforeAnyFrameWithOneLineNamingTheCause) {
  const DataFolder data;
  const std::string empty = makeTempDirectory();
  const std::string folder = makeTempDirectory();
  writeFile(folder + "/plain-file", {1, 2, 3});
  struct Case {
    std::vector<std::string> arguments;
    const char* mention;
    vornisk::testing::ProgramOptions options;
  };
  const std::vector<Case> cases = {
      {{"--data", empty}, "title._vq", {}},
      {{"--png", folder + "/plain-file/frames"}, "plain-file", {}},
      {{"--video", folder + "/no-such-folder/show.mp4"}, "no-such-folder", {}},
      {{"--video", folder}, "folder", {}},
      // A PATH with no ffmpeg on it.
      {{"--video", folder + "/show.mp4"}, "ffmpeg", {.environment = {{"PATH", folder}}}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments = {"--data", data.path, "--hash", "--frames", "3"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    SCOPED_TRACE(arguments.back());
    const ProgramRun run = runTool(arguments, c.options);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(hashLines(run.out).size(), 0u);
    const auto lines = splitLines(run.err);
    ASSERT_EQ(lines.size(), 1u) << run.err;
    EXPECT_NE(lines[0].find(c.mention), std::string::npos) << lines[0];
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1)
        << "nothing written";
  }
  fs::remove_all(empty);
  fs::remove_all(folder);
}

TEST(CaptureErrors, MissingSecondPictureEndsTheRunWithItsFramesKept) {
  const DataFolder data;
  fs::remove(data.path + "/title2._vq");
  const std::string folder = makeTempDirectory();
  const ProgramRun run = runTool({"--data", data.path, "--fps", "1", "--hash", "--png", folder});
  EXPECT_NE(run.status, 0);
  // At 1 fps frame 154 is the first past 153500 ms: frames 0..153 were presented.
  EXPECT_EQ(hashLines(run.out).size(), 154u);
  EXPECT_EQ(decodePng(frameFile(folder, 153)).width, kWidth);
  const auto lines = splitLines(run.err);
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("title2._vq"), std::string::npos) << run.err;
  fs::remove_all(folder);
}

}  // namespace
