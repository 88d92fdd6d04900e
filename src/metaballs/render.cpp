// The metaball wire net: every contour segment becomes one line through the
// fixed camera, with the random disturbances (flash colour, jittered ends,
// collapse and stretch spikes) whose odds rise as Intensity falls. This is the
// one place Intensity is lowered. Nothing here allocates.
#include <cstdint>

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

void resetJitter() {
  for (float& offset : jitter)
    offset = 0.0f;
}

}  // namespace

void BlobField::render(DemoConsole& console, double /*level*/, int /*frame*/) {
  age(console.frameCounter);

  const Matrix view =
      console.viewTransform(320.0, 240.0, Vector(0.0, 0.0, 0.0, 1.0), Vector(0.0, 0.0, 1.0, 1.0),
                            Vector(0.0, 0.0, 300.0, 1.0));
  const Matrix camera =
      view.times(Matrix(Translate, kLatticeOffset, kLatticeOffset, kLatticeOffset));

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

}  // namespace vornisk
