// POSIX systems: standard output is binary already. A closed pipe (ffmpeg
// gone, `| head` done) must be an error the tool reports, not a silent death.
#include <csignal>

#include "capture/console.h"

namespace capture {

void prepareConsole() {
  std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace capture
