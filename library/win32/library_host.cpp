// Windows: the library's progress window, the wait of the host's thread, which
// dispatches its window messages, and the dialogs.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include <string>

#include "common/utf.h"
#include "library/portwick_library.h"
#include "library/win32/views.h"

namespace pw {

namespace {

std::wstring W(std::string_view utf8) {
  const std::u16string s = Utf8ToUtf16(utf8);
  return std::wstring(s.begin(), s.end());
}

std::string U(const std::wstring& wide) { return Utf16ToUtf8(std::u16string(wide.begin(), wide.end())); }

// Messages the window posts itself.
constexpr UINT kProgressMessage = WM_APP + 1;
constexpr UINT kEndedMessage = WM_APP + 2;
constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kTimer1Interval = 100;
constexpr int kStopBtnId = 100;

// The controls' places in the client area (204 × 42).
constexpr int kClientWidth = 204, kClientHeight = 42;

class ProgressWindow final : public ComFormWindow {
 public:
  ProgressWindow(std::weak_ptr<TComForm> form, HWND owner) : form_(std::move(form)) {
    static const wchar_t* cls = RegisterClassOnce();
    const DWORD style = WS_POPUP | WS_CAPTION;
    const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST;
    RECT r{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
    hwnd_ = CreateWindowExW(exStyle, cls, L"", style, 1, 1, r.right - r.left, r.bottom - r.top,
                            IsWindow(owner) ? owner : nullptr, nullptr, ThisModule(), this);
    static const HFONT pgothic = PointFont(L"ＭＳ Ｐゴシック", 9);
    static const HFONT gothic = PointFont(L"ＭＳ ゴシック", 9);
    SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(pgothic), FALSE);
    label_ = Child(L"STATIC", L"受信待ち", SS_LEFT | SS_NOPREFIX, 10, 4, 191, 16, 0, gothic);
    gauge_ = Child(PROGRESS_CLASSW, L"", 0, 7, 21, 146, 16, 0, nullptr);
    SendMessageW(gauge_, PBM_SETBKCOLOR, 0, RGB(255, 255, 255));
    SendMessageW(gauge_, PBM_SETBARCOLOR, 0, RGB(0, 0, 255));
    SendMessageW(gauge_, PBM_SETRANGE32, 0, 100);
    stopBtn_ = Child(L"BUTTON", L"終了", BS_PUSHBUTTON | WS_TABSTOP, 160, 16, 41, 24, kStopBtnId, pgothic);
    SetClassLongPtrW(stopBtn_, GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(LoadCursorW(nullptr, IDC_HAND)));
  }

  ~ProgressWindow() override {
    if (hwnd_ != nullptr) {
      SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
      if (GetWindowThreadProcessId(hwnd_, nullptr) == GetCurrentThreadId()) DestroyWindow(hwnd_);
    }
  }

  void SetCaption(const std::string& utf8) override { SetWindowTextW(hwnd_, W(utf8).c_str()); }
  void MoveTo(WindowPos pos) override {
    SetWindowPos(hwnd_, nullptr, pos.x, pos.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  WindowPos Position() const override {
    RECT r{};
    GetWindowRect(hwnd_, &r);
    return {r.left, r.top};
  }
  void Show(bool visible) override { ShowWindow(hwnd_, visible ? SW_SHOWNOACTIVATE : SW_HIDE); }
  void EnableTimer1(bool enabled) override {
    if (enabled) SetTimer(hwnd_, kTimer1, kTimer1Interval, nullptr);
    else KillTimer(hwnd_, kTimer1);
  }
  void Close() override { SendMessageW(hwnd_, WM_CLOSE, 0, 0); }
  void PostProgress() override { PostMessageW(hwnd_, kProgressMessage, 0, 0); }
  void PostEnded() override { PostMessageW(hwnd_, kEndedMessage, 0, 0); }

  HWND Handle() const { return hwnd_; }

 private:
  static const wchar_t* RegisterClassOnce() {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &ProgressWindow::Proc;
    wc.hInstance = ThisModule();
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"TComForm";
    wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    RegisterClassExW(&wc);
    return wc.lpszClassName;
  }

  HWND Child(const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h, int id, HFONT font) {
    HWND c = CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, hwnd_,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ThisModule(), nullptr);
    if (font != nullptr) SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return c;
  }

  void ShowProgress() {
    const std::shared_ptr<TComForm> form = form_.lock();
    if (!form) return;
    const ProgressSnapshot s = form->Snapshot();
    SetWindowTextW(label_, W(s.label).c_str());
    SendMessageW(gauge_, PBM_SETRANGE32, 0, s.gaugeMax);
    SendMessageW(gauge_, PBM_SETPOS, static_cast<WPARAM>(s.gaugeProgress), 0);
    if (!s.buttonCaption.empty()) SetWindowTextW(stopBtn_, W(s.buttonCaption).c_str());
  }

  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp) {
    const std::shared_ptr<TComForm> form = form_.lock();
    switch (msg) {
      case kProgressMessage:
        ShowProgress();
        return 0;
      case kEndedMessage:
        ShowProgress();
        if (form) form->WorkerEnded();
        return 0;
      case WM_TIMER:
        if (wp == kTimer1 && form) form->Timer1Timer();
        return 0;
      case WM_COMMAND:
        if (LOWORD(wp) == kStopBtnId && HIWORD(wp) == BN_CLICKED && form) form->StopBtnClick();
        return 0;
      case WM_CLOSE:
        // Closing hides the window; it serves the next transfer.
        ShowWindow(hwnd_, SW_HIDE);
        if (form) form->FormClose();
        return 0;
      default:
        return DefWindowProcW(hwnd_, msg, wp, lp);
    }
  }

  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
      auto* self = static_cast<ProgressWindow*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
      self->hwnd_ = hwnd;
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<ProgressWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr) return DefWindowProcW(hwnd, msg, wp, lp);
    return self->Handle(msg, wp, lp);
  }

  std::weak_ptr<TComForm> form_;
  HWND hwnd_ = nullptr;
  HWND label_ = nullptr, gauge_ = nullptr, stopBtn_ = nullptr;
};

/// Dispatches the thread's waiting messages; false after WM_QUIT (posted again
/// for the host's own loop).
bool DispatchWaiting() {
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    if (m.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(m.wParam));
      return false;
    }
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  return true;
}

class Win32Host final : public LibraryHost {
 public:
  std::unique_ptr<ComFormWindow> MakeWindow(const std::shared_ptr<TComForm>& form, std::intptr_t ownerWnd) override {
    return std::make_unique<ProgressWindow>(form, reinterpret_cast<HWND>(ownerWnd));
  }

  void WaitWhile(const std::function<bool()>& busy) override {
    // Waiting costs nothing: the thread sleeps until a message comes, or 50 ms.
    while (busy()) {
      MsgWaitForMultipleObjectsEx(0, nullptr, kPollMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
      if (!DispatchWaiting()) Sleep(kPollMs);
    }
  }

  void Pump(std::uint32_t ms) override {
    const DWORD start = GetTickCount();
    for (;;) {
      const DWORD elapsed = GetTickCount() - start;
      if (elapsed >= ms) break;
      MsgWaitForMultipleObjectsEx(0, nullptr, std::min<DWORD>(kPollMs, ms - elapsed), QS_ALLINPUT,
                                  MWMO_INPUTAVAILABLE);
      if (!DispatchWaiting()) Sleep(kPollMs);
    }
  }

  void SettingsDialog(SettingsStore& store, const Alerts& alerts, std::intptr_t ownerWnd, bool) override {
    RunComModeDialog(store, alerts, reinterpret_cast<HWND>(ownerWnd));
  }

  std::optional<std::string> AskFileToSend(const std::string& startFolder, std::intptr_t ownerWnd) override {
    wchar_t file[MAX_PATH] = {};
    const std::wstring folder = W(startFolder);
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = IsWindow(reinterpret_cast<HWND>(ownerWnd)) ? reinterpret_cast<HWND>(ownerWnd) : nullptr;
    ofn.lpstrFile = file;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetOpenFileNameW(&ofn)) return std::nullopt;
    return U(file);
  }

 private:
  static constexpr DWORD kPollMs = 50;
};

}  // namespace

HMODULE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

HFONT PointFont(const wchar_t* face, int points) {
  HDC dc = GetDC(nullptr);
  const int height = -MulDiv(points, GetDeviceCaps(dc, LOGPIXELSY), 72);
  ReleaseDC(nullptr, dc);
  return CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
}

LibraryHost& SystemLibraryHost() {
  static Win32Host* host = new Win32Host;
  return *host;
}

}  // namespace pw
