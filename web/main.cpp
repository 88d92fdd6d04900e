// The show's entry points for the web page (page.js calls them):
//   vornisk_show()     the show in real time on the page's canvas, clock and audio;
//   vornisk_capture()  the show on the virtual clock of vornisk-capture, with no
//                      sound and no waiting, each frame's "FRAME CRC32" line
//                      handed to the page, exactly as `vornisk-capture --hash`;
//   vornisk_check_title(), vornisk_check_music()
//                      a file the visitor chose, checked at once by the show's
//                      own loader and music start, with their messages.
// They read the data files from the working directory, where the page has put
// them, so that every message names the files as the desktop's do. The first
// two return the show's exit status.
#include <emscripten.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "capture/capture.h"
#include "clock/clock.h"
#include "console/demo_console.h"
#include "fsound/fsound.h"
#include "media/music.h"
#include "ptc/headless.h"
#include "shell/show.h"

namespace {

// The CRC-32 of zlib's crc32() (reflected polynomial 0xEDB88320), four bytes at
// a time: the capture spends a good part of each frame on it.
class Crc32 {
 public:
  Crc32() {
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int bit = 0; bit < 8; ++bit)
        c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      tables_[0][i] = c;
    }
    for (std::uint32_t i = 0; i < 256; ++i) {
      for (int t = 1; t < 4; ++t)
        tables_[t][i] = (tables_[t - 1][i] >> 8) ^ tables_[0][tables_[t - 1][i] & 0xFF];
    }
  }

  // Over the words as little-endian bytes, memory row 0 first (wasm is little-endian).
  std::uint32_t ofWords(const std::uint32_t* words, std::size_t count) const {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < count; ++i) {
      crc ^= words[i];
      crc = tables_[3][crc & 0xFF] ^ tables_[2][(crc >> 8) & 0xFF] ^
            tables_[1][(crc >> 16) & 0xFF] ^ tables_[0][crc >> 24];
    }
    return ~crc;
  }

 private:
  std::array<std::array<std::uint32_t, 256>, 4> tables_{};
};

// clang-format off
EM_JS(void, reportFrameHash, (double frame, std::uint32_t crc), {
  Module.onFrameHash(frame, crc >>> 0);
});

// Gives the page a turn (to show progress and stay responsive), then carries on.
EM_ASYNC_JS(void, yieldToPage, (), {
  await new Promise(function(resolve) { setTimeout(resolve, 0); });
});

EM_JS(double, pageMilliseconds, (), { return performance.now(); });
// clang-format on

// The headless console of the capture tool, giving the page a turn every tenth
// of a second.
class PageCaptureBackend : public ptc::HeadlessBackend {
 public:
  using HeadlessBackend::HeadlessBackend;

  void present(const std::uint32_t* pixels, int width, int height) override {
    HeadlessBackend::present(pixels, width, height);
    const double now = pageMilliseconds();
    if (now - lastYield_ >= 100) {
      yieldToPage();
      lastYield_ = pageMilliseconds();
    }
  }

 private:
  double lastYield_ = 0;
};

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE int vornisk_show() {
  return vornisk::runShow({});
}

// `frames` < 0: the whole show. The page has checked the values.
EMSCRIPTEN_KEEPALIVE int vornisk_capture(std::uint32_t seed, std::uint32_t framesPerSecond,
                                         double frames) {
  fsound::setOutputEnabled(false);
  static const Crc32 crc;
  capture::VirtualClock clock(seed, framesPerSecond);
  auto sink = [&clock](const std::uint32_t* pixels, int width, int height) {
    reportFrameHash(static_cast<double>(clock.framesPresented()),
                    crc.ofWords(pixels, static_cast<std::size_t>(width) * height));
    // The next reading of the clock belongs to the next frame.
    clock.framePresented();
  };
  const long long keyAfterFrames = frames < 0 ? -1 : static_cast<long long>(frames);
  vornisk::ShowSetup setup;
  setup.makeBackend = [&]() -> std::unique_ptr<ptc::Backend> {
    return std::make_unique<PageCaptureBackend>(sink, keyAfterFrames);
  };
  const timing::ScopedTimeSource virtualTime(&capture::VirtualClock::read, &clock);
  return vornisk::runShow(setup);
}

// 0 when the show would load `fileName` as a title picture; otherwise 1, after
// the line the show would end with.
EMSCRIPTEN_KEEPALIVE int vornisk_check_title(const char* fileName) {
  vornisk::DemoConsole console;
  console.setBackend(std::make_unique<ptc::HeadlessBackend>());
  try {
    console.open("Vornisk", 320, 240, true);
    console.loadTitleImage(fileName);
  } catch (const ptc::DynamicError& error) {
    std::fprintf(stderr, "vornisk: %s: %s\n", fileName, error.message());
    std::fflush(stderr);
    console.close();
    return 1;
  }
  console.close();
  return 0;
}

// Starts and stops the music `fileName` as the show does, with output
// disabled: the sound layer decodes it (through the page) without playing it.
// A music the show could not play prints the show's lines ("Error!", then the
// reason); a good one prints nothing.
EMSCRIPTEN_KEEPALIVE void vornisk_check_music(const char* fileName) {
  fsound::setOutputEnabled(false);
  vornisk::startMusic(fileName);
  vornisk::stopMusic();
  fsound::setOutputEnabled(true);
}

}  // extern "C"
