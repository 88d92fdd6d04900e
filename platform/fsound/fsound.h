// A small sound layer with the FSOUND_ calls the show makes: start the library,
// open a music stream from a memory image, play it, stop it. Every call returns
// what its caller relies on; the inner working is SDL2_mixer on the desktop
// (sdl_mixer.cpp) and Web Audio in a web browser (web_audio.cpp), under one
// front end (fsound_api.cpp).
#pragma once

#include <cstdint>

extern "C" {

// An open music stream; opaque to callers.
struct FSOUND_STREAM;

// Stream callback (end of stream, synch points): return value is ignored by the layer.
typedef signed char (*FSOUND_STREAMCALLBACK)(FSOUND_STREAM* stream, void* buffer, int length,
                                             int userData);

// Error codes reported by FSOUND_GetError.
enum FSOUND_ERRORS {
  FMOD_ERR_NONE = 0,
  FMOD_ERR_BUSY = 1,
  FMOD_ERR_UNINITIALIZED = 2,
  FMOD_ERR_INIT = 3,
  FMOD_ERR_ALLOCATED = 4,
  FMOD_ERR_PLAY = 5,
  FMOD_ERR_OUTPUT_FORMAT = 6,
  FMOD_ERR_COOPERATIVELEVEL = 7,
  FMOD_ERR_CREATEBUFFER = 8,
  FMOD_ERR_FILE_NOTFOUND = 9,
  FMOD_ERR_FILE_FORMAT = 10,
  FMOD_ERR_FILE_BAD = 11,
  FMOD_ERR_MEMORY = 12,
  FMOD_ERR_VERSION = 13,
  FMOD_ERR_INVALID_PARAM = 14,
  FMOD_ERR_NO_EAX = 15,
  FMOD_ERR_NO_EAX2 = 16,
  FMOD_ERR_CHANNEL_ALLOC = 17,
  FMOD_ERR_RECORD = 18,
  FMOD_ERR_MEDIAPLAYER = 19,
};

// Stream mode bit: the "file name" argument is a memory image of that many bytes.
#define FSOUND_LOADMEMORY 0x8000

float FSOUND_GetVersion();
signed char FSOUND_SetOutput(int outputType);
int FSOUND_GetOutput();
signed char FSOUND_SetDriver(int driver);
signed char FSOUND_Init(int mixRate, int maxChannels, unsigned int flags);
int FSOUND_GetError();
void FSOUND_Close();

FSOUND_STREAM* FSOUND_Stream_OpenFile(const char* nameOrData, unsigned int mode, int length);
signed char FSOUND_Stream_SetEndCallback(FSOUND_STREAM* stream, FSOUND_STREAMCALLBACK callback,
                                         int userData);
signed char FSOUND_Stream_SetSynchCallback(FSOUND_STREAM* stream, FSOUND_STREAMCALLBACK callback,
                                           int userData);
int FSOUND_Stream_Play(int channel, FSOUND_STREAM* stream);
signed char FSOUND_SetPan(int channel, int pan);
void* FSOUND_Stream_GetSample(FSOUND_STREAM* stream);
signed char FSOUND_Stream_Stop(FSOUND_STREAM* stream);
signed char FSOUND_Stream_Close(FSOUND_STREAM* stream);

}  // extern "C"

namespace fsound {

// With output disabled, the calls succeed and streams are checked and opened,
// but nothing is played and no audio device is touched. Set before FSOUND_Init.
void setOutputEnabled(bool enabled);

}  // namespace fsound
