// Requests from outside the program to end it that SDL does not turn into a
// quit event by itself (it does so for SIGINT, SIGTERM and a closed window).
// The show and the capture tool treat a request like a key press: they end at
// the next frame through their normal shut-down. POSIX systems in
// outside_stop_posix.cpp, Windows in outside_stop_windows.cpp.
#pragma once

namespace ptc::outside_stop {

// POSIX: SIGHUP (the terminal closed), unless it is ignored on purpose (nohup).
// Windows has no such signal: nothing.
void watchHangup();

// Windows: Ctrl+C, Ctrl+Break, the console window closed, logoff and shut-down,
// for a program with a console, instead of ending the process on the spot.
// POSIX: nothing (SIGINT and SIGTERM stay with SDL or the program).
void watchConsole();

// Whether a watched request has come.
bool requested();

// Puts the previous handling back. On Windows a closed console waits, for a
// few seconds, until this is called: then Windows ends the process.
void unwatch();

}  // namespace ptc::outside_stop
