// PortwickA's main window TMainForm as a model: the progress window of one
// transfer, which starts that transfer itself (Timer0), shows it, and closes
// the program when it has ended. It differs from the library's TComForm: it
// is not on top, it appears at its port's stored position, it is visible from
// the start, minimising it turns the display flag off for this run (and
// restoring turns it on), and closing it removes the temporary files and
// stores the position only while the display flag is on.
//
// A MainFormWindow realises it (the Win32 window); every handler runs on the
// window's thread unless noted.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "engine/ym_thread.h"
#include "frontend/transfer_progress.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "portwicka/portwicka.h"

namespace pw {

/// The window that shows a TMainForm; the form owns it.
class MainFormWindow {
 public:
  virtual ~MainFormWindow() = default;
  virtual void SetCaption(const std::string& utf8) = 0;
  virtual void MoveTo(WindowPos pos) = 0;
  virtual WindowPos Position() const = 0;
  virtual void Hide() = 0;
  /// Minimises the program (its window goes to the task bar).
  virtual void Minimize() = 0;
  virtual void EnableTimer0(bool enabled) = 0;
  virtual void EnableTimer1(bool enabled) = 0;
  virtual void EnableStopBtn(bool enabled) = 0;
  /// Closes the window: calls FormClose, then the program ends.
  virtual void Close() = 0;
  /// Worker's thread: the progress changed; show the snapshot on the window's thread.
  virtual void PostProgress() = 0;
  /// Worker's thread: the worker has ended; call WorkerEnded on the window's thread.
  virtual void PostEnded() = 0;
};

class TMainForm {
 public:
  /// \p app has started up (mode receive or send, the port open); \p choices
  /// are the send's file dialog and field dialog.
  TMainForm(PortwickA& app, Clock& clock, const Alerts& alerts, PortwickA::SendChoices choices);
  ~TMainForm();
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  /// Gives the form its window; runs FormCreate.
  void Attach(std::unique_ptr<MainFormWindow> window);
  MainFormWindow& Window() { return *window_; }

  /// Starts the transfer of the command line, or closes the window when a
  /// send cannot start.
  void Timer0Timer();
  /// The stop button: asks the worker to stop; the window stays until it ends.
  void StopBtnClick();
  /// The worker has ended: the window hides, Timer1 starts.
  void WorkerEnded();
  /// Timer1: stops itself, disables the stop button, closes the window.
  void Timer1Timer();
  /// The window closes: temporary files, position, port, Busy.
  void FormClose();
  /// The program was minimised or restored: the display flag off or on, for this run.
  void Minimized();
  void Restored();

  /// The progress for the window to show (any thread).
  ProgressSnapshot Snapshot();
  /// Set while the worker runs, cleared when the window closes.
  bool Busy() const { return busy_; }
  /// The result code of the transfer, once it has ended.
  std::optional<std::int32_t> Result() const { return result_; }

 private:
  void FormCreate();
  void Start(const TransferRequest& request);

  PortwickA& app_;
  Clock& clock_;
  const Alerts& alerts_;
  PortwickA::SendChoices choices_;
  std::unique_ptr<MainFormWindow> window_;
  std::unique_ptr<TransferProgress> progress_;
  std::mutex workerMutex_;  // the stop button reads the worker while WorkerEnded ends it
  std::unique_ptr<TYmThread> worker_;
  std::thread thread_;
  std::atomic<bool> busy_{false};
  std::atomic<bool> endPosted_{false};
  std::optional<std::int32_t> result_;
  bool closed_ = false;
};

}  // namespace pw
