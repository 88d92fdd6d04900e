// POSIX systems: standard output is binary already, and signals keep their
// own handling.
#include "capture/console.h"

namespace capture {

void prepareConsole() {}

}  // namespace capture
