// The demo: the show on the toolkit's window, the monotonic clock and the data
// files in the working directory. It reads no command line.
#include <cstdio>
#include <exception>

#include "shell/show.h"

int main() {
  try {
    return vornisk::runShow({});
  } catch (const std::exception& error) {
    std::fprintf(stderr, "vornisk: %s\n", error.what());
    return 1;
  }
}
