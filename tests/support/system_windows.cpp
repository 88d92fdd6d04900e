// The test helpers that differ between systems, on Windows: temporary
// folders, the environment, child processes (CreateProcessW with an
// environment block of their own).
#define WIN32_LEAN_AND_MEAN  // none of mmsystem.h: its timeGetTime is not ours
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "capture/command_line_windows.h"
#include "support/test_support.h"

namespace vornisk::testing {
namespace {

using ::capture::command_line::appendQuoted;
using ::capture::command_line::wide;

// Names compare without regard to case, as Windows compares them.
struct NoCase {
  bool operator()(const std::wstring& a, const std::wstring& b) const {
    return _wcsicmp(a.c_str(), b.c_str()) < 0;
  }
};

// The test's environment with `changes` applied, as a CreateProcessW block.
std::wstring environmentBlock(const Environment& changes) {
  std::map<std::wstring, std::wstring, NoCase> variables;
  wchar_t* strings = GetEnvironmentStringsW();
  for (const wchar_t* entry = strings; *entry != L'\0'; entry += wcslen(entry) + 1) {
    const std::wstring text = entry;
    const std::size_t equals = text.find(L'=', 1);  // "=C:=C:\..." entries start with '='
    if (equals != std::wstring::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
  }
  FreeEnvironmentStringsW(strings);
  for (const auto& [name, value] : changes) {
    if (value) {
      variables[wide(name)] = wide(*value);
    } else {
      variables.erase(wide(name));
    }
  }
  std::wstring block;
  for (const auto& [name, value] : variables)
    block += name + L'=' + value + L'\0';
  block += L'\0';
  return block;
}

HANDLE openForChild(const std::string& path, bool write) {
  SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return CreateFileW(wide(path).c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                     write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::string makeTempDirectory() {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path base = fs::temp_directory_path(error);
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    const fs::path folder =
        base / ("vornisk-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(GetTickCount64() % 100000) + "-" + std::to_string(attempt));
    if (fs::create_directory(folder, error)) return folder.string();
  }
  ADD_FAILURE() << "cannot make a temporary folder";
  return {};
}

void setEnvironment(const std::string& name, const std::optional<std::string>& value) {
  // An empty value removes the variable, as on Windows a variable cannot be empty.
  _putenv_s(name.c_str(), value ? value->c_str() : "");
}

Child::Child(const std::vector<std::string>& argv, const Environment& environment,
             const std::string& folder)
    : files(makeTempDirectory()) {
  std::wstring commandLine;
  for (const std::string& argument : argv) {
    if (!commandLine.empty()) commandLine += L' ';
    appendQuoted(commandLine, wide(argument));
  }
  std::wstring block = environmentBlock(environment);
  // The outputs go to files rather than pipes: nothing to drain while waiting.
  HANDLE input = openForChild("NUL", false);
  HANDLE output = openForChild(files + "/out", true);
  HANDLE error = openForChild(files + "/err", true);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = output;
  startup.hStdError = error;
  PROCESS_INFORMATION started{};
  const std::wstring directory = wide(folder);
  if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                     CREATE_UNICODE_ENVIRONMENT, block.data(),
                     folder.empty() ? nullptr : directory.c_str(), &startup, &started)) {
    CloseHandle(started.hThread);
    process = reinterpret_cast<std::intptr_t>(started.hProcess);
    pid = static_cast<int>(started.dwProcessId);
  }
  for (HANDLE handle : {input, output, error}) {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
}

Child::~Child() {
  if (pid > 0) {
    TerminateProcess(reinterpret_cast<HANDLE>(process), 1);
    wait();
  }
  std::error_code ignored;
  std::filesystem::remove_all(files, ignored);
}

int Child::wait() {
  if (pid <= 0) return -1;
  const HANDLE handle = reinterpret_cast<HANDLE>(process);
  DWORD code = 0;
  WaitForSingleObject(handle, INFINITE);
  GetExitCodeProcess(handle, &code);
  CloseHandle(handle);
  pid = -1;
  process = -1;
  return static_cast<int>(code);
}

std::string Child::out() const {
  return readText(files + "/out");
}

std::string Child::err() const {
  return readText(files + "/err");
}

}  // namespace vornisk::testing
