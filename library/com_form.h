// The progress window of the library: one per open port. It shows one
// transfer (a label, a gauge, a stop button) and is where a transfer starts
// and ends: Send0 and Receive0 start the worker and set Busy; when the worker
// has ended, the window hides, its timer fires 100 ms later and closes it,
// and FormClose stores the window's position and clears Busy, on which the
// waiting interface call returns.
//
// This is the model; a ComFormWindow realises it: a Win32 window on Windows,
// nothing visible on Linux, where a host program's terminal is not ours.
// Every handler runs on the thread of the waiting interface call, except
// where noted.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "common/ansi_string.h"
#include "engine/ym_thread.h"
#include "frontend/transfer_progress.h"
#include "library/settings_store.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/serial_device.h"

namespace pw {

/// What the library and the window share about the running transfer.
struct TransferShared {
  std::atomic<std::int32_t> Busy{0};  ///< -1 while a transfer runs
  std::int32_t TransferResult = 0;    ///< the last transfer's result code
  AnsiString FieldList;               ///< send: handed to the worker; receive: the received list, with commas
  AnsiString ExpectName;              ///< the one file a receive must deliver (upper case), or empty
  AnsiString RcvName;                 ///< the file received last, empty after a failed receive
};

class TComForm;

/// The window that shows a TComForm; the form owns it.
class ComFormWindow {
 public:
  virtual ~ComFormWindow() = default;
  virtual void SetCaption(const std::string& utf8) = 0;
  virtual void MoveTo(WindowPos pos) = 0;
  virtual WindowPos Position() const = 0;
  virtual void Show(bool visible) = 0;
  /// Starts (true) or stops Timer1, whose tick calls Timer1Timer.
  virtual void EnableTimer1(bool enabled) = 0;
  /// Closes the window (it stays, hidden, for the next transfer); calls FormClose.
  virtual void Close() = 0;
  /// Worker's thread: the progress changed; show the snapshot on the window's thread.
  virtual void PostProgress() = 0;
  /// Worker's thread: the worker has ended; call WorkerEnded on the window's thread.
  virtual void PostEnded() = 0;
};

class TComForm {
 public:
  TComForm(SerialDevice& device, Clock& clock, const Alerts& alerts, SettingsStore& settings, TransferShared& shared,
           std::string portName);
  ~TComForm();
  TComForm(const TComForm&) = delete;
  TComForm& operator=(const TComForm&) = delete;

  /// Gives the form its window, before any transfer; runs FormCreate.
  void Attach(std::unique_ptr<ComFormWindow> window);
  ComFormWindow& Window() { return *window_; }
  const std::string& PortName() const { return portName_; }

  // Fields set by the library before Send0 or Receive0.
  std::filesystem::path Tmp1File, Tmp2File;
  std::filesystem::path LogFile;
  std::filesystem::path RxFolder0;  ///< ends with the separator
  std::filesystem::path TxFile;
  AnsiString BhtFile;               ///< upper case
  std::int32_t RxMd = 0;            ///< 1 continuous receive
  std::int32_t WrMd = 0;            ///< 1 append

  /// Starts a send of TxFile as BhtFile.
  void Send0();
  /// Starts a receive into RxFolder0.
  void Receive0();
  /// The stop button: asks the worker to stop; the window stays until it ends.
  void StopBtnClick();
  /// The forced end, from the port's closing or the library's unloading.
  void EndCom();
  /// True while a transfer's worker runs.
  bool Running() const;
  /// True while a receive still waits for the terminal.
  bool ChkRcvWait() const;

  /// The worker has ended: the results go to the library, the window hides,
  /// Timer1 starts. Runs once per transfer.
  void WorkerEnded();
  /// Timer1: stops itself and closes the window.
  void Timer1Timer();
  /// The window closes: its position is stored for the port, Busy is cleared.
  void FormClose();

  /// The progress for the window to show (any thread).
  ProgressSnapshot Snapshot();

  /// How the worker's thread is run: a system thread that keeps the library
  /// loaded until it has ended (Windows), or a std::thread (Linux).
  class WorkerThread {
   public:
    virtual ~WorkerThread() = default;
    /// Waits until the thread has ended.
    virtual void Join() = 0;
  };
  using ThreadStarter = std::unique_ptr<WorkerThread> (*)(TYmThread& worker);
  /// Replaces the way worker threads start (the Windows library's own).
  static void SetThreadStarter(ThreadStarter starter);

 private:
  void FormCreate();
  void Start(TransferRequest request);
  TransferRequest BaseRequest() const;

  SerialDevice& device_;
  Clock& clock_;
  const Alerts& alerts_;
  SettingsStore& settings_;
  TransferShared& shared_;
  const std::string portName_;
  std::unique_ptr<ComFormWindow> window_;
  std::unique_ptr<TransferProgress> progress_;  // one per transfer
  // The worker, while it runs. Another thread of the host may stop it while
  // the waiting thread ends it: the lock keeps it alive for the stop.
  mutable std::mutex workerMutex_;
  std::unique_ptr<TYmThread> worker_;
  std::unique_ptr<WorkerThread> thread_;
  std::atomic<bool> endPosted_{false};
};

}  // namespace pw
