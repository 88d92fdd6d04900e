// Speed of one whole frame of the show (background, triangles or bars, field
// and render, present to a windowless console) at moments of the timeline.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "clock/clock.h"
#include "console/demo_console.h"
#include "console/random.h"
#include "console/show_state.h"
#include "metaballs/field_pipeline.h"
#include "ptc/headless.h"
#include "shell/show.h"

namespace vornisk {
namespace {

constexpr std::uint32_t kStartReading = 5000;

std::uint32_t fixedReading(void* context) {
  return *static_cast<std::uint32_t*>(context);
}

// Opens `console` on the headless backend with an asymmetric title, so that
// copies and shears move real data.
void openWithSyntheticTitle(DemoConsole& console) {
  console.setBackend(std::make_unique<ptc::HeadlessBackend>());
  console.open("bench", 320, 240, false);
  auto* title = static_cast<std::uint32_t*>(console.titleSurface->lock());
  for (int i = 0; i < console.width * console.height; ++i)
    title[i] = static_cast<std::uint32_t>(i * 2654435761u) & 0x00FFFFFFu;
}

// Frames at elapsed time state.range(0) ms, with Intensity at state.range(1) / 1000.
void BM_ShowFrame(benchmark::State& state) {
  resetShowState();
  std::uint32_t reading = kStartReading + static_cast<std::uint32_t>(state.range(0));
  timing::ScopedTimeSource clock(&fixedReading, &reading);
  startTime = kStartReading;
  seedRandom(2024);

  DemoConsole console;
  openWithSyntheticTitle(console);
  auto fields = std::make_unique<FieldPipeline>();
  FrameLoopState loop;
  loop.secondTitleLoaded = true;  // the title surface already holds a picture

  const float intensity = static_cast<float>(state.range(1)) / 1000.0f;
  for (auto _ : state) {
    // Frame counters that are multiples of 10 would age Intensity.
    if (console.frameCounter % 10 == 0) ++console.frameCounter;
    Intensity = intensity;
    drawShowFrame(console, *fields, loop);
  }
  state.counters["frames/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  console.close();
  resetShowState();
}
// Opening (black), triangles in the glitch phase, bars in the glitch phase at
// the floor Intensity, and the closing picture.
BENCHMARK(BM_ShowFrame)
    ->ArgNames({"elapsedMs", "intensityMilli"})
    ->Args({10000, 1000000})
    ->Args({50000, 1000000})
    ->Args({100000, 1000})
    ->Args({160000, 1000});

// Every frame of the whole show at 60 frames per second, as the capture tool
// draws them (seed 0, a synthetic title), each timed: the counters give the
// median and 99th-percentile frame, and the median of each part of the show.
// Only drawing and presenting to a console without output; no hashing, no files.
void BM_WholeShowFrames(benchmark::State& state) {
  constexpr std::uint32_t kFramesPerSecond = 60;
  constexpr std::uint64_t kFrames = std::uint64_t{kShowLengthMs} * kFramesPerSecond / 1000;
  std::uint32_t reading = 0;
  timing::ScopedTimeSource clock(&fixedReading, &reading);
  DemoConsole console;
  openWithSyntheticTitle(console);
  auto fields = std::make_unique<FieldPipeline>();
  std::vector<double> frameUs(kFrames);
  using Clock = std::chrono::steady_clock;

  for (auto _ : state) {
    resetShowState();
    seedRandom(0);
    console.frameCounter = 0;
    FrameLoopState loop;
    loop.secondTitleLoaded = true;
    for (std::uint64_t k = 0; k < kFrames; ++k) {
      reading = static_cast<std::uint32_t>(k * 1000 / kFramesPerSecond);
      const Clock::time_point start = Clock::now();
      drawShowFrame(console, *fields, loop);
      frameUs[k] = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    }
  }
  // The median frame of each part of the show, as its clock divides it: the
  // black opening, the glitching title, the triangles, the copper bars (the
  // net's disturbances grow through them) and the second title.
  struct Part {
    const char* counter;
    std::uint32_t endMs;
  };
  constexpr Part kParts[] = {{"opening_us", 23200},
                             {"glitch_us", 46200},
                             {"triangles_us", 69500},
                             {"bars_us", 153500},
                             {"title2_us", kShowLengthMs}};
  std::uint64_t first = 0;
  for (const Part& part : kParts) {
    std::uint64_t end = first;
    while (end < kFrames && end * 1000 / kFramesPerSecond < part.endMs)
      ++end;
    std::vector<double> times(frameUs.begin() + static_cast<std::ptrdiff_t>(first),
                              frameUs.begin() + static_cast<std::ptrdiff_t>(end));
    std::nth_element(times.begin(), times.begin() + static_cast<std::ptrdiff_t>(times.size() / 2),
                     times.end());
    state.counters[part.counter] = times.empty() ? 0.0 : times[times.size() / 2];
    first = end;
  }
  std::sort(frameUs.begin(), frameUs.end());
  state.counters["median_us"] = frameUs[kFrames / 2];
  state.counters["p99_us"] = frameUs[kFrames * 99 / 100];
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations() * kFrames),
                                                  benchmark::Counter::kIsRate);
  console.close();
  resetShowState();
}
BENCHMARK(BM_WholeShowFrames)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace vornisk
