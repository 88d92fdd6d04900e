// The metaball wire net: every contour segment becomes one line through the
// fixed camera, with the random disturbances (flash colour, jittered ends,
// collapse and stretch spikes) whose odds rise as Intensity falls. This is the
// one place Intensity is lowered. Nothing here allocates.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "geometry/matrix.h"
#include "geometry/vector.h"
#include "metaballs/blob_field.h"
#include "metaballs/pixel_coordinate.h"
#include "shell/demo_console.h"
#include "shell/random.h"
#include "shell/show_state.h"

namespace vornisk {

namespace {

constexpr std::uint32_t kContourColour = 0x8060FF;
constexpr std::uint32_t kFlashColour = 0x0000FF;
// Contour points carry this w; after the divide by w the lattice is 8.75 world
// units per cell (the translation by −64 acts before the divide).
constexpr double kPointWeight = 0.11428571428571428;
constexpr double kLatticeOffset = -64.0;

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

Vector weighted(const ContourPoint& point) {
  return Vector(point.x, point.y, point.z, kPointWeight);
}

Vector project(const Matrix& camera, const Vector& point) {
  Vector projected = camera.transform(point);
  projected.homogenize();
  return projected;
}

Matrix cameraOf(const DemoConsole& console) {
  const Matrix view =
      console.viewTransform(320.0, 240.0, Vector(0.0, 0.0, 0.0, 1.0), Vector(0.0, 0.0, 1.0, 1.0),
                            Vector(0.0, 0.0, 300.0, 1.0));
  return view.times(Matrix(Translate, kLatticeOffset, kLatticeOffset, kLatticeOffset));
}

void resetJitter() {
  for (float& offset : jitter)
    offset = 0.0f;
}

}  // namespace

void BlobField::renderRollByRoll(DemoConsole& console) {
  const Matrix camera = cameraOf(console);

  computeCrossings();

  const std::uint32_t colour = rollHits(10.0) ? kFlashColour : kContourColour;

  for (int z = 0; z < kCells; ++z) {
    for (int y = 0; y < kCells; ++y) {
      for (int x = 0; x < kCells; ++x) {
        // XY face: jittered at both ends and open to spikes. Its rolls are made
        // whether or not the face has a segment, so the draw sequence depends
        // only on Intensity and the draws themselves.
        const std::optional<ContourSegment> xy = faceSegment(FaceFamily::XY, x, y, z);
        Vector p = xy ? weighted(xy->first) : Vector();
        Vector q = xy ? weighted(xy->second) : Vector();
        for (float& offset : jitter) {
          // The offset is drawn only on a hit, so a miss costs one draw.
          if (rollHits(100.0)) {
            offset = static_cast<float>(nextRandom() % 10000) * 0.002f - 10.0f;
          }
        }
        if (rollHits(1000.0)) p = p.scaled(0.0);  // collapse to the lattice origin
        if (rollHits(1000.0)) q = p.scaled(3.0);  // stretch from the (maybe collapsed) first end
        if (xy) {
          const Vector from = project(camera, p);
          const Vector to = project(camera, q);
          console.drawLine(jitteredPixelCoordinate(toPixelCoordinate(from.x), jitter[0]),
                           jitteredPixelCoordinate(toPixelCoordinate(from.y), jitter[1]),
                           jitteredPixelCoordinate(toPixelCoordinate(to.x), jitter[2]),
                           jitteredPixelCoordinate(toPixelCoordinate(to.y), jitter[3]), colour);
        }

        // XZ face: never disturbed.
        if (const std::optional<ContourSegment> xz = faceSegment(FaceFamily::XZ, x, y, z)) {
          const Vector from = project(camera, weighted(xz->first));
          const Vector to = project(camera, weighted(xz->second));
          console.drawLine(toPixelCoordinate(from.x), toPixelCoordinate(from.y),
                           toPixelCoordinate(to.x), toPixelCoordinate(to.y), colour);
        }

        // YZ face: only its first end is jittered.
        if (const std::optional<ContourSegment> yz = faceSegment(FaceFamily::YZ, x, y, z)) {
          const Vector from = project(camera, weighted(yz->first));
          const Vector to = project(camera, weighted(yz->second));
          console.drawLine(jitteredPixelCoordinate(toPixelCoordinate(from.x), jitter[4]),
                           jitteredPixelCoordinate(toPixelCoordinate(from.y), jitter[5]),
                           toPixelCoordinate(to.x), toPixelCoordinate(to.y), colour);
        }

        // The jitter lasts into the following cells until this roll succeeds.
        const std::uint32_t r = nextRandom() % 1000;
        if (static_cast<float>(r) < Intensity) resetJitter();
      }
    }
  }
  resetJitter();
}

namespace {

// ---------------------------------------------------------------------------
// Rendering from draws made ahead.
//
// A frame makes some 31,000 draws, nearly all of them misses that change
// nothing, in cells nearly all of which have no contour. The generator's draws
// are made in blocks on 16 lanes (lane l yields every 16th draw, by the
// generator's step applied 16 times), each marked as a candidate when a jitter
// or spike modulus divides it. A run of cells without contour and without a
// candidate among its rolls then costs nothing beyond its position in the
// block, and only a candidate is ever divided.

constexpr std::uint32_t kMultiplier = 214013u;
constexpr std::uint32_t kIncrement = 2531011u;
constexpr int kCellTotal = BlobField::kCells * BlobField::kCells * BlobField::kCells;
constexpr int kDrawsPerQuietCell = 9;  // six jitter rolls, two spikes, the reset roll

// The generator's step taken n times, as one map s → a·s + c (mod 2^32).
struct Steps {
  std::uint32_t a = 1;
  std::uint32_t c = 0;
};

constexpr Steps stepsOf(std::uint64_t n) {
  Steps result;
  Steps power{kMultiplier, kIncrement};
  for (; n != 0; n >>= 1) {
    if ((n & 1) != 0) result = {power.a * result.a, power.a * result.c + power.c};
    power = {power.a * power.a, power.a * power.c + power.c};
  }
  return result;
}

constexpr int kLanes = 16;
constexpr std::size_t kChunk = 512;
// At most one colour roll and fifteen draws per cell (every jitter roll a hit).
constexpr std::size_t kMostDraws = 1 + 15 * static_cast<std::size_t>(kCellTotal);
constexpr std::size_t kCapacity = (kMostDraws + kChunk - 1) / kChunk * kChunk;

// Integer work only, so every x86-64 variant gives the same bits.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define VORNISK_LANE_CLONES \
  __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define VORNISK_LANE_CLONES
#endif

// The lanes as one vector: GCC's and Clang's vector extension, lowered to
// whatever vector unit the clone is built for. Each draw is stored in 16 bits
// with its candidate mark in the top bit.
typedef std::uint32_t LaneWords __attribute__((vector_size(kLanes * sizeof(std::uint32_t))));
typedef std::uint16_t LaneDraws __attribute__((vector_size(kLanes * sizeof(std::uint16_t))));
constexpr std::uint16_t kCandidateMark = 0x8000;

VORNISK_LANE_CLONES void fillDraws(std::uint32_t* laneStates, Steps lanesStep,
                                   std::uint32_t jitterFactor, std::uint32_t spikeFactor,
                                   std::uint16_t* draws, std::size_t count) {
  LaneWords lanes;
  std::memcpy(&lanes, laneStates, sizeof lanes);
  for (std::size_t i = 0; i < count; i += kLanes) {
    const LaneWords d = (lanes >> 16) & 0x7FFFu;
    // a < b (unsigned) as the borrow of a − b in the top bit: only arithmetic
    // and logic, which every vector unit has for every lane width.
    const LaneWords a = d * jitterFactor;
    const LaneWords b = d * spikeFactor;
    const LaneWords divisible = (~a & jitterFactor) | (~(a ^ jitterFactor) & (a - jitterFactor)) |
                                (~b & spikeFactor) | (~(b ^ spikeFactor) & (b - spikeFactor));
    const LaneWords marked = d | ((divisible >> 16) & kCandidateMark);
    const LaneDraws narrow = __builtin_convertvector(marked, LaneDraws);
    std::memcpy(draws + i, &narrow, sizeof narrow);
    lanes = lanes * lanesStep.a + lanesStep.c;
  }
  std::memcpy(laneStates, &lanes, sizeof lanes);
}

// The draws of one frame, made a chunk at a time as positions are asked for.
class DrawsAhead {
 public:
  void start(std::uint32_t state, std::uint32_t jitterModulus, std::uint32_t spikeModulus) {
    start_ = state;
    for (std::uint32_t& lane : lanes_) {
      state = state * kMultiplier + kIncrement;
      lane = state;
    }
    jitterFactor_ = drawDivisibilityFactor(jitterModulus);
    spikeFactor_ = drawDivisibilityFactor(spikeModulus);
    filled_ = 0;
  }
  std::uint32_t at(std::size_t position) {
    reach(position + 1);
    return draws_[position] & ~kCandidateMark;
  }
  bool candidate(std::size_t position) {
    reach(position + 1);
    return (draws_[position] & kCandidateMark) != 0;
  }
  // The first candidate at or after `position`, or `limit` if none comes before it.
  std::size_t nextCandidate(std::size_t position, std::size_t limit) {
    limit = std::min(limit, kCapacity);
    while (position < limit) {
      reach(position + 1);
      // Within the group holding `position`, if the group has any candidate.
      const std::size_t group = position / kLanes;
      if ((groups_[group / 64] >> (group % 64) & 1) != 0) {
        for (const std::size_t end = (group + 1) * kLanes; position < end; ++position) {
          if ((draws_[position] & kCandidateMark) != 0) return std::min(position, limit);
        }
      }
      // Then whole groups, 64 at a time, as far as the draws are made.
      std::size_t next = group + 1;
      const std::size_t filledGroups = filled_ / kLanes;
      while (next < filledGroups) {
        const std::uint64_t bits = groups_[next / 64] >> (next % 64);
        if (bits != 0) {
          next += static_cast<std::size_t>(std::countr_zero(bits));
          break;
        }
        next = (next / 64 + 1) * 64;
      }
      position = std::min(next, filledGroups) * kLanes;
    }
    return limit;
  }
  // The generator's state once `count` draws are taken.
  std::uint32_t stateAfter(std::size_t count) const {
    const Steps steps = stepsOf(count);
    return steps.a * start_ + steps.c;
  }

 private:
  void reach(std::size_t count) {
    if (count > filled_) [[unlikely]]
      fill(count);
  }
  void fill(std::size_t count) {
    while (filled_ < count && filled_ < kCapacity) {
      fillDraws(lanes_, kLanesStep, jitterFactor_, spikeFactor_, draws_ + filled_, kChunk);
      // One bit per group of 16 draws: whether any of them is a candidate.
      for (std::size_t group = filled_ / kLanes; group < (filled_ + kChunk) / kLanes; ++group) {
        std::uint64_t marks = 0;
        for (int word = 0; word < 4; ++word) {
          std::uint64_t four;
          std::memcpy(&four, draws_ + group * kLanes + 4 * word, sizeof four);
          marks |= four;
        }
        const std::uint64_t bit = std::uint64_t{1} << (group % 64);
        if ((marks & 0x8000800080008000u) != 0) {
          groups_[group / 64] |= bit;
        } else {
          groups_[group / 64] &= ~bit;
        }
      }
      filled_ += kChunk;
    }
  }

  static constexpr Steps kLanesStep = stepsOf(kLanes);
  std::uint32_t start_ = 0;
  std::uint32_t lanes_[kLanes] = {};
  std::uint32_t jitterFactor_ = 0;
  std::uint32_t spikeFactor_ = 0;
  std::size_t filled_ = 0;
  std::uint16_t draws_[kCapacity] = {};
  std::uint64_t groups_[(kCapacity / kLanes + 63) / 64] = {};
};

struct PixelPoint {
  std::int32_t x, y;
};

constexpr int kLatticePoints = BlobField::kSize * BlobField::kSize * BlobField::kSize;
constexpr int latticeIndex(int x, int y, int z) {
  return (x * BlobField::kSize + y) * BlobField::kSize + z;
}

// Scratch of renderAhead, kept out of the frame path's allocations.
struct AheadScratch {
  DrawsAhead draws;
  // Per axis and lattice index (x·256 + y·16 + z): whether the edge's crossing
  // fraction is above 0, and if so its contour point through the camera.
  std::uint8_t crossed[3][kLatticePoints];
  PixelPoint edgePixels[3][kLatticePoints];
  // Bit c: cell c (in drawing order, x fastest) has an edge that changes sign.
  static constexpr std::size_t kTouchedWords = (kCellTotal + 63) / 64;
  std::uint64_t touchedCells[kTouchedWords];
};
AheadScratch scratch;

// The point a crossing places on its edge, formed as a face forms it.
ContourPoint edgePoint(int axis, int x, int y, int z, double fraction) {
  const double dx = axis == 0 ? 1.0 : 0.0;
  const double dy = axis == 1 ? 1.0 : 0.0;
  const double dz = axis == 2 ? 1.0 : 0.0;
  return {x + dx * fraction, y + dy * fraction, z + dz * fraction};
}

std::size_t nextTouchedCell(std::size_t cell) {
  std::size_t word = cell / 64;
  std::uint64_t bits = scratch.touchedCells[word] & (~std::uint64_t{0} << (cell % 64));
  while (bits == 0) {
    if (++word == AheadScratch::kTouchedWords) return kCellTotal;
    bits = scratch.touchedCells[word];
  }
  return word * 64 + static_cast<std::size_t>(std::countr_zero(bits));
}

// A face's four edges (bit 8, 4, 2, 1 of its case, as faceSegment names them)
// by axis and lattice index offset from the cell's own corner, and which two
// of them its segment joins, first end first.
struct FaceEdge {
  int axis, offset;
};
constexpr FaceEdge kFaceEdges[3][4] = {
    {{0, 0}, {1, 0}, {1, latticeIndex(1, 0, 0)}, {0, latticeIndex(0, 1, 0)}},  // XY
    {{0, 0}, {2, 0}, {2, latticeIndex(1, 0, 0)}, {0, latticeIndex(0, 0, 1)}},  // XZ
    {{1, 0}, {2, 0}, {2, latticeIndex(0, 1, 0)}, {1, latticeIndex(0, 0, 1)}},  // YZ
};
constexpr std::int8_t kSegmentEnds[16][2] = {
    {-1, -1}, {-1, -1}, {-1, -1}, {3, 2},   {-1, -1}, {1, 3},   {2, 1},   {-1, -1},
    {-1, -1}, {0, 3},   {0, 2},   {-1, -1}, {0, 1},   {-1, -1}, {-1, -1}, {0, 1}};

}  // namespace

bool BlobField::aheadPossible() {
  return random_detail::script == nullptr && rollModulus(10.0) >= 1 && rollModulus(100.0) >= 2 &&
         rollModulus(1000.0) >= 2;
}

void BlobField::renderAhead(DemoConsole& console) {
  const Matrix camera = cameraOf(console);
  computeCrossings();
  const double(*crossings[3])[kSize][kSize] = {crossX, crossY, crossZ};

  std::memset(scratch.crossed, 0, sizeof scratch.crossed);
  for (int axis = 0; axis < 3; ++axis) {
    for (int x = 0; x < kCells; ++x) {
      for (int y = 0; y < kCells; ++y) {
        for (unsigned bits = signChanges[axis][x][y]; bits != 0; bits &= bits - 1) {
          const int z = std::countr_zero(bits);
          const double fraction = crossings[axis][x][y][z];
          if (!(fraction > 0.0)) continue;
          const Vector projected = project(camera, weighted(edgePoint(axis, x, y, z, fraction)));
          scratch.crossed[axis][latticeIndex(x, y, z)] = 1;
          scratch.edgePixels[axis][latticeIndex(x, y, z)] = {toPixelCoordinate(projected.x),
                                                             toPixelCoordinate(projected.y)};
        }
      }
    }
  }
  std::fill(std::begin(scratch.touchedCells), std::end(scratch.touchedCells), 0);
  for (int x = 0; x < kCells; ++x) {
    for (int y = 0; y < kCells; ++y) {
      unsigned rows = signChanges[0][x][y] | signChanges[1][x][y] | signChanges[2][x][y] |
                      (signChanges[0][x][y] >> 1) | (signChanges[1][x][y] >> 1);
      if (x + 1 < kCells) rows |= signChanges[1][x + 1][y] | signChanges[2][x + 1][y];
      if (y + 1 < kCells) rows |= signChanges[0][x][y + 1] | signChanges[2][x][y + 1];
      for (; rows != 0; rows &= rows - 1) {
        const int z = std::countr_zero(rows);
        const int cell = (z * kCells + y) * kCells + x;
        scratch.touchedCells[cell / 64] |= std::uint64_t{1} << (cell % 64);
      }
    }
  }

  // The two ends of a face's segment in pixels, if it has one.
  auto faceEnds = [&](FaceFamily family, int corner, PixelPoint& first, PixelPoint& second) {
    const FaceEdge(&edges)[4] = kFaceEdges[static_cast<int>(family)];
    int mask = 0;
    for (const FaceEdge& e : edges)
      mask = (mask << 1) | scratch.crossed[e.axis][corner + e.offset];
    const int firstEdge = kSegmentEnds[mask][0];
    if (firstEdge < 0) return false;
    const FaceEdge& a = edges[firstEdge];
    const FaceEdge& b = edges[kSegmentEnds[mask][1]];
    first = scratch.edgePixels[a.axis][corner + a.offset];
    second = scratch.edgePixels[b.axis][corner + b.offset];
    return true;
  };

  const std::uint32_t jitterModulus = rollModulus(100.0);
  const std::uint32_t spikeModulus = rollModulus(1000.0);
  DrawsAhead& draws = scratch.draws;
  draws.start(random_detail::state, jitterModulus, spikeModulus);
  std::size_t next = 0;  // the position of the next draw
  auto hits = [&](std::uint32_t modulus) {
    const std::size_t position = next++;
    return draws.candidate(position) && draws.at(position) % modulus == 0;
  };
  const std::uint32_t colour =
      draws.at(next++) % rollModulus(10.0) == 0 ? kFlashColour : kContourColour;

  bool jittered =
      std::any_of(std::begin(jitter), std::end(jitter), [](float o) { return o != 0.0f; });
  std::size_t candidate = 0;  // the first candidate at or after `next`, once looked up
  std::size_t touched = nextTouchedCell(0);  // the first touched cell at or after `cell`
  for (std::size_t cell = 0; cell < kCellTotal;) {
    if (touched < cell) touched = nextTouchedCell(cell);
    if (candidate < next) {
      candidate = draws.nextCandidate(next, next + kDrawsPerQuietCell * (kCellTotal - cell));
    }
    if (touched != cell) {
      const std::size_t quiet = std::min((candidate - next) / kDrawsPerQuietCell, touched - cell);
      if (!jittered) {
        // Nothing but misses, and no jitter for a reset roll to clear.
        next += kDrawsPerQuietCell * quiet;
        cell += quiet;
        if (quiet > 0) continue;
      } else if (quiet > 0) {
        // Only the reset roll counts.
        const std::uint32_t r = draws.at(next + kDrawsPerQuietCell - 1) % 1000;
        next += kDrawsPerQuietCell;
        ++cell;
        if (static_cast<float>(r) < Intensity) {
          resetJitter();
          jittered = false;
        }
        continue;
      }
    }

    const int x = static_cast<int>(cell % kCells);
    const int y = static_cast<int>(cell / kCells % kCells);
    const int z = static_cast<int>(cell / (kCells * kCells));
    const int corner = latticeIndex(x, y, z);
    for (float& offset : jitter) {
      if (hits(jitterModulus)) {
        offset = static_cast<float>(draws.at(next++) % 10000) * 0.002f - 10.0f;
        jittered = true;
      }
    }
    const bool collapse = hits(spikeModulus);
    const bool stretch = hits(spikeModulus);
    PixelPoint from, to;
    if (collapse || stretch) {
      if (const std::optional<ContourSegment> xy = faceSegment(FaceFamily::XY, x, y, z)) {
        Vector p = weighted(xy->first);
        Vector q = weighted(xy->second);
        if (collapse) p = p.scaled(0.0);
        if (stretch) q = p.scaled(3.0);
        const Vector pFrom = project(camera, p);
        const Vector pTo = project(camera, q);
        console.drawLine(jitteredPixelCoordinate(toPixelCoordinate(pFrom.x), jitter[0]),
                         jitteredPixelCoordinate(toPixelCoordinate(pFrom.y), jitter[1]),
                         jitteredPixelCoordinate(toPixelCoordinate(pTo.x), jitter[2]),
                         jitteredPixelCoordinate(toPixelCoordinate(pTo.y), jitter[3]), colour);
      }
    } else if (faceEnds(FaceFamily::XY, corner, from, to)) {
      console.drawLine(jitteredPixelCoordinate(from.x, jitter[0]),
                       jitteredPixelCoordinate(from.y, jitter[1]),
                       jitteredPixelCoordinate(to.x, jitter[2]),
                       jitteredPixelCoordinate(to.y, jitter[3]), colour);
    }
    if (faceEnds(FaceFamily::XZ, corner, from, to)) {
      console.drawLine(from.x, from.y, to.x, to.y, colour);
    }
    if (faceEnds(FaceFamily::YZ, corner, from, to)) {
      console.drawLine(jitteredPixelCoordinate(from.x, jitter[4]),
                       jitteredPixelCoordinate(from.y, jitter[5]), to.x, to.y, colour);
    }
    const std::uint32_t r = draws.at(next++) % 1000;
    if (static_cast<float>(r) < Intensity) {
      resetJitter();
      jittered = false;
    }
    ++cell;
  }
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

}  // namespace vornisk
