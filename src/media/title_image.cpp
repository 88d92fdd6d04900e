// Placeholder until the title loader lands.
#include "shell/demo_console.h"

namespace vornisk {

void DemoConsole::loadTitleImage(const char*) {}

}  // namespace vornisk
