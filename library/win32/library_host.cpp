// Windows: the library's host: its progress windows, the wait of the host's
// thread, which dispatches their messages, and the dialogs.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include <string>

#include "common/utf.h"
#include "library/portwick_library.h"
#include "library/win32/progress_window.h"
#include "library/win32/views.h"

namespace pw {

namespace {

/// A WM_QUIT that came during a wait: kept back, so that the window's timer
/// still fires (a waiting WM_QUIT would come before every WM_TIMER), and
/// posted again for the host's own loop when the wait is over.
struct HeldQuit {
  bool held = false;
  int code = 0;
  ~HeldQuit() {
    if (held) PostQuitMessage(code);
  }
};

/// Dispatches the thread's waiting messages.
void DispatchWaiting(HeldQuit& quit) {
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    if (m.message == WM_QUIT) {
      quit = {true, static_cast<int>(m.wParam)};
      continue;
    }
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
}

class Win32Host final : public LibraryHost {
 public:
  std::unique_ptr<ComFormWindow> MakeWindow(const std::shared_ptr<TComForm>& form, std::intptr_t ownerWnd) override {
    return MakeProgressWindow(form, reinterpret_cast<HWND>(ownerWnd));
  }

  void WaitWhile(const std::function<bool()>& busy) override {
    // Waiting costs nothing: the thread sleeps until a message comes, or 50 ms.
    HeldQuit quit;
    while (busy()) {
      MsgWaitForMultipleObjectsEx(0, nullptr, kPollMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
      DispatchWaiting(quit);
    }
  }

  void Pump(std::uint32_t ms) override {
    const DWORD start = GetTickCount();
    HeldQuit quit;
    for (;;) {
      const DWORD elapsed = GetTickCount() - start;
      if (elapsed >= ms) break;
      MsgWaitForMultipleObjectsEx(0, nullptr, std::min<DWORD>(kPollMs, ms - elapsed), QS_ALLINPUT,
                                  MWMO_INPUTAVAILABLE);
      DispatchWaiting(quit);
    }
  }

  void SettingsDialog(SettingsStore& store, const Alerts& alerts, std::intptr_t ownerWnd, bool) override {
    RunComModeDialog(store, alerts, reinterpret_cast<HWND>(ownerWnd));
  }

  std::optional<std::string> AskFileToSend(const std::string& startFolder, std::intptr_t ownerWnd) override {
    wchar_t file[MAX_PATH] = {};
    const std::wstring folder = Wide(startFolder);
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = IsWindow(reinterpret_cast<HWND>(ownerWnd)) ? reinterpret_cast<HWND>(ownerWnd) : nullptr;
    ofn.lpstrFile = file;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetOpenFileNameW(&ofn)) return std::nullopt;
    return Utf8(file);
  }

 private:
  static constexpr DWORD kPollMs = 50;
};

}  // namespace

LibraryHost& SystemLibraryHost() {
  static Win32Host* host = new Win32Host;
  return *host;
}

}  // namespace pw
