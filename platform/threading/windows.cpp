// WaitOnAddress and the process's affinity mask.
#include <windows.h>

#include <bit>

#include "threading/threading.h"

namespace threading {

void sleepWhile(const std::atomic<std::uint32_t>& word, std::uint32_t seen) {
  static_assert(sizeof word == sizeof(std::uint32_t));
  WaitOnAddress(const_cast<std::atomic<std::uint32_t>*>(&word), &seen, sizeof seen, INFINITE);
}

void wakeAll(const std::atomic<std::uint32_t>& word) {
  WakeByAddressAll(const_cast<std::atomic<std::uint32_t>*>(&word));
}

void nameThisThread(const char* name) {
  // SetThreadDescription exists from Windows 10 on: looked up, not linked.
  using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto setDescription = reinterpret_cast<SetDescription>(
      kernel != nullptr ? reinterpret_cast<void*>(GetProcAddress(kernel, "SetThreadDescription"))
                        : nullptr);
  if (setDescription == nullptr) return;
  wchar_t wide[64] = {};
  for (int i = 0; i < 63 && name[i] != '\0'; ++i)
    wide[i] = static_cast<unsigned char>(name[i]);
  setDescription(GetCurrentThread(), wide);
}

int usableProcessors() {
  DWORD_PTR process = 0, system = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system) || process == 0) return 1;
  return std::popcount(static_cast<unsigned long long>(process));
}

std::int64_t thisThreadCpuNanoseconds() {
  return -1;
}

}  // namespace threading
