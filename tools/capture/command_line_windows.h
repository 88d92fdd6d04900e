// Windows command lines, for the programs that start others: names and
// arguments arrive in the program's code page (as main's argv and getenv give
// them) and are widened, then quoted as the C runtime's parser reads them back.
#pragma once

#define WIN32_LEAN_AND_MEAN  // none of mmsystem.h: its timeGetTime is not ours
#include <windows.h>

#include <string>

namespace capture::command_line {

inline std::wstring wide(const std::string& text) {
  if (text.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring result(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result.data(), size);
  return result;
}

// One argument: as it is when it has no blank or quote, else quoted, with the
// backslashes before a quote (or the closing one) doubled.
inline void appendQuoted(std::wstring& line, const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += argument;
    return;
  }
  line += L'"';
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(2 * backslashes, L'\\');
  line += L'"';
}

}  // namespace capture::command_line
