// The six balls' paths of the show. Every coordinate is 8 + 2·(a + b) for two
// trigonometric terms of the frame counter, so the centres stay within 4..12.
#include <cmath>

#include "geometry/trig.h"
#include "metaballs/blob_field.h"

namespace vornisk {

void addShowBalls(BlobField& field, int frameCounter) {
  const double n = frameCounter;
  auto coordinate = [](double a, double b) { return 8.0 + 2.0 * (a + b); };
  const auto cos = portableCos;
  const auto sin = portableSin;
  // Terms that more than one ball takes, each worked out once.
  const double cos56 = cos(n / 56), sin31 = sin(n / 31), cos47 = cos(n / 47);
  const double sin42 = sin(n / 42), sin33 = sin(n / 33), cos18 = cos(n / 18);
  const double sin22 = sin(n / 22);
  field.addBall(coordinate(cos56, sin31), coordinate(cos47, sin42),
                coordinate(sin(n / 53), cos(n / 38)), 5, 2);
  field.addBall(coordinate(cos56, sin(n / 41)), coordinate(cos(n / 57), sin42),
                coordinate(cos(n / 58), sin(n / 43)), 4, 1);
  field.addBall(coordinate(cos(n / 46), sin31), coordinate(cos47, sin(n / 32)),
                coordinate(sin33, cos(n / 48)), 4, 4);
  field.addBall(coordinate(cos(n / 36), sin(n / 11)), coordinate(sin22, cos(n / 27)),
                coordinate(sin33, cos18), 4, 2);
  field.addBall(coordinate(sin(n / 51), cos(n / 26)), coordinate(cos(n / 37), sin22),
                coordinate(sin33, cos18), 3, 2);
  field.addBall(coordinate(sin(n / 46), cos(n / 41)), coordinate(sin(n / 37), cos(n / 32)),
                coordinate(sin(n / 17), cos(n / 23)), 4, 2);
}

}  // namespace vornisk
