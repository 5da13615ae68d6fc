// Windows: PortwickA's main window, a progress window that is the program.
// The worker's progress and end come as posted messages, Timer0 and Timer1
// as WM_TIMER; minimising and restoring reach the model through WM_SIZE.
#include <windows.h>

#include <string>

#include "library/win32/progress_window.h"
#include "library/win32/views.h"
#include "portwicka/win32/views.h"

namespace pw {

namespace {

constexpr UINT kProgressMessage = WM_APP + 1;
constexpr UINT kEndedMessage = WM_APP + 2;
constexpr UINT_PTR kTimer0 = 10, kTimer1 = 1;
constexpr UINT kTimerInterval = 100;

class MainWindow final : public MainFormWindow {
 public:
  explicit MainWindow(TMainForm& form) : form_(form) {
    static const wchar_t* cls = RegisterClassOnce();
    // The progress window's fixed dialog frame without title-bar buttons, not on top.
    const DWORD style = WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS;
    const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_APPWINDOW;
    const SIZE outer = OuterSize(style, exStyle, kProgressClientWidth, kProgressClientHeight);
    hwnd_ = CreateWindowExW(exStyle, cls, L"", style, 1, 1, outer.cx, outer.cy, nullptr, nullptr, ThisModule(), this);
    SetPropW(hwnd_, kMainWindowMark, reinterpret_cast<HANDLE>(1));
    controls_ = MakeProgressControls(hwnd_);
  }

  ~MainWindow() override {
    if (IsWindow(hwnd_)) {
      SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
      DestroyWindow(hwnd_);
    }
  }

  HWND Handle() const { return hwnd_; }

  void SetCaption(const std::string& utf8) override { SetWindowTextW(hwnd_, Wide(utf8).c_str()); }
  void MoveTo(WindowPos pos) override {
    SetWindowPos(hwnd_, nullptr, pos.x, pos.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  WindowPos Position() const override {
    RECT r{};
    GetWindowRect(hwnd_, &r);
    return {r.left, r.top};
  }
  void Hide() override { ShowWindow(hwnd_, SW_HIDE); }
  void Minimize() override { ShowWindow(hwnd_, SW_MINIMIZE); }
  void EnableTimer0(bool enabled) override { Timer(kTimer0, enabled); }
  void EnableTimer1(bool enabled) override { Timer(kTimer1, enabled); }
  void EnableStopBtn(bool enabled) override { EnableWindow(controls_.stopBtn, enabled); }
  void Close() override { SendMessageW(hwnd_, WM_CLOSE, 0, 0); }
  void PostProgress() override { PostMessageW(hwnd_, kProgressMessage, 0, 0); }
  void PostEnded() override { PostMessageW(hwnd_, kEndedMessage, 0, 0); }

 private:
  static const wchar_t* RegisterClassOnce() {
    return RegisterWindowClass(L"TMainForm", MainWindow::Proc, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1),
                               ApplicationIcon());
  }

  void Timer(UINT_PTR id, bool enabled) {
    if (enabled)
      SetTimer(hwnd_, id, kTimerInterval, nullptr);
    else
      KillTimer(hwnd_, id);
  }

  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
      case kProgressMessage:
        ShowProgress(controls_, form_.Snapshot());
        return 0;
      case kEndedMessage:
        ShowProgress(controls_, form_.Snapshot());
        form_.WorkerEnded();
        return 0;
      case WM_TIMER:
        if (wp == kTimer0) form_.Timer0Timer();
        if (wp == kTimer1) form_.Timer1Timer();
        return 0;
      case WM_COMMAND:
        if (LOWORD(wp) == progress_id::StopBtn && HIWORD(wp) == BN_CLICKED) form_.StopBtnClick();
        return 0;
      case WM_SETCURSOR:
        if (HandCursorOver(wp, {controls_.stopBtn})) return TRUE;
        return DefWindowProcW(hwnd_, msg, wp, lp);
      case WM_SIZE:
        if (wp == SIZE_MINIMIZED && !minimized_) {
          minimized_ = true;
          form_.Minimized();
        } else if (wp == SIZE_RESTORED && minimized_) {
          minimized_ = false;
          form_.Restored();
        }
        return 0;
      case WM_CLOSE:
        form_.FormClose();
        DestroyWindow(hwnd_);
        return 0;
      case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
      default:
        return DefWindowProcW(hwnd_, msg, wp, lp);
    }
  }

  friend LRESULT CALLBACK ObjectWindowProc<MainWindow>(HWND, UINT, WPARAM, LPARAM);
  static constexpr WNDPROC Proc = &ObjectWindowProc<MainWindow>;

  TMainForm& form_;
  HWND hwnd_ = nullptr;
  ProgressControls controls_;
  bool minimized_ = false;
};

}  // namespace

std::unique_ptr<MainFormWindow> MakeMainWindow(TMainForm& form) { return std::make_unique<MainWindow>(form); }

HWND MainWindowHandle(MainFormWindow& window) { return static_cast<MainWindow&>(window).Handle(); }

}  // namespace pw
