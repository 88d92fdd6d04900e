// The sound backend on Web Audio, for the show in a web browser. The browser
// decodes the music image itself (WAV, MP3, Ogg Vorbis, FLAC, Opus) into one
// buffer, which plays through an AudioBufferSourceNode.
//
// The page supplies the AudioContext (Module.audioContext), made in the click
// or key press that starts the show, because browsers allow sound only after
// a gesture; without one, the layer makes its own. Decoding is asynchronous
// in the browser: load waits for it through Asyncify, so the result of
// FSOUND_Stream_OpenFile is known when it returns, as on the desktop. With
// output disabled (capture runs, checks of a chosen file) the image is decoded
// only to check it. The page may decode for the layer (Module.decodeAudio,
// bytes to a promised AudioBuffer): it then decodes each music once, ahead of
// the show, for the check and the show alike.
//
// The JavaScript side keeps its state in Module.vorniskAudio: the context, the
// decoded buffers by number, the playing source, and where the music started
// (read by the page's clock, platform/clock/web_clock.cpp).
#include <emscripten.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "fsound/backend.h"
#include "fsound/container_check.h"
#include "fsound/fsound.h"

struct fsound::backend::Music {
  int number;  // the decoded buffer's key on the JavaScript side
};

namespace {

// What a playing source calls when it plays out.
using EndHook = void (*)();

// clang-format off
// Returns 1 when a context exists or could be made (and resumes it).
EM_JS(int, openContext, (), {
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
    var buffer = Module.decodeAudio ? await Module.decodeAudio(bytes)
      : await (keep ? audio.context : new OfflineAudioContext(2, 1, 44100)).decodeAudioData(bytes.buffer);
    if (!keep) return -1;
    audio.buffers[audio.next] = buffer;
    return audio.next++;
  } catch (e) {
    return 0;
  }
});

// Starts buffer `number` from its beginning; `ended` is called when it plays out.
EM_JS(int, playMusic, (int number, EndHook ended), {
  var audio = Module.vorniskAudio;
  try {
    var source = audio.context.createBufferSource();
    source.buffer = audio.buffers[number];
    source.connect(audio.context.destination);
    source.onended = function() {
      audio.playing = false;
      wasmTable.get(ended)();
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
EM_JS(void, closeContext, (), {
  var audio = Module.vorniskAudio;
  if (audio && audio.context && audio.ownContext) audio.context.close();
  if (audio) audio.context = null;
});
// clang-format on

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

namespace fsound::backend {

bool openOutput(int /*mixRate*/) {
  // The browser mixes at its own rate and resamples the music to it.
  return openContext() != 0;
}

void closeOutput() {
  closeContext();
}

int load(const char* nameOrData, unsigned int mode, int length, Use use, Music*& music) {
  std::vector<char> named;
  if ((mode & FSOUND_LOADMEMORY) == 0) {
    if (!readFile(nameOrData, named)) return FMOD_ERR_FILE_NOTFOUND;
    // The front end screens memory images; a named file gets the same screening.
    if (named.empty() || !hasPlayableContainerHeader(
                             reinterpret_cast<const unsigned char*>(named.data()), named.size())) {
      return FMOD_ERR_FILE_FORMAT;
    }
    nameOrData = named.data();
    length = static_cast<int>(std::min<std::size_t>(named.size(), 0x7FFFFFFF));
  }
  const int number = decodeMusic(nameOrData, length, use == Use::Play ? 1 : 0);
  if (number == 0) return FMOD_ERR_FILE_FORMAT;
  if (use == Use::Play) music = new Music{number};
  return FMOD_ERR_NONE;
}

void release(Music* music) {
  forgetMusic(music->number);
  delete music;
}

bool play(Music* music) {
  return playMusic(music->number, &fsound::musicEnded) != 0;
}

void halt() {
  haltMusic();
}

}  // namespace fsound::backend
