// What a sound backend provides to the FSOUND_ front end (fsound_api.cpp): an
// output device, music loaded from an image, one music playing at a time. The
// front end keeps the handles, the error state and the argument checks; each
// backend (sdl_mixer.cpp, web_audio.cpp) holds only the calls into its library.
#pragma once

namespace fsound::backend {

// A music ready to play, owned by its stream; each backend defines it.
struct Music;

// Whether a load keeps the music to play it, or only checks that it would load
// (output disabled: no device is open).
enum class Use { Play, CheckOnly };

// Opens the output device at `mixRate` samples a second; false when there is none.
bool openOutput(int mixRate);
void closeOutput();

// Loads a memory image of `length` bytes (FSOUND_LOADMEMORY in `mode`) or the
// file `nameOrData` names. Returns FMOD_ERR_NONE, with the music in `music`
// for Use::Play, or the error code of the failure.
int load(const char* nameOrData, unsigned int mode, int length, Use use, Music*& music);
void release(Music* music);

// Starts `music` from its beginning on the open output; the front end has
// halted any music before. When it plays out, the backend calls
// fsound::musicEnded, possibly on another thread.
bool play(Music* music);
// Silences the playing music. A backend may report an end from inside (SDL2_mixer
// does): the front end forgets the playing stream first, so no callback runs.
void halt();

}  // namespace fsound::backend

namespace fsound {

// The front end's end-of-music report: the playing stream's end callback runs.
void musicEnded();

}  // namespace fsound
