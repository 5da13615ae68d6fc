// What the drivers of the Windows programs share: a run of a program copied
// beside the driver, its windows and message boxes found by class and
// caption, their controls read through window messages.
#pragma once

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "library/win32/views.h"

namespace pw::test {

inline std::string Read(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::filesystem::path DriverFolder() {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  return std::filesystem::path(self).parent_path();
}

// The descendant of \p root with the control id \p id (and of the class \p cls, when given).
inline HWND Control(HWND root, int id, const wchar_t* cls = nullptr) {
  struct Search {
    int id;
    const wchar_t* cls;
    HWND found;
    static BOOL CALLBACK Match(HWND w, LPARAM p) {
      auto* s = reinterpret_cast<Search*>(p);
      wchar_t c[64] = {};
      GetClassNameW(w, c, 64);
      if (GetDlgCtrlID(w) != s->id || (s->cls != nullptr && std::wstring(c) != s->cls)) return TRUE;
      s->found = w;
      return FALSE;
    }
  } search{id, cls, nullptr};
  EnumChildWindows(root, &Search::Match, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// A window's text, asked of its own process (GetWindowText would give another
// process's edit its text at creation).
inline std::string Text(HWND w) {
  wchar_t text[1024] = {};
  SendMessageW(w, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
  return Utf8(text);
}

// One run of a program beside the driver.
class Program {
 public:
  Program(const wchar_t* exe, const std::wstring& args) {
    std::wstring line = L"\"" + (DriverFolder() / exe).wstring() + L"\" " + args;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    started_ = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_);
  }
  ~Program() {
    if (!started_) return;
    if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi_.hProcess, 99);
    CloseHandle(pi_.hThread);
    CloseHandle(pi_.hProcess);
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  bool Started() const { return started_; }

  // The visible window of this class and caption (UTF-8; null: any), waited for up to \p ms.
  HWND Window(const wchar_t* cls, const char* caption, int ms = 15000) {
    for (int waited = 0; waited <= ms; waited += 50) {
      Finder f{pi_.dwProcessId, cls, caption ? Wide(caption) : L"", caption == nullptr};
      EnumWindows(&Finder::Match, reinterpret_cast<LPARAM>(&f));
      if (f.found != nullptr) return f.found;
      Sleep(50);
    }
    return nullptr;
  }

  // The text of the message box under \p title, which is then closed with its
  // first button; empty when none came within \p ms.
  std::string Box(std::string_view title, int ms = 15000) {
    const HWND box = Window(L"#32770", std::string(title).c_str(), ms);
    if (box == nullptr) return "";
    const std::string text = Text(Control(box, 0xFFFF));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    return text;
  }

  // The exit code, waited for up to \p ms; -1 when it still runs.
  int Exit(int ms = 30000) {
    if (WaitForSingleObject(pi_.hProcess, static_cast<DWORD>(ms)) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(pi_.hProcess, &code);
    return static_cast<int>(code);
  }

 private:
  // The child's top-level windows that match a class and a caption (each may be null: any).
  struct Finder {
    DWORD pid;
    const wchar_t* cls;
    std::wstring caption;
    bool anyCaption;
    HWND found = nullptr;
    static BOOL CALLBACK Match(HWND w, LPARAM p) {
      auto* f = reinterpret_cast<Finder*>(p);
      DWORD pid = 0;
      GetWindowThreadProcessId(w, &pid);
      if (pid != f->pid || !IsWindowVisible(w)) return TRUE;
      wchar_t cls[64] = {};
      GetClassNameW(w, cls, 64);
      if (f->cls != nullptr && std::wstring(cls) != f->cls) return TRUE;
      if (!f->anyCaption && WindowText(w) != f->caption) return TRUE;
      f->found = w;
      return FALSE;
    }
  };

  PROCESS_INFORMATION pi_{};
  bool started_ = false;
};

}  // namespace pw::test
