// The metaball wire net: every contour segment becomes one line through the
// fixed camera, with the random disturbances (flash colour, jittered ends,
// collapse and stretch spikes) whose odds rise as Intensity falls. This is the
// one place Intensity is lowered. Nothing here allocates.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "console/demo_console.h"
#include "console/random.h"
#include "console/show_state.h"
#include "geometry/matrix.h"
#include "geometry/vector.h"
#include "metaballs/blob_field.h"
#include "metaballs/cpu_level.h"
#include "metaballs/draws_ahead.h"
#include "metaballs/line_batch.h"
#include "metaballs/pixel_coordinate.h"
#include "metaballs/wire_net.h"

namespace vornisk {

namespace {

constexpr std::uint32_t kContourColour = 0x8060FF;
constexpr std::uint32_t kFlashColour = 0x0000FF;

// trunc(Intensity × k) as the modulus of a roll. The product is formed in
// double, where a float times a small integer is exact: a float product would
// round some Intensity values up across an integer (980.099976 × 10 → 9801).
// Intensity never drops below 1, so the modulus is at least 10.
std::uint32_t rollModulus(double factor) {
  return static_cast<std::uint32_t>(static_cast<double>(Intensity) * factor);
}

bool rollHits(double factor) {
  return nextRandom() % rollModulus(factor) == 0;
}

void age(int frameCounter) {
  if (frameCounter % 10 != 0) return;
  // The product is formed in double and stored back as a float.
  Intensity = static_cast<float>(static_cast<double>(Intensity) * 0.99);
  if (Intensity < 1.0f) Intensity = 1.0f;
}

void resetJitter() {
  for (float& offset : jitter)
    offset = 0.0f;
}

// The lines of the faces in `faces` (bit f: family f) of a cell without a
// spike, under the jitter `offsets`: the XY line moves at both ends, the XZ
// line not at all, the YZ line at its first end.
[[gnu::always_inline]] inline void addJitteredFaces(LineBatch& lines, const WireCell& cell,
                                                    unsigned faces, const float (&offsets)[6]) {
  if ((faces & 1u) != 0) {
    const PixelPoint from = cell.ends[0][0], to = cell.ends[0][1];
    lines.add(jitteredPixelCoordinate(from.x, offsets[0]),
              jitteredPixelCoordinate(from.y, offsets[1]),
              jitteredPixelCoordinate(to.x, offsets[2]), jitteredPixelCoordinate(to.y, offsets[3]));
  }
  if ((faces & 2u) != 0) {
    const PixelPoint from = cell.ends[1][0], to = cell.ends[1][1];
    lines.add(from.x, from.y, to.x, to.y);
  }
  if ((faces & 4u) != 0) {
    const PixelPoint from = cell.ends[2][0], to = cell.ends[2][1];
    lines.add(jitteredPixelCoordinate(from.x, offsets[4]),
              jitteredPixelCoordinate(from.y, offsets[5]), to.x, to.y);
  }
}

// Whether every end of `net` lies within ±bound.
bool endsWithin(const WireNet& net, std::int32_t bound) {
  return net.low.x >= -bound && net.low.y >= -bound && net.high.x <= bound && net.high.y <= bound;
}

// Whether the offsets let a small net go to the batch a run of cells at a time.
bool smallOffsets(const float (&offsets)[6]) {
  return std::all_of(std::begin(offsets), std::end(offsets), [](float o) {
    return std::fabs(o) <= LineBatch::kSmallOffset;  // false for NaN
  });
}

PixelPoint pixelsOf(const Vector& projected) {
  return {toPixelCoordinate(projected.x), toPixelCoordinate(projected.y)};
}

// Marks where the lines of `net` can land: within its ends' bounds, moved by
// at most the jitter (the rolled offsets lie within ±10). Lines thrown by a
// spike are marked one by one.
void markNetDrawn(DemoConsole& console, const WireNet& net) {
  if (net.count == 0) return;
  // Beyond this an offset moves ends by more than its size (float rounding);
  // ends within ±2^24 are exact in a float.
  constexpr float kNearReach = 1048576.0f;
  float reach = 10.0f;
  bool near = endsWithin(net, 1 << 24);
  for (const float offset : jitter) {
    near &= std::fabs(offset) <= kNearReach;  // false for NaN
    reach = std::max(reach, std::fabs(offset));
  }
  if (!near) {
    console.markDrawn(0, 0, console.width, console.height);
    return;
  }
  // An end moves by less than the offset plus one for the float sum's
  // rounding and one for the truncation.
  const long long pad = static_cast<long long>(reach) + 3;
  console.markDrawnBetween(net.low.x - pad, net.low.y - pad, net.high.x + pad, net.high.y + pad);
}

}  // namespace

void BlobField::renderRollByRoll(DemoConsole& console) {
  const Matrix camera = wireCamera(console);

  computeCrossings();

  const std::uint32_t colour = rollHits(10.0) ? kFlashColour : kContourColour;
  auto project = [&](const ContourPoint& point) {
    return pixelsOf(projectContourPoint(camera, point));
  };

  for (int z = 0; z < kCells; ++z) {
    for (int y = 0; y < kCells; ++y) {
      for (int x = 0; x < kCells; ++x) {
        // XY face: jittered at both ends and open to spikes. Its rolls are made
        // whether or not the face has a segment, so the draw sequence depends
        // only on Intensity and the draws themselves.
        const std::optional<ContourSegment> xy = faceSegment(FaceFamily::XY, x, y, z);
        ContourPoint p = xy ? xy->first : ContourPoint{};
        ContourPoint q = xy ? xy->second : ContourPoint{};
        for (float& offset : jitter) {
          // The offset is drawn only on a hit, so a miss costs one draw.
          if (rollHits(100.0)) {
            offset = static_cast<float>(nextRandom() % 10000) * 0.002f - 10.0f;
          }
        }
        // Collapse to the lattice origin; stretch from the (maybe collapsed) first end.
        if (rollHits(1000.0)) p = {0.0 * p.x, 0.0 * p.y, 0.0 * p.z};
        if (rollHits(1000.0)) q = {3.0 * p.x, 3.0 * p.y, 3.0 * p.z};
        if (xy) {
          const PixelPoint from = project(p);
          const PixelPoint to = project(q);
          console.drawLine(jitteredPixelCoordinate(from.x, jitter[0]),
                           jitteredPixelCoordinate(from.y, jitter[1]),
                           jitteredPixelCoordinate(to.x, jitter[2]),
                           jitteredPixelCoordinate(to.y, jitter[3]), colour);
        }

        // XZ face: never disturbed.
        if (const std::optional<ContourSegment> xz = faceSegment(FaceFamily::XZ, x, y, z)) {
          const PixelPoint from = project(xz->first);
          const PixelPoint to = project(xz->second);
          console.drawLine(from.x, from.y, to.x, to.y, colour);
        }

        // YZ face: only its first end is jittered.
        if (const std::optional<ContourSegment> yz = faceSegment(FaceFamily::YZ, x, y, z)) {
          const PixelPoint from = project(yz->first);
          const PixelPoint to = project(yz->second);
          console.drawLine(jitteredPixelCoordinate(from.x, jitter[4]),
                           jitteredPixelCoordinate(from.y, jitter[5]), to.x, to.y, colour);
        }

        // The jitter lasts into the following cells until this roll succeeds.
        const std::uint32_t r = nextRandom() % 1000;
        if (static_cast<float>(r) < Intensity) resetJitter();
      }
    }
  }
  resetJitter();
}

// ---------------------------------------------------------------------------
// Rendering from draws made ahead.

namespace draws_detail {

// The lanes as vectors of eight: GCC's and Clang's vector extension, lowered to
// whatever vector unit the variant is built for (cpu_level.h); integer work
// only, so every level gives the same bits. Eight words fill an AVX2
// register; wider generic vectors are split by GCC through the stack where the
// unit is narrower, and AVX-512 gains little from them on this work.
constexpr int kGroupLanes = 8;
constexpr int kGroups = kLanes / kGroupLanes;
static_assert(kLanes % kGroupLanes == 0);
typedef std::uint32_t LaneWords __attribute__((vector_size(kGroupLanes * sizeof(std::uint32_t))));

Marks::Marks(std::uint32_t jitterModulus, std::uint32_t spikeModulus, std::uint32_t below)
    : jitterFactor(drawDivisibilityFactor(jitterModulus)),
      spikeFactor(drawDivisibilityFactor(spikeModulus)),
      resetBelow(below),
      resetBound(below < 1000 ? drawRemainderBound(below) : 0),
      // Below 32768 a spike modulus hits only multiples of itself, which
      // are the jitter's when it is a multiple of the jitter modulus; above,
      // it hits only the draw 0, which every modulus divides.
      spikeAmongJitter(spikeModulus > random_detail::kLargestDraw ||
                       spikeModulus % jitterModulus == 0) {
  // At most the draws with r = 0 clear, and those are multiples of 1000.
  const bool onlyThousands =
      below == 0 || (below == 1 && (1000 % jitterModulus == 0 || 1000 % spikeModulus == 0));
  resets = below >= 1000             ? Resets::All
           : onlyThousands           ? Resets::AmongCandidates
           : below >= kOneByOneBelow ? Resets::OneByOne
                                     : Resets::Flagged;
}

template <bool kSpikes, bool kResets>
[[gnu::always_inline]] inline void fillBlockWith(const std::uint32_t* laneStates,
                                                 const Marks& marks, std::uint32_t* candidates,
                                                 std::uint32_t* resets) {
  // Each lane's run is made as two halves at once, the second from its first
  // state sixteen steps on: with the groups, independent chains of multiplies.
  constexpr int kHalf = kRun / 2;
  constexpr Steps kToSecondHalf = stepsOf(kHalf);
  const std::uint32_t jf = marks.jitterFactor;
  const std::uint32_t sf = marks.spikeFactor;
  const std::uint32_t t = marks.resetBound;
  LaneWords first[kGroups], second[kGroups];
  LaneWords candidateBits[kGroups] = {}, resetBits[kGroups] = {};
  for (int g = 0; g < kGroups; ++g) {
    std::memcpy(&first[g], laneStates + g * kGroupLanes, sizeof first[g]);
    second[g] = first[g] * kToSecondHalf.a + kToSecondHalf.c;
  }
  auto mark = [&](LaneWords lanes, std::uint32_t bit, int g) {
    const LaneWords d = (lanes >> 16) & random_detail::kLargestDraw;
    // m divides d exactly when d·f < f (drawDivisibleBy); a comparison gives
    // all ones in a lane where it holds.
    LaneWords divisible = reinterpret_cast<LaneWords>(d * jf < jf);
    if constexpr (kSpikes) divisible |= reinterpret_cast<LaneWords>(d * sf < sf);
    candidateBits[g] |= divisible & bit;
    if constexpr (kResets) {
      // d % 1000 < resetBelow as drawRemainderBelow decides it.
      resetBits[g] |= reinterpret_cast<LaneWords>(d * kThousandthFactor < t) & bit;
    }
  };
  for (int i = 0; i < kHalf; ++i) {
#pragma GCC unroll 2  // kGroups: its arrays then stay in registers
    for (int g = 0; g < kGroups; ++g) {
      mark(first[g], 1u << i, g);
      mark(second[g], 1u << (i + kHalf), g);
      first[g] = first[g] * kMultiplier + kIncrement;
      second[g] = second[g] * kMultiplier + kIncrement;
    }
  }
  for (int g = 0; g < kGroups; ++g) {
    std::memcpy(candidates + g * kGroupLanes, &candidateBits[g], sizeof candidateBits[g]);
    if constexpr (kResets)
      std::memcpy(resets + g * kGroupLanes, &resetBits[g], sizeof resetBits[g]);
  }
}

// One function per kind of block and level, so that each loop holds only its
// own work.
using FillBlock = void (*)(const std::uint32_t*, const Marks&, std::uint32_t*, std::uint32_t*);

template <bool kSpikes, bool kResets>
VORNISK_FOR_X86_64_V4 void fillBlockV4(const std::uint32_t* laneStates, const Marks& marks,
                                       std::uint32_t* candidates, std::uint32_t* resets) {
  fillBlockWith<kSpikes, kResets>(laneStates, marks, candidates, resets);
}

template <bool kSpikes, bool kResets>
VORNISK_FOR_X86_64_V3 void fillBlockV3(const std::uint32_t* laneStates, const Marks& marks,
                                       std::uint32_t* candidates, std::uint32_t* resets) {
  fillBlockWith<kSpikes, kResets>(laneStates, marks, candidates, resets);
}

template <bool kSpikes, bool kResets>
void fillBlockBaseline(const std::uint32_t* laneStates, const Marks& marks,
                       std::uint32_t* candidates, std::uint32_t* resets) {
  fillBlockWith<kSpikes, kResets>(laneStates, marks, candidates, resets);
}

template <bool kSpikes, bool kResets>
FillBlock fillBlockFor() {
  return cpu::pick<FillBlock>(fillBlockV4<kSpikes, kResets>, fillBlockV3<kSpikes, kResets>,
                              fillBlockBaseline<kSpikes, kResets>);
}

void fillBlock(const std::uint32_t* laneStates, const Marks& marks, std::uint32_t* candidates,
               std::uint32_t* resets) {
  // The four kinds' variants for this processor, looked up once.
  static const FillBlock kinds[2][2] = {{fillBlockFor<false, false>(), fillBlockFor<false, true>()},
                                        {fillBlockFor<true, false>(), fillBlockFor<true, true>()}};
  const bool spikes = !marks.spikeAmongJitter;
  const bool flags = marks.resets == Marks::Resets::Flagged;
  kinds[spikes][flags](laneStates, marks, candidates, resets);
}

}  // namespace draws_detail

namespace {

constexpr int kCellTotal = WireNet::kCellTotal;
constexpr int kDrawsPerQuietCell = 9;  // six jitter rolls, two spikes, the reset roll
// At most one colour roll and fifteen draws per cell (every jitter roll a hit).
// render()'s own draws, net and lines; a show prepares its nets ahead.
DrawsAhead frameDraws;
WireNet frameNet;
WireScratch frameNetScratch;
LineBatch frameLines;

// How many reset rolls r = 0..999 clear the jitter (float(r) < Intensity):
// every r below ⌈Intensity⌉, as r is exact in a float.
std::uint32_t resetsBelow() {
  if (!(Intensity > 0.0f)) return 0;
  if (Intensity >= 1000.0f) return 1000;
  return static_cast<std::uint32_t>(std::ceil(Intensity));
}

}  // namespace

bool BlobField::aheadPossible() {
  return random_detail::script == nullptr && rollModulus(10.0) >= 1 && rollModulus(100.0) >= 2 &&
         rollModulus(1000.0) >= 2;
}

void BlobField::renderAhead(DemoConsole& console) {
  buildWireNet(*this, wireCamera(console), frameNet, frameNetScratch);
  drawWireNet(console, frameNet, frameLines, frameDraws);
}

void BlobField::drawWireNet(DemoConsole& console, const WireNet& net, LineBatch& lines,
                            DrawsAhead& draws) const {
  const draws_detail::Marks marks(rollModulus(100.0), rollModulus(1000.0), resetsBelow());
  draws.start(random_detail::state, marks);
  std::size_t next = 0;  // the position of the next draw
  // A roll hits when its modulus divides the draw (drawDivisibleBy, no division).
  auto hits = [&](std::uint32_t factor) {
    const std::size_t position = next++;
    return draws.candidate(position) && drawDivisibleBy(draws.at(position), factor);
  };
  const std::uint32_t colour =
      draws.at(next++) % rollModulus(10.0) == 0 ? kFlashColour : kContourColour;
  // One colour for every line: the batch may draw them in any order.
  lines.open(console.pixels, console.width, console.height, colour);
  markNetDrawn(console, net);

  bool jittered =
      std::any_of(std::begin(jitter), std::end(jitter), [](float o) { return o != 0.0f; });
  const bool small = endsWithin(net, LineBatch::kSmallEnd);
  std::size_t candidate = 0;  // the first candidate at or after `next`, once looked up
  int listed = 0;             // the next cell of the net
  for (std::size_t cell = 0; cell < kCellTotal;) {
    if (candidate < next) {
      candidate = draws.nextCandidate(next, next + kDrawsPerQuietCell * (kCellTotal - cell));
    }
    // Every cell before the one whose rolls hold the next candidate draws its
    // faces under the jitter as it stands: nothing there can set a jitter or
    // throw a spike, and only a reset roll can change it, by clearing it.
    const std::size_t before = std::min((candidate - next) / kDrawsPerQuietCell, kCellTotal - cell);
    if (before > 0) {
      std::size_t run = before;
      bool cleared = false;
      // The run's reset rolls all come before the next candidate: where only
      // candidates clear, none of them does.
      if (jittered && !draws.onlyCandidatesReset()) {
        const std::size_t first =
            draws.firstReset(next + kDrawsPerQuietCell - 1, kDrawsPerQuietCell, before);
        if (first < before) {
          run = first + 1;
          cleared = true;
        }
      }
      const std::size_t end = cell + run;
      const float offsets[6] = {jitter[0], jitter[1], jitter[2], jitter[3], jitter[4], jitter[5]};
      if (small && smallOffsets(offsets)) {
        const int runStart = listed;
        while (listed < net.count && net.cells[listed].index < end)
          ++listed;
        lines.addCells(net.cells + runStart, static_cast<std::uint32_t>(listed - runStart),
                       jittered, offsets);
      } else {
        for (; listed < net.count && net.cells[listed].index < end; ++listed) {
          const WireCell& faces = net.cells[listed];
          addJitteredFaces(lines, faces, faces.faces, offsets);
        }
      }
      if (cleared) {
        resetJitter();
        jittered = false;
      }
      next += kDrawsPerQuietCell * run;
      cell = end;
      continue;
    }

    // The cell whose rolls hold the candidate, roll by roll.
    const WireCell* faces =
        listed < net.count && net.cells[listed].index == cell ? &net.cells[listed++] : nullptr;
    bool collapse = false;
    bool stretch = false;
    if (candidate < next + kDrawsPerQuietCell - 1) {
      for (float& offset : jitter) {
        if (hits(marks.jitterFactor)) {
          offset = static_cast<float>(draws.at(next++) % 10000) * 0.002f - 10.0f;
          jittered = true;
        }
      }
      collapse = hits(marks.spikeFactor);
      stretch = hits(marks.spikeFactor);
    } else {
      next += kDrawsPerQuietCell - 1;  // only its reset roll is a candidate
    }
    if (faces != nullptr) {
      unsigned unspiked = faces->faces;
      if ((unspiked & 1u) != 0 && (collapse || stretch)) {
        const int x = static_cast<int>(cell % kCells);
        const int y = static_cast<int>(cell / kCells % kCells);
        const int z = static_cast<int>(cell / (kCells * kCells));
        const ContourSegment xy = *faceSegment(FaceFamily::XY, x, y, z);
        ContourPoint p = xy.first;
        ContourPoint q = xy.second;
        if (collapse) p = {0.0 * p.x, 0.0 * p.y, 0.0 * p.z};
        if (stretch) q = {3.0 * p.x, 3.0 * p.y, 3.0 * p.z};
        const PixelPoint from = pixelsOf(projectContourPoint(net.camera, p));
        const PixelPoint to = pixelsOf(projectContourPoint(net.camera, q));
        const std::int32_t x0 = jitteredPixelCoordinate(from.x, jitter[0]);
        const std::int32_t y0 = jitteredPixelCoordinate(from.y, jitter[1]);
        const std::int32_t x1 = jitteredPixelCoordinate(to.x, jitter[2]);
        const std::int32_t y1 = jitteredPixelCoordinate(to.y, jitter[3]);
        lines.add(x0, y0, x1, y1);
        console.markDrawnBetween(x0, y0, x1, y1);
        unspiked &= ~1u;
      }
      addJitteredFaces(lines, *faces, unspiked, jitter);
    }
    if (draws.resets(next++)) {
      resetJitter();
      jittered = false;
    }
    ++cell;
  }
  draws.finish();
  lines.close();
  resetJitter();
  random_detail::state = draws.stateAfter(next);
}

void BlobField::render(DemoConsole& console, double /*level*/, int /*frame*/) {
  age(console.frameCounter);
  if (aheadPossible()) {
    renderAhead(console);
  } else {
    renderRollByRoll(console);
  }
}

void BlobField::renderPrepared(DemoConsole& console, const WireNet& net, LineBatch& lines,
                               DrawsAhead& draws) {
  age(console.frameCounter);
  if (aheadPossible()) {
    drawWireNet(console, net, lines, draws);
  } else {
    renderRollByRoll(console);
  }
}

}  // namespace vornisk
