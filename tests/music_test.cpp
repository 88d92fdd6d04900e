// startMusic and stopMusic on SDL's dummy audio driver: exactly which lines
// reach standard output on each failure, and that the show can always go on.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fsound/fsound_testing.h"
#include "media/data_file.h"
#include "media/music.h"
#include "support/test_support.h"

namespace vornisk {
namespace {

using testing::readFixture;

TEST(SoundErrorText, KeepsTheTextsExactlyAndCoversEveryOtherCode) {
  EXPECT_STREQ(soundErrorText(0), "No errors");
  EXPECT_STREQ(soundErrorText(1),
               "Cannot call this command after FSOUND_Init.  Call FSOUND_Close first.");
  EXPECT_STREQ(soundErrorText(6),
               "Soundcard does not support the features needed for this soundsystem (16bit "
               "stereo output)");
  EXPECT_STREQ(soundErrorText(10), "Unknown file format");
  EXPECT_STREQ(soundErrorText(12), "Not enough memory ");
  EXPECT_STREQ(soundErrorText(19), "Required Mediaplayer codec is not installed");
  EXPECT_STREQ(soundErrorText(20), "Unknown error");
  EXPECT_STREQ(soundErrorText(-1), "Unknown error");
}

// What startMusic prints for each kind of file (stopMusic never prints); after
// every failure, music plays as if nothing had happened.
TEST(Music, ExactlyTheseLinesReachStandardOutputAndTheShowGoesOn) {
  const std::string folder = testing::makeTempDirectory();
  std::filesystem::create_directory(folder + "/folder");
  std::vector<unsigned char> cutHeader = readFixture("tone.ogg");
  cutHeader.resize(30);
  const std::string noDevice = "Error!\nError initializing output device.\n";
  struct Case {
    std::string file;  // under `folder`; written with `bytes` unless it ends in '/'
    std::vector<unsigned char> bytes;
    std::string printed;
    float version = 3.33f;
    const char* audioDriver = "dummy";  // never a real sound card
  };
  const Case cases[] = {
      {"missing/", {}, "Error!\nFile Not Found\n"},
      {"folder/", {}, "Error!\n" + folder + "/folder: a folder, not a regular file\n"},
      {"tone.wav", readFixture("tone.wav"), ""},
      {"garbage", std::vector<unsigned char>(5000, 0x5A), "Error!\nUnknown file format\n"},
      {"tone.ogg", readFixture("tone.ogg"), ""},
      {"cut.ogg", cutHeader, "Error!\nUnknown file format\n"},
      {"tone.mp3", readFixture("tone.mp3"), ""},
      {"empty", {}, "Error!\nUnknown file format\n"},
      {"tone.flac", readFixture("tone.flac"), ""},
      {"old.wav", readFixture("tone.wav"),  // reported, and the music still plays
       "Error : You are using the wrong DLL version!  You should be using FMOD 3.33\n", 3.32f},
      {"nodevice.wav", readFixture("tone.wav"),
       noDevice + "Error!\nThis command failed because FSOUND_Init was not called\n", 3.33f,
       "nonexistent_driver"},
      {"missing/", {}, noDevice + "Error!\nFile Not Found\n", 3.33f, "nonexistent_driver"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file + " with the " + c.audioDriver + " driver");
    std::string path = folder + "/" + c.file;
    if (path.back() == '/') {
      path.pop_back();
    } else {
      testing::writeFile(path, c.bytes);
    }
    const testing::ScopedEnvironment driver("SDL_AUDIODRIVER", c.audioDriver);
    fsound::testing::setReportedVersion(c.version);
    ::testing::internal::CaptureStdout();
    startMusic(path.c_str());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.printed);
    ::testing::internal::CaptureStdout();
    stopMusic();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  }
  std::filesystem::remove_all(folder);  // the last rows left the version as it was
}

// The music is read up to its limit and no further: a file of exactly the limit
// is read whole, one byte more is refused unread.
TEST(Music, ReadWithALimit) {
  const std::string folder = testing::makeTempDirectory();
  testing::writeFile(folder + "/ten", testing::Bytes(10, 7));
  const MusicImage whole = readMusicFile(folder + "/ten", 10);
  EXPECT_EQ(whole.length, 10);
  EXPECT_EQ(whole.problem, "");
  ASSERT_NE(whole.bytes, nullptr);
  EXPECT_EQ(whole.bytes[9], 7);
  std::free(whole.bytes);
  const MusicImage refused = readMusicFile(folder + "/ten", 9);
  EXPECT_EQ(refused.bytes, nullptr);
  EXPECT_EQ(refused.problem, "10 bytes, more than the 9 bytes a music file may have");
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace vornisk
