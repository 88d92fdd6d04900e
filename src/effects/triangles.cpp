// Eight outlined copies of one small triangle: all spin by the same angle about
// their own centres, and the centres follow one Lissajous path, each copy three
// frames further along it, so they form a chain in shades of green.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "console/demo_console.h"
#include "effects/effects.h"
#include "effects/line.h"
#include "effects/phase_memo.h"
#include "geometry/matrix.h"
#include "geometry/trig.h"
#include "geometry/vector.h"

namespace vornisk {

namespace {

// The chain's colours run from 0x00FE01 in steps of 10 while below 65105: eight copies.
constexpr std::uint32_t kFirstColour = 65025;
constexpr std::uint32_t kColourEnd = 65105;
constexpr std::uint32_t kColourStep = 10;
constexpr int kPhaseStep = 3;  // frames along the path between neighbouring copies

// A corner in pixels: coordinates truncate toward zero.
struct Corner {
  int x, y;
};
Corner pixelCorner(const Vector& point) {
  return {static_cast<int>(point.x), static_cast<int>(point.y)};
}

// The outline a → b → c, marked drawn as one box: a triangle's lines lie
// within its corners' box, and one mark costs less than three.
void drawOutline(DemoConsole& console, Corner a, Corner b, Corner c, std::uint32_t colour) {
  const auto line = [&console, colour](Corner from, Corner to) {
    drawLineInto(console.pixels, console.width, console.height, from.x, from.y, to.x, to.y, colour);
  };
  line(a, b);
  line(b, c);
  line(c, a);
  console.markDrawnBetween(std::min({a.x, b.x, c.x}), std::min({a.y, b.y, c.y}),
                           std::max({a.x, b.x, c.x}), std::max({a.y, b.y, c.y}));
}

// A point of the centres' path.
struct PathPoint {
  double x = 0.0, y = 0.0;
};

// The point at `phase` (frame counter plus offset). Each copy is three frames
// behind the next, so one frame's eight phases are mostly the ones the frame
// three before used: with the last 32 kept, a frame works out about one new
// point instead of eight (a cosine and a sine each).
const PathPoint& pathPoint(int phase) {
  thread_local PhaseMemo<PathPoint, 32> kept;
  return kept.at(phase, [](int which) {
    // The phase is an integer sum, converted once. The angle factors are
    // applied as written, p × 10 / 257 evaluated left to right
    // ((p × 10) / 257), not as p × (10 / 257): the two differ in the last bit.
    const double p = static_cast<double>(which);
    return PathPoint{160.0 + 80.0 * portableCos(p * 10.0 / 257.0),
                     120.0 + 40.0 * portableSin(p * 5.0 / 86.0)};
  });
}

}  // namespace

void drawSpinningTriangles(DemoConsole& console) {
  // Real division: the turn is smooth, one revolution every 60π frames.
  const double theta = static_cast<double>(console.frameCounter) / 30.0;
  // Every copy turns by the same angle: one rotation serves them all.
  const Matrix rotation(RotateZ, theta);
  int phaseOffset = 0;
  for (std::uint32_t colour = kFirstColour; colour < kColourEnd;
       colour += kColourStep, phaseOffset += kPhaseStep) {
    // The model, in pixels with y upward, made afresh for every copy.
    const Vector v1(10.0, 5.0, 0.0);
    const Vector v2(-20.0, -2.0, 0.0);
    const Vector v3(0.0, -20.0, 0.0);

    const PathPoint& centre = pathPoint(console.frameCounter + phaseOffset);
    const Matrix move(Translate, centre.x, centre.y, 0.0);

    // The rotation acts first, then the move to the centre.
    const Matrix m = move.times(rotation);
    drawOutline(console, pixelCorner(m.transform(v1)), pixelCorner(m.transform(v2)),
                pixelCorner(m.transform(v3)), colour);
  }
}

}  // namespace vornisk
