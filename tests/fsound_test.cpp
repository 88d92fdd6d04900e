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
  while (endCalls < calls && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return endCalls >= calls;
}

FSOUND_STREAM* openImage(const Bytes& image, int length = -1) {
  return FSOUND_Stream_OpenFile(reinterpret_cast<const char*>(image.data()), 0x8029,
                                length < 0 ? static_cast<int>(image.size()) : length);
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

// Undecodable images are refused at the open and again at the play. Each
// format plays whole; cut to half and to 15 %, it is refused as a file format,
// fails to play (libFLAC cannot seek to the start of a cut stream), or plays out.
TEST_F(SoundLayer, RefusesUndecodableImagesAndPlaysEachFormatWholeOrCut) {
  ASSERT_TRUE(FSOUND_Init(44100, 32, 0)) << FSOUND_GetError();
  const Bytes wavHeaderOnly(wav_.begin(), wav_.begin() + 20);
  // Channel counts (bytes 22..23 of the fixture's fmt chunk) that would make
  // the WAV decoder divide by zero.
  Bytes noChannels = wav_, tooManyChannels = wav_;
  noChannels[22] = noChannels[23] = 0;
  tooManyChannels[22] = 0, tooManyChannels[23] = 1;
  for (const Bytes& image : {Bytes(4000, 'x'), wavHeaderOnly, noChannels, tooManyChannels}) {
    FSOUND_STREAM* stream = openImage(image);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_FILE_FORMAT);
    // The calls between the open and the play must not blur the reason.
    FSOUND_Stream_SetEndCallback(stream, &countEnd, 0);
    FSOUND_Stream_SetSynchCallback(stream, &countEnd, 0);
    EXPECT_EQ(FSOUND_Stream_Play(-1, stream), -1);
    EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_FILE_FORMAT);
  }
  EXPECT_EQ(openImage(wav_, 0), nullptr);
  EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_FILE_FORMAT) << "an empty image";

  for (const char* name : {"tone.wav", "tone.ogg", "tone.mp3", "tone.flac"}) {
    for (const double keep : {1.0, 0.5, 0.15}) {
      SCOPED_TRACE(std::string(name) + " keeping " + std::to_string(keep));
      Bytes image = readFixture(name);
      image.resize(static_cast<std::size_t>(static_cast<double>(image.size()) * keep));
      endCalls = 0;
      FSOUND_STREAM* stream = openImage(image);
      if (keep < 1.0 && stream == nullptr) {
        EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_FILE_FORMAT);
        continue;
      }
      ASSERT_NE(stream, nullptr) << FSOUND_GetError();
      EXPECT_TRUE(FSOUND_Stream_SetEndCallback(stream, &countEnd, 7));
      EXPECT_TRUE(FSOUND_Stream_SetSynchCallback(stream, &countEnd, 8));
      const int channel = FSOUND_Stream_Play(-1, stream);
      if (keep < 1.0 && channel < 0) {
        EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_PLAY);
      } else {
        ASSERT_GE(channel, 0);
        EXPECT_TRUE(FSOUND_SetPan(channel, -1));
        EXPECT_NE(FSOUND_Stream_GetSample(stream), nullptr);
        // A quarter-second stream, consumed in real time by the dummy driver.
        EXPECT_TRUE(waitForEnd(1, std::chrono::seconds(5)));
        EXPECT_EQ(lastUserData, 7);
      }
      FSOUND_Stream_Stop(stream);
      EXPECT_TRUE(FSOUND_Stream_Close(stream));
    }
  }
  // A good open clears the last reason: the empty handle is then just invalid.
  ASSERT_NE(openImage(wav_), nullptr);
  EXPECT_EQ(FSOUND_Stream_Play(-1, nullptr), -1);
  EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_INVALID_PARAM);
}

TEST_F(SoundLayer, StopsCloseAndStaleHandlesAreHarmlessAndAStopIsNoEnd) {
  FSOUND_Stream_Stop(nullptr);
  FSOUND_Stream_Close(nullptr);
  FSOUND_Close();
  ASSERT_TRUE(FSOUND_Init(44100, 32, 0));
  EXPECT_FALSE(FSOUND_Init(44100, 32, 0));
  EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_BUSY);
  EXPECT_FALSE(FSOUND_SetOutput(2));
  EXPECT_EQ(FSOUND_Stream_GetSample(nullptr), nullptr);
  EXPECT_FALSE(FSOUND_SetPan(-1, -1));
  EXPECT_GE(FSOUND_GetVersion(), 3.33f);  // at least the version the show needs
  FSOUND_STREAM* stream = openImage(wav_);
  ASSERT_NE(stream, nullptr);
  FSOUND_Stream_SetEndCallback(stream, &countEnd, 0);
  ASSERT_GE(FSOUND_Stream_Play(-1, stream), 0);
  EXPECT_TRUE(FSOUND_Stream_Stop(stream));
  EXPECT_FALSE(waitForEnd(1, std::chrono::milliseconds(500))) << "a stop is not an end";
  // Closing the library while the stream plays, then the program's stop calls
  // with the stale handle, then a second close.
  ASSERT_GE(FSOUND_Stream_Play(-1, stream), 0);
  FSOUND_Close();
  EXPECT_FALSE(FSOUND_Stream_Stop(stream));
  EXPECT_FALSE(FSOUND_Stream_Close(stream));
  ASSERT_TRUE(FSOUND_Init(44100, 32, 0));
  EXPECT_EQ(FSOUND_Stream_Play(-1, stream), -1) << "a stale handle is not played";
  EXPECT_EQ(endCalls, 0);
}

// Without a device the library cannot start and later calls say so; with the
// output disabled it starts anyway and checks streams without playing them.
TEST_F(SoundLayer, WithoutADeviceOnlyTheSilentModeStarts) {
  const vornisk::testing::ScopedEnvironment none("SDL_AUDIODRIVER", "nonexistent_driver");
  EXPECT_FALSE(FSOUND_Init(44100, 32, 0));
  EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_INIT);
  EXPECT_EQ(FSOUND_Stream_Play(-1, openImage(wav_)), -1);
  EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_UNINITIALIZED);

  fsound::setOutputEnabled(false);
  ASSERT_TRUE(FSOUND_Init(44100, 32, 0));
  EXPECT_EQ(FSOUND_Stream_Play(-1, openImage(Bytes(4000, 'x'))), -1);
  EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_FILE_FORMAT);
  FSOUND_STREAM* stream = openImage(wav_);
  ASSERT_NE(stream, nullptr) << FSOUND_GetError();
  FSOUND_Stream_SetEndCallback(stream, &countEnd, 0);
  EXPECT_EQ(FSOUND_Stream_Play(-1, stream), 0);
  EXPECT_FALSE(waitForEnd(1, std::chrono::milliseconds(600)));
  EXPECT_TRUE(FSOUND_Stream_Stop(stream) && FSOUND_Stream_Close(stream));
}

}  // namespace
