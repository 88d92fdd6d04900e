// Windows: binary standard output and error.
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "capture/console.h"

namespace capture {

void prepareConsole() {
  // Lines end in "\n" alone, as on every other system: the hash lines are
  // the same bytes everywhere (and the console shows them as lines all the same).
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

}  // namespace capture
