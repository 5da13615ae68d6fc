// Windows only: the version from RtlGetVersion, which, unlike GetVersionEx,
// is not capped by the program's compatibility manifest.
#include "platform/os_version.h"

#include <windows.h>

namespace pw {

std::optional<OsVersion> GetOsVersion() {
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
  OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof info;
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  auto fn = ntdll ? reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
                  : nullptr;
  if (fn == nullptr || fn(&info) != 0) return std::nullopt;
  return OsVersion{info.dwPlatformId == VER_PLATFORM_WIN32_NT, info.dwMajorVersion, info.dwMinorVersion};
}

}  // namespace pw
