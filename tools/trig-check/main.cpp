// vornisk-trig-check: portableSin and portableCos on every argument the show
// can pass them up to a frame count, compared with the x87 sinl and cosl the
// show used before (where the build has them: x86-64 with glibc), and a digest
// of every result, which builds without that reference (arm64, mingw under
// wine) compare with the digest stored below.
//
// The arguments, as the show forms them (keep in step with the sources named):
// - the balls' paths (metaballs/show_balls.cpp): sin(n/d) and cos(n/d) of the
//   frame counter n for the 28 terms of the six balls;
// - the triangles' turn (effects/triangles.cpp): sin and cos of n/30;
// - the copper bars (effects/copper_bars.cpp): cos(p·0.06666666666666667) of
//   the phase p = n + 0..40;
// - the triangles' path: cos(p·10/257) and sin(p·5/86), p = n + 0..21.
#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "geometry/trig.h"
#include "geometry/trig_detail.h"
#include "trig-check/sinl_reference.h"

namespace {

using vornisk::trig::Wave;

constexpr const char* kProgram = "vornisk-trig-check";
constexpr std::uint64_t kDefaultFrames = std::uint64_t{1} << 24;
constexpr std::uint64_t kPhaseSpan = 41;  // phases run to n + 40

struct BallTerm {
  Wave wave;
  int divisor;
};
constexpr BallTerm kBallTerms[] = {
    {Wave::Cosine, 56}, {Wave::Sine, 31},   {Wave::Cosine, 47}, {Wave::Sine, 42},
    {Wave::Sine, 33},   {Wave::Cosine, 18}, {Wave::Sine, 22},   {Wave::Sine, 53},
    {Wave::Cosine, 38}, {Wave::Sine, 41},   {Wave::Cosine, 57}, {Wave::Cosine, 58},
    {Wave::Sine, 43},   {Wave::Cosine, 46}, {Wave::Sine, 32},   {Wave::Cosine, 48},
    {Wave::Cosine, 36}, {Wave::Sine, 11},   {Wave::Cosine, 27}, {Wave::Sine, 51},
    {Wave::Cosine, 26}, {Wave::Cosine, 37}, {Wave::Sine, 46},   {Wave::Cosine, 41},
    {Wave::Sine, 37},   {Wave::Cosine, 32}, {Wave::Sine, 17},   {Wave::Cosine, 23},
};

// Digests of every result for a frame count, taken on x86-64 Linux where the
// sinl comparison passed.
struct StoredDigest {
  std::uint64_t frames;
  std::uint64_t digest;
};
constexpr StoredDigest kStoredDigests[] = {
    {std::uint64_t{1} << 20, 0x87f4547dad9aa6c5u},
    {std::uint64_t{1} << 24, 0x9408acf596daaad5u},
};

std::uint64_t mix(std::uint64_t v) {
  v ^= v >> 30;
  v *= 0xbf58476d1ce4e5b9u;
  v ^= v >> 27;
  v *= 0x94d049bb133111ebu;
  return v ^ (v >> 31);
}

struct Tally {
  std::uint64_t arguments = 0, differing = 0, digest = 0;
  std::vector<std::uint64_t> sineDeviations, cosineDeviations;
};

class Checker {
 public:
  Checker(bool compare, bool collect) : compare_(compare), collect_(collect) {}

  void check(double x, Wave wave) {
    const bool sine = wave == Wave::Sine;
    const double result = sine ? vornisk::portableSin(x) : vornisk::portableCos(x);
    ++tally_.arguments;
    // A sum, so that any split among threads gives the same digest.
    tally_.digest += mix(mix(std::bit_cast<std::uint64_t>(x) * 2 + (sine ? 0 : 1)) ^
                         std::bit_cast<std::uint64_t>(result));
    if (!compare_) return;
    const double reference = sine ? trig_check::sinlReference(x) : trig_check::coslReference(x);
    if (std::bit_cast<std::uint64_t>(result) != std::bit_cast<std::uint64_t>(reference)) {
      if (++tally_.differing <= 10)
        std::printf("  %s(%a) = %a, sinl gives %a\n", sine ? "sin" : "cos", x, result, reference);
    }
    if (collect_ && std::bit_cast<std::uint64_t>(vornisk::trig::twiceRounded(x, wave)) !=
                        std::bit_cast<std::uint64_t>(reference))
      (sine ? tally_.sineDeviations : tally_.cosineDeviations)
          .push_back(std::bit_cast<std::uint64_t>(x));
  }

  Tally& tally() { return tally_; }

 private:
  bool compare_, collect_;
  Tally tally_;
};

// Frames [firstIndex, lastIndex) of the frame families and the same phases.
void checkRange(Checker& checker, std::uint64_t frames, std::uint64_t firstIndex,
                std::uint64_t lastIndex) {
  for (std::uint64_t i = firstIndex; i < lastIndex; ++i) {
    const double n = static_cast<double>(i);
    if (i < frames) {
      for (const BallTerm& term : kBallTerms)
        checker.check(n / term.divisor, term.wave);
      checker.check(n / 30.0, Wave::Sine);
      checker.check(n / 30.0, Wave::Cosine);
    }
    checker.check(n * 0.06666666666666667, Wave::Cosine);
    checker.check(n * 10.0 / 257.0, Wave::Cosine);
    checker.check(n * 5.0 / 86.0, Wave::Sine);
  }
}

bool parseCount(const char* text, std::uint64_t& value) {
  char* end = nullptr;
  if (*text < '0' || *text > '9') return false;
  value = std::strtoull(text, &end, 10);
  return *end == '\0';
}

int usage(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
  return 2;
}

void writeDeviations(std::FILE* out, const char* name, std::vector<std::uint64_t>& arguments) {
  std::sort(arguments.begin(), arguments.end());
  arguments.erase(std::unique(arguments.begin(), arguments.end()), arguments.end());
  std::fprintf(out, "constexpr std::array<std::uint64_t, %zu> %s = {", arguments.size(), name);
  for (std::size_t i = 0; i < arguments.size(); ++i)
    std::fprintf(out, "%s0x%016" PRIx64 ",", i % 4 == 0 ? "\n    " : " ", arguments[i]);
  std::fprintf(out, "\n};\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t frames = kDefaultFrames;
  std::uint64_t threads = std::max(1u, std::thread::hardware_concurrency());
  const char* deviationsFile = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--help") {
      std::printf(
          "Usage: %s [--frames N] [--threads T] [--write-deviations FILE]\n"
          "Checks portableSin and portableCos on every argument the show passes them\n"
          "in frames 0..N-1 (default N = 2^24): against x87 sinl and cosl rounded to\n"
          "double where this build has them (x86-64, glibc), and by a digest of all\n"
          "results against the one stored for N elsewhere. --write-deviations writes\n"
          "the table of arguments where sinl is not correctly rounded (x86-64 only).\n",
          kProgram);
      return 0;
    }
    if (i + 1 >= argc) return usage("unknown option or missing value: " + option);
    const char* value = argv[++i];
    if (option == "--frames") {
      if (!parseCount(value, frames) || frames == 0 || frames > (std::uint64_t{1} << 31))
        return usage("--frames must be a whole number from 1 to 2^31");
    } else if (option == "--threads") {
      if (!parseCount(value, threads) || threads == 0 || threads > 256)
        return usage("--threads must be a whole number from 1 to 256");
    } else if (option == "--write-deviations") {
      deviationsFile = value;
    } else {
      return usage("unknown option " + option + " (try --help)");
    }
  }
  const bool compare = trig_check::haveSinlReference();
  if (deviationsFile != nullptr && !compare)
    return usage("--write-deviations needs the x87 sinl reference (x86-64 with glibc)");
  // Opened before the long run, so that a wrong path is reported at once.
  std::FILE* out = deviationsFile != nullptr ? std::fopen(deviationsFile, "w") : nullptr;
  if (deviationsFile != nullptr && out == nullptr) {
    std::fprintf(stderr, "%s: cannot write %s\n", kProgram, deviationsFile);
    return 1;
  }

  const std::uint64_t indices = frames - 1 + kPhaseSpan;
  std::vector<Checker> checkers(threads, Checker(compare, deviationsFile != nullptr));
  // One thread works on the calling one (builds without threads run that way).
  std::vector<std::thread> workers;
  for (std::uint64_t t = 1; t < threads; ++t) {
    workers.emplace_back([&, t] {
      checkRange(checkers[t], frames, indices * t / threads, indices * (t + 1) / threads);
    });
  }
  checkRange(checkers[0], frames, 0, indices / threads);
  for (std::thread& worker : workers)
    worker.join();

  Tally total;
  for (Checker& checker : checkers) {
    Tally& part = checker.tally();
    total.arguments += part.arguments;
    total.differing += part.differing;
    total.digest += part.digest;
    total.sineDeviations.insert(total.sineDeviations.end(), part.sineDeviations.begin(),
                                part.sineDeviations.end());
    total.cosineDeviations.insert(total.cosineDeviations.end(), part.cosineDeviations.begin(),
                                  part.cosineDeviations.end());
  }

  std::printf("frames 0..%" PRIu64 ": %" PRIu64 " arguments, digest %016" PRIx64 "\n", frames - 1,
              total.arguments, total.digest);
  int status = 0;
  if (compare) {
    std::printf("against x87 sinl and cosl rounded to double: %" PRIu64 " differ\n",
                total.differing);
    if (total.differing != 0) status = 1;
  }
  const auto stored = std::find_if(std::begin(kStoredDigests), std::end(kStoredDigests),
                                   [frames](const StoredDigest& s) { return s.frames == frames; });
  if (stored != std::end(kStoredDigests)) {
    const bool same = stored->digest == total.digest;
    std::printf("stored digest for %" PRIu64 " frames: %016" PRIx64 " (%s)\n", frames,
                stored->digest, same ? "the same" : "DIFFERENT");
    if (!same) status = 1;
  } else if (!compare) {
    std::printf("no stored digest for %" PRIu64 " frames and no sinl here: nothing compared\n",
                frames);
    status = 1;
  }

  if (out != nullptr) {
    std::fprintf(out,
                 "// Generated by vornisk-trig-check --frames %" PRIu64
                 " --write-deviations; do not edit.\n"
                 "// The bits of the arguments (all the show reaches in frames 0..%" PRIu64
                 ")\n// where glibc's x87 sinl or cosl, rounded to double, is not the twice-"
                 "rounded\n// value: their results lie next to a midpoint between doubles and "
                 "sinl rounds\n// to the 64th bit the other way.\n",
                 frames, frames - 1);
    writeDeviations(out, "kSineDeviations", total.sineDeviations);
    writeDeviations(out, "kCosineDeviations", total.cosineDeviations);
    const bool written = std::fclose(out) == 0;
    if (!written) {
      std::fprintf(stderr, "%s: cannot write %s\n", kProgram, deviationsFile);
      return 1;
    }
    std::printf("wrote %zu sine and %zu cosine arguments to %s\n", total.sineDeviations.size(),
                total.cosineDeviations.size(), deviationsFile);
  }
  return status;
}
