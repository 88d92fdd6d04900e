// Placeholder until the camera lands.
#include "shell/demo_console.h"

namespace vornisk {

Matrix DemoConsole::viewTransform(double, double, Vector, Vector, Vector) const { return {}; }

}  // namespace vornisk
