// Placeholder until the copper bars land.
#include "effects/effects.h"

namespace vornisk {

void drawCopperBars(DemoConsole&) {}

}  // namespace vornisk
