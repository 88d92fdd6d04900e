// The capture run: options, early checks of the outputs, then the show itself
// (runShow) on the virtual clock with every presented frame sent to the outputs.
#include "capture/capture.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>

#include "capture/crc32.h"
#include "capture/frame_ring.h"
#include "capture/png_writer.h"
#include "capture/progress.h"
#include "capture/video_writer.h"
#include "clock/clock.h"
#include "fsound/fsound.h"
#include "ptc/headless.h"
#include "ptc/outside_stop.h"
#include "shell/show.h"

namespace capture {
namespace {

constexpr const char* kProgram = "vornisk-capture";
// The stream mode the show's music is opened with: a memory image (FSOUND_LOADMEMORY)
// plus the playback bits the show asks for.
constexpr unsigned kMusicStreamMode = 0x8029;

// Strict unsigned decimal: digits only, no sign, no blanks, no overflow.
bool parseUnsigned(const std::string& text, std::uint64_t limit, std::uint64_t& value) {
  if (text.empty() || text.size() > 20) return false;
  std::uint64_t result = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (result > (limit - digit) / 10) return false;
    result = result * 10 + digit;
  }
  value = result;
  return true;
}

// The show's frame source: the headless backend (frames to a sink, a key after
// N frames), plus a key as soon as an output fails, so the show ends cleanly
// after the frame in which the failure happened.
class CaptureBackend : public ptc::HeadlessBackend {
 public:
  CaptureBackend(FrameSink sink, long long keyAfterFrames, const std::atomic<bool>& stopRequested)
      : HeadlessBackend(std::move(sink), keyAfterFrames), stopRequested_(stopRequested) {}
  bool keyWaiting() override {
    return stopRequested_ || ptc::outside_stop::requested() || HeadlessBackend::keyWaiting();
  }

 private:
  const std::atomic<bool>& stopRequested_;
};

// Frames in flight between the show and the outputs: enough to ride out a slow
// file or a busy encoder, few enough to stay near the cache (300 KB each).
constexpr std::size_t kRingSlots = 8;
constexpr std::size_t kFrameWords = 320 * 240;

// CRC-32 (zlib's) of the frame as little-endian 32-bit words, memory row 0 first.
std::uint32_t frameHash(const std::uint32_t* pixels, int width, int height) {
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if constexpr (std::endian::native == std::endian::little) {
    return crc32Of(pixels, count * 4);
  } else {
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint32_t word = pixels[i];
      const unsigned char bytes[4] = {
          static_cast<unsigned char>(word), static_cast<unsigned char>(word >> 8),
          static_cast<unsigned char>(word >> 16), static_cast<unsigned char>(word >> 24)};
      crc = crc32Of(bytes, 4, crc);
    }
    return crc;
  }
}

std::string dataPath(const std::string& directory, const char* name) {
  if (directory.empty()) return name;
  return directory.back() == '/' ? directory + name : directory + '/' + name;
}

// Whether the sound layer can play the music file, asked through the very calls
// the show's startMusic makes (output is disabled, so nothing is heard). Only a
// file that passes is muxed into the video; the show reports the same failure
// its own way when it starts the music.
bool musicPlayable(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::vector<char> image;
  char buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    image.insert(image.end(), buffer, buffer + got);
  }
  const bool readFailed = std::ferror(file) != 0;
  std::fclose(file);
  if (readFailed || image.empty() || image.size() > INT_MAX) return false;

  if (FSOUND_Init(44100, 32, 0) == 0) {
    FSOUND_Close();
    return false;
  }
  FSOUND_STREAM* stream =
      FSOUND_Stream_OpenFile(image.data(), kMusicStreamMode, static_cast<int>(image.size()));
  const bool playable = stream != nullptr && FSOUND_Stream_Play(-1, stream) != -1;
  if (stream != nullptr) {
    FSOUND_Stream_Stop(stream);
    FSOUND_Stream_Close(stream);
  }
  FSOUND_Close();
  return playable;
}

// Fails early, before any frame is drawn, when the video cannot be written.
std::string checkVideoOutput(const std::string& file) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path path(file);
  fs::path folder = path.parent_path();
  if (folder.empty()) folder = ".";
  if (!fs::is_directory(folder, error)) {
    return "cannot write " + file + ": no folder " + folder.string();
  }
  if (fs::is_directory(path, error)) return "cannot write " + file + ": it is a folder";
  const bool exists = fs::exists(path, error);
  const std::string checked = exists ? file : folder.string();
  if (::access(checked.c_str(), W_OK) != 0) {
    return "cannot write " + file + ": permission denied";
  }
  return {};
}

std::string makeFolder(const std::string& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error || !std::filesystem::is_directory(folder)) {
    return "cannot make folder " + folder + ": " + (error ? error.message() : "not a folder");
  }
  return {};
}

int digitsOf(std::uint64_t value) {
  int digits = 1;
  while (value >= 10) {
    value /= 10;
    ++digits;
  }
  return digits;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
  std::fflush(stderr);
  return 1;
}

}  // namespace

std::uint64_t showFrameCount(std::uint32_t framesPerSecond) {
  // floor(k × 1000 / fps) ≥ L exactly when k × 1000 ≥ L × fps.
  const std::uint64_t product = std::uint64_t{vornisk::kShowLengthMs} * framesPerSecond;
  return (product + 999) / 1000;
}

ParseResult parseCommandLine(const std::vector<std::string>& arguments) {
  ParseResult result;
  CaptureOptions& options = result.options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string name = arguments[i];
    std::string value;
    bool hasValue = false;
    if (name.rfind("--", 0) == 0) {
      const std::size_t equals = name.find('=');
      if (equals != std::string::npos) {
        value = name.substr(equals + 1);
        name = name.substr(0, equals);
        hasValue = true;
      }
    } else {
      result.error = "unexpected argument '" + name + "' (try --help)";
      return result;
    }

    const bool takesValue = name == "--data" || name == "--seed" || name == "--fps" ||
                            name == "--frames" || name == "--png" || name == "--video" ||
                            name == "--scale" || name == "--threads";
    if (takesValue && !hasValue) {
      if (i + 1 >= arguments.size()) {
        result.error = "option " + name + " needs a value";
        return result;
      }
      value = arguments[++i];
    } else if (!takesValue && hasValue) {
      result.error = "option " + name + " takes no value";
      return result;
    }

    std::uint64_t number = 0;
    if (name == "--help") {
      options.help = true;
    } else if (name == "--hash") {
      options.hash = true;
    } else if (name == "--data") {
      options.dataDirectory = value;
    } else if (name == "--png" || name == "--video") {
      if (value.empty()) {
        result.error = "option " + name + " needs a non-empty value";
        return result;
      }
      (name == "--png" ? options.pngDirectory : options.videoFile) = value;
    } else if (name == "--seed") {
      if (!parseUnsigned(value, UINT32_MAX, number)) {
        result.error = "--seed must be an unsigned 32-bit decimal number, not '" + value + "'";
        return result;
      }
      options.seed = static_cast<std::uint32_t>(number);
    } else if (name == "--fps" || name == "--scale") {
      if (!parseUnsigned(value, UINT32_MAX, number) || number == 0) {
        result.error = name + " must be a positive whole number, not '" + value + "'";
        return result;
      }
      (name == "--fps" ? options.framesPerSecond : options.scale.emplace()) =
          static_cast<std::uint32_t>(number);
    } else if (name == "--threads") {
      if (value != "1" && value != "auto") {
        result.error = "--threads must be 1 or auto, not '" + value + "'";
        return result;
      }
      options.oneThread = value == "1";
    } else if (name == "--frames") {
      if (!parseUnsigned(value, UINT64_MAX, number)) {
        result.error = "--frames must be a whole number, not '" + value + "'";
        return result;
      }
      options.frameLimit = number;
    } else {
      result.error = "unknown option '" + name + "' (try --help)";
      return result;
    }
  }
  // A frame is at most 320 × 240 words; beyond this the enlarged frame no
  // longer fits the encoders' 32-bit sizes.
  if (options.scale && *options.scale > 64) {
    result.error = "--scale must be at most 64";
  }
  return result;
}

std::string usageText() {
  return "Usage: vornisk-capture [options]\n"
         "Runs the Vornisk show on a virtual clock, without a window or keys, and\n"
         "records its frames. The same options always give the same frames.\n"
         "\n"
         "  --data DIR    folder with title._vq, title2._vq and music._vq (default: .)\n"
         "  --seed S      the clock's first reading, 0..4294967295 (default 0); it\n"
         "                also seeds the random generator\n"
         "  --fps F       frames per second of the virtual clock (default 60)\n"
         "  --frames N    stop after N frames (default: the whole show, 174 x F)\n"
         "  --hash        print \"FRAME CRC32\" per frame on standard output\n"
         "  --png DIR     write every frame as DIR/frame_NNNNN.png\n"
         "  --video FILE  encode the frames (and the music, if it plays) with ffmpeg,\n"
         "                H.264 in the container of FILE's extension (e.g. .mp4)\n"
         "  --scale K     enlarge frames K times, nearest neighbour (default: 1 for\n"
         "                PNG, 3 for video)\n"
         "  --threads T   auto: prepare the next frame's field on a second thread\n"
         "                while it gets a processor in time (default); 1: draw on one\n"
         "                thread only (the frames are the same)\n"
         "  --help        show this text\n"
         "\n"
         "With none of --hash, --png and --video the show only runs (timing it).\n"
         "Progress and a summary go to standard error.\n";
}

int runCapture(const CaptureOptions& options) {
  const auto started = std::chrono::steady_clock::now();
  const std::uint32_t fps = options.framesPerSecond;

  // Everything that can be found wrong without drawing is checked first.
  if (!options.pngDirectory.empty()) {
    if (std::string error = makeFolder(options.pngDirectory); !error.empty()) return fail(error);
  }
  fsound::setOutputEnabled(false);
  std::unique_ptr<VideoWriter> video;
  if (!options.videoFile.empty()) {
    if (findOnPath("ffmpeg").empty()) {
      return fail("ffmpeg was not found on PATH (install the ffmpeg package to record video)");
    }
    if (std::string error = checkVideoOutput(options.videoFile); !error.empty()) {
      return fail(error);
    }
    VideoSettings settings;
    settings.outputFile = options.videoFile;
    settings.framesPerSecond = fps;
    settings.scale = options.scale.value_or(kDefaultVideoScale);
    const std::string music = dataPath(options.dataDirectory, "music._vq");
    if (musicPlayable(music)) settings.musicFile = music;
    video = std::make_unique<VideoWriter>(std::move(settings));
  }

  const std::uint64_t showFrames = showFrameCount(fps);
  const std::uint64_t expectedFrames =
      options.frameLimit ? std::min(*options.frameLimit, showFrames) : showFrames;
  const int nameDigits = std::max(5, digitsOf(expectedFrames == 0 ? 0 : expectedFrames - 1));
  PngWriter png(options.scale.value_or(kDefaultPngScale), PngEncoder::Fastest);

  // A live bar only where a person watches and the hash lines do not share the terminal.
  const bool barFits =
      ::isatty(STDERR_FILENO) == 1 && !(options.hash && ::isatty(STDOUT_FILENO) == 1);
  Progress progress(stderr, barFits ? Progress::Style::Bar : Progress::Style::Lines,
                    expectedFrames);

  // Frame k's outputs: its hash line, its PNG file, its share of the video.
  std::string pngPath;
  auto output = [&](std::uint64_t frame, const std::uint32_t* pixels, int width,
                    int height) -> std::string {
    if (options.hash) {
      std::printf("%llu %08x\n", static_cast<unsigned long long>(frame),
                  static_cast<unsigned>(frameHash(pixels, width, height)));
      if (std::ferror(stdout)) return "cannot write to standard output";
    }
    if (!options.pngDirectory.empty()) {
      char name[48];
      std::snprintf(name, sizeof name, "frame_%0*llu.png", nameDigits,
                    static_cast<unsigned long long>(frame));
      pngPath = dataPath(options.pngDirectory, name);
      if (std::string error = png.write(pngPath, pixels, width, height); !error.empty()) {
        return error;
      }
    }
    return video ? video->write(pixels, width, height) : std::string();
  };

  // PNG files and video run on a thread of their own (below); hashes alone stay
  // on the show's thread: copying a frame into the ring costs about what
  // hashing it does, and the show already keeps a second thread busy preparing
  // its wire net.
  const bool outputsOnThread = !options.pngDirectory.empty() || video;
  std::string failure;
  std::uint64_t framesDone = 0;
  std::atomic<bool> stopRequested = false;
  // A frame's outputs, then (on the show's thread) the progress. False once an
  // output has failed: the show then stops at its next frame.
  auto takeFrame = [&](const std::uint32_t* pixels, int width, int height) {
    failure = output(framesDone, pixels, width, height);
    if (!failure.empty()) {
      stopRequested = true;
      return false;
    }
    ++framesDone;
    if (!outputsOnThread) progress.update(framesDone);
    return true;
  };

  // The outputs' thread takes the frames in order while the show draws the next
  // ones; after a failure the frames still in the ring are dropped. Only that
  // thread touches the outputs until it is joined. The progress stays with the
  // show's thread, counting the frames handed over, so that no progress line
  // can follow the show's own error line.
  std::optional<FrameRing> ring;
  std::thread outputThread;
  std::uint64_t framesHandedOver = 0;
  if (outputsOnThread) {
    ring.emplace(kRingSlots, kFrameWords);
    outputThread = std::thread([&] {
      while (const FrameRing::Frame* frame = ring->front()) {
        const bool taken = takeFrame(frame->pixels.data(), frame->width, frame->height);
        ring->pop();
        if (!taken) {
          ring->abandon();
          return;
        }
      }
    });
  }
  // Joined on every way out of this scope, an exception included.
  struct JoinOnExit {
    std::optional<FrameRing>& frames;
    std::thread& worker;
    ~JoinOnExit() {
      if (!worker.joinable()) return;
      frames->close();
      worker.join();
    }
  } joinOnExit{ring, outputThread};

  VirtualClock clock(options.seed, fps);
  auto sink = [&](const std::uint32_t* pixels, int width, int height) {
    if (ring) {
      if (ring->push(pixels, width, height)) progress.update(++framesHandedOver);
    } else if (failure.empty()) {
      takeFrame(pixels, width, height);
    }
    // The next reading of the clock belongs to the next frame.
    clock.framePresented();
  };

  const long long keyAfterFrames =
      options.frameLimit
          ? static_cast<long long>(std::min<std::uint64_t>(*options.frameLimit, LLONG_MAX))
          : -1;
  vornisk::ShowSetup setup;
  setup.dataDirectory = options.dataDirectory;
  setup.fieldThreads =
      options.oneThread ? vornisk::FieldThreads::One : vornisk::FieldThreads::Adaptive;
  setup.makeBackend = [&]() -> std::unique_ptr<ptc::Backend> {
    return std::make_unique<CaptureBackend>(sink, keyAfterFrames, stopRequested);
  };

  int showStatus;
  {
    timing::ScopedTimeSource virtualTime(&VirtualClock::read, &clock);
    showStatus = vornisk::runShow(setup);
  }
  if (outputThread.joinable()) {
    ring->close();
    outputThread.join();
  }

  // Whatever happened, what was written so far is completed: hash lines
  // flushed, the video closed so ffmpeg finishes its file.
  if (std::fflush(stdout) != 0 && failure.empty()) failure = "cannot write to standard output";
  if (video) {
    std::string error = video->finish();
    if (failure.empty()) failure = std::move(error);
  }
  progress.finish(framesDone);
  ptc::outside_stop::unwatch();   // a closed console may end the process now
  if (showStatus != 0) return 1;  // the show reported its own error line
  if (!failure.empty()) return fail(failure);

  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::fprintf(stderr, "%s: %llu frames in %.2f s (%.1f frames/s)\n", kProgram,
               static_cast<unsigned long long>(framesDone), seconds,
               seconds > 0 ? static_cast<double>(framesDone) / seconds : 0.0);
  return 0;
}

}  // namespace capture
