// The capture tool's console, where it differs between systems. On Windows:
// standard output in binary mode (hash lines end in "\n", not "\r\n"), and
// the console's Ctrl+C, Ctrl+Break and close end the capture after the frame
// in hand, like a key press (ptc/outside_stop.h). Nothing on POSIX systems.
#pragma once

namespace capture {

void prepareConsole();

}  // namespace capture
