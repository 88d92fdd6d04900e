// Placeholder until the line drawing lands.
#include "shell/demo_console.h"

namespace vornisk {

void DemoConsole::drawLine(int, int, int, int, std::uint32_t) {}

}  // namespace vornisk
