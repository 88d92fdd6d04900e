// Speed of the metaball wire net: one frame's field rebuild and render at the
// show's first and last Intensity, marking one frame's draws, drawing a net's
// lines, and drawLine for short lines and for lines with one end up to 2^31
// pixels off screen (which must cost their on-screen pixels, not their length).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <span>
#include <vector>

#include "console/demo_console.h"
#include "console/random.h"
#include "console/show_state.h"
#include "effects/line.h"
#include "metaballs/blob_field.h"
#include "metaballs/draws_ahead.h"
#include "metaballs/line_batch.h"
#include "metaballs/wire_net.h"
#include "ptc/headless.h"

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

// The crossings and the wire net of the show's fields, frame after frame, as
// the worker prepares them: the values set back, the field's values copied
// in (about 32 KB, in place of the balls), the crossings and the net.
void BM_CrossingsAndWireNet(benchmark::State& state) {
  constexpr int kFrames = 64;
  auto fields = std::make_unique<BlobField[]>(kFrames);
  for (int frame = 0; frame < kFrames; ++frame) {
    fields[frame].reset();
    addShowBalls(fields[frame], 2 * frame);  // each of the two slots takes every other frame
  }
  auto console = makeConsole();
  const Matrix camera = wireCamera(*console);
  auto work = std::make_unique<BlobField>();
  auto net = std::make_unique<WireNet>();
  auto scratch = std::make_unique<WireScratch>();
  work->reset();
  int frame = 0;
  for (auto _ : state) {
    work->resetKeepingCrossings();
    std::memcpy(work->value, fields[frame].value, sizeof work->value);
    frame = (frame + 1) % kFrames;
    buildWireNet(*work, camera, *net, *scratch);
    benchmark::DoNotOptimize(net->count);
  }
}
BENCHMARK(BM_CrossingsAndWireNet);

// The drawing thread's part of a frame on its own: the rolls, their draws and
// the lines of a prepared wire net (no helper), over the nets of the show's
// fields. Intensity is held at the given value.
void BM_DrawWireNet(benchmark::State& state) {
  resetShowState();
  constexpr int kFrames = 64;
  auto console = makeConsole();
  const Matrix camera = wireCamera(*console);
  auto field = std::make_unique<BlobField>();
  auto nets = std::make_unique<WireNet[]>(kFrames);
  auto scratch = std::make_unique<WireScratch>();
  for (int frame = 0; frame < kFrames; ++frame) {
    field->reset();
    addShowBalls(*field, 1 + frame);
    buildWireNet(*field, camera, nets[frame], *scratch);
  }
  auto lines = std::make_unique<LineBatch>();
  auto draws = std::make_unique<DrawsAhead>();
  const float intensity = static_cast<float>(state.range(0)) / 1000.0f;
  seedRandom(12345);
  int frame = 0;
  for (auto _ : state) {
    Intensity = intensity;
    field->drawWireNet(*console, nets[frame], *lines, *draws);
    frame = (frame + 1) % kFrames;
    benchmark::ClobberMemory();
  }
  resetShowState();
}
BENCHMARK(BM_DrawWireNet)->Arg(1000000)->Arg(26834)->Arg(1000)->Unit(benchmark::kMicrosecond);

// The lines of the show's wire nets, as they are, through drawLinesInto: about
// 900 short lines a frame, drawn by one thread.
void BM_DrawNetLines(benchmark::State& state) {
  constexpr int kFrames = 64;
  auto console = makeConsole();
  const Matrix camera = wireCamera(*console);
  auto field = std::make_unique<BlobField>();
  auto net = std::make_unique<WireNet>();
  auto scratch = std::make_unique<WireScratch>();
  std::vector<std::vector<ShortLineEnds>> frames(kFrames);
  std::size_t total = 0;
  for (int frame = 0; frame < kFrames; ++frame) {
    field->reset();
    addShowBalls(*field, 1 + 97 * frame);
    buildWireNet(*field, camera, *net, *scratch);
    for (const WireCell& cell : std::span(net->cells, static_cast<std::size_t>(net->count))) {
      for (int family = 0; family < 3; ++family) {
        if ((cell.faces >> family & 1u) == 0) continue;
        const PixelPoint(&ends)[2] = cell.ends[family];
        frames[static_cast<std::size_t>(frame)].push_back(
            {static_cast<std::int16_t>(ends[0].x), static_cast<std::int16_t>(ends[0].y),
             static_cast<std::int16_t>(ends[1].x), static_cast<std::int16_t>(ends[1].y)});
      }
    }
    total += frames[static_cast<std::size_t>(frame)].size();
  }
  const auto near = std::make_unique<NearLineSteps>(console->width);
  std::size_t frame = 0;
  for (auto _ : state) {
    const std::vector<ShortLineEnds>& lines = frames[frame];
    drawLinesInto(console->pixels, console->width, console->height, *near, lines.data(),
                  lines.size(), 0x8060FF);
    frame = (frame + 1) % kFrames;
    benchmark::ClobberMemory();
  }
  state.counters["lines"] = static_cast<double>(total) / kFrames;
}
BENCHMARK(BM_DrawNetLines)->Unit(benchmark::kMicrosecond);

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

// Marking a frame's draws (31,000, the colour roll and nine rolls a cell) for
// the candidate rolls and clearing reset rolls, at Intensity × 1000 =
// state.range(0); 26834 marks spikes apart from jitter, as most of the show does.
void BM_MarkFrameDraws(benchmark::State& state) {
  const double intensity = static_cast<double>(state.range(0)) / 1000.0;
  const auto modulus = [intensity](double factor) {
    return static_cast<std::uint32_t>(intensity * factor);
  };
  const auto below = static_cast<std::uint32_t>(std::ceil(std::min(intensity, 1000.0)));
  const draws_detail::Marks marks(modulus(100.0), modulus(1000.0), below);
  auto draws = std::make_unique<DrawsAhead>();
  constexpr std::size_t kFrameDraws = 1 + 9 * 3375;
  std::uint32_t state32 = 12345;
  for (auto _ : state) {
    draws->start(state32, marks);
    benchmark::DoNotOptimize(draws->nextCandidate(kFrameDraws - 1, kFrameDraws));
    draws->finish();
    state32 = draws->stateAfter(kFrameDraws);
  }
}
BENCHMARK(BM_MarkFrameDraws)->Arg(1000000)->Arg(26834)->Arg(1000)->Unit(benchmark::kMicrosecond);

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
