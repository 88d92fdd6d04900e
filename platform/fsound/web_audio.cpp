// The FSOUND_ calls on Web Audio, for the show in a web browser. The browser
// decodes the music image itself (WAV, MP3, Ogg Vorbis, FLAC, Opus) into one
// buffer, which plays through an AudioBufferSourceNode.
//
// The page supplies the AudioContext (Module.audioContext), made in the click
// or key press that starts the show, because browsers allow sound only after
// a gesture; without one, FSOUND_Init makes its own. Decoding is asynchronous
// in the browser: FSOUND_Stream_OpenFile waits for it through Asyncify, so its
// result is known when it returns, as on the desktop. With output disabled
// (capture runs) the image is decoded by an OfflineAudioContext only to check it.
//
// The JavaScript side keeps its state in Module.vorniskAudio: the context, the
// decoded buffers by stream number, the playing source, and where the music
// started (read by the page's clock, platform/clock/web_clock.cpp).
#include <emscripten.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "fsound/container_check.h"
#include "fsound/fsound.h"
#include "fsound/fsound_testing.h"

struct FSOUND_STREAM {
  int number = 0;  // the decoded buffer's key on the JavaScript side; 0 when only checked
  FSOUND_STREAMCALLBACK endCallback = nullptr;
  int endUserData = 0;
  // Web Audio has no synch points, so this is stored and never called.
  FSOUND_STREAMCALLBACK synchCallback = nullptr;
  int synchUserData = 0;
};

namespace {

constexpr float kVersion = 3.33f;
constexpr int kMusicChannel = 0;

// clang-format off
// Returns 1 when a context exists or could be made (and resumes it).
EM_JS(int, openOutput, (), {
  var audio = Module.vorniskAudio || (Module.vorniskAudio = {buffers: {}, next: 1});
  try {
    if (!audio.context) {
      audio.ownContext = !Module.audioContext;
      audio.context = Module.audioContext || new AudioContext();
    }
    if (audio.context.state === 'suspended') audio.context.resume();
    return 1;
  } catch (e) {
    return 0;
  }
});

// Decodes `length` bytes at `data`. Returns the new buffer's number, -1 when only
// checked (keep = 0), or 0 when the browser cannot decode it.
EM_ASYNC_JS(int, decodeMusic, (const char* data, int length, int keep), {
  var audio = Module.vorniskAudio || (Module.vorniskAudio = {buffers: {}, next: 1});
  var bytes = HEAPU8.slice(data, data + length);  // decoding takes the bytes away
  try {
    var context = keep ? audio.context : new OfflineAudioContext(2, 1, 44100);
    var buffer = await context.decodeAudioData(bytes.buffer);
    if (!keep) return -1;
    audio.buffers[audio.next] = buffer;
    return audio.next++;
  } catch (e) {
    return 0;
  }
});

// Starts buffer `number` from its beginning; `stream`, `callback` and
// `userData` are handed back to the end callback (0: none) when it plays out.
EM_JS(int, playMusic, (int number, FSOUND_STREAM* stream, FSOUND_STREAMCALLBACK callback, int userData), {
  var audio = Module.vorniskAudio;
  try {
    var source = audio.context.createBufferSource();
    source.buffer = audio.buffers[number];
    source.connect(audio.context.destination);
    source.onended = function() {
      audio.playing = false;
      if (callback) wasmTable.get(callback)(stream, 0, 0, userData);
    };
    source.start();
    audio.source = source;
    audio.playing = true;
    // Where the music starts, on the page's clock and on the audio's (web_clock.cpp).
    audio.startContextTime = audio.context.currentTime;
    audio.startMs = performance.now() + (Module.vorniskClock ? Module.vorniskClock.offset : 0);
    return 1;
  } catch (e) {
    return 0;
  }
});

// Silences the playing source without reporting an end.
EM_JS(void, haltMusic, (), {
  var audio = Module.vorniskAudio;
  if (!audio || !audio.source) return;
  audio.source.onended = null;
  try {
    audio.source.stop();
  } catch (e) {
  }
  audio.source = null;
  audio.playing = false;
});

EM_JS(void, forgetMusic, (int number), { delete Module.vorniskAudio.buffers[number]; });

// Closes a context the layer made itself; the page's own context stays for the next show.
EM_JS(void, closeOutput, (), {
  var audio = Module.vorniskAudio;
  if (audio && audio.context && audio.ownContext) audio.context.close();
  if (audio) audio.context = null;
});
// clang-format on

int lastError = FMOD_ERR_NONE;
bool outputEnabled = true;
float reportedVersion = kVersion;
bool initialized = false;
bool outputOpen = false;  // FSOUND_Init made or resumed a context
int outputType = -1;
int maxChannels = 0;
std::vector<FSOUND_STREAM*> openStreams;
FSOUND_STREAM* playingStream = nullptr;
// Why the last open gave no stream: a play of the empty handle reports it.
int lastOpenError = FMOD_ERR_NONE;

signed char fail(int code) {
  lastError = code;
  return 0;
}

bool isOpen(const FSOUND_STREAM* stream) {
  return stream != nullptr &&
         std::find(openStreams.begin(), openStreams.end(), stream) != openStreams.end();
}

FSOUND_STREAM* refuseOpen(int code) {
  lastOpenError = code;
  lastError = code;
  return nullptr;
}

void release(FSOUND_STREAM* stream) {
  if (playingStream == stream) {
    haltMusic();
    playingStream = nullptr;
  }
  if (stream->number > 0) forgetMusic(stream->number);
  delete stream;
}

// A file named instead of a memory image: its bytes, or false when it cannot be read.
bool readFile(const char* name, std::vector<char>& bytes) {
  std::FILE* file = std::fopen(name, "rb");
  if (file == nullptr) return false;
  char buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
    bytes.insert(bytes.end(), buffer, buffer + got);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  return !failed;
}

}  // namespace

extern "C" {

float FSOUND_GetVersion() {
  return reportedVersion;
}

signed char FSOUND_SetOutput(int type) {
  if (initialized) return fail(FMOD_ERR_BUSY);
  outputType = type;
  return 1;
}

int FSOUND_GetOutput() {
  return outputType;
}

signed char FSOUND_SetDriver(int /*driver*/) {
  if (initialized) return fail(FMOD_ERR_BUSY);
  return 1;
}

signed char FSOUND_Init(int mixRate, int channels, unsigned int /*flags*/) {
  if (initialized) return fail(FMOD_ERR_BUSY);
  if (mixRate <= 0 || channels < 0) return fail(FMOD_ERR_INVALID_PARAM);
  // The browser mixes at its own rate and resamples the music to it.
  if (outputEnabled && openOutput() == 0) return fail(FMOD_ERR_INIT);
  initialized = true;
  outputOpen = outputEnabled;
  maxChannels = channels;
  lastOpenError = FMOD_ERR_NONE;
  return 1;
}

int FSOUND_GetError() {
  return lastError;
}

void FSOUND_Close() {
  if (!initialized) return;
  initialized = false;
  for (FSOUND_STREAM* stream : openStreams)
    release(stream);
  openStreams.clear();
  if (outputOpen) closeOutput();
  outputOpen = false;
}

FSOUND_STREAM* FSOUND_Stream_OpenFile(const char* nameOrData, unsigned int mode, int length) {
  if (!initialized) return refuseOpen(FMOD_ERR_UNINITIALIZED);
  if (nameOrData == nullptr) return refuseOpen(FMOD_ERR_INVALID_PARAM);
  std::vector<char> named;
  if ((mode & FSOUND_LOADMEMORY) == 0) {
    if (!readFile(nameOrData, named)) return refuseOpen(FMOD_ERR_FILE_NOTFOUND);
    nameOrData = named.data();
    length = static_cast<int>(std::min<std::size_t>(named.size(), 0x7FFFFFFF));
  }
  // The same screening as on the desktop, so both refuse the same images.
  if (length <= 0 ||
      !fsound::hasPlayableContainerHeader(reinterpret_cast<const unsigned char*>(nameOrData),
                                          static_cast<std::size_t>(length))) {
    return refuseOpen(FMOD_ERR_FILE_FORMAT);
  }
  const int number = decodeMusic(nameOrData, length, outputOpen ? 1 : 0);
  if (number == 0) return refuseOpen(FMOD_ERR_FILE_FORMAT);
  auto* stream = new FSOUND_STREAM;
  stream->number = std::max(number, 0);
  openStreams.push_back(stream);
  lastOpenError = FMOD_ERR_NONE;
  return stream;
}

signed char FSOUND_Stream_SetEndCallback(FSOUND_STREAM* stream, FSOUND_STREAMCALLBACK callback,
                                         int userData) {
  if (!isOpen(stream)) return 0;
  stream->endCallback = callback;
  stream->endUserData = userData;
  return 1;
}

signed char FSOUND_Stream_SetSynchCallback(FSOUND_STREAM* stream, FSOUND_STREAMCALLBACK callback,
                                           int userData) {
  if (!isOpen(stream)) return 0;
  stream->synchCallback = callback;
  stream->synchUserData = userData;
  return 1;
}

int FSOUND_Stream_Play(int channel, FSOUND_STREAM* stream) {
  auto refuse = [](int code) {
    lastError = code;
    return -1;
  };
  if (!initialized) return refuse(FMOD_ERR_UNINITIALIZED);
  // The open that gave an empty handle says why.
  if (stream == nullptr) {
    return refuse(lastOpenError != FMOD_ERR_NONE ? lastOpenError : FMOD_ERR_INVALID_PARAM);
  }
  if (!isOpen(stream) || channel < -1 || channel >= std::max(maxChannels, 1)) {
    return refuse(FMOD_ERR_INVALID_PARAM);
  }
  const int playChannel = channel == -1 ? kMusicChannel : channel;
  if (!outputOpen) return playChannel;  // output disabled: opened, checked, silent
  // Replacing a stream that still plays reports no end for it.
  haltMusic();
  playingStream = nullptr;
  if (playMusic(stream->number, stream, stream->endCallback, stream->endUserData) == 0) {
    return refuse(FMOD_ERR_PLAY);
  }
  playingStream = stream;
  return playChannel;
}

signed char FSOUND_SetPan(int channel, int /*pan*/) {
  // Music plays centred in stereo whatever pan is asked for.
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
  if (!isOpen(stream)) return fail(FMOD_ERR_INVALID_PARAM);
  if (playingStream == stream) {
    haltMusic();  // a stop is no end of stream: no callback
    playingStream = nullptr;
  }
  return 1;
}

signed char FSOUND_Stream_Close(FSOUND_STREAM* stream) {
  if (!isOpen(stream)) return fail(FMOD_ERR_INVALID_PARAM);
  openStreams.erase(std::find(openStreams.begin(), openStreams.end(), stream));
  release(stream);
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
