// The sound backend on SDL2_mixer, for the desktop. One music plays at a time
// on the mixer's music channel; SDL2_mixer detects the format from the content.
// SDL2_mixer calls the finished hook on its own audio thread with the audio
// device locked, and on the caller's thread from inside Mix_HaltMusic.
#include <SDL.h>
#include <SDL_mixer.h>

#if defined(SDL_AUDIO_DRIVER_ALSA)
#include <dlfcn.h>
#endif

#include "fsound/backend.h"
#include "fsound/fsound.h"

struct fsound::backend::Music {
  Mix_Music* mixMusic;
};

namespace {

// Mixer buffer in sample frames: about 46 ms at 44.1 kHz.
constexpr int kMixerChunkFrames = 2048;
// The buffer of the stand-in device that only checks a music. SDL's dummy
// driver sleeps one buffer's time per turn, and closing it waits for that turn
// to end, so a small buffer keeps the check from holding up the caller.
constexpr int kCheckChunkFrames = 64;
constexpr int kDecoders =
    MIX_INIT_FLAC | MIX_INIT_MOD | MIX_INIT_MP3 | MIX_INIT_OGG | MIX_INIT_OPUS;

void SDLCALL musicFinished() {
  fsound::musicEnded();
}

// With no sound card, ALSA's library prints its own "ALSA lib ..." lines on
// standard error while SDL tries it, before this layer reports the failure in
// its own words. ALSA lets a program replace that printer: install a silent one
// in the copy SDL is about to load (the same soname, so the same copy). Looked
// up at run time, so that the layer neither builds against ALSA nor needs it
// where SDL plays through something else. The handle is never closed, so the
// library, and the silent handler with it, outlives SDL's loads and unloads.
#if defined(SDL_AUDIO_DRIVER_ALSA)
void ignoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}
#endif

void silenceAlsaMessages() {
#if defined(SDL_AUDIO_DRIVER_ALSA)
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
#endif
}

bool openAudio(int mixRate, int chunkFrames) {
  SDL_SetMainReady();  // the program's own main() is SDL's entry too
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
  if (Mix_OpenAudio(mixRate, AUDIO_S16SYS, 2, chunkFrames) != 0) {
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
int checkPlayable(const char* nameOrData, unsigned int mode, int length) {
  SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, "dummy", SDL_HINT_OVERRIDE);
  const bool opened = openAudio(44100, kCheckChunkFrames);
  SDL_ResetHint(SDL_HINT_AUDIODRIVER);
  if (!opened) return FMOD_ERR_INIT;
  SDL_RWops* source = openSource(nameOrData, mode, length);
  Mix_Music* music = source != nullptr ? Mix_LoadMUS_RW(source, 1) : nullptr;
  if (music != nullptr) Mix_FreeMusic(music);
  closeAudio();
  if (source == nullptr) return FMOD_ERR_FILE_NOTFOUND;
  return music != nullptr ? FMOD_ERR_NONE : FMOD_ERR_FILE_FORMAT;
}

}  // namespace

namespace fsound::backend {

bool openOutput(int mixRate) {
  silenceAlsaMessages();
  return openAudio(mixRate, kMixerChunkFrames);
}

void closeOutput() {
  closeAudio();
}

int load(const char* nameOrData, unsigned int mode, int length, Use use, Music*& music) {
  if (use == Use::CheckOnly) return checkPlayable(nameOrData, mode, length);
  SDL_RWops* source = openSource(nameOrData, mode, length);
  if (source == nullptr) return FMOD_ERR_FILE_NOTFOUND;
  Mix_Music* mixMusic = Mix_LoadMUS_RW(source, 1);
  if (mixMusic == nullptr) return FMOD_ERR_FILE_FORMAT;
  music = new Music{mixMusic};
  return FMOD_ERR_NONE;
}

void release(Music* music) {
  Mix_FreeMusic(music->mixMusic);
  delete music;
}

bool play(Music* music) {
  return Mix_PlayMusic(music->mixMusic, 1) == 0;
}

void halt() {
  Mix_HaltMusic();
}

}  // namespace fsound::backend
