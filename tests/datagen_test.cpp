// The default data generator: its pictures load through the show's loader, its
// music is a 174-second WAV the sound layer accepts, and a rerun is bit-identical.
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

testing::Bytes built(const char* name) {
  return testing::readBytes(testing::binDirectory() + "/" + name);
}

TEST(Datagen, ASecondRunWritesTheSameBytesAsTheBuild) {
  const std::string folder = testing::makeTempDirectory();
  const testing::ProgramRun run = testing::runProgram("vornisk-datagen", {folder});
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* name : {"title._vq", "title2._vq", "music._vq"})
    EXPECT_TRUE(testing::readBytes(folder + "/" + name) == built(name)) << name;
  std::filesystem::remove_all(folder);
}

TEST(Datagen, PicturesAreFullSizeAndLoadThroughTheShowsLoader) {
  std::set<std::uint32_t> colours[2];
  for (int index : {0, 1}) {
    const char* name = index == 0 ? "title._vq" : "title2._vq";
    ASSERT_EQ(built(name).size(), 18u + 320u * 240u * 3u) << name;
    testing::HeadlessConsole console(320, 240, 0xFFFFFFFFu);
    console.loadTitleImage((testing::binDirectory() + "/" + name).c_str());
    colours[index].insert(console.title(), console.title() + 320 * 240);
    // A designed picture, not a flat fill; all of it loaded (no 0xFF top byte).
    EXPECT_GT(colours[index].size(), 5000u) << name;
    EXPECT_LT(*colours[index].rbegin(), 0x01000000u) << name;
  }
  EXPECT_NE(colours[0], colours[1]);
}

TEST(Datagen, MusicIsA174SecondStereoWavQuietThenLoudThenSilentThatNeverClips) {
  const testing::Bytes wav = built("music._vq");
  const std::vector<std::int16_t> silence(174u * 44100u * 2u);
  ASSERT_EQ(wav.size(), 44u + silence.size() * 2);
  // 16-bit PCM at 44100 Hz: the header the test suite's own WAV writer makes.
  const testing::Bytes header = testing::wavFile(44100, 2, silence);
  EXPECT_TRUE(std::equal(wav.begin(), wav.begin() + 44, header.begin()));

  auto sample = [&](std::size_t at) {
    return static_cast<std::int16_t>(wav[at] | wav[at + 1] << 8);
  };
  auto rms = [&](double from, double to) {
    double sum = 0.0;
    const auto first = static_cast<std::size_t>(from * 44100) * 4 + 44;
    const auto last = static_cast<std::size_t>(to * 44100) * 4 + 44;
    for (std::size_t at = first; at < last; at += 2)
      sum += static_cast<double>(sample(at)) * sample(at);
    return std::sqrt(sum / static_cast<double>((last - first) / 2)) / 32768.0;
  };
  int peak = 0;
  for (std::size_t at = 44; at < wav.size(); at += 2)
    peak = std::max(peak, std::abs(static_cast<int>(sample(at))));
  EXPECT_LT(peak, 32767) << "clipped";
  const double opening = rms(2.0, 20.0);
  EXPECT_GT(opening, 0.01) << "the opening should not be silent";
  EXPECT_LT(opening, 0.6 * rms(70.0, 150.0)) << "the opening should be quiet";
  EXPECT_LT(opening, 0.6 * rms(24.0, 45.0)) << "the beat should come in with the glitch phase";
  EXPECT_EQ(rms(172.0, 174.0), 0.0) << "the end should be silence";

  fsound::setOutputEnabled(false);
  ASSERT_TRUE(FSOUND_Init(44100, 32, 0));
  FSOUND_STREAM* stream = FSOUND_Stream_OpenFile(reinterpret_cast<const char*>(wav.data()), 0x8029,
                                                 static_cast<int>(wav.size()));
  EXPECT_NE(stream, nullptr) << FSOUND_GetError();
  FSOUND_Close();  // closes the stream too
}

}  // namespace
}  // namespace vornisk
