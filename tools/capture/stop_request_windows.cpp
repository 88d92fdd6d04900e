// The Windows side of stop requests: the console's Ctrl+C, Ctrl+Break and
// close (ptc/outside_stop.h) count as SIGINT. A closed console waits for
// stopRequestsDone() before Windows ends the process. Writes to a closed pipe
// fail without a signal here.
#include <csignal>

#include "capture/stop_request.h"
#include "ptc/outside_stop.h"

namespace capture {

void installStopHandlers() {
  ptc::outside_stop::watchConsole();
}

int stopSignal() {
  return ptc::outside_stop::requested() ? SIGINT : 0;
}

const char* signalName(int) {
  return "Ctrl+C or the console's close";
}

void stopRequestsDone() {
  ptc::outside_stop::unwatch();
}

}  // namespace capture
