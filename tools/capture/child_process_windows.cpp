// The video encoder as a child process on Windows: CreateProcessW with one end
// of an anonymous pipe as its standard input. Names and arguments arrive in
// the program's code page (as main's argv and getenv give them).
#define WIN32_LEAN_AND_MEAN  // none of mmsystem.h: its timeGetTime is not ours
#include <windows.h>

#include <cstdlib>

#include "capture/child_process.h"
#include "capture/command_line_windows.h"

namespace capture {
namespace {

using command_line::appendQuoted;
using command_line::wide;

std::string systemMessage(DWORD code) {
  char* text = nullptr;
  FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = text != nullptr ? text : "error " + std::to_string(code);
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == '.' || message.back() == ' '))
    message.pop_back();
  return message;
}

bool isFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool hasExtension(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  return dot != std::string::npos && name.find_first_of("/\\", dot) == std::string::npos;
}

// `name` itself when it has an extension, else with each of PATHEXT's.
std::string executableIn(const std::string& stem) {
  if (hasExtension(stem)) return isFile(stem) ? stem : std::string();
  const char* pathext = std::getenv("PATHEXT");
  const std::string extensions = pathext != nullptr && *pathext != '\0' ? pathext : ".COM;.EXE";
  for (std::size_t begin = 0; begin <= extensions.size();) {
    std::size_t end = extensions.find(';', begin);
    if (end == std::string::npos) end = extensions.size();
    const std::string extension = extensions.substr(begin, end - begin);
    if (!extension.empty() && isFile(stem + extension)) return stem + extension;
    begin = end + 1;
  }
  return {};
}

HANDLE handleOf(std::intptr_t value) {
  return reinterpret_cast<HANDLE>(value);
}

}  // namespace

std::string findOnPath(const std::string& name) {
  if (name.find_first_of("/\\:") != std::string::npos) return executableIn(name);
  const char* path = std::getenv("PATH");
  if (path == nullptr) return {};
  const std::string directories = path;
  for (std::size_t begin = 0; begin <= directories.size();) {
    std::size_t end = directories.find(';', begin);
    if (end == std::string::npos) end = directories.size();
    std::string directory = directories.substr(begin, end - begin);
    // A folder may be listed in quotes; an empty entry is no folder.
    if (directory.size() >= 2 && directory.front() == '"' && directory.back() == '"')
      directory = directory.substr(1, directory.size() - 2);
    if (!directory.empty()) {
      const char last = directory.back();
      const std::string found =
          executableIn(last == '\\' || last == '/' ? directory + name : directory + '\\' + name);
      if (!found.empty()) return found;
    }
    begin = end + 1;
  }
  return {};
}

ChildProcess::~ChildProcess() {
  wait();
}

std::string ChildProcess::start(const std::string& program,
                                const std::vector<std::string>& arguments) {
  SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherited, 0))
    return "cannot make a pipe: " + systemMessage(GetLastError());
  SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);  // ours alone
  HANDLE nowhere = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               &inherited, OPEN_EXISTING, 0, nullptr);

  std::wstring commandLine;
  for (const std::string& argument : arguments) {
    if (!commandLine.empty()) commandLine += L' ';
    appendQuoted(commandLine, wide(argument));
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = readEnd;
  startup.hStdOutput = nowhere;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION started{};
  const BOOL created = CreateProcessW(wide(program).c_str(), commandLine.data(), nullptr, nullptr,
                                      TRUE, 0, nullptr, nullptr, &startup, &started);
  const DWORD createError = GetLastError();
  CloseHandle(readEnd);
  if (nowhere != INVALID_HANDLE_VALUE) CloseHandle(nowhere);
  if (!created) {
    CloseHandle(writeEnd);
    return systemMessage(createError);
  }
  CloseHandle(started.hThread);
  process_ = reinterpret_cast<std::intptr_t>(started.hProcess);
  input_ = reinterpret_cast<std::intptr_t>(writeEnd);
  return {};
}

ChildProcess::Sent ChildProcess::write(const void* data, std::size_t size) {
  if (input_ == kNone) return Sent::ReaderGone;
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(handleOf(input_), bytes, chunk, &written, nullptr)) {
      const DWORD code = GetLastError();
      if (code == ERROR_BROKEN_PIPE || code == ERROR_NO_DATA) return Sent::ReaderGone;
      error_ = systemMessage(code);
      return Sent::Failed;
    }
    bytes += written;
    size -= written;
  }
  return Sent::All;
}

void ChildProcess::closeInput() {
  if (input_ == kNone) return;
  CloseHandle(handleOf(input_));
  input_ = kNone;
}

void ChildProcess::kill() {
  closeInput();
  if (process_ != kNone) TerminateProcess(handleOf(process_), 1);
  wait();
}

ChildProcess::End ChildProcess::wait() {
  closeInput();
  End end;
  if (process_ == kNone) return end;
  DWORD code = 0;
  const bool waited = WaitForSingleObject(handleOf(process_), INFINITE) == WAIT_OBJECT_0 &&
                      GetExitCodeProcess(handleOf(process_), &code);
  if (!waited) error_ = systemMessage(GetLastError());
  CloseHandle(handleOf(process_));
  process_ = kNone;
  end.waited = waited;
  end.status = static_cast<int>(code);
  return end;
}

}  // namespace capture
