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
  // Every end lies within low..high on both axes (empty when low > high).
  PixelPoint low = {0, 0};
  PixelPoint high = {-1, -1};
  // Whole cache lines, for the streaming copy that fills it (buildWireNet).
  alignas(64) WireCell cells[kCellTotal];
};

// Working space of buildWireNet, kept apart from the nets so that one serves
// every net a thread builds.
struct WireScratch {
  static constexpr int kLatticePoints = BlobField::kSize * BlobField::kSize * BlobField::kSize;
  // The crossed edges as the crossings are computed; their points' x and y
  // are then replaced by their projections.
  CrossedEdges edges;
  // Per edge slot (see CrossedEdges), the contour point of a crossed edge in pixels.
  PixelPoint edgePixels[3 * kLatticePoints];
  // The net's cells as they are made, before they are copied to the net.
  alignas(64) WireCell cells[WireNet::kCellTotal];
};

// Computes the crossings of `field` (as computeCrossings() does) and makes
// `net` from them through `camera`.
void buildWireNet(BlobField& field, const Matrix& camera, WireNet& net, WireScratch& scratch);

// The camera of the wire net on `console`: its view transform of the window
// 320 × 240, after the translation that centres the lattice.
Matrix wireCamera(const DemoConsole& console);

// A contour point through the camera: weighted, transformed and divided by w.
Vector projectContourPoint(const Matrix& camera, const ContourPoint& point);

}  // namespace vornisk
