// The default data generator: its pictures load through the show's loader, its
// soundtrack is a 174-second piece whose MP3 still sounds like the samples it
// was encoded from and starts on their first sample, and a rerun is
// bit-identical.
#include <gtest/gtest.h>
#include <lame/lame.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <set>
#include <string>
#include <vector>

#include "fsound/fsound.h"
#include "support/test_support.h"

namespace vornisk {
namespace {

constexpr std::size_t kRate = 44100;
constexpr std::size_t kShowFrames = 174 * kRate;

testing::Bytes built(const char* name) {
  return testing::readBytes(testing::binDirectory() + "/" + name);
}

// The soundtrack as synthesised, before encoding: the build keeps it beside bin/.
std::string builtSoundtrackWav() {
  return testing::binDirectory() + "/../datagen/soundtrack.wav";
}

TEST(Datagen, ASecondRunWritesTheSameBytesAsTheBuild) {
  const std::string folder = testing::makeTempDirectory();
  const testing::ProgramRun run =
      testing::runProgram("vornisk-datagen", {"--soundtrack-wav", folder + "/wav", folder});
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* name : {"title._vq", "title2._vq", "music._vq"})
    EXPECT_TRUE(testing::readBytes(folder + "/" + name) == built(name)) << name;
  EXPECT_TRUE(testing::readBytes(folder + "/wav") == testing::readBytes(builtSoundtrackWav()));
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

// Interleaved stereo samples scaled to [-1, 1).
using Samples = std::vector<double>;

Samples samplesOfWav(const testing::Bytes& wav) {
  Samples samples;
  for (std::size_t at = 44; at + 1 < wav.size(); at += 2)
    samples.push_back(static_cast<std::int16_t>(wav[at] | wav[at + 1] << 8) / 32768.0);
  return samples;
}

TEST(Datagen, SoundtrackIs174SecondsQuietThenLoudThenSilentAndNeverClips) {
  const testing::Bytes wav = testing::readBytes(builtSoundtrackWav());
  const std::vector<std::int16_t> silence(kShowFrames * 2);
  ASSERT_EQ(wav.size(), 44u + silence.size() * 2);
  // 16-bit PCM at 44100 Hz: the header the test suite's own WAV writer makes.
  const testing::Bytes header = testing::wavFile(44100, 2, silence);
  EXPECT_TRUE(std::equal(wav.begin(), wav.begin() + 44, header.begin()));

  const Samples samples = samplesOfWav(wav);
  auto rms = [&](double from, double to) {
    double sum = 0.0;
    const auto first = static_cast<std::size_t>(from * kRate) * 2;
    const auto last = static_cast<std::size_t>(to * kRate) * 2;
    for (std::size_t at = first; at < last; ++at)
      sum += samples[at] * samples[at];
    return std::sqrt(sum / static_cast<double>(last - first));
  };
  double peak = 0;
  for (const double sample : samples)
    peak = std::max(peak, std::abs(sample));
  EXPECT_LT(peak, 32767 / 32768.0) << "clipped";
  const double opening = rms(2.0, 20.0);
  EXPECT_GT(opening, 0.01) << "the opening should not be silent";
  EXPECT_LT(opening, 0.6 * rms(70.0, 150.0)) << "the opening should be quiet";
  EXPECT_LT(opening, 0.6 * rms(24.0, 45.0)) << "the beat should come in with the glitch phase";
  EXPECT_EQ(rms(172.0, 174.0), 0.0) << "the end should be silence";
}

// The MP3 decoded by LAME's own decoder, with what its "Xing" frame says the
// encoder added before and after the music.
struct Decoded {
  Samples samples;
  int encoderDelay = -1;
  int padding = -1;
  int sampleRate = 0;
};

Decoded decodeMp3(const testing::Bytes& mp3) {
  Decoded decoded;
  hip_t hip = hip_decode_init();
  std::vector<short> left(1152 * 4), right(1152 * 4);
  mp3data_struct header{};
  auto* bytes = const_cast<unsigned char*>(mp3.data());
  // Each call takes the next kilobyte (none once all is in) and decodes at
  // most one frame; the decoder keeps what it has not used yet.
  for (std::size_t at = 0;;) {
    const std::size_t length = std::min<std::size_t>(1024, mp3.size() - at);
    const int count = hip_decode1_headersB(hip, bytes + at, length, left.data(), right.data(),
                                           &header, &decoded.encoderDelay, &decoded.padding);
    at += length;
    if (count < 0 || (count == 0 && at == mp3.size())) break;
    for (int i = 0; i < count; ++i) {
      decoded.samples.push_back(left[i] / 32768.0);
      decoded.samples.push_back(right[i] / 32768.0);
    }
  }
  hip_decode_exit(hip);
  decoded.sampleRate = header.samplerate;
  return decoded;
}

// In place, radix 2.
void fourierTransform(std::vector<std::complex<double>>& values) {
  const std::size_t n = values.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; (j & bit) != 0; bit >>= 1)
      j ^= bit;
    j ^= bit;
    if (i < j) std::swap(values[i], values[j]);
  }
  for (std::size_t length = 2; length <= n; length <<= 1) {
    const double angle = -2 * std::numbers::pi / static_cast<double>(length);
    const std::complex<double> turn(std::cos(angle), std::sin(angle));
    for (std::size_t start = 0; start < n; start += length) {
      std::complex<double> w(1);
      for (std::size_t k = 0; k < length / 2; ++k, w *= turn) {
        const std::complex<double> even = values[start + k];
        const std::complex<double> odd = values[start + k + length / 2] * w;
        values[start + k] = even + odd;
        values[start + k + length / 2] = even - odd;
      }
    }
  }
}

// The sample offset of `decoded` at which `reference` lines up best, searched
// over 3000 samples from 30 s in.
std::size_t measuredLag(const Samples& reference, const Samples& decoded) {
  const std::size_t from = 30 * kRate;
  std::size_t best = 0;
  double bestSum = -1e300;
  for (std::size_t lag = 0; lag < 3000; ++lag) {
    double sum = 0;
    for (std::size_t i = from; i < from + kRate / 4; ++i)
      sum += reference[2 * i] * decoded[2 * (i + lag)];
    if (sum > bestSum) bestSum = sum, best = lag;
  }
  return best;
}

// Third-octave band levels from 50 Hz to 16 kHz of each channel's frames of
// 4096 samples (Hann window), compared between the two: the differences in dB
// of every band either side has sound in, sorted.
std::vector<double> bandDifferencesDb(const Samples& reference, const Samples& decoded,
                                      std::size_t lag) {
  constexpr std::size_t kFrame = 4096;
  std::vector<double> differences;
  std::vector<std::complex<double>> a(kFrame), b(kFrame);
  const std::size_t frames = std::min(reference.size() / 2, decoded.size() / 2 - lag);
  for (std::size_t start = 0; start + kFrame <= frames; start += kFrame) {
    for (std::size_t channel = 0; channel < 2; ++channel) {
      for (std::size_t i = 0; i < kFrame; ++i) {
        const double window =
            0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) / kFrame);
        a[i] = reference[2 * (start + i) + channel] * window;
        b[i] = decoded[2 * (start + i + lag) + channel] * window;
      }
      fourierTransform(a);
      fourierTransform(b);
      for (double low = 50; low < 16000; low *= std::cbrt(2.0)) {
        const auto first = static_cast<std::size_t>(low * kFrame / kRate);
        const std::size_t last =
            std::max(first + 1, static_cast<std::size_t>(low * std::cbrt(2.0) * kFrame / kRate));
        double energyA = 0, energyB = 0;
        for (std::size_t bin = first; bin < last; ++bin) {
          energyA += std::norm(a[bin]);
          energyB += std::norm(b[bin]);
        }
        // Below -60 dB of a full-scale sine's band energy on both sides: silence.
        if (energyA < 1e-6 * kFrame && energyB < 1e-6 * kFrame) continue;
        differences.push_back(std::abs(10 * std::log10((energyA + 1e-9) / (energyB + 1e-9))));
      }
    }
  }
  std::sort(differences.begin(), differences.end());
  return differences;
}

TEST(Datagen, MusicIsAnMp3ThatSoundsLikeTheSamplesAndStartsOnTheirFirst) {
  const testing::Bytes mp3 = built("music._vq");
  const Samples reference = samplesOfWav(testing::readBytes(builtSoundtrackWav()));
  ASSERT_EQ(reference.size(), kShowFrames * 2);
  const Decoded decoded = decodeMp3(mp3);
  // The web page's first visit, compressed in transfer, has 2.4 MB for the music.
  EXPECT_LE(mp3.size(), 2'400'000u);
  EXPECT_EQ(decoded.sampleRate, 44100);
  // The Xing frame's delay and padding, which decoders drop, leave exactly the show's length...
  ASSERT_GE(decoded.encoderDelay, 0) << "no Xing frame";
  EXPECT_EQ(decoded.samples.size() / 2 - static_cast<std::size_t>(decoded.encoderDelay) -
                static_cast<std::size_t>(decoded.padding),
            kShowFrames);
  // ...and the delay is the true one: LAME's decoder adds 529 samples of its own.
  const std::size_t lag = measuredLag(reference, decoded.samples);
  EXPECT_EQ(lag, static_cast<std::size_t>(decoded.encoderDelay) + 529);

  // The spectrum stays within a decibel or two of the samples'.
  const std::vector<double> differences = bandDifferencesDb(reference, decoded.samples, lag);
  ASSERT_GT(differences.size(), 50000u);
  double sum = 0;
  for (const double difference : differences)
    sum += difference;
  const double mean = sum / static_cast<double>(differences.size());
  const double p95 = differences[differences.size() * 95 / 100];
  EXPECT_LT(mean, 1.0);
  EXPECT_LT(p95, 3.0);
  std::printf(
      "MP3 against the samples: third-octave bands differ by %.2f dB on average, "
      "%.2f dB at the 95th percentile\n",
      mean, p95);

  fsound::setOutputEnabled(false);
  ASSERT_TRUE(FSOUND_Init(44100, 32, 0));
  FSOUND_STREAM* stream = FSOUND_Stream_OpenFile(reinterpret_cast<const char*>(mp3.data()), 0x8029,
                                                 static_cast<int>(mp3.size()));
  EXPECT_NE(stream, nullptr) << FSOUND_GetError();
  FSOUND_Close();  // closes the stream too
}

}  // namespace
}  // namespace vornisk
