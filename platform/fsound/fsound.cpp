// The FSOUND_ calls on SDL2_mixer. One music stream plays at a time on the
// mixer's music channel; SDL2_mixer detects the format from the content.
//
// Threads: SDL2_mixer calls the finished hook on its own audio thread with the
// audio device locked, and on the caller's thread from inside Mix_HaltMusic.
// The layer's bookkeeping is guarded by `layerMutex`, which is never held while
// calling into SDL2_mixer (that would invert the lock order with the audio lock)
// nor while calling a user callback.
#include "fsound/fsound.h"

#include "fsound/container_check.h"
#include "fsound/fsound_testing.h"

#include <SDL.h>
#include <SDL_mixer.h>
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

struct FSOUND_STREAM {
  // Null while output is disabled: the music was only checked, never kept.
  Mix_Music* music = nullptr;
  FSOUND_STREAMCALLBACK endCallback = nullptr;
  int endUserData = 0;
  // SDL2_mixer exposes no synch points, so this is stored and never called.
  FSOUND_STREAMCALLBACK synchCallback = nullptr;
  int synchUserData = 0;
};

namespace {

constexpr float kVersion = 3.33f;
// Mixer buffer in sample frames: about 46 ms at 44.1 kHz.
constexpr int kMixerChunkFrames = 2048;
constexpr int kDecoders =
    MIX_INIT_FLAC | MIX_INIT_MOD | MIX_INIT_MP3 | MIX_INIT_OGG | MIX_INIT_OPUS;
// Music has no channel of its own in SDL2_mixer: it is reported as channel 0.
constexpr int kMusicChannel = 0;

std::atomic<int> lastError{FMOD_ERR_NONE};
std::atomic<bool> outputEnabled{true};
std::atomic<float> reportedVersion{kVersion};

std::mutex layerMutex;
// Everything below is guarded by layerMutex.
bool initialized = false;
// Whether FSOUND_Init opened the mixer (output enabled at that time).
bool mixerOpen = false;
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

// Runs on the mixer's thread when the music ends (and inside Mix_HaltMusic,
// where playingStream has already been cleared so no end is reported).
void SDLCALL musicFinished() {
  FSOUND_STREAM* stream = nullptr;
  FSOUND_STREAMCALLBACK callback = nullptr;
  int userData = 0;
  {
    const std::lock_guard lock(layerMutex);
    stream = playingStream;
    playingStream = nullptr;
    if (stream != nullptr) {
      callback = stream->endCallback;
      userData = stream->endUserData;
    }
  }
  if (callback != nullptr) callback(stream, nullptr, 0, userData);
}

// With no sound card, ALSA's library prints its own "ALSA lib ..." lines on
// standard error while SDL tries it, before this layer reports the failure in
// its own words. ALSA lets a program replace that printer: install a silent one
// in the copy SDL is about to load (the same soname, so the same copy). Looked
// up at run time, so that the layer neither builds against ALSA nor needs it
// where SDL plays through something else. The handle is never closed, so the
// library, and the silent handler with it, outlives SDL's loads and unloads.
void ignoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

void silenceAlsaMessages() {
  static const bool done = [] {
    void* alsa = dlopen("libasound.so.2", RTLD_LAZY | RTLD_LOCAL);
    if (alsa == nullptr) return true;
    using ErrorHandler = void (*)(const char*, int, const char*, int, const char*, ...);
    using SetErrorHandler = int (*)(ErrorHandler);
    const auto setHandler =
        reinterpret_cast<SetErrorHandler>(dlsym(alsa, "snd_lib_error_set_handler"));
    if (setHandler != nullptr) setHandler(&ignoreAlsaMessage);
    return true;
  }();
  (void)done;
}

bool openAudio(int mixRate) {
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
  if (Mix_OpenAudio(mixRate, AUDIO_S16SYS, 2, kMixerChunkFrames) != 0) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return false;
  }
  Mix_Init(kDecoders);  // formats whose decoder is missing fail at load time
  Mix_HookMusicFinished(&musicFinished);
  return true;
}

void closeAudio() {
  Mix_HookMusicFinished(nullptr);
  Mix_CloseAudio();
  Mix_Quit();
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

SDL_RWops* openSource(const char* nameOrData, unsigned int mode, int length) {
  if ((mode & FSOUND_LOADMEMORY) != 0) return SDL_RWFromConstMem(nameOrData, length);
  return SDL_RWFromFile(nameOrData, "rb");
}

// With output disabled the decoders still need an opened mixer: SDL's "dummy"
// driver stands in for a device just long enough to load the music once.
bool checkPlayable(const char* nameOrData, unsigned int mode, int length, int& error) {
  SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, "dummy", SDL_HINT_OVERRIDE);
  const bool opened = openAudio(44100);
  SDL_ResetHint(SDL_HINT_AUDIODRIVER);
  if (!opened) {
    error = FMOD_ERR_INIT;
    return false;
  }
  SDL_RWops* source = openSource(nameOrData, mode, length);
  Mix_Music* music = source != nullptr ? Mix_LoadMUS_RW(source, 1) : nullptr;
  if (music != nullptr) Mix_FreeMusic(music);
  closeAudio();
  if (source == nullptr)
    error = FMOD_ERR_FILE_NOTFOUND;
  else if (music == nullptr)
    error = FMOD_ERR_FILE_FORMAT;
  return music != nullptr;
}

// Forgets `stream` and silences it if it plays; then frees its music.
void releaseStream(FSOUND_STREAM* stream, bool halt) {
  if (halt) Mix_HaltMusic();
  if (stream->music != nullptr) Mix_FreeMusic(stream->music);
  delete stream;
}

}  // namespace

extern "C" {

float FSOUND_GetVersion() {
  return reportedVersion;
}

signed char FSOUND_SetOutput(int type) {
  const std::lock_guard lock(layerMutex);
  if (initialized) return fail(FMOD_ERR_BUSY);
  outputType = type;
  return 1;
}

int FSOUND_GetOutput() {
  const std::lock_guard lock(layerMutex);
  return outputType;
}

signed char FSOUND_SetDriver(int driverNumber) {
  const std::lock_guard lock(layerMutex);
  if (initialized) return fail(FMOD_ERR_BUSY);
  driver = driverNumber;
  return 1;
}

signed char FSOUND_Init(int mixRate, int channels, unsigned int /*flags*/) {
  {
    const std::lock_guard lock(layerMutex);
    if (initialized) return fail(FMOD_ERR_BUSY);
  }
  if (mixRate <= 0 || channels < 0) return fail(FMOD_ERR_INVALID_PARAM);
  const bool playsOutput = outputEnabled;
  if (playsOutput) silenceAlsaMessages();
  if (playsOutput && !openAudio(mixRate)) return fail(FMOD_ERR_INIT);
  const std::lock_guard lock(layerMutex);
  initialized = true;
  mixerOpen = playsOutput;
  maxChannels = channels;
  lastOpenError = FMOD_ERR_NONE;
  return 1;
}

int FSOUND_GetError() {
  return lastError;
}

void FSOUND_Close() {
  std::vector<FSOUND_STREAM*> streams;
  bool closeMixer = false;
  {
    const std::lock_guard lock(layerMutex);
    if (!initialized) return;
    initialized = false;
    closeMixer = mixerOpen;
    mixerOpen = false;
    playingStream = nullptr;
    streams.swap(openStreams);
  }
  if (closeMixer) Mix_HaltMusic();
  for (FSOUND_STREAM* stream : streams)
    releaseStream(stream, false);
  if (closeMixer) closeAudio();
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
    loadNow = mixerOpen;
  }
  if (nameOrData == nullptr) return refuse(FMOD_ERR_INVALID_PARAM);
  // An empty or negative length cannot hold any format the decoders know.
  if ((mode & FSOUND_LOADMEMORY) != 0 && length <= 0) return refuse(FMOD_ERR_FILE_FORMAT);
  if ((mode & FSOUND_LOADMEMORY) != 0 &&
      !fsound::hasPlayableContainerHeader(reinterpret_cast<const unsigned char*>(nameOrData),
                                          static_cast<std::size_t>(length))) {
    return refuse(FMOD_ERR_FILE_FORMAT);
  }

  auto* stream = new FSOUND_STREAM;
  if (loadNow) {
    SDL_RWops* source = openSource(nameOrData, mode, length);
    if (source == nullptr) {
      delete stream;
      return refuse(FMOD_ERR_FILE_NOTFOUND);
    }
    stream->music = Mix_LoadMUS_RW(source, 1);
    if (stream->music == nullptr) {
      delete stream;
      return refuse(FMOD_ERR_FILE_FORMAT);
    }
  } else {
    int error = FMOD_ERR_NONE;
    if (!checkPlayable(nameOrData, mode, length, error)) {
      delete stream;
      return refuse(error);
    }
  }
  const std::lock_guard lock(layerMutex);
  openStreams.push_back(stream);
  lastOpenError = FMOD_ERR_NONE;
  return stream;
}

signed char FSOUND_Stream_SetEndCallback(FSOUND_STREAM* stream, FSOUND_STREAMCALLBACK callback,
                                         int userData) {
  const std::lock_guard lock(layerMutex);
  if (!isOpenLocked(stream)) return 0;
  stream->endCallback = callback;
  stream->endUserData = userData;
  return 1;
}

signed char FSOUND_Stream_SetSynchCallback(FSOUND_STREAM* stream, FSOUND_STREAMCALLBACK callback,
                                           int userData) {
  const std::lock_guard lock(layerMutex);
  if (!isOpenLocked(stream)) return 0;
  stream->synchCallback = callback;
  stream->synchUserData = userData;
  return 1;
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
    if (!mixerOpen) return playChannel;  // output disabled: opened, checked, silent
    haltFirst = playingStream != nullptr;
    playingStream = nullptr;
  }
  // Replacing a stream that still plays reports no end for it.
  if (haltFirst) Mix_HaltMusic();
  {
    const std::lock_guard lock(layerMutex);
    playingStream = stream;  // before playing, so even a very short stream reports its end
  }
  if (Mix_PlayMusic(stream->music, 1) != 0) {
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
  Mix_HaltMusic();
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
  releaseStream(stream, wasPlaying);
  return 1;
}

}  // extern "C"

namespace fsound {

void setOutputEnabled(bool enabled) {
  outputEnabled = enabled;
}

}  // namespace fsound

namespace fsound::testing {

void setReportedVersion(float version) {
  reportedVersion = version;
}

}  // namespace fsound::testing
