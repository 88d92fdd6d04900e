// Fuzzes the sound layer's music stream: any bytes become a memory image that
// FSOUND_Stream_OpenFile opens with the show's mode 0x8029 and FSOUND_Stream_Play
// plays, as startMusic does with music._vq. SDL's "disk" audio driver, writing
// to /dev/null with no delay, stands in for a sound card so the decoders really
// run; after a play the harness waits until the mixer has mixed a few buffers
// (or the stream ended), then stops and closes it. What must hold: no crash or
// sanitizer report on either thread; an image that cannot be opened gives an
// empty handle, and playing that fails with -1 and an error code.
//
// Settings that keep the run honest and quick:
// - the mixer's libraries ask calloc for absurd sizes when a header says so and
//   cope with the null they get back: allocator_may_return_null;
// - SDL2_mixer 2.6's FLAC reader leaks one audio stream per extra STREAMINFO
//   block; that system leak is suppressed by the libFLAC call it happens under
//   (seen through SDL's frames only by the slow, full unwinder);
// - FluidSynth loads a 6 MB sound font on every MIDI open, so it is off.
// Only the layer itself is instrumented for coverage; the sanitizers still
// check every byte the system's decoders copy out of the image.
#include <SDL.h>
#include <SDL_mixer.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "fsound/fsound.h"

namespace {

constexpr unsigned kShowStreamMode = 0x8029;
// Mixer buffers to wait for after a play: about 0.37 s of sound at 44.1 kHz.
constexpr int kBuffersToMix = 8;
constexpr auto kMixDeadline = std::chrono::seconds(5);

std::atomic<int> buffersMixed{0};

void SDLCALL countBuffer(void*, Uint8*, int) {
  buffersMixed.fetch_add(1);
}

signed char onEnd(FSOUND_STREAM*, void*, int, int) {
  return 1;
}

}  // namespace

extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1:fast_unwind_on_malloc=0";
}

extern "C" const char* __lsan_default_suppressions() {
  return "leak:FLAC__stream_decoder_process_until_end_of_metadata\n";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("SDL_MIXER_DISABLE_FLUIDSYNTH", "1", 1);
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
  setenv("SDL_DISKAUDIODELAY", "0", 1);
  fsound::setOutputEnabled(true);
  if (FSOUND_Init(44100, 32, 0) == 0) {
    std::fprintf(stderr, "music fuzzer: FSOUND_Init failed (error %d)\n", FSOUND_GetError());
    std::abort();
  }
  Mix_SetPostMix(&countBuffer, nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > INT_MAX) return -1;
  const char* image = reinterpret_cast<const char*>(data);
  FSOUND_STREAM* stream = FSOUND_Stream_OpenFile(image, kShowStreamMode, static_cast<int>(size));
  if (stream == nullptr) {
    // The show passes the empty handle on; the play must refuse it.
    if (FSOUND_Stream_Play(-1, stream) != -1 || FSOUND_GetError() == 0) {
      std::fprintf(stderr, "music fuzzer: an empty handle played\n");
      std::abort();
    }
    return 0;
  }
  FSOUND_Stream_SetEndCallback(stream, &onEnd, 0);
  FSOUND_Stream_SetSynchCallback(stream, &onEnd, 0);
  const int channel = FSOUND_Stream_Play(-1, stream);
  if (channel != -1) {
    FSOUND_SetPan(channel, -1);
    FSOUND_Stream_GetSample(stream);
    const int target = buffersMixed.load() + kBuffersToMix;
    const auto deadline = std::chrono::steady_clock::now() + kMixDeadline;
    while (buffersMixed.load() < target && Mix_PlayingMusic() != 0 &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
  }
  FSOUND_Stream_Stop(stream);
  FSOUND_Stream_Close(stream);
  return 0;
}
