// vornisk-capture: records the show deterministically (see capture.h).
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "capture/capture.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const capture::ParseResult parsed = capture::parseCommandLine(arguments);
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "vornisk-capture: %s\n", parsed.error.c_str());
    return 2;
  }
  if (parsed.options.help) {
    std::fputs(capture::usageText().c_str(), stdout);
    return 0;
  }
  try {
    return capture::runCapture(parsed.options);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "vornisk-capture: out of memory\n");
    return 1;
  } catch (const std::exception& error) {
    // Out of memory and the like: still one line, never an abort.
    std::fprintf(stderr, "vornisk-capture: %s\n", error.what());
    return 1;
  }
}
