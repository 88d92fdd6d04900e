// vornisk-capture as its users meet it: the built tool run as a subprocess on
// pictures and music the test writes itself, with its outputs decoded
// independently (PNG chunks, CRCs and zlib stream; ffprobe for video). The
// virtual clock and the option parser are also checked in-process.
#include <zlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture.h"
#include "capture/progress.h"
#include "capture/video_writer.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using vornisk::testing::Bytes;
using vornisk::testing::hashLines;
using vornisk::testing::makeTempDirectory;
using vornisk::testing::ProgramRun;
using vornisk::testing::splitLines;

ProgramRun runTool(const std::vector<std::string>& arguments,
                   const vornisk::testing::ProgramOptions& options = {}) {
  return vornisk::testing::runProgram("vornisk-capture", arguments, options);
}

// Two title pictures with distinct channels and no symmetry, and a short tone
// as music (any sound backend and ffmpeg can read it).
struct DataFolder {
  explicit DataFolder(bool withMusic = true) : path(makeTempDirectory()) {
    using namespace vornisk::testing;
    writeFile(path + "/title._vq", titlePicture(320, 240, [](int x, int r) {
                return static_cast<std::uint32_t>((x & 0xFF) << 16 | r << 8 | (0x80 + x % 64));
              }));
    writeFile(path + "/title2._vq", titlePicture(320, 240, [](int x, int r) {
                return static_cast<std::uint32_t>((255 - r) << 16 | (x * 3 & 0xFF) << 8 | 0x10);
              }));
    if (withMusic) writeFile(path + "/music._vq", readFixture("tone.wav"));
  }
  ~DataFolder() { fs::remove_all(path); }
  std::string path;
};

struct Image {
  std::uint32_t width = 0, height = 0;
  std::vector<std::uint32_t> words;  // 0x00RRGGBB, top row first
};

// A strict reader for what the tool promises: IHDR first and IEND last, every
// chunk's CRC right, 8-bit RGB without interlace, filter 0 on every row.
Image decodePng(const std::string& path) {
  const std::string data = vornisk::testing::readText(path);
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  auto word = [&](std::size_t at) {
    return std::uint32_t{bytes[at]} << 24 | bytes[at + 1] << 16 | bytes[at + 2] << 8 |
           bytes[at + 3];
  };
  EXPECT_EQ(data.substr(0, 8), "\x89PNG\r\n\x1A\n") << path;
  Image image;
  std::string types, zlibStream;
  std::size_t at = 8;
  for (std::uint32_t length; at + 12 <= data.size() && at + 12 + word(at) <= data.size();
       at += 12 + length) {
    length = word(at);
    const std::string type = data.substr(at + 4, 4);
    EXPECT_EQ(word(at + 8 + length), crc32(0L, bytes + at + 4, length + 4)) << type;
    types += type;
    if (type == "IDAT") zlibStream += data.substr(at + 8, length);
    if (type != "IHDR") continue;
    EXPECT_EQ(data.substr(at + 8 + 8, 5), std::string("\x08\x02\x00\x00\x00", 5)) << "8-bit RGB";
    image.width = word(at + 8);
    image.height = word(at + 12);
  }
  EXPECT_TRUE(types.starts_with("IHDR") && types.ends_with("IEND") && at == data.size()) << types;
  const std::size_t rowBytes = 1 + image.width * 3;
  std::vector<unsigned char> raw(rowBytes * image.height);
  uLongf rawSize = static_cast<uLongf>(raw.size());
  EXPECT_EQ(uncompress(raw.data(), &rawSize, reinterpret_cast<const Bytef*>(zlibStream.data()),
                       static_cast<uLong>(zlibStream.size())),
            Z_OK);
  EXPECT_EQ(rawSize, raw.size()) << path;
  for (std::size_t p = 0; p + 3 <= raw.size(); p += 3) {
    if (p % rowBytes == 0) {
      EXPECT_EQ(raw[p++], 0) << "filter of the row before byte " << p;
    }
    image.words.push_back(std::uint32_t{raw[p]} << 16 | raw[p + 1] << 8 | raw[p + 2]);
  }
  return image;
}

std::string frameFile(const std::string& folder, int frame) {
  char name[32];
  std::snprintf(name, sizeof name, "/frame_%05d.png", frame);
  return folder + name;
}

// Frame k must see elapsed e = floor(k × 1000 / F), i.e. e × F ≤ k × 1000 < (e + 1) × F,
// as an unsigned 32-bit difference from the seed even when the reading wraps.
TEST(VirtualClock, EveryFrameSeesFloorOfFrameTimesThousandOverRate) {
  const std::uint32_t runs[][2] = {
      {0, 60}, {12345, 30}, {4294900000u, 25}, {4294967295u, 7}, {1000, 1}};
  for (const auto& [seed, fps] : runs) {
    SCOPED_TRACE(testing::Message() << "seed " << seed << ", fps " << fps);
    capture::VirtualClock clock(seed, fps);
    const std::uint64_t frames = capture::showFrameCount(fps);
    EXPECT_EQ(frames, 174ull * fps);
    for (std::uint64_t k = 0; k <= frames; ++k) {
      const std::uint64_t elapsed = static_cast<std::uint32_t>(clock.reading() - seed);
      ASSERT_EQ(clock.reading(), clock.reading()) << "a reading must not move the clock";
      ASSERT_TRUE(elapsed * fps <= k * 1000 && (elapsed + 1) * fps > k * 1000) << "frame " << k;
      clock.framePresented();
    }
  }
  // At a million frames per second k × 1000 passes 2^32 after 4.3 million
  // frames; a 32-bit product would make time jump backwards there.
  capture::VirtualClock fast(5, 1000000);
  for (std::uint64_t k = 0; k < 4300000; ++k)
    fast.framePresented();
  EXPECT_EQ(fast.reading(), 5u + 4300u);
  EXPECT_EQ(capture::showFrameCount(4294967295u), 174ull * 4294967295ull);
}

TEST(CaptureOptions, HelpListsEveryOptionAndTheParserTakesBothSpellingsAndTheLimits) {
  const ProgramRun help = runTool({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  for (const char* option : {"--data", "--seed", "--fps", "--frames", "--hash", "--png", "--video",
                             "--scale", "--overwrite", "--threads"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
  const auto parsed = capture::parseCommandLine(
      {"--seed=4294967295", "--fps", "4294967295", "--frames=18446744073709551615", "--scale", "64",
       "--data", "d", "--hash", "--png=p", "--overwrite", "--threads", "1"});
  ASSERT_EQ(parsed.error, "");
  const capture::CaptureOptions& o = parsed.options;
  EXPECT_TRUE(o.seed == 4294967295u && o.framesPerSecond == 4294967295u && o.hash && o.overwrite);
  EXPECT_EQ(o.frameLimit, 18446744073709551615ull);
  EXPECT_EQ(o.scale, 64u);
  EXPECT_EQ(o.dataDirectory + o.pngDirectory, "dp");
  EXPECT_TRUE(o.oneThread);
  const auto defaults = capture::parseCommandLine({}).options;
  EXPECT_TRUE(defaults.seed == 0 && defaults.framesPerSecond == 60 && !defaults.overwrite &&
              !defaults.oneThread);
  EXPECT_FALSE(defaults.frameLimit || defaults.scale);

  // Each limit at its bound and one past it: the exact line, or none.
  const std::pair<std::vector<std::string>, std::string> limits[] = {
      {{"--video", "v.mkv", "--scale", "21", "--fps", "1000"}, ""},
      {{"--video", "v.MOV"}, ""},
      {{"--video", "v.m4v", "--scale", "22"},
       "--scale must be at most 21 for --video (H.264 frames up to 6720 x 5040)"},
      {{"--video", "v.mp4", "--fps", "1001", "--frames", "3"},
       "--fps must be at most 1000 for --video"},
      {{"--video", "v.avi"},
       "--video v.avi: the name must end in .mp4, .m4v, .mov or .mkv (it chooses the container)"},
      {{"--video", "mp4"},
       "--video mp4: the name must end in .mp4, .m4v, .mov or .mkv (it chooses the container)"},
      {{"--fps", "1000"}, ""},
      {{"--fps", "1001"},
       "--fps 1001 makes 174174 frames; give --frames N to run more than 174000"},
      {{"--fps", "1001", "--frames", "174174"}, ""},
      {{"--scale", "65"}, "--scale must be at most 64, not 65"},
      {{"--fps", "4294967296"}, "--fps must be at most 4294967295, not 4294967296"},
      {{"--seed", "4294967296"}, "--seed must be at most 4294967295, not 4294967296"},
      {{"--frames", "99999999999999999999"},
       "--frames must be at most 18446744073709551615, not 99999999999999999999"},
      {{"--frames", "1e3"}, "--frames must be a whole number, not '1e3'"},
      {{"--seed", "+7"}, "--seed must be an unsigned 32-bit decimal number, not '+7'"},
      {{"--fps", "0"}, "--fps must be a positive whole number, not '0'"},
  };
  for (const auto& [arguments, error] : limits) {
    SCOPED_TRACE(arguments[0] + " " + arguments[1]);
    EXPECT_EQ(capture::parseCommandLine(arguments).error, error);
  }
}

// The progress bar on a terminal: drawn at the first frame, then (once) at the
// end, each time over the line before, with the cursor left below it.
TEST(CaptureProgress, BarAndLinesShowTheFramesDone) {
  std::FILE* stream = std::tmpfile();
  ASSERT_NE(stream, nullptr);
  capture::Progress bar(stream, capture::Progress::Style::Bar, 80);
  bar.update(1);
  bar.finish(40);
  capture::Progress lines(stream, capture::Progress::Style::Lines, 10);
  lines.update(4);  // a line is printed at most every 2 s
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  lines.update(5);
  lines.update(10);
  std::rewind(stream);
  std::string text;
  for (int c; (c = std::fgetc(stream)) != EOF;)
    text += static_cast<char>(c);
  std::fclose(stream);
  EXPECT_EQ(text,
            "\r[........................................]   1%  1/80 frames\033[K\n"
            "\033[A\r[####################....................]  50%  40/80 frames\033[K\n"
            "vornisk-capture: 5 of 10 frames (50%)\n");
}

TEST(CaptureHash, OneLinePerFrameForTheWholeShowOrTheLimit) {
  const DataFolder data;  // with playable music: the sound layer has nothing to report
  // The working directory is the default data folder.
  const ProgramRun whole = runTool({"--hash", "--fps", "1"}, {.workingDirectory = data.path});
  ASSERT_EQ(whole.status, 0) << whole.err;
  const auto lines = splitLines(whole.out);
  ASSERT_EQ(hashLines(whole.out).size(), 174u);
  ASSERT_EQ(lines.size(), 174u) << "nothing but the hash lines";
  for (std::size_t k = 0; k < lines.size(); ++k)
    EXPECT_EQ(lines[k].substr(0, lines[k].find(' ')), std::to_string(k)) << "no leading zeros";
  // The summary is the last line on standard error.
  EXPECT_NE(splitLines(whole.err).back().find("174 frames"), std::string::npos) << whole.err;
  // A limit cuts the show short; past the show's end it changes nothing.
  for (const auto& [limit, count] : {std::pair{"0", 0u}, {"40", 40u}, {"1000", 174u}}) {
    const ProgramRun part =
        runTool({"--data", data.path, "--hash", "--fps", "1", "--frames", limit});
    EXPECT_EQ(part.status, 0) << part.err;
    EXPECT_EQ(hashLines(part.out).size(), count) << limit;
    EXPECT_EQ(part.out, whole.out.substr(0, part.out.size())) << limit;
  }
}

// The CRC-32 of words as the hash lines take it: each word little-endian, as
// every machine the project builds for stores it.
std::uint32_t wordsCrc(const std::vector<std::uint32_t>& words) {
  return static_cast<std::uint32_t>(
      crc32(0L, reinterpret_cast<const Bytef*>(words.data()), static_cast<uInt>(words.size() * 4)));
}

TEST(CapturePng, FramesDecodeToTheHashedPixelsAtEveryScale) {
  const DataFolder data;
  const std::string root = makeTempDirectory();
  const std::string folder = root + "/nested/frames";  // made by the tool
  const ProgramRun run = runTool({"--data", data.path, "--frames", "3", "--hash", "--png", folder});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto hashes = hashLines(run.out);
  ASSERT_EQ(hashes.size(), 3u);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 3)
      << "no temporary files are left behind";
  Image image;
  for (int frame = 2; frame >= 0; --frame) {
    image = decodePng(frameFile(folder, frame));
    EXPECT_TRUE(image.width == 320u && image.height == 240u);
    EXPECT_EQ(wordsCrc(image.words), hashes[static_cast<std::size_t>(frame)].crc) << frame;
  }
  const ProgramRun scaled =
      runTool({"--data", data.path, "--frames", "1", "--png", root, "--scale", "2"});
  ASSERT_EQ(scaled.status, 0) << scaled.err;
  const Image big = decodePng(frameFile(root, 0));
  std::vector<std::uint32_t> enlarged;  // frame 0, each pixel a 2 × 2 block
  for (std::size_t i = 0; i < 640 * 480; ++i)
    enlarged.push_back(image.words[i / 1280 * 320 + i % 640 / 2]);
  EXPECT_TRUE(big.width == 640u && big.height == 480u && big.words == enlarged);
  fs::remove_all(root);
}

// Each stream of a video: "video,WIDTH,HEIGHT,RATE,FRAMES" or "audio,...", one per line.
std::string probe(const std::string& file) {
  const std::string command =
      "ffprobe -v error -count_frames -show_entries "
      "stream=codec_type,width,height,r_frame_rate,nb_read_frames -of csv=p=0 '" +
      file + "'";
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    for (int c; (c = std::fgetc(pipe)) != EOF;)
      output += static_cast<char>(c);
    pclose(pipe);
  }
  return output;
}

// Frame `frame` of a video decoded by ffmpeg, as 0x00RRGGBB words.
std::vector<std::uint32_t> decodeVideoFrame(const std::string& file, int frame) {
  const std::string command = "ffmpeg -v error -i '" + file + "' -vf 'select=eq(n\\," +
                              std::to_string(frame) + ")' -frames:v 1 -f rawvideo -pix_fmt rgb24 -";
  std::vector<std::uint32_t> words;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    unsigned char rgb[3];
    while (std::fread(rgb, 1, 3, pipe) == 3)
      words.push_back(std::uint32_t{rgb[0]} << 16 | rgb[1] << 8 | rgb[2]);
    pclose(pipe);
  }
  return words;
}

// The mean difference of each channel between two pictures, and the share of
// pixels where some channel differs by more than 48 (an edge the encoder blurred).
std::pair<double, double> difference(const std::vector<std::uint32_t>& a,
                                     const std::vector<std::uint32_t>& b) {
  double sum = 0, far = 0;
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    int worst = 0;
    for (const int shift : {0, 8, 16}) {
      const int d =
          std::abs(static_cast<int>(a[i] >> shift & 0xFF) - static_cast<int>(b[i] >> shift & 0xFF));
      sum += d;
      worst = std::max(worst, d);
    }
    far += worst > 48;
  }
  return {sum / (3.0 * static_cast<double>(a.size())), far / static_cast<double>(a.size())};
}

// The video holds the frames the PNG files hold, at the capture's rate, with
// the music muxed in; it appears only whole, and replaces an older video only
// with --overwrite.
TEST(CaptureVideo, FramesMatchThePngFramesAndMusicReachesTheFile) {
  if (capture::findOnPath("ffmpeg").empty() || capture::findOnPath("ffprobe").empty())
    GTEST_SKIP() << "ffmpeg and ffprobe are not on PATH";
  const DataFolder data, silent(/*withMusic=*/false);
  const std::string folder = makeTempDirectory();
  const std::string video = folder + "/show.mkv", quiet = folder + "/quiet.mp4";
  // Frame 30 (30 s) shows the title picture under the net; frame 3 the net on black.
  const ProgramRun run = runTool({"--data", data.path, "--fps", "1", "--frames", "31", "--video",
                                  video, "--png", folder + "/png", "--scale", "2"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string streams = probe(video);
  EXPECT_TRUE(streams.starts_with("video,640,480,1/1,31\naudio,")) << streams << "with music";
  for (const int frame : {3, 30}) {
    const auto [mean, far] = difference(decodeVideoFrame(video, frame),
                                        decodePng(frameFile(folder + "/png", frame)).words);
    // H.264 at crf 21 in 4:2:0: a few levels on average, blurred one-pixel lines.
    EXPECT_LT(mean, 3.0) << "frame " << frame << ", far " << far;
    EXPECT_LT(far, 0.02) << "frame " << frame;
  }
  // Without music the video is silent; the default scale is 3.
  const ProgramRun silentRun =
      runTool({"--data", silent.path, "--frames", "5", "--fps", "25", "--video", quiet});
  ASSERT_EQ(silentRun.status, 0) << silentRun.err;
  EXPECT_EQ(probe(quiet), "video,960,720,25/1,5\n");
  const ProgramRun again = runTool({"--data", silent.path, "--frames", "2", "--video", quiet});
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(probe(quiet), "video,960,720,25/1,5\n") << "kept without --overwrite";
  const ProgramRun replaced =
      runTool({"--data", silent.path, "--frames", "2", "--video", quiet, "--overwrite"});
  EXPECT_EQ(replaced.status, 0) << replaced.err;
  EXPECT_EQ(probe(quiet), "video,960,720,60/1,2\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 3)
      << "no temporary file is left behind";
  fs::remove_all(folder);
}

// --overwrite replaces the frames of an earlier run (also those the new run
// does not write again) and leaves the folder's other files alone.
TEST(CapturePng, OverwriteReplacesTheFoldersFramesOnly) {
  const DataFolder data;
  const std::string folder = makeTempDirectory();
  vornisk::testing::writeFile(folder + "/notes.txt", {1});
  vornisk::testing::writeFile(folder + "/frame_00007.png", {1});
  const std::vector<std::string> arguments = {"--data", data.path, "--frames",
                                              "2",      "--png",   folder};
  EXPECT_EQ(runTool(arguments).status, 1);
  std::vector<std::string> overwrite = arguments;
  overwrite.push_back("--overwrite");
  const ProgramRun run = runTool(overwrite);
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"frame_00000.png", "frame_00001.png", "notes.txt"}));
  EXPECT_EQ(decodePng(frameFile(folder, 1)).width, 320u);
  fs::remove_all(folder);
}

// Bad command lines (status 2) and outputs that cannot be written (status 1)
// are refused before any frame, with one line on standard error naming the cause.
TEST(CaptureErrors, RefusedBeforeAnyFrameWithOneLine) {
  const DataFolder data;
  const std::string empty = makeTempDirectory();
  const std::string folder = makeTempDirectory();
  vornisk::testing::writeFile(folder + "/plain-file", {1, 2, 3});
  // The video's folder is checked once ffmpeg is found: a stand-in that is never
  // run lets those rows pass on machines without ffmpeg.
  vornisk::testing::writeFile(empty + "/ffmpeg", {'#', '!', '/', 'b', 'i', 'n', '/', 's', 'h'});
  fs::permissions(empty + "/ffmpeg", fs::perms::owner_all);
  const vornisk::testing::ProgramOptions fakeFfmpeg{.environment = {{"PATH", empty}}};
  // Outputs of an earlier run, which only --overwrite may replace.
  fs::create_directory(empty + "/taken.mp4");
  vornisk::testing::writeFile(empty + "/old.mp4", {7});
  fs::create_directory(empty + "/frames");
  vornisk::testing::writeFile(empty + "/frames/frame_00000.png", {7});
  struct Case {
    std::vector<std::string> arguments;
    int status = 2;
    std::string mention = "vornisk-capture: ";
    vornisk::testing::ProgramOptions options{};
  };
  std::vector<Case> cases = {
      {{"--data", empty}, 1, "title._vq"},
      {{"--png", folder + "/plain-file/frames"}, 1, "plain-file"},
      {{"--png", empty + "/frames"}, 1, "frames holds frames of an earlier capture (--overwrite"},
      {{"--video", folder + "/no-such-folder/show.mp4"}, 1, "no-such-folder", fakeFfmpeg},
      {{"--video", empty + "/taken.mp4"}, 1, "taken.mp4: it is a folder", fakeFfmpeg},
      {{"--video", empty + "/old.mp4"}, 1, "old.mp4 exists (--overwrite replaces it)", fakeFfmpeg},
      {{"--video", folder + "/show.mp4"}, 1, "ffmpeg", {.environment = {{"PATH", folder}}}}};
  for (const char* bad :
       {"--bogus",          "stray",         "--fps=0",       "--fps=-5",   "--fps=12x",
        "--fps=4294967296", "--seed=-1",     "--seed=+",      "--seed= 7",  "--seed=4294967296",
        "--frames=1.5",     "--scale=0",     "--scale=65",    "--hash=yes", "--png=",
        "--video=",         "--video=x.avi", "--overwrite=1", "--data",     "--frames",
        "--threads=2"}) {
    cases.push_back({{bad}});
  }
  for (const Case& c : cases) {
    std::vector<std::string> arguments = {"--data", data.path, "--hash", "--frames", "3"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    SCOPED_TRACE("[" + arguments[5] + "]");
    const ProgramRun run = runTool(arguments, c.options);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, "");
    const auto lines = splitLines(run.err);
    ASSERT_EQ(lines.size(), 1u) << run.err;
    EXPECT_NE(lines[0].find(c.mention), std::string::npos) << lines[0];
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1)
        << "nothing written";
    EXPECT_EQ(std::distance(fs::directory_iterator(empty), fs::directory_iterator()), 4);
    EXPECT_EQ(vornisk::testing::readBytes(empty + "/old.mp4"), Bytes{7});
  }
  fs::remove_all(empty);
  fs::remove_all(folder);
}

// Frames are written slower than they are drawn: they queue up in the ring, and
// must still come whole and in order, each file holding the pixels its hash
// line was taken from (up to the bars at 69.5 s, whose words carry bits beyond
// RGB that a PNG drops). A failure of the show (the second picture missing at
// frame 154) keeps the hash lines before it and removes the unfinished frames.
TEST(CaptureErrors, FramesQueueInOrderAndAFailureRemovesTheUnfinishedOnes) {
  const DataFolder data;
  const std::string root = makeTempDirectory(), folder = root + "/frames";
  const ProgramRun hashesAlone = runTool({"--data", data.path, "--fps", "1", "--hash"});
  ASSERT_EQ(hashesAlone.status, 0) << hashesAlone.err;
  // Enlarged files are slow enough that the ring always fills.
  const ProgramRun run = runTool({"--data", data.path, "--fps", "1", "--frames", "69", "--hash",
                                  "--png", folder, "--scale", "3"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, hashesAlone.out.substr(0, run.out.size()));
  const auto hashes = hashLines(run.out);
  ASSERT_EQ(hashes.size(), 69u);
  for (unsigned k = 0; k < hashes.size(); ++k) {
    const Image image = decodePng(frameFile(folder, static_cast<int>(k)));
    std::vector<std::uint32_t> words;  // each 3 × 3 block's corner
    for (std::size_t i = 0; i < 320 * 240 && image.words.size() == 960u * 720; ++i)
      words.push_back(image.words[i / 320 * 3 * 960 + i % 320 * 3]);
    EXPECT_EQ(wordsCrc(words), hashes[k].crc) << "frame " << k;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 1)
      << "no temporary folder is left behind";

  fs::remove(data.path + "/title2._vq");
  const std::string other = root + "/other";
  const ProgramRun failed =
      runTool({"--data", data.path, "--fps", "1", "--hash", "--png", other, "--scale", "3"});
  EXPECT_EQ(failed.status, 1);
  // At 1 fps frame 154 is the first past 153500 ms: frames 0..153 were presented.
  EXPECT_EQ(hashLines(failed.out).size(), 154u);
  EXPECT_EQ(failed.out, hashesAlone.out.substr(0, failed.out.size()));
  EXPECT_NE(splitLines(failed.err).back().find("title2._vq"), std::string::npos) << failed.err;
  EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 1)
      << "the unfinished frames are gone";
  fs::remove_all(root);
}

}  // namespace
