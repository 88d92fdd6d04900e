// Placeholder until the full-frame effects land.
#include "shell/demo_console.h"

namespace vornisk {

void DemoConsole::clearFrame() {
  for (int i = 0; i < width * height; ++i) {
    pixels[i] = 0;
    zBuffer[i] = 50000.0f;
  }
}
void DemoConsole::drawCheckerboard(int, int) {}
void DemoConsole::copyTitle() {}
void DemoConsole::jitterTitle() {}

}  // namespace vornisk
