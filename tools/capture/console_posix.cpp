// POSIX systems: standard output is binary already (a closed pipe is made a
// write error by installStopHandlers()).
#include "capture/console.h"

namespace capture {

void prepareConsole() {}

}  // namespace capture
