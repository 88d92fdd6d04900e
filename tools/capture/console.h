// The capture tool's console, where it differs between systems. On Windows:
// standard output and error in binary mode (lines end in "\n", not "\r\n"), and
// the console's Ctrl+C, Ctrl+Break and close end the capture after the frame
// in hand, like a key press (ptc/outside_stop.h). On POSIX systems: SIGPIPE
// ignored, so that a closed pipe is an error the tool reports.
#pragma once

namespace capture {

void prepareConsole();

}  // namespace capture
