// The capture tool's console, where it differs between systems: on Windows,
// standard output and error in binary mode, so that lines end in "\n" as on
// every other system and the hash lines are the same bytes everywhere.
#pragma once

namespace capture {

void prepareConsole();

}  // namespace capture
