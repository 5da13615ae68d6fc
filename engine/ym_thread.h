// The transfer worker: one send of a PC file to the terminal, or one receive
// (a batch, or batch after batch in continuous mode). It owns every buffer,
// file, counter and timer of the YMODEM engine, polls the port, runs the
// sender's or the receiver's state machine, reports progress to a view,
// honours a stop, writes the history log and ends with a result code.
//
// The creator gives the request, then calls Start (a std::thread runs
// Execute) and WaitFor, or drives Begin / Pass / Finish itself on one thread,
// as the engine's tests do over an in-memory line with a virtual clock.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "common/ansi_string.h"
#include "content/field_file.h"
#include "content/file_kind.h"
#include "content/history_log.h"
#include "content/received_file.h"
#include "content/record_conversion.h"
#include "engine/com_port.h"
#include "engine/transfer_request.h"
#include "engine/transfer_view.h"
#include "engine/transfer_worker.h"
#include "engine/ymodem_block.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/serial_device.h"

namespace pw {

/// The protocol state. BN0 to BN4 are never entered; the values are those of
/// the system's state list (0 to 33).
enum class TYmComStat : std::uint8_t {
  BN0, BN1, BN2, BN3, BN4,
  SS0,  ///< a fresh wait: purge, close files, show waiting, then as SS1
  SS1,  ///< the next file of the same batch: send 'C', wait for a header
  S00, S01, S02, S03, S04, S05, S06, S07,  ///< receive: header, then the first data block
  S10, S11, S12, S13, S14, S15, S16,       ///< receive: data blocks, then EOT
  S20, S21, S22, S23, S24,                 ///< send: the field file
  S30, S31, S32, S33,                      ///< send: the data file
  S40, S41, S42,                           ///< send: EOT and the end of the batch
};

/// "S00", "SS1", ...
std::string_view StateName(TYmComStat s);

/// Texts the transfer shows (UTF-8).
namespace transfer_text {
inline constexpr std::string_view kSend = "送信";
inline constexpr std::string_view kWaitReceive = "受信待ち";
inline constexpr std::string_view kAbort = "中断";
inline constexpr std::string_view kEnd = "終了";
inline constexpr std::string_view kSendStart = " 送信開始";
inline constexpr std::string_view kSending = " 送信中";
inline constexpr std::string_view kSendEnd = " 送信終了";
}  // namespace transfer_text

/// How long an idle pass of the worker's loop waits for input before it
/// polls again; short against every timeout the engine uses.
inline constexpr std::uint32_t kIdleWaitMs = 5;
/// The pauses between a header's ACK and the 'C' that asks for its data,
/// and after each received file.
inline constexpr std::uint32_t kAckToCMs = 100;
inline constexpr std::uint32_t kAfterFileMs = 50;
/// The pause before a file whose close failed is closed again.
inline constexpr std::uint32_t kCloseRetryMs = 100;

class TYmThread : public TransferWorker, private ComPortListener {
 public:
  /// \p device is the open port, borrowed for this transfer. \p alerts shows
  /// the log's error and any failure that ends the transfer.
  TYmThread(SerialDevice& device, Clock& clock, TransferView& view, const Alerts& alerts, TransferRequest request);
  /// Joins a running worker (after EndCom if it still runs).
  ~TYmThread() override;

  TYmThread(const TYmThread&) = delete;
  TYmThread& operator=(const TYmThread&) = delete;

  /// The request, as given.
  const TransferRequest& Request() const { return req_; }

  // ---- Running it ----
  /// Starts Execute on its own thread.
  void Start() override;
  /// Waits until the worker has ended.
  void WaitFor() override;
  /// The whole transfer on the calling thread: Begin, the loop, Finish.
  void Execute();

  /// Execute in steps, for a caller that drives the loop itself. Begin shows
  /// the start, opens the log and prepares the send or the first wait; false
  /// when the loop is not to run.
  bool Begin();
  enum class PassResult { Worked, Idle, Ended };
  /// One pass of the loop: the stop, the fresh-wait steps, one step of the
  /// sender or receiver. Idle when the port had nothing to read.
  PassResult Pass();
  /// Closes the files and the log, purges the port, reports the end.
  void Finish();

  // ---- From other threads ----
  /// The user's stop: ends a receive that waits for its first header with
  /// code 1 and nothing sent; aborts any exchange with code 2.
  void StopCom() override;
  /// Forced end (the port is being closed): code 1; unless the receiver waits
  /// for a header, the cancel sequence and a log line.
  void EndCom() override;
  /// True while a receive still waits for its first block.
  bool ChkRcvWait() const override { return RcvWaitFlg.load(); }

  // ---- Results ----
  std::int32_t ErrorNo() const override { return errorNo_.load(); }
  // Valid once the worker has ended.
  /// The last file stored (receive), empty unless the transfer ended with 0.
  AnsiString RcvFile() const;
  /// The field list of the last field file received, with commas.
  AnsiString ReceivedFieldList() const;
  TYmComStat YmComStat() const { return state_.load(); }
  bool Ended() const override { return EndProg.load(); }

 private:
  // ComPortListener
  void OnPortWrite(std::uint32_t tick) override;
  void OnPortFailure(std::int32_t code) override;

  bool OnWorker() const { return std::this_thread::get_id() == workerId_; }
  void SetState(TYmComStat s) { state_.store(s); }
  TYmComStat State() const { return state_.load(); }
  void SetError(std::int32_t code) { errorNo_.store(code); }
  void WriteLog(std::int32_t code);
  void Cancel() { ymodem::SendCancel(port_); }
  void EndWith(std::int32_t code, bool cancel);  // code, log, optional cancel, end
  void BatchOver();
  /// Receiver: cancel sequence, \p code, log line, batch over.
  void FailBatch(std::int32_t code);
  /// Receiver: counts a refusal or timeout in C1; the tenth in a row fails
  /// the batch with \p code and returns true.
  bool TenthFailure(std::int32_t code);
  /// The start state: "送信" or "受信待ち", the button, an empty gauge of 100.
  void ShowStart();
  void ShowLabelAnsi(std::string_view ansi);
  void SendTxBuf() { port_.WriteCom(TxBuf, TxSize); }
  void HandleFailure(const std::string& message);

  // Sender
  std::int32_t PrepareSend();
  void SendProc(const std::uint8_t* bytes, std::int32_t count);
  void SendTimeout();
  void SendResend();
  void BuildFieldBlock();
  void BuildNextDataBlock();
  void PutEot();

  // Receiver
  void RcvProc(const std::uint8_t* bytes, std::int32_t count);
  void RcvTimeout();
  void StartBlock(std::uint8_t first);
  int ChkHeader();
  int ChkBlock();
  void ActOnHeader(int verdict);
  void ActOnBlock(int verdict);
  void FinishFile();
  void CloseFiles();
  void FreshWait(bool purge);

  ComPort port_;
  Clock& clock_;
  TransferView& view_;
  const Alerts& alerts_;
  const TransferRequest req_;

  std::thread worker_;
  std::thread::id workerId_;

  // Shared with other threads.
  std::atomic<bool> fStop{false}, EndProg{false}, RcvWaitFlg{false}, endCom_{false}, endComLog_{false};
  std::atomic<std::int32_t> errorNo_{0};
  std::atomic<TYmComStat> state_{TYmComStat::SS0};
  std::atomic<std::uint32_t> tw{0};

  // Files.
  HistoryLog Flog;
  bool FlogOpen = false;
  CsvBlockReader Fdat;
  bool FdatOpen = false;
  std::ifstream Ftmp2In;  // send: the PC file as raw bytes
  RawReceiver Ftmp2;
  RecordReceiver Ftmp1;
  FieldFileCollector fldText_;

  // Transfer state.
  AnsiString BhtFName;   // the file in transfer
  AnsiString FieldsDat;  // send: the field list, then the field-file text
  AnsiString ChkFields;  // receive: the expected field list, blank-separated
  TFileType FileType = TFileType::NULL_;
  FieldLayout received_;  // what the last field file said (receive)
  FieldLayout layout_;    // the send's layout
  std::int32_t fSize = 0;
  std::int64_t TmpRcvSize = 0;  // may pass fSize by a block: kept wide
  std::int32_t iBlockNo = 0, iEndBlock = 0, iBlockSize = 0, iRecords = 0;
  std::uint8_t Blk[2] = {0, 0}, ChkBlk[2] = {0, 0};
  std::uint8_t DatBuf[ymodem::kSmallBlock] = {};
  std::uint8_t RxBuf[kRxBufSize] = {};
  std::uint8_t TxBuf[ymodem::kTxBufSize] = {};
  std::int32_t iRxN = 0, TxSize = 0;
  std::uint8_t pBuf[kRxBufSize] = {};
  std::uint16_t CRC16 = 0;
  std::uint32_t Tmr = 0;
  std::int32_t C1 = 0, C2 = 0;
  AnsiString FNameCaption;
  std::int32_t GaugeMaxValue = 0;
  std::size_t fieldPos_ = 0;  // send: field-file text already in blocks
  AnsiString rcvFile_;
};

}  // namespace pw
