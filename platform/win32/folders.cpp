// Windows only: the system drive, the temporary folder and the program folder.
#include "platform/folders.h"

#include <windows.h>

#include <string>

namespace pw {

std::filesystem::path SystemDrive() {
  wchar_t dir[MAX_PATH] = {};
  const UINT n = GetSystemDirectoryW(dir, MAX_PATH);
  if (n >= 2 && dir[1] == L':') return std::wstring(dir, 2) + L"\\";
  return L"C:\\";
}

std::filesystem::path TempFolder() {
  wchar_t dir[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathW(MAX_PATH + 1, dir);
  return std::wstring(dir, n);
}

std::filesystem::path ProgramFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  return std::filesystem::path(path).parent_path();
}

}  // namespace pw
