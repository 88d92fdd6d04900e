// The show's music: one file read whole into memory and played as a stream by
// the sound layer. Failures are reported on standard output and never stop the
// show; at worst it runs silent.
#pragma once

#include "fsound/fsound.h"

namespace vornisk {

void startMusic(const char* fileName);
void stopMusic();
// The message of a sound-layer error code; "Unknown error" for any other code.
const char* soundErrorText(int code);
// Registered as the stream's end and synch callback: touches nothing, returns true.
signed char streamCallback(FSOUND_STREAM* stream, void* buffer, int length, int userData);

}  // namespace vornisk
