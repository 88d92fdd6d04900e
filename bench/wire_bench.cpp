// Speed of the metaball wire net: one frame's field rebuild and render at the
// show's first and last Intensity, and drawLine for short lines and for lines
// with one end up to 2^31 pixels off screen (which must cost their on-screen
// pixels, not their length).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "metaballs/blob_field.h"
#include "ptc/headless.h"
#include "shell/demo_console.h"
#include "shell/random.h"
#include "shell/show_state.h"

namespace vornisk {
namespace {

// A 320 × 240 console on the windowless backend, locked for drawing.
std::unique_ptr<DemoConsole> makeConsole() {
  auto console = std::make_unique<DemoConsole>();
  console->setBackend(std::make_unique<ptc::HeadlessBackend>());
  console->open("bench", 320, 240, false);
  console->lock();
  return console;
}

void BM_FieldRebuild(benchmark::State& state) {
  auto field = std::make_unique<BlobField>();
  int frame = 0;
  for (auto _ : state) {
    field->reset();
    addShowBalls(*field, frame++);
    benchmark::DoNotOptimize(field->value[8][8][8]);
  }
}
BENCHMARK(BM_FieldRebuild);

// The show's metaball step: reset, six balls, render. Intensity is held at the
// given value (frame counters that are not multiples of 10 do not age it).
void BM_FieldRebuildAndRender(benchmark::State& state) {
  resetShowState();
  const float intensity = static_cast<float>(state.range(0)) / 1000.0f;
  auto console = makeConsole();
  auto field = std::make_unique<BlobField>();
  seedRandom(12345);
  int frame = 1;
  for (auto _ : state) {
    if (frame % 10 == 0) ++frame;
    console->frameCounter = frame;
    Intensity = intensity;
    field->reset();
    addShowBalls(*field, frame);
    field->render(*console, 0.1, frame);
    benchmark::ClobberMemory();
    ++frame;
  }
  resetShowState();
}
// Arguments are Intensity × 1000: 1000.0 and the floor 1.0.
BENCHMARK(BM_FieldRebuildAndRender)->Arg(1000000)->Arg(1000)->Unit(benchmark::kMicrosecond);

struct Line {
  int x0, y0, x1, y1;
};

std::vector<Line> makeLines(bool farEnd) {
  std::mt19937 random(777);
  std::uniform_int_distribution<int> x(0, 319), y(0, 239);
  std::uniform_int_distribution<int> shortStep(-20, 20);
  std::uniform_int_distribution<int> far(INT32_MIN, INT32_MAX);
  std::vector<Line> lines(1024);
  for (Line& line : lines) {
    line.x0 = x(random);
    line.y0 = y(random);
    if (farEnd) {
      line.x1 = far(random);
      line.y1 = far(random);
    } else {
      line.x1 = line.x0 + shortStep(random);
      line.y1 = line.y0 + shortStep(random);
    }
  }
  return lines;
}

void drawLines(benchmark::State& state, bool farEnd) {
  auto console = makeConsole();
  const std::vector<Line> lines = makeLines(farEnd);
  std::size_t next = 0;
  for (auto _ : state) {
    const Line& line = lines[next++ % lines.size()];
    console->drawLine(line.x0, line.y0, line.x1, line.y1, 0x8060FF);
    benchmark::ClobberMemory();
  }
}

void BM_DrawLineShort(benchmark::State& state) {
  drawLines(state, false);
}
BENCHMARK(BM_DrawLineShort);

// One end on screen, the other anywhere in the 32-bit plane.
void BM_DrawLineFarEnd(benchmark::State& state) {
  drawLines(state, true);
}
BENCHMARK(BM_DrawLineFarEnd);

// Both ends 2^31 apart along a line that crosses the whole screen.
void BM_DrawLineAcrossTheRange(benchmark::State& state) {
  auto console = makeConsole();
  for (auto _ : state) {
    console->drawLine(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 0x8060FF);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_DrawLineAcrossTheRange);

}  // namespace
}  // namespace vornisk
