// The transfer worker of the library and PortwickA: one send of a PC file to
// the terminal, or one receive (a batch, or batch after batch in continuous
// mode). It runs the sender or the receiver over the port, carries out the
// user's stop and the forced end, writes the history log and ends with a
// result code; it alone writes that code.
//
// The creator gives the request, then calls Start (a std::thread runs
// Execute) and WaitFor, or drives Begin / Pass / Finish itself on one thread,
// as the engine's tests do over an in-memory line with a virtual clock.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <thread>

#include "common/ansi_string.h"
#include "content/history_log.h"
#include "engine/com_port.h"
#include "engine/file_transfer.h"
#include "engine/transfer_request.h"
#include "engine/transfer_text.h"
#include "engine/transfer_view.h"
#include "engine/transfer_worker.h"
#include "engine/ym_machine.h"
#include "engine/ym_receiver.h"
#include "engine/ym_sender.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/message_box.h"
#include "platform/serial_device.h"

namespace pw {

/// The pause before a log whose close failed is closed again.
inline constexpr std::uint32_t kCloseRetryMs = 100;

class TYmThread : public TransferWorker, private ComPortListener, private YmHost {
 public:
  /// \p device is the open port, borrowed for this transfer. \p alerts shows
  /// the log's error and any failure that ends the transfer.
  TYmThread(SerialDevice& device, Clock& clock, TransferView& view, const Alerts& alerts, TransferRequest request);
  /// Ends a running worker by force and joins it.
  ~TYmThread() override;

  TYmThread(const TYmThread&) = delete;
  TYmThread& operator=(const TYmThread&) = delete;

  /// The request, as given.
  const TransferRequest& Request() const { return req_; }

  // ---- Running it ----
  void Start() override;
  void WaitFor() override;
  /// The whole transfer on the calling thread: Begin, the loop, Finish. An
  /// idle pass waits for input until the running timeout's deadline, or
  /// until a stop or a forced end wakes it.
  void Execute();

  /// Execute in steps, for a caller that drives the loop itself. Begin shows
  /// the start, opens the log and prepares the send or the first wait; false
  /// when the loop is not to run.
  bool Begin();
  enum class PassResult { Worked, Idle, Ended };
  /// One pass of the loop: a stop or forced end asked for, the fresh-wait
  /// steps, one step of the sender or receiver. Idle when the port had
  /// nothing to read.
  PassResult Pass();
  /// Closes the files and the log, purges the port, reports the end.
  void Finish();

  // ---- From other threads: they only ask, and wake the worker ----
  /// The user's stop: ends a receive that waits for its first header with
  /// code 1 and nothing sent; aborts any exchange with code 2.
  void StopCom() override;
  /// Forced end (the port is being closed): code 1; unless the receiver waits
  /// for a header, the cancel sequence and a log line.
  void EndCom() override;
  /// True while a receive still waits for its first block.
  bool ChkRcvWait() const override { return !req_.TxFlag && receiver_.Waiting(); }

  // ---- Results ----
  std::int32_t ErrorNo() const override { return errorNo_.load(); }
  /// True once the files and the log are closed and the view is told.
  bool Ended() const override { return ended_.load(); }
  // Valid once the worker has ended.
  /// The last file stored (receive), empty unless the transfer ended with 0.
  AnsiString RcvFile() const { return receiver_.RcvFile(); }
  /// The field list of the last field file received, with commas; empty
  /// unless the transfer ended with 0.
  AnsiString ReceivedFieldList() const { return policy_.ReceivedFieldList(); }
  /// The protocol state after the last pass.
  TYmComStat YmComStat() const { return state_.load(); }

 private:
  // YmHost
  void End(const Ending& ending) override;
  void Dropped(std::span<const std::uint8_t> bytes) override;
  // ComPortListener
  void OnPortWrite(std::uint32_t tick) override;
  void OnPortFailure(std::int32_t code) override;
  void OnInputDiscarded(std::span<const std::uint8_t> bytes) override { Dropped(bytes); }

  TYmComStat State() const { return req_.TxFlag ? sender_.State() : receiver_.State(); }
  YmTimer& Timer() { return req_.TxFlag ? sender_.Timer() : receiver_.Timer(); }
  std::int32_t PrepareSend();
  void ActOnRequests();
  void WriteLog(std::int32_t code);
  /// The start state: "送信" or "受信待ち", the button, an empty gauge of 100.
  void ShowStart();
  void ShowLabelAnsi(std::string_view ansi) { view_.SetLabel(FromAnsi(ansi)); }
  void CloseFiles();
  void HandleFailure(const std::string& message);

  ComPort port_;
  Clock& clock_;
  TransferView& view_;
  const Alerts& alerts_;
  const TransferRequest req_;
  FileReceivePolicy policy_;
  YmSender sender_;
  YmReceiver receiver_;

  std::thread worker_;
  // Shared with other threads.
  std::atomic<bool> fStop{false}, endCom_{false}, ended_{false};
  std::atomic<std::int32_t> errorNo_{0};
  std::atomic<TYmComStat> state_{TYmComStat::SS0};

  bool EndProg = false;
  CancelWatch cancel_;
  HistoryLog Flog;
  bool FlogOpen = false;
  std::uint8_t RxBuf[kRxBufSize] = {};
};

}  // namespace pw
