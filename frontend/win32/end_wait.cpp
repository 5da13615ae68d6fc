// Windows only: the main thread's wait is MsgWaitForMultipleObjectsEx on one
// event, dispatching the thread's messages as they come. Ended, Stop and the
// console's Ctrl+C handler (which runs on a thread of its own) count what
// happened in atomics and set the event. A WM_QUIT taken from the queue
// while waiting counts as a stop and is posted again once the wait is over.
#include "frontend/end_wait.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <system_error>

namespace pw {

struct EndWait::System {
  HANDLE wake = nullptr;  // auto-reset
  std::atomic<bool> ended{false};
  std::atomic<int> stops{0};
  bool quit = false;
  WPARAM quitCode = 0;
};

namespace {

std::atomic<EndWait::System*> gListening{nullptr};

BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  EndWait::System* s = gListening.load();
  if (!s) return FALSE;
  s->stops.fetch_add(1);
  SetEvent(s->wake);
  return TRUE;
}

}  // namespace

EndWait::EndWait() : system_(std::make_unique<System>()) {
  System& s = *system_;
  s.wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!s.wake) throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "CreateEvent");
  System* none = nullptr;
  if (!gListening.compare_exchange_strong(none, &s)) {
    CloseHandle(s.wake);
    throw std::logic_error("a program has one EndWait at a time");
  }
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

EndWait::~EndWait() {
  System& s = *system_;
  SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  gListening.store(nullptr);
  CloseHandle(s.wake);
  if (s.quit) PostQuitMessage(static_cast<int>(s.quitCode));
}

void EndWait::Shelter(const std::function<void()>& start) { start(); }

void EndWait::Ended() {
  system_->ended.store(true);
  SetEvent(system_->wake);
}

void EndWait::Stop() {
  system_->stops.fetch_add(1);
  SetEvent(system_->wake);
}

EndWait::Woken EndWait::Wait(std::int64_t timeoutMs) {
  System& s = *system_;
  const DWORD ms = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(std::min<std::int64_t>(timeoutMs, INFINITE - 1));
  const DWORD r = MsgWaitForMultipleObjectsEx(1, &s.wake, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  if (r == WAIT_FAILED)
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "MsgWaitForMultipleObjects");
  if (r == WAIT_OBJECT_0 + 1) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        s.quit = true;
        s.quitCode = msg.wParam;
        s.stops.fetch_add(1);
        continue;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return {s.ended.exchange(false), s.stops.exchange(0)};
}

}  // namespace pw
