// Windows: binary standard output, and the console's stop requests noted.
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "capture/console.h"
#include "ptc/outside_stop.h"

namespace capture {

void prepareConsole() {
  _setmode(_fileno(stdout), _O_BINARY);
  ptc::outside_stop::watchConsole();
}

}  // namespace capture
