// The wire net of one field as the fixed camera sees it: every cell with a
// contour segment on any of its three faces, in drawing order, with those
// segments' ends in pixels. It depends on the field and the camera alone, not
// on any draw, so it can be made before the frame that draws it.
#pragma once

#include <cstdint>

#include "geometry/matrix.h"
#include "metaballs/blob_field.h"

namespace vornisk {

struct PixelPoint {
  std::int32_t x, y;
};

struct WireCell {
  std::uint16_t index;  // (z·15 + y)·15 + x: cells are drawn with x fastest
  std::uint8_t faces;   // bit f set: face family f (XY, XZ, YZ) has a segment
  PixelPoint ends[3][2];
};

struct WireNet {
  static constexpr int kCellTotal = BlobField::kCells * BlobField::kCells * BlobField::kCells;

  Matrix camera;  // what the net was made with
  int count = 0;  // cells[0..count) in drawing order
  // Every end lies within ±2^24, where a float holds it exactly: a zero
  // jitter leaves such an end as it is.
  bool endsExactInFloat = true;
  // Every end lies within low..high on both axes (empty when low > high).
  PixelPoint low = {0, 0};
  PixelPoint high = {-1, -1};
  WireCell cells[kCellTotal];
};

// Working space of buildWireNet, kept apart from the nets so that one serves
// every net a thread builds.
struct WireScratch {
  static constexpr int kLatticePoints = BlobField::kSize * BlobField::kSize * BlobField::kSize;
  // Per edge slot (axis · kLatticePoints + lattice point z·256 + y·16 + x),
  // the contour point of a crossed edge in pixels.
  PixelPoint edgePixels[3 * kLatticePoints];
  // The crossed edges' contour points, then their projections (x and y),
  // with each one's axis · kLatticePoints + lattice point.
  static constexpr int kMostEdges = 3 * kLatticePoints;
  double pointX[kMostEdges];
  double pointY[kMostEdges];
  double pointZ[kMostEdges];
  std::uint16_t edgeSlot[kMostEdges];
};

// Makes `net` from `field`, whose crossings are computed, through `camera`.
void buildWireNet(const BlobField& field, const Matrix& camera, WireNet& net, WireScratch& scratch);

// The camera of the wire net on `console`: its view transform of the window
// 320 × 240, after the translation that centres the lattice.
Matrix wireCamera(const DemoConsole& console);

// A contour point through the camera: weighted, transformed and divided by w.
Vector projectContourPoint(const Matrix& camera, const ContourPoint& point);

}  // namespace vornisk
