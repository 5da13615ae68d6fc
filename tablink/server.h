// The table transfer server's worker: it stays on its port as a receiver in
// continuous mode and serves the terminal. A data file (behind its field
// file) goes into the text file, sheet or table that its definition names; a
// request header ("#D" and a name) is answered with a batch of the field file
// and the records the definition gives. Every failure is logged, cancelled on
// the line, and followed by the wait for the next file; only the fatal ones
// (the log, a received file that cannot be put in place, a table that cannot
// be closed or committed, the port itself) end the worker.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <thread>

#include "content/field_file.h"
#include "content/history_log.h"
#include "engine/com_port.h"
#include "engine/receive_policy.h"
#include "engine/transfer_view.h"
#include "engine/transfer_worker.h"
#include "engine/ym_machine.h"
#include "engine/ym_receiver.h"
#include "engine/ym_sender.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/serial_device.h"
#include "tablink/definition_file.h"
#include "tablink/stores.h"
#include "tablink/table.h"

namespace pw::tablink {

/// What the server is given at its start.
struct ServerSettings {
  StoreSettings Store;
  std::filesystem::path Definitions;  ///< the definition file, read on demand
  bool SaveLog = false;
  std::filesystem::path LogFile;
};

/// The server's labels (UTF-8).
namespace server_text {
inline constexpr std::string_view kFileReceive = " ﾌｧｲﾙ受信";
inline constexpr std::string_view kDataSend = " ﾃﾞｰﾀ送信";
}  // namespace server_text

class TablinkServer final : public TransferWorker, private ComPortListener, private YmHost, private ReceivePolicy {
 public:
  /// \p connection is the table store's connection for SaveType 1 and 2,
  /// null for text. \p report, if set, hears of every finished or failed
  /// transfer (on the worker's thread), whether or not the log is kept.
  TablinkServer(SerialDevice& device, Clock& clock, TransferView& view, const Alerts& alerts, ServerSettings settings,
                TableConnection* connection, std::function<void(const LogEntry&)> report = {});
  ~TablinkServer() override;

  TablinkServer(const TablinkServer&) = delete;
  TablinkServer& operator=(const TablinkServer&) = delete;

  // ---- Running it: Start and WaitFor, or Begin / Pass / Finish on one thread.
  void Start() override;
  void WaitFor() override;
  void Execute();
  /// Opens the definition file and the log, purges the port; false when the
  /// server cannot run.
  bool Begin();
  enum class PassResult { Worked, Idle, Ended };
  PassResult Pass();
  void Finish();

  // ---- From other threads.
  /// Aborts the transfer in progress (code 2); nothing while the server waits.
  void StopCom() override;
  /// Ends the server: the cancel sequence, no log line, code 1.
  void EndCom() override;
  /// True while the server waits for the terminal, with no transfer in progress.
  bool ChkRcvWait() const override { return idle_.load(); }
  bool Ended() const override { return ended_.load(); }
  std::int32_t ErrorNo() const override { return errorNo_.load(); }

 private:
  // YmHost
  void End(const Ending& ending) override;
  void Dropped(std::span<const std::uint8_t> bytes) override;
  // ComPortListener
  void OnPortWrite(std::uint32_t tick) override;
  void OnPortFailure(std::int32_t code) override;
  void OnInputDiscarded(std::span<const std::uint8_t> bytes) override { Dropped(bytes); }
  // ReceivePolicy: the header of a file or a request.
  HeaderDecision Decide(std::span<const std::uint8_t> headerData) override;
  HeaderDecision DecideHeader(std::span<const std::uint8_t> headerData);

  HeaderDecision DecideDataFile(HeaderDecision d);
  void StartSend();
  void ActOnRequests();
  void ReturnToWaiting();
  void ShowWaiting();
  void CloseFiles();
  void WriteLog(std::int32_t code);
  void HandleFailure(const std::string& message);
  TYmComStat State() const { return sending_ ? sender_.State() : receiver_.State(); }
  YmTimer& Timer() { return sending_ ? sender_.Timer() : receiver_.Timer(); }
  bool Waiting() const;

  ComPort port_;
  Clock& clock_;
  TransferView& view_;
  const Alerts& alerts_;
  const ServerSettings settings_;
  TableConnection* connection_;
  std::function<void(const LogEntry&)> report_;
  YmSender sender_;
  YmReceiver receiver_;
  DefinitionFile definitions_;
  std::int32_t entrySize_ = 0;
  FieldLayout received_;    // what the last field file said
  AnsiString requested_;    // the name of a request, until its send starts
  AnsiString headerName_;   // the terminal's name of the file in the last header
  bool sendFlag_ = false;   // a request was acknowledged
  bool sending_ = false;    // the sender runs
  bool logSend_ = false;    // the log line in question is a send's

  std::thread worker_;
  std::atomic<bool> fStop_{false}, endCom_{false}, ended_{false}, idle_{false};
  std::atomic<std::int32_t> errorNo_{0};
  bool EndProg = false;
  CancelWatch cancel_;
  HistoryLog log_;
  std::uint8_t rxBuf_[kRxBufSize] = {};
};

}  // namespace pw::tablink
