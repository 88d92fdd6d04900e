// The metaball field: soft balls summed on a 16 × 16 × 16 lattice, the lattice
// edges where the iso-surface crosses, and the wire net of contour lines that
// render() draws through a fixed perspective camera.
#pragma once

#include <cstdint>
#include <optional>

namespace vornisk {

class DemoConsole;
struct WireNet;
class LineBatch;
class DrawsAhead;

// The three families of unit lattice faces a cell owns, by their constant axis.
enum class FaceFamily { XY, XZ, YZ };

struct ContourPoint {
  double x, y, z;  // cell units
};

// One contour line on a face; the order of the ends matters to the renderer.
struct ContourSegment {
  ContourPoint first, second;
};

struct CrossedEdges;

class BlobField {
 public:
  static constexpr int kSize = 16;  // lattice points per axis
  static constexpr int kCells = kSize - 1;
  // What reset() leaves in every element.
  static constexpr double kUnset = -0.5;

  // Every element of all four blocks becomes kUnset.
  void reset();
  // For a field whose crossing blocks have been written by nothing but
  // reset() and computeCrossings() since the last reset(): every element of
  // `value` becomes kUnset, and the crossing blocks keep the last crossings
  // until the next computeCrossings(), which sets back those it does not
  // find again. From then on the field is as reset() would have left it.
  void resetKeepingCrossings();
  // Adds one soft ball (centre x, y, z, radius and strength in cell units) to `value`.
  void addBall(double x, double y, double z, double radius, double strength);
  // Fills the crossing blocks from `value`; expects them as reset() or
  // resetKeepingCrossings() leaves them.
  void computeCrossings();
  // The same, also listing the crossed edges in `listed`.
  void computeCrossings(CrossedEdges& listed);
  // The contour segment of one face of cell (x, y, z), each 0..14, if any.
  std::optional<ContourSegment> faceSegment(FaceFamily family, int x, int y, int z) const;
  // Ages Intensity, extracts the contours and draws them with random disturbances.
  // `level` and `frame` are accepted for the caller's sake and do not change the picture.
  void render(DemoConsole& console, double level, int frame);

  // Ages Intensity and draws `net`, made from this field (buildWireNet), as
  // render() would draw the field, its lines through `lines` and its draws
  // made in `draws`.
  void renderPrepared(DemoConsole& console, const WireNet& net, LineBatch& lines,
                      DrawsAhead& draws);

  // The two ways render() makes the same picture and draws once it has aged
  // Intensity. Roll by roll takes every draw from nextRandom(), so it also runs
  // on a test's scripted draws. Ahead builds the wire net, takes the draws from
  // a block the generator fills on parallel lanes, skips cells with neither
  // segment nor roll hit, and sets the generator to where roll by roll would
  // have left it; it needs the generator itself (no script) and moduli of at
  // least 2, and render() uses it then.
  void renderRollByRoll(DemoConsole& console);
  void renderAhead(DemoConsole& console);
  void drawWireNet(DemoConsole& console, const WireNet& net, LineBatch& lines,
                   DrawsAhead& draws) const;
  static bool aheadPossible();

  // Indexed [x][y][z], z fastest.
  double value[kSize][kSize][kSize];
  double crossX[kSize][kSize][kSize];
  double crossY[kSize][kSize][kSize];
  double crossZ[kSize][kSize][kSize];
  // Which edges computeCrossings() examined and found changing sign, per axis
  // (X, Y, Z) and row [x][y], bit z: a superset of the crossed edges.
  std::uint16_t signChanges[3][kCells][kCells] = {};
};

// The edges computeCrossings() found crossed at a point above their lower end
// (a fraction above 0), with those points, listed as it finds them.
struct CrossedEdges {
  static constexpr int kMost = 3 * BlobField::kSize * BlobField::kSize * BlobField::kSize;
  int count = 0;
  double x[kMost], y[kMost], z[kMost];  // the contour points, cell units
  // Which edge: axis · 4096 + (z · 16 + y) · 16 + x of its lower end.
  std::uint16_t slot[kMost];
  // Per axis and row [x][y], one bit per z. The rows at index 15 stay empty,
  // as no edge there is examined, and so does the extra one past them.
  std::uint16_t rows[3][BlobField::kSize][BlobField::kSize + 1];
};

// The show's six balls on their paths at frame `frameCounter`, added in order
// (every centre stays within 4..12 on each axis).
void addShowBalls(BlobField& field, int frameCounter);

}  // namespace vornisk
