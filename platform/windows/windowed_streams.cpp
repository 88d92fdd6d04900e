// vornisk.exe is a windowed program: Windows opens no console for it. Its
// messages still reach a person: through the standard handles it was given
// (a pipe or a file, where a script or a test redirects them), else through
// the console of the program that started it (cmd.exe), else its error lines
// (standard error) are shown in a message box as it ends. Set up before main.
// Both streams are binary: lines end in "\n", as on every other system.
#include <fcntl.h>
#include <io.h>
#define WIN32_LEAN_AND_MEAN  // none of mmsystem.h: its timeGetTime is not ours
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int errorPipe[2] = {-1, -1};

bool given(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

void showErrorLines() {
  std::fflush(stderr);
  std::fclose(stderr);  // the pipe's last write end
  _close(errorPipe[1]);
  std::string text;
  char buffer[4096];
  int got;
  while ((got = _read(errorPipe[0], buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<std::size_t>(got));
  if (!text.empty()) MessageBoxA(nullptr, text.c_str(), "Vornisk", MB_OK | MB_ICONERROR);
}

// Lines end in "\n" alone, as on every other system (the console shows them
// as lines all the same).
bool binary() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  return true;
}

const bool streamsReady = [] {
  if (given(STD_ERROR_HANDLE)) return binary();
  if (AttachConsole(ATTACH_PARENT_PROCESS)) {
    if (!given(STD_OUTPUT_HANDLE)) std::freopen("CONOUT$", "w", stdout);
    std::freopen("CONOUT$", "w", stderr);
    return binary();
  }
  // The error lines are short: the pipe holds them until the end.
  std::freopen("NUL", "w", stdout);
  if (std::freopen("NUL", "w", stderr) == nullptr || _pipe(errorPipe, 65536, _O_BINARY) != 0)
    return false;
  _dup2(errorPipe[1], _fileno(stderr));
  std::atexit(showErrorLines);
  return binary();
}();

}  // namespace
