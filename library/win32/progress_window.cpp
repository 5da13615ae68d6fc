// Windows: the progress window. Its controls at their places; the worker's
// progress and end come as posted messages, Timer1 as WM_TIMER.
#include "library/win32/progress_window.h"

#include <commctrl.h>

#include <string>
#include <utility>

#include "library/win32/views.h"

namespace pw {

namespace {

// Messages the window posts itself.
constexpr UINT kProgressMessage = WM_APP + 1;
constexpr UINT kEndedMessage = WM_APP + 2;
constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kTimer1Interval = 100;

class ProgressWindow final : public ComFormWindow {
 public:
  ProgressWindow(std::weak_ptr<TComForm> form, HWND owner) : form_(std::move(form)) {
    static const wchar_t* cls = RegisterClassOnce();
    // A fixed dialog frame without title-bar buttons, always on top.
    const DWORD style = WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS;
    const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST;
    const SIZE outer = OuterSize(style, exStyle, kProgressClientWidth, kProgressClientHeight);
    hwnd_ = CreateWindowExW(exStyle, cls, L"", style, 1, 1, outer.cx, outer.cy, IsWindow(owner) ? owner : nullptr,
                            nullptr, ThisModule(), this);
    if (hwnd_ == nullptr) {
      // No desktop to show a window on (a service, a session without a
      // display): a message-only window still carries the worker's end and
      // Timer1, so the transfer calls return as always.
      hwnd_ = CreateWindowExW(0, cls, L"", 0, 1, 1, outer.cx, outer.cy, HWND_MESSAGE, nullptr, ThisModule(), this);
    }
    controls_ = MakeProgressControls(hwnd_);
  }

  ~ProgressWindow() override {
    if (hwnd_ != nullptr) {
      SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
      if (GetWindowThreadProcessId(hwnd_, nullptr) == GetCurrentThreadId()) DestroyWindow(hwnd_);
    }
  }

  void SetCaption(const std::string& utf8) override { SetWindowTextW(hwnd_, Wide(utf8).c_str()); }
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
    if (enabled)
      SetTimer(hwnd_, kTimer1, kTimer1Interval, nullptr);
    else
      KillTimer(hwnd_, kTimer1);
  }
  void Close() override { SendMessageW(hwnd_, WM_CLOSE, 0, 0); }
  void PostProgress() override { PostMessageW(hwnd_, kProgressMessage, 0, 0); }
  void PostEnded() override { PostMessageW(hwnd_, kEndedMessage, 0, 0); }

 private:
  static const wchar_t* RegisterClassOnce() {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    return RegisterWindowClass(L"TComForm", ProgressWindow::Proc, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1),
                               ApplicationIcon());
  }

  void ShowProgress() {
    const std::shared_ptr<TComForm> form = form_.lock();
    if (form) pw::ShowProgress(controls_, form->Snapshot());
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
        if (LOWORD(wp) == progress_id::StopBtn && HIWORD(wp) == BN_CLICKED && form) form->StopBtnClick();
        return 0;
      case WM_SETCURSOR:
        if (HandCursorOver(wp, {controls_.stopBtn})) return TRUE;
        return DefWindowProcW(hwnd_, msg, wp, lp);
      case WM_CLOSE:
        // Closing hides the window; it serves the next transfer.
        ShowWindow(hwnd_, SW_HIDE);
        if (form) form->FormClose();
        return 0;
      default:
        return DefWindowProcW(hwnd_, msg, wp, lp);
    }
  }

  friend LRESULT CALLBACK ObjectWindowProc<ProgressWindow>(HWND, UINT, WPARAM, LPARAM);
  static constexpr WNDPROC Proc = &ObjectWindowProc<ProgressWindow>;

  std::weak_ptr<TComForm> form_;
  HWND hwnd_ = nullptr;
  ProgressControls controls_;
};

}  // namespace

ProgressControls MakeProgressControls(HWND window) {
  static const HFONT gothic = PointFont(L"ＭＳ ゴシック", 9);
  SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(FormFont()), FALSE);
  ProgressControls c;
  c.label =
      MakeChild(window, L"STATIC", L"受信待ち", SS_LEFT | SS_NOPREFIX, 10, 4, 191, 16, progress_id::LabelFName, gothic);
  c.gauge = MakeChild(window, PROGRESS_CLASSW, L"", PBS_SMOOTH, 7, 21, 146, 16, progress_id::Gauge1, nullptr);
  SendMessageW(c.gauge, PBM_SETBKCOLOR, 0, RGB(255, 255, 255));
  SendMessageW(c.gauge, PBM_SETBARCOLOR, 0, RGB(0, 0, 255));
  SendMessageW(c.gauge, PBM_SETRANGE32, 0, 100);
  c.stopBtn = MakeChild(window, L"BUTTON", L"終了", BS_PUSHBUTTON | WS_TABSTOP, 160, 16, 41, 24, progress_id::StopBtn,
                        FormFont());
  return c;
}

void ShowProgress(const ProgressControls& controls, const ProgressSnapshot& s) {
  SetWindowTextW(controls.label, Wide(s.label).c_str());
  SendMessageW(controls.gauge, PBM_SETRANGE32, 0, s.gaugeMax);
  SendMessageW(controls.gauge, PBM_SETPOS, static_cast<WPARAM>(s.gaugeProgress), 0);
  if (!s.buttonCaption.empty()) SetWindowTextW(controls.stopBtn, Wide(s.buttonCaption).c_str());
}

std::unique_ptr<ComFormWindow> MakeProgressWindow(const std::weak_ptr<TComForm>& form, HWND owner) {
  return std::make_unique<ProgressWindow>(form, owner);
}

}  // namespace pw
