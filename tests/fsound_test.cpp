// The sound layer on SDL's dummy audio driver: formats, failures and their
// error codes, empty handles, the end callback, and the silent mode.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include "fsound/container_check.h"
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

// Headers of each format the layer screens, at and past every limit: sample
// rates 1000..768000 Hz, 1..8 channels, 16 MiB for images in no streamed format.
Bytes bigEndian(std::uint64_t value, int bytes) {
  Bytes out;
  for (int i = bytes - 1; i >= 0; --i)
    out.push_back(static_cast<unsigned char>(value >> (8 * i)));
  return out;
}

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts)
    out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes text(const char* letters) {
  return Bytes(letters, letters + std::strlen(letters));
}

Bytes aiff(std::uint32_t rate, std::uint16_t channels) {
  int top = 31;
  while (top > 0 && (rate >> top) == 0)
    --top;
  const Bytes rate80 =
      join({bigEndian(16383u + top, 2), bigEndian(std::uint64_t{rate} << (63 - top), 8)});
  return join({text("FORM"), bigEndian(30, 4), text("AIFFCOMM"), bigEndian(18, 4),
               bigEndian(channels, 2), bigEndian(100, 4), bigEndian(16, 2), rate80});
}

Bytes flac(std::uint32_t rate, std::uint16_t channels) {
  Bytes info(34, 0);
  info[10] = static_cast<unsigned char>(rate >> 12);
  info[11] = static_cast<unsigned char>(rate >> 4);
  info[12] = static_cast<unsigned char>((rate & 15) << 4 | (channels - 1) << 1);
  return join({text("fLaC"), {0x80, 0, 0, 34}, info});
}

// The first Ogg page with one segment: the identification packet.
Bytes ogg(const Bytes& packet) {
  Bytes page = join({text("OggS"), Bytes(22, 0)});
  page.push_back(1);
  page.push_back(static_cast<unsigned char>(packet.size()));
  return join({page, packet});
}

Bytes vorbis(std::uint32_t rate, std::uint8_t channels) {
  Bytes packet = join({text("\x01vorbis"), Bytes(4, 0), {channels}});
  for (int i = 0; i < 4; ++i)
    packet.push_back(static_cast<unsigned char>(rate >> (8 * i)));
  return ogg(join({packet, Bytes(16, 0)}));
}

TEST(ContainerRules, RatesChannelsAndSizesAtAndPastTheirLimits) {
  const auto wav = [](std::uint32_t rate, std::uint16_t channels) {
    return vornisk::testing::wavFile(rate, channels, {0, 0, 0, 0, 0, 0, 0, 0});
  };
  const auto opus = [](std::uint8_t channels) {
    return ogg(join({text("OpusHead"), {1, channels}, Bytes(9, 0)}));
  };
  const std::size_t limit = fsound::kMaxWholeParsedBytes;
  const std::pair<Bytes, bool> images[] = {
      {wav(1000, 1), true},
      {wav(999, 1), false},
      {wav(768000, 2), true},
      {wav(768001, 2), false},
      {wav(44100, 8), true},
      {wav(44100, 9), false},
      {wav(44100, 0), false},
      {aiff(1000, 1), true},
      {aiff(999, 1), false},
      {aiff(768000, 2), true},
      {aiff(768001, 2), false},
      {aiff(44100, 9), false},
      {flac(1000, 1), true},
      {flac(999, 1), false},
      {flac(768000, 8), true},
      {flac(768001, 2), false},
      {vorbis(1000, 1), true},
      {vorbis(999, 1), false},
      {vorbis(768000, 8), true},
      {vorbis(768001, 2), false},
      {vorbis(44100, 0), false},
      {vorbis(44100, 9), false},
      {opus(8), true},
      {opus(9), false},
      {Bytes(limit, 0), true},
      {Bytes(limit + 1, 0), false},
      {join({text("ID3"), Bytes(limit, 0)}), true},
      {join({{0xFF, 0xF3}, Bytes(limit, 0)}), true},
  };
  for (std::size_t i = 0; i < std::size(images); ++i) {
    SCOPED_TRACE("image " + std::to_string(i));
    const Bytes& image = images[i].first;
    EXPECT_EQ(fsound::hasPlayableContainerHeader(image.data(), image.size()), images[i].second);
  }
}

}  // namespace
