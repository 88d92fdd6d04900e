// The POSIX side of stop requests: async-signal-safe handlers that store the
// first signal in a lock-free atomic, read by the show's and the outputs' threads.
#include "capture/stop_request.h"

#include <atomic>
#include <csignal>

namespace capture {
namespace {

std::atomic<int> requested{0};
static_assert(std::atomic<int>::is_always_lock_free, "read and written from a signal handler");

extern "C" void noteStop(int signal) {
  int none = 0;
  requested.compare_exchange_strong(none, signal);
}

}  // namespace

void installStopHandlers() {
  for (const int signal : {SIGPIPE, SIGXFSZ})
    std::signal(signal, SIG_IGN);
  struct sigaction action {};
  action.sa_handler = noteStop;
  sigemptyset(&action.sa_mask);
  // Interrupted writes resume: the stop is taken at the next frame.
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction previous {};
    if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

int stopSignal() {
  return requested.load();
}

const char* signalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "a signal";
  }
}

}  // namespace capture
