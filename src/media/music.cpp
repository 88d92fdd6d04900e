// The show's music: the whole file, up to a size limit, is read into one
// memory block (kept for the life of the process) and handed to the sound layer
// as a stream. Every failure is reported on standard output and the show goes
// on, silent if need be; each line is flushed at once so that it survives an
// abrupt end of the process.
#include "media/music.h"

#include <cstdio>
#include <iterator>
#include <string>

#include "media/data_file.h"

// The memory image is never freed, by design; under AddressSanitizer it is
// marked as such so that leak checking stays meaningful for everything else.
#if defined(__SANITIZE_ADDRESS__)
#define VORNISK_MARK_INTENDED_LEAK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VORNISK_MARK_INTENDED_LEAK 1
#endif
#endif
#ifdef VORNISK_MARK_INTENDED_LEAK
#include <sanitizer/lsan_interface.h>
#endif

namespace vornisk {
namespace {

constexpr float kRequiredVersion = 3.33f;
constexpr int kOutputType = 2;
constexpr int kDriver = 0;
constexpr int kMixRate = 44100;
constexpr int kMaxChannels = 32;
constexpr unsigned int kStreamMode = 0x8029;  // includes FSOUND_LOADMEMORY
constexpr int kFreeChannel = -1;
constexpr int kStereoPan = -1;

// The messages of the layer's error codes 0 to 19, indexed by code.
constexpr const char* kErrorTexts[] = {
    "No errors",
    "Cannot call this command after FSOUND_Init.  Call FSOUND_Close first.",
    "This command failed because FSOUND_Init was not called",
    "Error initializing output device.",
    "The output device is already in use and cannot be reused.",
    "Playing the sound failed.",
    "Soundcard does not support the features needed for this soundsystem (16bit stereo output)",
    "Error setting cooperative level for hardware.",
    "Error creating hardware sound buffer.",
    "File not found",
    "Unknown file format",
    "Error loading file",
    "Not enough memory ",
    "The version number of this file format is not supported",
    "An invalid parameter was passed to this function",
    "Tried to use an EAX command on a non EAX enabled channel or output.",
    "Tried to use an advanced EAX2 command on a non EAX2 enabled channel or output.",
    "Failed to allocate a new channel",
    "Recording not supported on this device",
    "Required Mediaplayer codec is not installed",
};

FSOUND_STREAM* musicStream = nullptr;
int musicChannel = 0;

void report(const char* line) {
  std::printf("%s\n", line);
  std::fflush(stdout);
}

void reportSoundError() {
  std::printf("Error!\n");
  std::printf("%s\n", soundErrorText(FSOUND_GetError()));
  std::fflush(stdout);
}

}  // namespace

void startMusic(const char* fileName) {
  musicStream = nullptr;
  musicChannel = 0;

  if (FSOUND_GetVersion() < kRequiredVersion) {
    std::printf("Error : You are using the wrong DLL version!  You should be using FMOD %.02f\n",
                static_cast<double>(kRequiredVersion));
    std::fflush(stdout);
  }
  FSOUND_SetOutput(kOutputType);
  FSOUND_GetOutput();
  FSOUND_SetDriver(kDriver);
  if (!FSOUND_Init(kMixRate, kMaxChannels, 0)) {
    // Reported, and the remaining steps run against the closed layer: their
    // failure surfaces again at the play check.
    reportSoundError();
    FSOUND_Close();
  }

  // Read with a limit, from a regular file only: the show must neither wait
  // on a FIFO nor fill its memory with a huge file before its first frame.
  const MusicImage music = readMusicFile(fileName);
  if (music.bytes == nullptr) {
    report("Error!");
    report(music.problem.empty() ? "File Not Found"
                                 : (std::string(fileName) + ": " + music.problem).c_str());
    FSOUND_Close();
    return;
  }
#ifdef VORNISK_MARK_INTENDED_LEAK
  __lsan_ignore_object(music.bytes);
#endif
  char* const image = music.bytes;
  const int length = music.length;

  musicStream = FSOUND_Stream_OpenFile(image, kStreamMode, length);
  FSOUND_Stream_SetEndCallback(musicStream, &streamCallback, 0);
  FSOUND_Stream_SetSynchCallback(musicStream, &streamCallback, 0);
  musicChannel = FSOUND_Stream_Play(kFreeChannel, musicStream);
  if (musicChannel == -1) {
    reportSoundError();
    FSOUND_Close();
  }
  FSOUND_SetPan(musicChannel, kStereoPan);
  FSOUND_Stream_GetSample(musicStream);
}

void stopMusic() {
  FSOUND_Stream_Stop(musicStream);
  FSOUND_Stream_Close(musicStream);
  FSOUND_Close();
}

const char* soundErrorText(int code) {
  if (code < 0 || code >= static_cast<int>(std::size(kErrorTexts))) return "Unknown error";
  return kErrorTexts[code];
}

signed char streamCallback(FSOUND_STREAM* /*stream*/, void* /*buffer*/, int /*length*/,
                           int /*userData*/) {
  return 1;
}

}  // namespace vornisk
