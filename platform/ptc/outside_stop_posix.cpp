// Outside requests to stop on POSIX systems: SIGHUP.
#include <signal.h>

#include "ptc/outside_stop.h"

namespace ptc::outside_stop {
namespace {

volatile sig_atomic_t hangupReceived = 0;
struct sigaction previousHangup {};
bool hangupWatched = false;

void noteHangup(int) {
  hangupReceived = 1;
}

}  // namespace

void watchHangup() {
  if (hangupWatched) return;
  struct sigaction hangup {};
  hangup.sa_handler = noteHangup;
  sigemptyset(&hangup.sa_mask);
  sigaction(SIGHUP, nullptr, &previousHangup);
  if (previousHangup.sa_handler == SIG_DFL) {
    sigaction(SIGHUP, &hangup, nullptr);
    hangupWatched = true;
  }
}

void watchConsole() {}

bool requested() {
  return hangupReceived != 0;
}

void unwatch() {
  if (!hangupWatched) return;
  sigaction(SIGHUP, &previousHangup, nullptr);
  hangupWatched = false;
}

}  // namespace ptc::outside_stop
