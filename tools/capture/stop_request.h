// Stopping a capture from outside: SIGINT (Ctrl+C), SIGTERM and SIGHUP only
// note the request; the run stops at its next frame, removes the outputs it has
// not finished and exits with 128 + the signal. The POSIX signal code is all in
// stop_request.cpp: another system provides these calls its own way.
#pragma once

namespace capture {

// Installs the handlers (a signal ignored when the tool started, as under
// nohup, stays ignored) and turns SIGPIPE and SIGXFSZ, which would end the tool
// without a word, into write errors reported like any other.
void installStopHandlers();

// The signal that asked for a stop, or 0.
int stopSignal();

// The signal's name, e.g. "SIGTERM".
const char* signalName(int signal);

}  // namespace capture
