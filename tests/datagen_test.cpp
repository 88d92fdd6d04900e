// The default data generator: the files the build wrote beside the show load
// through the show's loader, the music is a well-formed 174-second WAV that the
// sound layer accepts, and running the generator again gives the same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "fsound/fsound.h"
#include "support/test_support.h"

namespace vornisk {
namespace {

using testing::Bytes;

Bytes readAll(const std::string& path) {
  EXPECT_TRUE(std::filesystem::is_regular_file(path)) << "cannot read " << path;
  return testing::readBytes(path);
}

std::uint32_t littleEndian(const Bytes& bytes, std::size_t at, int count) {
  std::uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i)
    value = value << 8 | bytes[at + static_cast<std::size_t>(i)];
  return value;
}

std::string fourCC(const Bytes& bytes, std::size_t at) {
  return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                     bytes.begin() + static_cast<std::ptrdiff_t>(at + 4));
}

// Root mean square of both channels over [fromSeconds, toSeconds).
double rms(const Bytes& wav, double fromSeconds, double toSeconds) {
  const auto first = static_cast<std::size_t>(fromSeconds * 44100) * 2;
  const auto last = static_cast<std::size_t>(toSeconds * 44100) * 2;
  double sum = 0.0;
  for (std::size_t i = first; i < last; ++i) {
    const auto sample = static_cast<std::int16_t>(littleEndian(wav, 44 + 2 * i, 2));
    sum += static_cast<double>(sample) * sample;
  }
  return std::sqrt(sum / static_cast<double>(last - first)) / 32768.0;
}

class Datagen : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(built("vornisk-datagen"))) << "no generator";
  }
  static std::string built(const char* name) { return testing::binDirectory() + "/" + name; }
};

TEST_F(Datagen, ASecondRunWritesTheSameBytesAsTheBuild) {
  const std::string folder = testing::makeTempDirectory();
  const testing::ProgramRun run = testing::runProgram("vornisk-datagen", {folder});
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* name : {"title._vq", "title2._vq", "music._vq"}) {
    SCOPED_TRACE(name);
    const Bytes again = readAll(folder + "/" + name);
    ASSERT_FALSE(again.empty());
    EXPECT_TRUE(again == readAll(built(name)));
  }
  std::filesystem::remove_all(folder);
}

TEST_F(Datagen, PicturesAreFullSizeAndLoadThroughTheShowsLoader) {
  std::vector<std::uint32_t> loaded[2];
  int index = 0;
  for (const char* name : {"title._vq", "title2._vq"}) {
    SCOPED_TRACE(name);
    const std::string path = built(name);
    const Bytes bytes = readAll(path);
    ASSERT_EQ(bytes.size(), 18u + 320u * 240u * 3u);
    EXPECT_EQ(littleEndian(bytes, 12, 2), 320u);
    EXPECT_EQ(littleEndian(bytes, 14, 2), 240u);

    testing::HeadlessConsole console(320, 240, 0xFFFFFFFFu);
    console.loadTitleImage(path.c_str());
    const std::uint32_t* title = console.title();
    loaded[index].assign(title, title + 320 * 240);
    std::set<std::uint32_t> colours;
    for (std::uint32_t word : loaded[index]) {
      EXPECT_EQ(word >> 24, 0u);
      colours.insert(word);
    }
    // A designed picture, not a flat fill or a handful of test colours.
    EXPECT_GT(colours.size(), 5000u);
    ++index;
  }
  EXPECT_NE(loaded[0], loaded[1]);
}

TEST_F(Datagen, MusicIsA174SecondStereoWavThatTheSoundLayerAccepts) {
  const Bytes wav = readAll(built("music._vq"));
  const std::uint32_t dataBytes = 174u * 44100u * 4u;
  ASSERT_EQ(wav.size(), 44u + dataBytes);
  EXPECT_EQ(fourCC(wav, 0), "RIFF");
  EXPECT_EQ(littleEndian(wav, 4, 4), 36u + dataBytes);
  EXPECT_EQ(fourCC(wav, 8), "WAVE");
  EXPECT_EQ(fourCC(wav, 12), "fmt ");
  EXPECT_EQ(littleEndian(wav, 16, 4), 16u);
  EXPECT_EQ(littleEndian(wav, 20, 2), 1u);  // PCM
  EXPECT_EQ(littleEndian(wav, 22, 2), 2u);  // stereo
  EXPECT_EQ(littleEndian(wav, 24, 4), 44100u);
  EXPECT_EQ(littleEndian(wav, 28, 4), 44100u * 4u);
  EXPECT_EQ(littleEndian(wav, 32, 2), 4u);
  EXPECT_EQ(littleEndian(wav, 34, 2), 16u);
  EXPECT_EQ(fourCC(wav, 36), "data");
  EXPECT_EQ(littleEndian(wav, 40, 4), dataBytes);

  fsound::setOutputEnabled(false);
  ASSERT_TRUE(FSOUND_Init(44100, 32, 0));
  FSOUND_STREAM* stream = FSOUND_Stream_OpenFile(reinterpret_cast<const char*>(wav.data()), 0x8029,
                                                 static_cast<int>(wav.size()));
  EXPECT_NE(stream, nullptr) << FSOUND_GetError();
  FSOUND_Stream_Close(stream);
  FSOUND_Close();
  fsound::setOutputEnabled(true);
}

TEST_F(Datagen, MusicFollowsTheShowQuietThenLoudThenSilentAndNeverClips) {
  const Bytes wav = readAll(built("music._vq"));
  ASSERT_EQ(wav.size(), 44u + 174u * 44100u * 4u);
  int peak = 0;
  for (std::size_t at = 44; at < wav.size(); at += 2) {
    const int sample = static_cast<std::int16_t>(littleEndian(wav, at, 2));
    peak = std::max(peak, sample < 0 ? -sample : sample);
  }
  EXPECT_LT(peak, 32767) << "clipped";
  EXPECT_GT(peak, 16384) << "far too quiet";

  const double opening = rms(wav, 2.0, 20.0);
  const double glitch = rms(wav, 24.0, 45.0);
  const double groove = rms(wav, 70.0, 150.0);
  EXPECT_GT(opening, 0.01) << "the opening should not be silent";
  EXPECT_LT(opening, 0.6 * groove) << "the opening should be quiet";
  EXPECT_LT(opening, 0.6 * glitch) << "the beat should come in with the glitch phase";
  EXPECT_EQ(rms(wav, 172.0, 174.0), 0.0) << "the end should be silence";
}

}  // namespace
}  // namespace vornisk
