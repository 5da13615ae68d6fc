// The server's loop, its header rules, its sends on request and its one way
// to end a transfer.
//
// The server is the library's receiver in continuous mode with rules of its
// own for a header (Decide) and a sender that it runs between batches when a
// request was acknowledged. Every failure sends the cancel sequence and, like
// every end of a batch, returns to a fresh wait; a file that cannot be put in
// place, a table that cannot be closed or committed, the log and the port
// end the server.
#include "tablink/server.h"

#include <algorithm>
#include <exception>

#include "content/file_kind.h"
#include "content/result_codes.h"
#include "engine/file_transfer.h"
#include "engine/transfer_text.h"
#include "engine/ymodem_block.h"
#include "platform/codepage.h"
#include "platform/thread_priority.h"
#include "tablink/result_texts.h"

namespace pw::tablink {

using S = TYmComStat;

namespace {

/// The length of a request's name part: "#D" and the name filled with blanks to 12 bytes.
constexpr std::size_t kRequestLength = 14;
/// The pause before a log whose close failed is closed again.
constexpr std::uint32_t kCloseRetryMs = 100;

bool IsRefusedReceiveKind(TFileType t) {
  return t == TFileType::PD3 || t == TFileType::PD4 || t == TFileType::FN3EX3 || t == TFileType::JPG;
}

}  // namespace

TablinkServer::TablinkServer(SerialDevice& device, Clock& clock, TransferView& view, const Alerts& alerts,
                             ServerSettings settings, TableConnection* connection,
                             std::function<void(const LogEntry&)> report)
    : port_(device, clock, *this),
      clock_(clock),
      view_(view),
      alerts_(alerts),
      settings_(std::move(settings)),
      connection_(connection),
      report_(std::move(report)),
      sender_(port_, clock, view, *this),
      receiver_(port_, clock, view, *this, *this) {}

TablinkServer::~TablinkServer() {
  if (worker_.joinable()) {
    EndCom();
    worker_.join();
  }
}

// ---------------------------------------------------------------------------
// Running

void TablinkServer::Start() {
  worker_ = std::thread([this] {
    SetWorkerPriority(WorkerPriority::Send);
    Execute();
  });
}

void TablinkServer::WaitFor() {
  if (worker_.joinable()) worker_.join();
}

void TablinkServer::Execute() {
  try {
    if (Begin()) {
      while (true) {
        const PassResult r = Pass();
        if (r == PassResult::Ended) break;
        if (r == PassResult::Idle) port_.WaitForInput(Timer().Left(clock_.TickCount()));
      }
    }
    Finish();
  } catch (const std::exception& e) {
    alerts_.Error(e.what());
    ended_ = true;
    idle_ = false;
    view_.TransferEnded();
  }
}

bool TablinkServer::Begin() {
  ShowWaiting();
  try {
    if (!definitions_.OpenRead(settings_.Definitions)) {
      alerts_.Error("設定データにアクセスできません！！");
      errorNo_ = result::FileAccessError;
      return false;
    }
    entrySize_ = std::max(0, definitions_.RecordCount() - 1);
    port_.Purge();
    if (settings_.SaveLog && !log_.Open(settings_.LogFile)) {
      alerts_.Error(kLogOpenErrorCaption, LogOpenErrorText(settings_.LogFile));
      errorNo_ = result::FileAccessError;
      return false;
    }
    receiver_.Restart();
    Timer().tw = clock_.TickCount();
    return true;
  } catch (const std::exception& e) {
    HandleFailure(e.what());
    return false;
  }
}

TablinkServer::PassResult TablinkServer::Pass() {
  try {
    if (EndProg) return PassResult::Ended;
    ActOnRequests();
    if (EndProg) return PassResult::Ended;
    if (sendFlag_) {
      sendFlag_ = false;
      StartSend();
      if (EndProg) return PassResult::Ended;
    }
    if (!sending_ && (State() == S::SS0 || State() == S::SS1)) {
      const bool fresh = State() == S::SS0;
      if (fresh) port_.PurgeInput();
      CloseFiles();
      errorNo_ = result::NormalEnd;
      if (fresh) ShowWaiting();
      receiver_.Listen(fresh);
    }
    idle_ = Waiting();

    cancel_.NewRead();
    const std::int32_t n = port_.ReadCom(rxBuf_);
    const std::span<const std::uint8_t> bytes(rxBuf_, static_cast<std::size_t>(n));
    if (sending_)
      n == 0 ? sender_.SendTimeout() : sender_.SendProc(bytes);
    else
      n == 0 ? receiver_.RcvTimeout() : receiver_.RcvProc(bytes);
    if (cancel_.Take() && !EndProg) End({.code = result::Aborted, .log = true, .scope = EndScope::Batch});
    idle_ = Waiting();
    if (EndProg) return PassResult::Ended;
    return n == 0 ? PassResult::Idle : PassResult::Worked;
  } catch (const StoreError& e) {
    // A row or a cell that fails: this transfer ends, the server goes on.
    End({.code = e.Code, .log = true, .cancel = true, .scope = EndScope::Batch});
    return EndProg ? PassResult::Ended : PassResult::Worked;
  } catch (const std::exception& e) {
    HandleFailure(e.what());
    return PassResult::Ended;
  }
}

void TablinkServer::Finish() {
  CloseFiles();
  if (log_.IsOpen() && !log_.Close()) {
    clock_.Sleep(kCloseRetryMs);
    log_.Close();
  }
  definitions_.Close();
  try {
    port_.PurgeInput();
  } catch (const std::exception&) {
    // The port is failing; there is nothing left to clear.
  }
  clock_.Sleep(kTurnaroundMs);
  idle_ = false;
  ended_ = true;
  view_.TransferEnded();
}

void TablinkServer::HandleFailure(const std::string& message) {
  alerts_.Error(message);
  if (ErrorNo() == result::NormalEnd) {
    errorNo_ = result::FileAccessError;
    try {
      WriteLog(result::FileAccessError);
    } catch (const std::exception&) {
      // The log itself failed; the code stands.
    }
  }
  EndProg = true;
}

// ---------------------------------------------------------------------------
// Stop, end, and the one way a transfer ends

void TablinkServer::StopCom() {
  fStop_ = true;
  port_.Wake();
}

void TablinkServer::EndCom() {
  if (ended_) return;
  endCom_ = true;
  port_.Wake();
}

bool TablinkServer::Waiting() const {
  if (sending_ || sendFlag_) return false;
  const S s = receiver_.State();
  return s == S::SS0 || s == S::SS1 || (s == S::S00 && receiver_.Waiting());
}

void TablinkServer::ActOnRequests() {
  if (endCom_.exchange(false)) {
    // The end: answered like a failure, but nothing is logged.
    fStop_ = false;
    ymodem::SendCancel(port_);
    errorNo_ = result::Cancelled;
    EndProg = true;
    return;
  }
  // A stop while the server waits has nothing to abort.
  if (fStop_.exchange(false) && !Waiting())
    End({.code = result::Aborted, .log = true, .cancel = true, .scope = EndScope::Batch});
}

void TablinkServer::End(const Ending& e) {
  // Every failure is cancelled on the line, whatever ended it.
  if (e.cancel || (e.code && *e.code != result::NormalEnd)) ymodem::SendCancel(port_);
  if (e.code) errorNo_ = *e.code;
  if (e.log) WriteLog(ErrorNo());
  switch (e.scope) {
    case EndScope::File:
      return;
    case EndScope::Batch:
      ReturnToWaiting();
      return;
    case EndScope::Transfer:
      // A send ends as a transfer, and the server waits again; a receive
      // ends so only when its file cannot be put in place.
      if (sending_)
        ReturnToWaiting();
      else
        EndProg = true;
      return;
  }
}

void TablinkServer::ReturnToWaiting() {
  sending_ = false;
  logSend_ = false;
  receiver_.Restart();
}

void TablinkServer::Dropped(std::span<const std::uint8_t> bytes) {
  if (EndProg || (!sending_ && receiver_.State() == S::SS0)) return;
  cancel_.Passed(bytes);
}

void TablinkServer::OnPortWrite(std::uint32_t tick) { Timer().tw = tick; }

void TablinkServer::OnPortFailure(std::int32_t code) {
  // The port itself fails: logged, and the server ends (the port raises the
  // error that is shown).
  errorNo_ = code;
  WriteLog(code);
  EndProg = true;
}

void TablinkServer::WriteLog(std::int32_t code) {
  // A received file's line names it as the terminal did, not as it was stored.
  const FileFacts& f = logSend_ ? sender_.Facts() : receiver_.Facts();
  const AnsiString& name = logSend_ || headerName_.empty() ? f.BhtFName : headerName_;
  const LogEntry entry{clock_.Now(), name, f.FileType, f.iRecords, f.fSize, logSend_, code};
  if (log_.IsOpen()) log_.WriteLog(entry, ResultText);
  if (report_) report_(entry);
}

void TablinkServer::ShowWaiting() {
  view_.SetLabel(transfer_text::kWaitReceive);
  view_.SetButtonCaption(transfer_text::kEnd);
  receiver_.SetWaiting(true);
  view_.SetGaugeMax(100);
  view_.SetGaugeProgress(0);
}

void TablinkServer::CloseFiles() {
  sender_.CloseSource();
  receiver_.CloseFile();
  if (connection_) ReleaseTable(*connection_);
}

// ---------------------------------------------------------------------------
// Headers

HeaderDecision TablinkServer::Decide(std::span<const std::uint8_t> headerData) {
  HeaderDecision d = DecideHeader(headerData);
  headerName_ = d.Facts.BhtFName;
  return d;
}

HeaderDecision TablinkServer::DecideHeader(std::span<const std::uint8_t> headerData) {
  HeaderDecision d;
  if (headerData.empty()) return d;
  if (headerData[0] == 0x00) {
    d.Answer = HeaderAnswer::EndOfBatch;
    d.Facts.FileType = TFileType::NULL_;
    return d;
  }
  // A request: "#D" and a name of 12 bytes, blanks filling it.
  const auto nul = std::find(headerData.begin(), headerData.end(), std::uint8_t{0});
  const std::string_view namePart(reinterpret_cast<const char*>(headerData.data()),
                                  static_cast<std::size_t>(nul - headerData.begin()));
  if (nul != headerData.end() && namePart.size() == kRequestLength && namePart.starts_with("#D")) {
    std::string_view name = namePart.substr(2);
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    requested_ = AnsiString(name);
    sendFlag_ = true;
    d.Answer = HeaderAnswer::Request;
    d.Facts = {requested_, TFileType::DATA, 0, 0};
    return d;
  }

  const ReceiveKind k = ChooseReceiveKind(headerData, false, {}, {}, received_);
  d.Facts = {k.BhtFName, k.FileType, 0, k.fSize};
  if (k.Verdict != HeaderVerdict::Accepted) return d;  // refused: NAK
  d.FNameCaption = k.BhtFName + ToAnsi(server_text::kFileReceive);
  if (IsRefusedReceiveKind(k.FileType)) {
    d.Answer = HeaderAnswer::Fail;
    d.FailCode = code::RefusedReceive;
    return d;
  }
  if (k.FileType == TFileType::FLD) {
    d.Answer = HeaderAnswer::Accept;
    d.Sink = MakeFieldFileSink(received_);
    return d;
  }
  // Every other name is a data file, taken only right behind its own field
  // file; the library's raw kinds are no exception here.
  if (IsRawKind(k.FileType) && (k.BhtFName != received_.ChkFName || received_.iNFields == 0 ||
                                received_.iRecords == 0 || received_.iRecSize0 == 0)) {
    received_.ChkFName.clear();
    d.Facts.FileType = TFileType::DATA;
    return d;
  }
  return DecideDataFile(std::move(d));
}

HeaderDecision TablinkServer::DecideDataFile(HeaderDecision d) {
  d.Facts.FileType = TFileType::DATA;
  d.Facts.iRecords = received_.iRecords;
  const auto fail = [&d](std::int32_t failCode, EndScope scope) {
    d.Answer = HeaderAnswer::Fail;
    d.FailCode = failCode;
    d.FailScope = scope;
    d.Sink.reset();
    return std::move(d);
  };
  const std::optional<Definition> def = FindForReceive(definitions_, entrySize_, d.Facts.BhtFName);
  if (!def) return fail(code::NotForReceive, EndScope::Batch);
  const StoreLayout layout = ReceiveLayout(received_, *def);
  std::int32_t rc;
  if (settings_.Store.SaveType == kSaveExcel || settings_.Store.SaveType == kSaveAccess)
    rc = connection_ ? OpenTableReceive(*connection_, settings_.Store, *def, layout, alerts_, d.Sink)
                     : code::TableOpen;
  else
    rc = OpenTextReceive(settings_.Store, *def, layout, clock_, alerts_, d.Sink);
  // A temporary file that cannot be made ends the server, as a file that
  // cannot be put in place does.
  if (rc == result::FileAccessError) return fail(rc, EndScope::Transfer);
  if (rc != result::NormalEnd) return fail(rc, EndScope::Batch);
  d.Answer = HeaderAnswer::Accept;
  return d;
}

// ---------------------------------------------------------------------------
// Sends on request

void TablinkServer::StartSend() {
  logSend_ = true;
  SendJob job;
  job.Facts = {requested_, TFileType::DATA, 0, 0};
  sender_.Describe(job.Facts);
  view_.SetLabel(transfer_text::kSend);
  view_.SetButtonCaption(transfer_text::kAbort);

  std::int32_t rc;
  const std::optional<Definition> def = FindForSend(definitions_, entrySize_, requested_);
  if (!def)
    rc = code::NotForSend;
  else if (TrimB(def->FieldWidths).empty())
    rc = code::NoSendFields;
  else if (settings_.Store.SaveType == kSaveExcel || settings_.Store.SaveType == kSaveAccess)
    rc = connection_ ? PrepareTableSend(*connection_, *def, requested_, job) : code::TableOpen;
  else
    rc = PrepareTextSend(settings_.Store, *def, requested_, job);
  if (rc == result::NormalEnd) {
    view_.SetLabel(FromAnsi(requested_) + std::string(server_text::kDataSend));
    rc = sender_.Start(std::move(job));
  } else {
    sender_.Describe(job.Facts);
  }
  if (rc != result::NormalEnd) {
    End({.code = rc, .log = true, .cancel = true, .scope = EndScope::Batch});
    return;
  }
  // The wait for the terminal's first 'C' counts from the request's ACK,
  // which set the receiver's reference; the sender's is still that of its
  // last send, or none.
  sender_.Timer().tw = receiver_.Timer().tw;
  sending_ = true;
}

}  // namespace pw::tablink
