// The sound layer on SDL's dummy audio driver: formats, failures and their
// error codes, empty handles, the end callback, and the silent mode.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fsound/fsound.h"

namespace {

// The fixtures beside this source file (or under $VORNISK_SOURCE/tests/data).
std::vector<char> readFixture(const std::string& name) {
  const char* source = std::getenv("VORNISK_SOURCE");
  const std::filesystem::path folder = source != nullptr
                                           ? std::filesystem::path(source) / "tests" / "data"
                                           : std::filesystem::path(__FILE__).parent_path() / "data";
  std::ifstream file(folder / name, std::ios::binary);
  EXPECT_TRUE(file.good()) << "missing fixture " << (folder / name);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

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

// Sets SDL's audio driver for one test and restores it after.
class AudioDriver {
 public:
  explicit AudioDriver(const char* name) {
    if (const char* old = std::getenv("SDL_AUDIODRIVER")) previous_ = old;
    setenv("SDL_AUDIODRIVER", name, 1);
  }
  ~AudioDriver() {
    if (previous_)
      setenv("SDL_AUDIODRIVER", previous_->c_str(), 1);
    else
      unsetenv("SDL_AUDIODRIVER");
  }

 private:
  std::optional<std::string> previous_;
};

FSOUND_STREAM* openImage(const std::vector<char>& image) {
  return FSOUND_Stream_OpenFile(image.data(), 0x8029, static_cast<int>(image.size()));
}

class SoundLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    // Never a real sound card, whatever the environment says.
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    endCalls = 0;
  }
  void TearDown() override {
    FSOUND_Close();
    fsound::setOutputEnabled(true);
  }
};

TEST_F(SoundLayer, PlaysEachCommonFormatToItsEnd) {
  ASSERT_TRUE(FSOUND_Init(44100, 32, 0)) << FSOUND_GetError();
  int expectedEnds = 0;
  for (const char* name : {"tone.wav", "tone.ogg", "tone.mp3", "tone.flac"}) {
    SCOPED_TRACE(name);
    const std::vector<char> image = readFixture(name);
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
  const std::vector<char> garbage(4000, 'x');
  const std::vector<char> wavHeaderOnly = [] {
    std::vector<char> wav = readFixture("tone.wav");
    wav.resize(20);
    return wav;
  }();
  // Headers whose channel count would make the WAV decoder divide by zero.
  auto withChannels = [](std::uint16_t channels) {
    std::vector<char> wav = readFixture("tone.wav");
    EXPECT_EQ(std::string(wav.data() + 12, 4), "fmt ");  // the fixture's fmt chunk comes first
    wav[22] = static_cast<char>(channels & 0xFF);
    wav[23] = static_cast<char>(channels >> 8);
    return wav;
  };
  const std::vector<char> noChannels = withChannels(0);
  const std::vector<char> tooManyChannels = withChannels(256);
  for (const std::vector<char>* image : {&garbage, &wavHeaderOnly, &noChannels, &tooManyChannels}) {
    FSOUND_STREAM* stream = openImage(*image);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_FILE_FORMAT);
    // The calls between the open and the play must not blur the reason.
    FSOUND_Stream_SetEndCallback(stream, &countEnd, 0);
    FSOUND_Stream_SetSynchCallback(stream, &countEnd, 0);
    EXPECT_EQ(FSOUND_Stream_Play(-1, stream), -1);
    EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_FILE_FORMAT);
  }
  EXPECT_EQ(FSOUND_Stream_OpenFile(garbage.data(), 0x8029, 0), nullptr);
  EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_FILE_FORMAT);

  // A good open afterwards clears the reason: the empty handle is then just invalid.
  const std::vector<char> wav = readFixture("tone.wav");
  FSOUND_STREAM* stream = openImage(wav);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(FSOUND_Stream_Play(-1, nullptr), -1);
  EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_INVALID_PARAM);
}

TEST_F(SoundLayer, TruncatedStreamsPlayOutWithoutHarm) {
  ASSERT_TRUE(FSOUND_Init(44100, 32, 0));
  for (const char* name : {"tone.wav", "tone.ogg", "tone.mp3", "tone.flac"}) {
    for (const double keep : {0.5, 0.15}) {
      SCOPED_TRACE(std::string(name) + " keeping " + std::to_string(keep));
      std::vector<char> image = readFixture(name);
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
  const AudioDriver none("nonexistent_driver");
  EXPECT_FALSE(FSOUND_Init(44100, 32, 0));
  EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_INIT);
  FSOUND_Close();
  const std::vector<char> wav = readFixture("tone.wav");
  FSOUND_STREAM* stream = openImage(wav);
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
  const std::vector<char> wav = readFixture("tone.wav");
  FSOUND_STREAM* stream = openImage(wav);
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
  const std::vector<char> wav = readFixture("tone.wav");
  FSOUND_STREAM* stream = openImage(wav);
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
  const AudioDriver none("nonexistent_driver");
  fsound::setOutputEnabled(false);
  ASSERT_TRUE(FSOUND_Init(44100, 32, 0));
  const std::vector<char> garbage(4000, 'x');
  EXPECT_EQ(FSOUND_Stream_Play(-1, openImage(garbage)), -1);
  EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_FILE_FORMAT);

  const std::vector<char> wav = readFixture("tone.wav");
  FSOUND_STREAM* stream = openImage(wav);
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
