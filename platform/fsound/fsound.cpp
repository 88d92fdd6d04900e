// Placeholder until the SDL2_mixer implementation lands: every call fails as if
// no audio device were present.
#include "fsound/fsound.h"

namespace {
int lastError = FMOD_ERR_NONE;
}

extern "C" {
float FSOUND_GetVersion() { return 3.33f; }
signed char FSOUND_SetOutput(int) { return 1; }
int FSOUND_GetOutput() { return 0; }
signed char FSOUND_SetDriver(int) { return 1; }
signed char FSOUND_Init(int, int, unsigned int) {
  lastError = FMOD_ERR_INIT;
  return 0;
}
int FSOUND_GetError() { return lastError; }
void FSOUND_Close() {}
FSOUND_STREAM* FSOUND_Stream_OpenFile(const char*, unsigned int, int) { return nullptr; }
signed char FSOUND_Stream_SetEndCallback(FSOUND_STREAM*, FSOUND_STREAMCALLBACK, int) { return 0; }
signed char FSOUND_Stream_SetSynchCallback(FSOUND_STREAM*, FSOUND_STREAMCALLBACK, int) { return 0; }
int FSOUND_Stream_Play(int, FSOUND_STREAM*) {
  lastError = FMOD_ERR_UNINITIALIZED;
  return -1;
}
signed char FSOUND_SetPan(int, int) { return 0; }
void* FSOUND_Stream_GetSample(FSOUND_STREAM*) { return nullptr; }
signed char FSOUND_Stream_Stop(FSOUND_STREAM*) { return 0; }
signed char FSOUND_Stream_Close(FSOUND_STREAM*) { return 0; }
}

namespace fsound {
void setOutputEnabled(bool) {}
}
