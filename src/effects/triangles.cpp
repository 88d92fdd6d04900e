// Placeholder until the triangles land.
#include "effects/effects.h"

namespace vornisk {

void drawSpinningTriangles(DemoConsole&) {}

}  // namespace vornisk
