// Placeholder until the music lands.
#include "media/music.h"

namespace vornisk {

void startMusic(const char*) {}
void stopMusic() {}
const char* soundErrorText(int) { return "Unknown error"; }
signed char streamCallback(FSOUND_STREAM*, void*, int, int) { return 1; }

}  // namespace vornisk
