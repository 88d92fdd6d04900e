// Outside requests to stop on Windows: the console's control events. Windows
// runs the handler on a thread of its own. For Ctrl+C and Ctrl+Break the
// process carries on once the handler returns; for a closed console, logoff
// and shut-down it is ended when the handler returns (or after 5 s at the
// latest), so the handler waits until the program has shut down.
#define WIN32_LEAN_AND_MEAN  // none of mmsystem.h: its timeGetTime is not ours
#include <windows.h>

#include <atomic>

#include "ptc/outside_stop.h"

namespace ptc::outside_stop {
namespace {

std::atomic<bool> stopRequested = false;
std::atomic<bool> watched = false;
HANDLE shutDown = nullptr;  // set by unwatch(): the program is done

// Less than the 5 s Windows allows a closed console's handler.
constexpr DWORD kShutDownWaitMs = 4000;

BOOL WINAPI noteControlEvent(DWORD event) {
  if (!watched) return FALSE;
  stopRequested = true;
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    WaitForSingleObject(shutDown, kShutDownWaitMs);
  }
  return TRUE;
}

}  // namespace

void watchHangup() {}

void watchConsole() {
  if (watched) return;
  if (shutDown == nullptr) shutDown = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ResetEvent(shutDown);
  watched = true;
  static const bool added = SetConsoleCtrlHandler(noteControlEvent, TRUE) != 0;
  (void)added;
}

bool requested() {
  return stopRequested;
}

void unwatch() {
  if (!watched) return;
  watched = false;
  SetEvent(shutDown);
}

}  // namespace ptc::outside_stop
