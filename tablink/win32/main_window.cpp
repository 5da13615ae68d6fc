// Windows: Tablink's main window. It is made under the program's title at the
// stored position; its start timer connects a sheet or table, minimises or
// restores the program, puts the port and speed in the caption and starts the
// server. The server's progress comes as a posted message, its end as
// another; minimising and restoring reach the model through WM_SIZE.
#include <windows.h>

#include <commctrl.h>

#include <memory>
#include <string>

#include "frontend/program_alerts.h"
#include "frontend/transfer_progress.h"
#include "library/win32/progress_window.h"
#include "library/win32/views.h"
#include "tablink/server.h"
#include "tablink/win32/views.h"

namespace pw::tablink {

namespace {

constexpr UINT kProgressMessage = WM_APP + 1;
constexpr UINT kEndedMessage = WM_APP + 2;
constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kTimer1Interval = 10;
constexpr int kClientWidth = 199, kClientHeight = 41;

class MainWindow final : public TablinkWindow {
 public:
  MainWindow(Tablink& app, Clock& clock, const Alerts& alerts) : app_(app), clock_(clock), alerts_(alerts) {
    static const wchar_t* cls = RegisterClassOnce();
    // A fixed dialog frame without a system menu, on the task bar.
    const DWORD style = WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS;
    const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_APPWINDOW;
    const SIZE outer = OuterSize(style, exStyle, kClientWidth, kClientHeight);
    const Tablink::Position pos = app_.StoredPosition();
    CreateWindowExW(exStyle, cls, Wide(kTablinkTitle).c_str(), style, pos.x, pos.y, outer.cx, outer.cy, nullptr,
                    nullptr, ThisModule(), this);
    MakeControls();
    // Without the data objects the program cannot run at all.
    if (!app_.CreateDataObjects()) {
      Close(kExitRefused);
      return;
    }
    SetTimer(hwnd_, kTimer1, kTimer1Interval, nullptr);
  }

  ~MainWindow() override {
    EndServer();
    if (IsWindow(hwnd_)) {
      SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
      DestroyWindow(hwnd_);
    }
  }

  HWND Handle() const override { return hwnd_; }
  int ExitCode() const override { return exitCode_; }

 private:
  static const wchar_t* RegisterClassOnce() {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    return RegisterWindowClass(L"TMainForm", MainWindow::Proc, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1),
                               ApplicationIcon());
  }

  // The label above the gauge, the stop button at the right, as in the
  // progress window, fitted into the smaller client area.
  void MakeControls() {
    static const HFONT gothic = PointFont(L"ＭＳ ゴシック", 9);
    SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(FormFont()), FALSE);
    controls_.label = MakeChild(hwnd_, L"STATIC", L"受信待ち", SS_LEFT | SS_NOPREFIX, 10, 4, 186, 16,
                                progress_id::LabelFName, gothic);
    controls_.gauge = MakeChild(hwnd_, PROGRESS_CLASSW, L"", PBS_SMOOTH, 7, 21, 141, 16, progress_id::Gauge1, nullptr);
    SendMessageW(controls_.gauge, PBM_SETBKCOLOR, 0, RGB(255, 255, 255));
    SendMessageW(controls_.gauge, PBM_SETBARCOLOR, 0, RGB(0, 0, 255));
    SendMessageW(controls_.gauge, PBM_SETRANGE32, 0, 100);
    SendMessageW(controls_.gauge, PBM_SETPOS, 0, 0);
    controls_.stopBtn = MakeChild(hwnd_, L"BUTTON", L"終了", BS_PUSHBUTTON | WS_TABSTOP, 155, 16, 41, 24,
                                  progress_id::StopBtn, FormFont());
  }

  void Timer1Timer() {
    KillTimer(hwnd_, kTimer1);
    if (!app_.Connect()) {
      Close(kExitRefused);
      return;
    }
    if (!app_.DspFlag)
      ShowWindow(hwnd_, SW_MINIMIZE);
    else if (IsIconic(hwnd_))
      ShowWindow(hwnd_, SW_RESTORE);
    SetWindowTextW(hwnd_, Wide(app_.Caption()).c_str());
    const HWND self = hwnd_;
    progress_.OnChange([self] { PostMessageW(self, kProgressMessage, 0, 0); });
    progress_.OnEnd([self] { PostMessageW(self, kEndedMessage, 0, 0); });
    server_ =
        std::make_unique<TablinkServer>(*app_.Port(), clock_, progress_, alerts_, app_.Settings(), app_.Connection());
    server_->Start();
  }

  void StopBtnClick() {
    if (!server_) {  // the server has not started yet: nothing to end but the window
      Close(kExitNormal);
      return;
    }
    // Ending the program: the button goes first, so that it is pressed once.
    const bool ends = server_->ChkRcvWait();
    if (ends) EnableWindow(controls_.stopBtn, FALSE);
    if (app_.StopBtnClick(*server_))
      Close(kExitNormal);
    else if (ends)
      EnableWindow(controls_.stopBtn, TRUE);
  }

  // The server ended by itself (a failure it cannot go on from, already
  // shown): the program ends with it.
  void ServerEnded() {
    if (closed_ || !server_ || !server_->Ended()) return;
    Close(kExitFailed);
  }

  void Close(int exitCode) {
    exitCode_ = exitCode;
    SendMessageW(hwnd_, WM_CLOSE, 0, 0);
  }

  // The port goes when the window closes: the server must have ended first.
  void EndServer() {
    if (!server_) return;
    server_->EndCom();
    server_->WaitFor();
    server_.reset();
  }

  void FormClose() {
    if (closed_) return;
    closed_ = true;
    KillTimer(hwnd_, kTimer1);
    EndServer();
    RECT r{};
    GetWindowRect(hwnd_, &r);
    app_.FormClose(Tablink::Position{r.left, r.top});
    ShowWindow(hwnd_, SW_HIDE);
  }

  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
      case kProgressMessage:
        ShowProgress(controls_, progress_.Snapshot());
        return 0;
      case kEndedMessage:
        ShowProgress(controls_, progress_.Snapshot());
        ServerEnded();
        return 0;
      case WM_TIMER:
        if (wp == kTimer1) Timer1Timer();
        return 0;
      case WM_COMMAND:
        if (LOWORD(wp) == progress_id::StopBtn && HIWORD(wp) == BN_CLICKED) StopBtnClick();
        return 0;
      case WM_SETCURSOR:
        if (HandCursorOver(wp, {controls_.stopBtn})) return TRUE;
        return DefWindowProcW(hwnd_, msg, wp, lp);
      case WM_SIZE:
        if (wp == SIZE_MINIMIZED && !minimized_) {
          minimized_ = true;
          app_.DspFlag = false;
        } else if (wp == SIZE_RESTORED && minimized_) {
          minimized_ = false;
          app_.DspFlag = true;
        }
        return 0;
      case WM_CLOSE:
        FormClose();
        DestroyWindow(hwnd_);
        return 0;
      case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
      default:
        return DefWindowProcW(hwnd_, msg, wp, lp);
    }
  }

  friend LRESULT CALLBACK pw::ObjectWindowProc<MainWindow>(HWND, UINT, WPARAM, LPARAM);
  static constexpr WNDPROC Proc = &ObjectWindowProc<MainWindow>;

  Tablink& app_;
  Clock& clock_;
  const Alerts& alerts_;
  HWND hwnd_ = nullptr;
  ProgressControls controls_;
  TransferProgress progress_;
  std::unique_ptr<TablinkServer> server_;
  int exitCode_ = kExitNormal;
  bool minimized_ = false;
  bool closed_ = false;
};

}  // namespace

std::unique_ptr<TablinkWindow> MakeMainWindow(Tablink& app, Clock& clock, const Alerts& alerts) {
  return std::make_unique<MainWindow>(app, clock, alerts);
}

}  // namespace pw::tablink
