// The sound layer on SDL's dummy audio driver: formats, failures and their
// error codes, empty handles, the end callback, and the silent mode.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "fsound/fsound.h"
#include "support/test_support.h"

namespace {

using vornisk::testing::Bytes;
using vornisk::testing::readFixture;

std::atomic<int> endCalls{0};
std::atomic<int> lastUserData{0};

signed char countEnd(FSOUND_STREAM*, void*, int, int userData) {
  lastUserData = userData;
  endCalls += 1;
  return 1;
}

bool waitForEnd(int calls, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (endCalls < calls) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

FSOUND_STREAM* openImage(const Bytes& image) {
  return FSOUND_Stream_OpenFile(reinterpret_cast<const char*>(image.data()), 0x8029,
                                static_cast<int>(image.size()));
}

class SoundLayer : public ::testing::Test {
 protected:
  void SetUp() override { endCalls = 0; }
  void TearDown() override {
    FSOUND_Close();
    fsound::setOutputEnabled(true);
  }

  // A quarter-second tone; the streams read it in place, so it outlives them.
  const Bytes wav_ = readFixture("tone.wav");
  // Never a real sound card, whatever the environment says.
  vornisk::testing::ScopedEnvironment dummyAudio_{"SDL_AUDIODRIVER", "dummy"};
};

TEST_F(SoundLayer, PlaysEachCommonFormatToItsEnd) {
  ASSERT_TRUE(FSOUND_Init(44100, 32, 0)) << FSOUND_GetError();
  int expectedEnds = 0;
  for (const char* name : {"tone.wav", "tone.ogg", "tone.mp3", "tone.flac"}) {
    SCOPED_TRACE(name);
    const Bytes image = readFixture(name);
    FSOUND_STREAM* stream = openImage(image);
    ASSERT_NE(stream, nullptr) << FSOUND_GetError();
    EXPECT_TRUE(FSOUND_Stream_SetEndCallback(stream, &countEnd, 7));
    EXPECT_TRUE(FSOUND_Stream_SetSynchCallback(stream, &countEnd, 8));
    const int channel = FSOUND_Stream_Play(-1, stream);
    EXPECT_GE(channel, 0);
    EXPECT_TRUE(FSOUND_SetPan(channel, -1));
    EXPECT_NE(FSOUND_Stream_GetSample(stream), nullptr);
    // A quarter-second stream, consumed in real time by the dummy driver.
    ++expectedEnds;
    EXPECT_TRUE(waitForEnd(expectedEnds, std::chrono::seconds(5)));
    EXPECT_EQ(lastUserData, 7);
    EXPECT_TRUE(FSOUND_Stream_Stop(stream));
    EXPECT_TRUE(FSOUND_Stream_Close(stream));
  }
  EXPECT_EQ(endCalls, expectedEnds);
}

TEST_F(SoundLayer, UndecodableImagesReportUnknownFileFormatAtPlay) {
  ASSERT_TRUE(FSOUND_Init(44100, 32, 0));
  const Bytes garbage(4000, 'x');
  const Bytes wavHeaderOnly(wav_.begin(), wav_.begin() + 20);
  // Headers whose channel count would make the WAV decoder divide by zero.
  auto withChannels = [&](std::uint16_t channels) {
    Bytes wav = wav_;
    EXPECT_EQ(std::string(wav.begin() + 12, wav.begin() + 16),
              "fmt ");  // the fixture's fmt chunk comes first
    wav[22] = static_cast<unsigned char>(channels & 0xFF);
    wav[23] = static_cast<unsigned char>(channels >> 8);
    return wav;
  };
  const Bytes noChannels = withChannels(0);
  const Bytes tooManyChannels = withChannels(256);
  for (const Bytes* image : {&garbage, &wavHeaderOnly, &noChannels, &tooManyChannels}) {
    FSOUND_STREAM* stream = openImage(*image);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_FILE_FORMAT);
    // The calls between the open and the play must not blur the reason.
    FSOUND_Stream_SetEndCallback(stream, &countEnd, 0);
    FSOUND_Stream_SetSynchCallback(stream, &countEnd, 0);
    EXPECT_EQ(FSOUND_Stream_Play(-1, stream), -1);
    EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_FILE_FORMAT);
  }
  EXPECT_EQ(FSOUND_Stream_OpenFile(reinterpret_cast<const char*>(garbage.data()), 0x8029, 0),
            nullptr);
  EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_FILE_FORMAT);

  // A good open afterwards clears the reason: the empty handle is then just invalid.
  FSOUND_STREAM* stream = openImage(wav_);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(FSOUND_Stream_Play(-1, nullptr), -1);
  EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_INVALID_PARAM);
}

TEST_F(SoundLayer, TruncatedStreamsPlayOutWithoutHarm) {
  ASSERT_TRUE(FSOUND_Init(44100, 32, 0));
  for (const char* name : {"tone.wav", "tone.ogg", "tone.mp3", "tone.flac"}) {
    for (const double keep : {0.5, 0.15}) {
      SCOPED_TRACE(std::string(name) + " keeping " + std::to_string(keep));
      Bytes image = readFixture(name);
      image.resize(static_cast<std::size_t>(static_cast<double>(image.size()) * keep));
      endCalls = 0;
      FSOUND_STREAM* stream = openImage(image);
      if (stream == nullptr) {
        EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_FILE_FORMAT);
        continue;
      }
      FSOUND_Stream_SetEndCallback(stream, &countEnd, 0);
      // libFLAC cannot seek to the start of a cut stream: such a play fails.
      if (FSOUND_Stream_Play(-1, stream) >= 0) {
        EXPECT_TRUE(waitForEnd(1, std::chrono::seconds(5)));
      } else {
        EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_PLAY);
      }
      FSOUND_Stream_Stop(stream);
      FSOUND_Stream_Close(stream);
    }
  }
}

TEST_F(SoundLayer, WithoutADeviceInitFailsAndLaterCallsSayNotInitialised) {
  const vornisk::testing::ScopedEnvironment none("SDL_AUDIODRIVER", "nonexistent_driver");
  EXPECT_FALSE(FSOUND_Init(44100, 32, 0));
  EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_INIT);
  FSOUND_Close();
  FSOUND_STREAM* stream = openImage(wav_);
  EXPECT_EQ(stream, nullptr);
  EXPECT_EQ(FSOUND_Stream_Play(-1, stream), -1);
  EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_UNINITIALIZED);
}

TEST_F(SoundLayer, EmptyStaleAndRepeatedHandlesAreHarmless) {
  FSOUND_Stream_Stop(nullptr);
  FSOUND_Stream_Close(nullptr);
  FSOUND_Close();
  FSOUND_Close();

  ASSERT_TRUE(FSOUND_Init(44100, 32, 0));
  EXPECT_FALSE(FSOUND_Init(44100, 32, 0));
  EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_BUSY);
  EXPECT_FALSE(FSOUND_SetOutput(2));
  EXPECT_EQ(FSOUND_Stream_GetSample(nullptr), nullptr);
  EXPECT_FALSE(FSOUND_SetPan(-1, -1));
  FSOUND_STREAM* stream = openImage(wav_);
  ASSERT_NE(stream, nullptr);
  FSOUND_Stream_SetEndCallback(stream, &countEnd, 0);
  ASSERT_GE(FSOUND_Stream_Play(-1, stream), 0);
  // Closing the library while the stream plays, then the program's stop calls
  // with the stale handle, then a second close.
  FSOUND_Close();
  EXPECT_FALSE(FSOUND_Stream_Stop(stream));
  EXPECT_FALSE(FSOUND_Stream_Close(stream));
  FSOUND_Close();
  EXPECT_EQ(endCalls, 0);
}

TEST_F(SoundLayer, AStopIsNotAnEndOfStream) {
  ASSERT_TRUE(FSOUND_Init(44100, 32, 0));
  FSOUND_STREAM* stream = openImage(wav_);
  ASSERT_NE(stream, nullptr);
  FSOUND_Stream_SetEndCallback(stream, &countEnd, 0);
  ASSERT_GE(FSOUND_Stream_Play(-1, stream), 0);
  EXPECT_TRUE(FSOUND_Stream_Stop(stream));
  EXPECT_FALSE(waitForEnd(1, std::chrono::milliseconds(500)));
  // Played again, it runs to its end once more.
  ASSERT_GE(FSOUND_Stream_Play(-1, stream), 0);
  EXPECT_TRUE(waitForEnd(1, std::chrono::seconds(5)));
  EXPECT_TRUE(FSOUND_Stream_Close(stream));
}

TEST_F(SoundLayer, WithOutputDisabledStreamsAreCheckedButNotPlayed) {
  const vornisk::testing::ScopedEnvironment none("SDL_AUDIODRIVER", "nonexistent_driver");
  fsound::setOutputEnabled(false);
  ASSERT_TRUE(FSOUND_Init(44100, 32, 0));
  const Bytes garbage(4000, 'x');
  EXPECT_EQ(FSOUND_Stream_Play(-1, openImage(garbage)), -1);
  EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_FILE_FORMAT);

  FSOUND_STREAM* stream = openImage(wav_);
  ASSERT_NE(stream, nullptr) << FSOUND_GetError();
  FSOUND_Stream_SetEndCallback(stream, &countEnd, 0);
  EXPECT_EQ(FSOUND_Stream_Play(-1, stream), 0);
  EXPECT_FALSE(waitForEnd(1, std::chrono::milliseconds(600)));
  EXPECT_TRUE(FSOUND_Stream_Stop(stream));
  EXPECT_TRUE(FSOUND_Stream_Close(stream));
}

TEST_F(SoundLayer, ReportsAtLeastTheVersionTheShowNeeds) {
  EXPECT_GE(FSOUND_GetVersion(), 3.33f);
}

}  // namespace
