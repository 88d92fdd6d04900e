// The FSOUND_ calls, the same over every sound backend: the list of open
// streams, the error state, the output switch and the argument checks. The
// backend (backend.h) opens the output and loads, plays and halts the music.
//
// Threads: a backend may report a music's end on its own thread (SDL2_mixer
// calls its finished hook on the audio thread with the audio device locked) and
// also from inside halt(). The layer's bookkeeping is guarded by `layerMutex`,
// which is never held while calling into the backend (that would invert the
// lock order with the audio lock) nor while calling a user callback.
#include "fsound/fsound.h"

#include "fsound/backend.h"
#include "fsound/container_check.h"
#include "fsound/fsound_testing.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

struct FSOUND_STREAM {
  struct Callback {
    FSOUND_STREAMCALLBACK function = nullptr;
    int userData = 0;
  };
  // Null while output is disabled: the music was only checked, never kept.
  fsound::backend::Music* music = nullptr;
  Callback end;
  // No backend exposes synch points, so this is stored and never called.
  Callback synch;
};

namespace {

namespace backend = fsound::backend;
using Callback = FSOUND_STREAM::Callback;

constexpr float kVersion = 3.33f;
// Music has no channel of its own in the backends: it is reported as channel 0.
constexpr int kMusicChannel = 0;

std::atomic<int> lastError{FMOD_ERR_NONE};
std::atomic<bool> outputEnabled{true};
std::atomic<float> reportedVersion{kVersion};

std::mutex layerMutex;
// Everything below is guarded by layerMutex.
bool initialized = false;
// Whether FSOUND_Init opened the output (output enabled at that time).
bool outputOpen = false;
int outputType = -1;
int driver = 0;
int maxChannels = 0;
std::vector<FSOUND_STREAM*> openStreams;
FSOUND_STREAM* playingStream = nullptr;
// Why the last open gave no stream: a play of the empty handle reports it.
int lastOpenError = FMOD_ERR_NONE;

signed char fail(int code) {
  lastError = code;
  return 0;
}

bool isOpenLocked(const FSOUND_STREAM* stream) {
  return stream != nullptr &&
         std::find(openStreams.begin(), openStreams.end(), stream) != openStreams.end();
}

bool isOpen(const FSOUND_STREAM* stream) {
  const std::lock_guard lock(layerMutex);
  return isOpenLocked(stream);
}

// Settings such as the output type are taken only before FSOUND_Init.
signed char setBeforeInit(int& setting, int value) {
  const std::lock_guard lock(layerMutex);
  if (initialized) return fail(FMOD_ERR_BUSY);
  setting = value;
  return 1;
}

signed char setCallback(FSOUND_STREAM* stream, Callback FSOUND_STREAM::*which, Callback callback) {
  const std::lock_guard lock(layerMutex);
  if (!isOpenLocked(stream)) return 0;
  stream->*which = callback;
  return 1;
}

void releaseStream(FSOUND_STREAM* stream) {
  if (stream->music != nullptr) backend::release(stream->music);
  delete stream;
}

}  // namespace

namespace fsound {

// Inside a halt, playingStream has already been cleared, so no end is reported.
void musicEnded() {
  FSOUND_STREAM* stream = nullptr;
  Callback callback;
  {
    const std::lock_guard lock(layerMutex);
    stream = playingStream;
    playingStream = nullptr;
    if (stream != nullptr) callback = stream->end;
  }
  if (callback.function != nullptr) callback.function(stream, nullptr, 0, callback.userData);
}

void setOutputEnabled(bool enabled) {
  outputEnabled = enabled;
}

}  // namespace fsound

namespace fsound::testing {

void setReportedVersion(float version) {
  reportedVersion = version;
}

}  // namespace fsound::testing

extern "C" {

float FSOUND_GetVersion() {
  return reportedVersion;
}

signed char FSOUND_SetOutput(int type) {
  return setBeforeInit(outputType, type);
}

int FSOUND_GetOutput() {
  const std::lock_guard lock(layerMutex);
  return outputType;
}

signed char FSOUND_SetDriver(int driverNumber) {
  return setBeforeInit(driver, driverNumber);
}

signed char FSOUND_Init(int mixRate, int channels, unsigned int /*flags*/) {
  {
    const std::lock_guard lock(layerMutex);
    if (initialized) return fail(FMOD_ERR_BUSY);
  }
  if (mixRate <= 0 || channels < 0) return fail(FMOD_ERR_INVALID_PARAM);
  const bool playsOutput = outputEnabled;
  if (playsOutput && !backend::openOutput(mixRate)) return fail(FMOD_ERR_INIT);
  const std::lock_guard lock(layerMutex);
  initialized = true;
  outputOpen = playsOutput;
  maxChannels = channels;
  lastOpenError = FMOD_ERR_NONE;
  return 1;
}

int FSOUND_GetError() {
  return lastError;
}

void FSOUND_Close() {
  std::vector<FSOUND_STREAM*> streams;
  bool closeOutput = false;
  {
    const std::lock_guard lock(layerMutex);
    if (!initialized) return;
    initialized = false;
    closeOutput = outputOpen;
    outputOpen = false;
    playingStream = nullptr;
    streams.swap(openStreams);
  }
  if (closeOutput) backend::halt();
  for (FSOUND_STREAM* stream : streams)
    releaseStream(stream);
  if (closeOutput) backend::closeOutput();
}

FSOUND_STREAM* FSOUND_Stream_OpenFile(const char* nameOrData, unsigned int mode, int length) {
  auto refuse = [](int code) -> FSOUND_STREAM* {
    {
      const std::lock_guard lock(layerMutex);
      lastOpenError = code;
    }
    lastError = code;
    return nullptr;
  };
  bool loadNow = false;
  {
    const std::lock_guard lock(layerMutex);
    if (!initialized) {
      lastOpenError = FMOD_ERR_UNINITIALIZED;
      lastError = FMOD_ERR_UNINITIALIZED;
      return nullptr;
    }
    loadNow = outputOpen;
  }
  if (nameOrData == nullptr) return refuse(FMOD_ERR_INVALID_PARAM);
  // An empty or negative length cannot hold any format the decoders know.
  if ((mode & FSOUND_LOADMEMORY) != 0 && length <= 0) return refuse(FMOD_ERR_FILE_FORMAT);
  if ((mode & FSOUND_LOADMEMORY) != 0 &&
      !fsound::hasPlayableContainerHeader(reinterpret_cast<const unsigned char*>(nameOrData),
                                          static_cast<std::size_t>(length))) {
    return refuse(FMOD_ERR_FILE_FORMAT);
  }

  backend::Music* music = nullptr;
  const int error = backend::load(nameOrData, mode, length,
                                  loadNow ? backend::Use::Play : backend::Use::CheckOnly, music);
  if (error != FMOD_ERR_NONE) return refuse(error);
  auto* stream = new FSOUND_STREAM;
  stream->music = music;
  const std::lock_guard lock(layerMutex);
  openStreams.push_back(stream);
  lastOpenError = FMOD_ERR_NONE;
  return stream;
}

signed char FSOUND_Stream_SetEndCallback(FSOUND_STREAM* stream, FSOUND_STREAMCALLBACK callback,
                                         int userData) {
  return setCallback(stream, &FSOUND_STREAM::end, {callback, userData});
}

signed char FSOUND_Stream_SetSynchCallback(FSOUND_STREAM* stream, FSOUND_STREAMCALLBACK callback,
                                           int userData) {
  return setCallback(stream, &FSOUND_STREAM::synch, {callback, userData});
}

int FSOUND_Stream_Play(int channel, FSOUND_STREAM* stream) {
  auto refuse = [](int code) {
    lastError = code;
    return -1;
  };
  bool haltFirst = false;
  {
    const std::lock_guard lock(layerMutex);
    if (!initialized) return refuse(FMOD_ERR_UNINITIALIZED);
    // The open that gave an empty handle says why.
    if (stream == nullptr) {
      return refuse(lastOpenError != FMOD_ERR_NONE ? lastOpenError : FMOD_ERR_INVALID_PARAM);
    }
    if (!isOpenLocked(stream) || channel < -1 || channel >= std::max(maxChannels, 1)) {
      return refuse(FMOD_ERR_INVALID_PARAM);
    }
    const int playChannel = channel == -1 ? kMusicChannel : channel;
    if (!outputOpen) return playChannel;  // output disabled: opened, checked, silent
    haltFirst = playingStream != nullptr;
    playingStream = nullptr;
  }
  // Replacing a stream that still plays reports no end for it.
  if (haltFirst) backend::halt();
  {
    const std::lock_guard lock(layerMutex);
    playingStream = stream;  // before playing, so even a very short stream reports its end
  }
  if (!backend::play(stream->music)) {
    const std::lock_guard lock(layerMutex);
    if (playingStream == stream) playingStream = nullptr;
    return refuse(FMOD_ERR_PLAY);
  }
  return channel == -1 ? kMusicChannel : channel;
}

signed char FSOUND_SetPan(int channel, int /*pan*/) {
  // Music is mixed centred in stereo whatever pan is asked for.
  if (channel < 0) return fail(FMOD_ERR_INVALID_PARAM);
  return 1;
}

void* FSOUND_Stream_GetSample(FSOUND_STREAM* stream) {
  if (!isOpen(stream)) {
    lastError = FMOD_ERR_INVALID_PARAM;
    return nullptr;
  }
  return stream;
}

signed char FSOUND_Stream_Stop(FSOUND_STREAM* stream) {
  {
    const std::lock_guard lock(layerMutex);
    if (!isOpenLocked(stream)) return fail(FMOD_ERR_INVALID_PARAM);
    if (playingStream != stream) return 1;
    playingStream = nullptr;  // a stop is no end of stream: no callback
  }
  backend::halt();
  return 1;
}

signed char FSOUND_Stream_Close(FSOUND_STREAM* stream) {
  bool wasPlaying = false;
  {
    const std::lock_guard lock(layerMutex);
    if (!isOpenLocked(stream)) return fail(FMOD_ERR_INVALID_PARAM);
    openStreams.erase(std::find(openStreams.begin(), openStreams.end(), stream));
    wasPlaying = playingStream == stream;
    if (wasPlaying) playingStream = nullptr;
  }
  if (wasPlaying) backend::halt();
  releaseStream(stream);
  return 1;
}

}  // extern "C"
