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
#include <cstdlib>
#include <memory>
#include <new>
#include <thread>

#include "capture/crc32.h"
#include "capture/frame_ring.h"
#include "capture/png_writer.h"
#include "capture/progress.h"
#include "capture/staged_output.h"
#include "capture/stop_request.h"
#include "capture/video_writer.h"
#include "clock/clock.h"
#include "fsound/fsound.h"
#include "media/data_file.h"
#include "ptc/headless.h"
#include "shell/show.h"

namespace capture {
namespace {

constexpr const char* kProgram = "vornisk-capture";
// The stream mode the show's music is opened with: a memory image (FSOUND_LOADMEMORY)
// plus the playback bits the show asks for.
constexpr unsigned kMusicStreamMode = 0x8029;

enum class Number { Valid, NotANumber, TooLarge };

// Strict unsigned decimal: digits only, no sign, no blanks, at most `limit`.
Number parseUnsigned(const std::string& text, std::uint64_t limit, std::uint64_t& value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
    return Number::NotANumber;
  }
  std::uint64_t result = 0;
  for (const char c : text) {
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (result > (limit - digit) / 10) return Number::TooLarge;
    result = result * 10 + digit;
  }
  value = result;
  return Number::Valid;
}

// The line for a value that is not an unsigned decimal within `limit`.
std::string numberError(const std::string& name, const std::string& value, Number number,
                        std::uint64_t limit, const char* kind) {
  if (number == Number::TooLarge) {
    return name + " must be at most " + std::to_string(limit) + ", not " + value;
  }
  return name + " must be " + kind + ", not '" + value + "'";
}

// The show's frame source: the headless backend (frames to a sink, a key after
// N frames), plus a key as soon as an output fails, so the show ends cleanly
// after the frame in which the failure happened.
class CaptureBackend : public ptc::HeadlessBackend {
 public:
  CaptureBackend(FrameSink sink, long long keyAfterFrames, const std::atomic<bool>& stopRequested)
      : HeadlessBackend(std::move(sink), keyAfterFrames), stopRequested_(stopRequested) {}
  bool keyWaiting() override {
    return stopRequested_ || stopSignal() != 0 || HeadlessBackend::keyWaiting();
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
  // Read as the show reads it: a regular file, within the same size limit.
  const vornisk::MusicImage music = vornisk::readMusicFile(path);
  const std::unique_ptr<char, decltype(&std::free)> image(music.bytes, &std::free);
  if (!image || music.length == 0) return false;

  if (FSOUND_Init(44100, 32, 0) == 0) {
    FSOUND_Close();
    return false;
  }
  FSOUND_STREAM* stream = FSOUND_Stream_OpenFile(image.get(), kMusicStreamMode, music.length);
  const bool playable = stream != nullptr && FSOUND_Stream_Play(-1, stream) != -1;
  if (stream != nullptr) {
    FSOUND_Stream_Stop(stream);
    FSOUND_Stream_Close(stream);
  }
  FSOUND_Close();
  return playable;
}

int digitsOf(std::uint64_t value) {
  int digits = 1;
  while (value >= 10) {
    value /= 10;
    ++digits;
  }
  return digits;
}

int fail(const std::string& message, int status = 1) {
  std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
  std::fflush(stderr);
  return status;
}

// Checks of options that depend on each other. Returns an empty string or the line.
std::string checkCombination(const CaptureOptions& options) {
  if (!options.videoFile.empty()) {
    if (containerFor(options.videoFile).empty()) {
      return "--video " + options.videoFile +
             ": the name must end in .mp4, .m4v, .mov or .mkv (it chooses the container)";
    }
    if (options.scale.value_or(kDefaultVideoScale) > kMaxVideoScale) {
      return "--scale must be at most " + std::to_string(kMaxVideoScale) +
             " for --video (H.264 frames up to 6720 x 5040)";
    }
    if (options.framesPerSecond > kMaxVideoFramesPerSecond) {
      return "--fps must be at most " + std::to_string(kMaxVideoFramesPerSecond) + " for --video";
    }
  }
  const std::uint64_t showFrames = showFrameCount(options.framesPerSecond);
  if (!options.frameLimit && showFrames > kMaxFramesUnasked) {
    return "--fps " + std::to_string(options.framesPerSecond) + " makes " +
           std::to_string(showFrames) + " frames; give --frames N to run more than " +
           std::to_string(kMaxFramesUnasked);
  }
  return {};
}

// What a failed or stopped run removed, for its one line; empty when nothing.
std::string removedNote(bool video, bool frames) {
  if (!video && !frames) return {};
  return std::string("; the unfinished ") +
         (video && frames ? "video and PNG frames were"
          : video         ? "video was"
                          : "PNG frames were") +
         " removed";
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
    } else if (name == "--overwrite") {
      options.overwrite = true;
    } else if (name == "--data") {
      options.dataDirectory = value;
    } else if (name == "--png" || name == "--video") {
      if (value.empty()) {
        result.error = "option " + name + " needs a non-empty value";
        return result;
      }
      (name == "--png" ? options.pngDirectory : options.videoFile) = value;
    } else if (name == "--seed") {
      if (const Number n = parseUnsigned(value, UINT32_MAX, number); n != Number::Valid) {
        result.error = numberError(name, value, n, UINT32_MAX, "an unsigned 32-bit decimal number");
        return result;
      }
      options.seed = static_cast<std::uint32_t>(number);
    } else if (name == "--fps" || name == "--scale") {
      const std::uint64_t limit = name == "--fps" ? UINT32_MAX : kMaxScale;
      Number n = parseUnsigned(value, limit, number);
      if (n == Number::Valid && number == 0) n = Number::NotANumber;
      if (n != Number::Valid) {
        result.error = numberError(name, value, n, limit, "a positive whole number");
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
      if (const Number n = parseUnsigned(value, UINT64_MAX, number); n != Number::Valid) {
        result.error = numberError(name, value, n, UINT64_MAX, "a whole number");
        return result;
      }
      options.frameLimit = number;
    } else {
      result.error = "unknown option '" + name + "' (try --help)";
      return result;
    }
  }
  if (!options.help) result.error = checkCombination(options);
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
         "                H.264 in the container of FILE's extension: .mp4, .m4v,\n"
         "                .mov or .mkv; at most 1000 frames per second\n"
         "  --scale K     enlarge frames K times, nearest neighbour, at most 64 (21\n"
         "                for video; default: 1 for PNG, 3 for video)\n"
         "  --overwrite   replace an existing video, or the frames in the PNG folder\n"
         "  --threads T   auto: prepare the next frame's field on a second thread\n"
         "                while it gets a processor in time (default); 1: draw on one\n"
         "                thread only (the frames are the same)\n"
         "  --help        show this text\n"
         "\n"
         "With none of --hash, --png and --video the show only runs (timing it).\n"
         "A whole show of more than 174000 frames (above 1000 fps) needs --frames.\n"
         "Videos and PNG frames appear only when complete: a failure, SIGINT,\n"
         "SIGTERM or SIGHUP removes them (exit status 128 + the signal for a signal).\n"
         "Progress and a summary go to standard error.\n";
}

int runCapture(const CaptureOptions& options) {
  installStopHandlers();
  const auto started = std::chrono::steady_clock::now();
  const std::uint32_t fps = options.framesPerSecond;
  const auto existing =
      options.overwrite ? StagedOutput::Existing::Overwrite : StagedOutput::Existing::Keep;

  // Everything that can be found wrong without drawing is checked first. The
  // outputs are written under temporary names, moved into place at the end.
  StagedOutput frames, videoFile;
  if (!options.pngDirectory.empty()) {
    const std::string error =
        frames.prepare(StagedOutput::Kind::Frames, options.pngDirectory, existing);
    if (!error.empty()) return fail(error);
  }
  fsound::setOutputEnabled(false);
  std::unique_ptr<VideoWriter> video;
  if (!options.videoFile.empty()) {
    if (findOnPath("ffmpeg").empty()) {
      return fail("ffmpeg was not found on PATH (install the ffmpeg package to record video)");
    }
    const std::string error =
        videoFile.prepare(StagedOutput::Kind::Video, options.videoFile, existing);
    if (!error.empty()) return fail(error);
    VideoSettings settings;
    settings.outputFile = videoFile.writePath();
    settings.container = containerFor(options.videoFile);
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
  const std::uint32_t pngScale = options.scale.value_or(kDefaultPngScale);
  PngWriter png(pngScale, PngEncoder::Fastest);
  if (!options.pngDirectory.empty()) {
    // The enlarged frame's buffers are taken now: too little memory shows
    // before the first frame, not on the outputs' thread.
    try {
      png.reserve(320, 240);
    } catch (const std::bad_alloc&) {
      return fail("not enough memory for PNG frames of " + std::to_string(320 * pngScale) + " x " +
                  std::to_string(240 * pngScale) + " pixels");
    }
  }

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
    if (frames.prepared()) {
      char name[48];
      std::snprintf(name, sizeof name, "frame_%0*llu.png", nameDigits,
                    static_cast<unsigned long long>(frame));
      pngPath = dataPath(frames.writePath(), name);
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
  const bool outputsOnThread = frames.prepared() || video;
  std::string failure;
  std::uint64_t framesDone = 0;
  std::atomic<bool> stopRequested = false;
  // A frame's outputs, then (on the show's thread) the progress. False once an
  // output has failed: the show then stops at its next frame. Running out of
  // memory is such a failure, on either thread.
  auto takeFrame = [&](const std::uint32_t* pixels, int width, int height) {
    try {
      failure = output(framesDone, pixels, width, height);
    } catch (const std::bad_alloc&) {
      failure = "out of memory at frame " + std::to_string(framesDone);
    }
    if (!failure.empty()) {
      stopRequested = true;
      return false;
    }
    ++framesDone;
    if (!outputsOnThread) progress.update(framesDone);
    return true;
  };

  // The outputs' thread takes the frames in order while the show draws the next
  // ones; after a failure or a stop request the frames still in the ring are
  // dropped. Only that thread touches the outputs until it is joined. The
  // progress stays with the show's thread, counting the frames handed over, so
  // that no progress line can follow the show's own error line.
  std::optional<FrameRing> ring;
  std::thread outputThread;
  std::uint64_t framesHandedOver = 0;
  if (outputsOnThread) {
    ring.emplace(kRingSlots, kFrameWords);
    outputThread = std::thread([&] {
      while (const FrameRing::Frame* frame = ring->front()) {
        const bool taken =
            stopSignal() == 0 && takeFrame(frame->pixels.data(), frame->width, frame->height);
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

  // The hash lines written so far are flushed whole, whatever happened.
  if (std::fflush(stdout) != 0 && failure.empty()) failure = "cannot write to standard output";
  const bool videoStarted = video && video->started();
  if (video) {
    // ffmpeg finishes its file only for a run that ended well.
    if (stopSignal() == 0 && failure.empty() && showStatus == 0) {
      failure = video->finish();
    } else {
      video->abandon();
    }
  }
  progress.finish(framesDone);
  // A stop requested while ffmpeg finished still counts; once the outputs are
  // in place, the run is complete.
  const int signal = stopSignal();
  if (signal == 0 && failure.empty() && showStatus == 0) {
    // A video of no frames was never started: there is no file to keep.
    if (videoStarted) failure = videoFile.commit();
    if (failure.empty()) failure = frames.commit();
  }
  if (signal != 0 || !failure.empty() || showStatus != 0) {
    frames.discard();
    videoFile.discard();
  }
  const std::string removed =
      framesDone > 0 ? removedNote(videoStarted, !options.pngDirectory.empty()) : std::string();
  if (signal != 0) {
    std::fprintf(stderr, "%s: stopped by %s after %llu frames%s\n", kProgram, signalName(signal),
                 static_cast<unsigned long long>(framesDone), removed.c_str());
    return 128 + signal;
  }
  if (showStatus != 0) return 1;  // the show reported its own error line
  if (!failure.empty()) return fail(failure + removed);
  videoFile.discard();  // a video of no frames: its empty placeholder

  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::fprintf(stderr, "%s: %llu frames in %.2f s (%.1f frames/s)\n", kProgram,
               static_cast<unsigned long long>(framesDone), seconds,
               seconds > 0 ? static_cast<double>(framesDone) / seconds : 0.0);
  return 0;
}

}  // namespace capture
