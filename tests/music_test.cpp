// startMusic and stopMusic on SDL's dummy audio driver: exactly which lines
// reach standard output on each failure, and that the show can always go on.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fsound/fsound_testing.h"
#include "media/music.h"
#include "support/test_support.h"

namespace vornisk {
namespace {

using testing::readFixture;

class Music : public ::testing::Test {
 protected:
  void SetUp() override { directory_ = testing::makeTempDirectory(); }
  void TearDown() override {
    stopMusic();
    fsound::testing::setReportedVersion(3.33f);
    std::filesystem::remove_all(directory_);
  }

  std::string file(const std::string& name, const std::vector<unsigned char>& bytes) {
    const std::string path = directory_ + "/" + name;
    testing::writeFile(path, bytes);
    return path;
  }

  // What startMusic and then stopMusic print, separately.
  std::pair<std::string, std::string> run(const std::string& path) {
    ::testing::internal::CaptureStdout();
    startMusic(path.c_str());
    const std::string started = ::testing::internal::GetCapturedStdout();
    ::testing::internal::CaptureStdout();
    stopMusic();
    return {started, ::testing::internal::GetCapturedStdout()};
  }

  std::string directory_;
  // Never a real sound card, whatever the environment says.
  testing::ScopedEnvironment dummyAudio_{"SDL_AUDIODRIVER", "dummy"};
};

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

TEST_F(Music, PlayableMusicStartsAndStopsWithoutAWord) {
  for (const char* name : {"tone.wav", "tone.ogg", "tone.mp3", "tone.flac"}) {
    SCOPED_TRACE(name);
    const auto [started, stopped] = run(file(name, readFixture(name)));
    EXPECT_EQ(started, "");
    EXPECT_EQ(stopped, "");
  }
}

TEST_F(Music, AnOlderLibraryIsReportedAndPlaybackStillStarts) {
  fsound::testing::setReportedVersion(3.32f);
  const auto [started, stopped] = run(file("music._vq", readFixture("tone.wav")));
  EXPECT_EQ(started,
            "Error : You are using the wrong DLL version!  You should be using FMOD 3.33\n");
  EXPECT_EQ(stopped, "");
}

TEST_F(Music, UnreadableFilesAreNotFoundAndTheShowGoesOn) {
  const std::string subfolder = directory_ + "/folder";
  std::filesystem::create_directory(subfolder);
  for (const std::string& path : {directory_ + "/missing._vq", subfolder}) {
    SCOPED_TRACE(path);
    const auto [started, stopped] = run(path);
    EXPECT_EQ(started, "Error!\nFile Not Found\n");
    EXPECT_EQ(stopped, "");
  }
  // After all that, a good file plays as if nothing had happened.
  EXPECT_EQ(run(file("music._vq", readFixture("tone.wav"))).first, "");
}

TEST_F(Music, UndecodableMusicIsAnUnknownFileFormat) {
  const std::vector<unsigned char> garbage(5000, 0x5A);
  std::vector<unsigned char> cutHeader = readFixture("tone.ogg");
  cutHeader.resize(30);
  for (const auto& bytes : {garbage, cutHeader, std::vector<unsigned char>{}}) {
    SCOPED_TRACE(bytes.size());
    const auto [started, stopped] = run(file("music._vq", bytes));
    EXPECT_EQ(started, "Error!\nUnknown file format\n");
    EXPECT_EQ(stopped, "");
  }
}

TEST_F(Music, WithoutADeviceBothTheInitAndThePlayAreReported) {
  const testing::ScopedEnvironment none("SDL_AUDIODRIVER", "nonexistent_driver");
  auto [started, stopped] = run(file("music._vq", readFixture("tone.wav")));
  EXPECT_EQ(started,
            "Error!\nError initializing output device.\n"
            "Error!\nThis command failed because FSOUND_Init was not called\n");
  EXPECT_EQ(stopped, "");

  std::tie(started, stopped) = run(directory_ + "/missing._vq");
  EXPECT_EQ(started, "Error!\nError initializing output device.\nError!\nFile Not Found\n");
  EXPECT_EQ(stopped, "");
}

}  // namespace
}  // namespace vornisk
