// The transfer worker: the loop, the stop and the forced end, the one way a
// transfer ends, the log and the results.
#include "engine/ym_thread.h"

#include <exception>
#include <filesystem>

#include "content/result_codes.h"

namespace pw {

using namespace ymodem;

TYmThread::TYmThread(SerialDevice& device, Clock& clock, TransferView& view, const Alerts& alerts,
                     TransferRequest request)
    : port_(device, clock, *this),
      clock_(clock),
      view_(view),
      alerts_(alerts),
      req_(std::move(request)),
      policy_(req_, TrimB(CommasToBlanks(req_.ChkFields)), clock),
      sender_(port_, clock, view, *this),
      receiver_(port_, clock, view, *this, policy_) {}

TYmThread::~TYmThread() {
  if (worker_.joinable()) {
    EndCom();
    worker_.join();
  }
}

// ---------------------------------------------------------------------------
// Running

void TYmThread::Start() {
  worker_ = std::thread([this] { Execute(); });
}

void TYmThread::WaitFor() {
  if (worker_.joinable()) worker_.join();
}

void TYmThread::Execute() {
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
    view_.TransferEnded();
  }
}

bool TYmThread::Begin() {
  ShowStart();
  try {
    port_.Purge();
    if (req_.LogFlag) {
      if (!Flog.Open(req_.LogFile)) {
        // Nothing is exchanged; the caller learns of it as a file error.
        alerts_.Error(kLogOpenErrorCaption, LogOpenErrorText(req_.LogFile));
        End({.code = result::FileAccessError});
        return false;
      }
      FlogOpen = true;
    }
    if (req_.TxFlag) {
      if (const std::int32_t code = PrepareSend(); code != result::NormalEnd) {
        End({.code = code, .log = true});
        return false;
      }
    } else {
      policy_.Clear();
      receiver_.Restart();
    }
    Timer().tw = clock_.TickCount();
    state_ = State();
    return true;
  } catch (const std::exception& e) {
    HandleFailure(e.what());
    return false;
  }
}

TYmThread::PassResult TYmThread::Pass() {
  try {
    if (EndProg) return PassResult::Ended;
    ActOnRequests();
    if (!EndProg && !req_.TxFlag && (State() == TYmComStat::SS0 || State() == TYmComStat::SS1)) {
      const bool fresh = State() == TYmComStat::SS0;
      if (fresh) port_.PurgeInput();  // the last batch's final ACK may still be leaving
      CloseFiles();
      // A fresh wait of a single receive comes only at the start and after a
      // dropped file, whose failure stands.
      if (!fresh || req_.RcvMode) errorNo_ = result::NormalEnd;
      if (fresh) ShowStart();
      receiver_.Listen(fresh);
    }
    if (EndProg) return PassResult::Ended;

    cancel_.NewRead();
    const std::int32_t n = port_.ReadCom(RxBuf);
    const std::span<const std::uint8_t> bytes(RxBuf, static_cast<std::size_t>(n));
    if (req_.TxFlag)
      n == 0 ? sender_.SendTimeout() : sender_.SendProc(bytes);
    else
      n == 0 ? receiver_.RcvTimeout() : receiver_.RcvProc(bytes);
    if (cancel_.Take() && !EndProg) End({.code = result::Aborted, .log = true, .scope = EndScope::Batch});
    state_ = State();
    if (EndProg) return PassResult::Ended;
    return n == 0 ? PassResult::Idle : PassResult::Worked;
  } catch (const std::exception& e) {
    HandleFailure(e.what());
    return PassResult::Ended;
  }
}

void TYmThread::Finish() {
  CloseFiles();
  if (ErrorNo() != result::NormalEnd) {
    receiver_.ClearRcvFile();
    policy_.Clear();
  }
  if (FlogOpen) {
    if (!Flog.Close()) {
      clock_.Sleep(kCloseRetryMs);
      Flog.Close();
    }
    FlogOpen = false;
  }
  // Stale input goes; the last ACK or cancel written is still on its way out.
  try {
    port_.PurgeInput();
  } catch (const std::exception&) {
    // The port is failing; there is nothing left to clear.
  }
  clock_.Sleep(kTurnaroundMs);
  state_ = State();
  ended_ = true;
  view_.TransferEnded();
}

void TYmThread::HandleFailure(const std::string& message) {
  alerts_.Error(message);
  if (ErrorNo() == result::NormalEnd) {
    try {
      End({.code = result::FileAccessError, .log = true});
    } catch (const std::exception&) {
      // The log itself failed; the code stands.
    }
  }
  EndProg = true;
}

// ---------------------------------------------------------------------------
// Stop, forced end, and the one way to end

void TYmThread::StopCom() {
  fStop = true;
  port_.Wake();
}

void TYmThread::EndCom() {
  if (ended_) return;
  endCom_ = true;
  port_.Wake();
}

void TYmThread::ActOnRequests() {
  // A receive that still waits for a header has nothing to abort.
  const bool waiting = !req_.TxFlag && (State() == TYmComStat::S00 || State() == TYmComStat::SS0);
  if (endCom_.exchange(false)) {
    fStop = false;
    End({.code = result::Cancelled, .log = !waiting, .cancel = !waiting});
  } else if (fStop.exchange(false)) {
    if (waiting)
      End({.code = result::Cancelled});
    else
      End({.code = result::Aborted, .log = true, .cancel = true, .scope = EndScope::Batch});
  }
}

void TYmThread::End(const Ending& e) {
  if (e.cancel) SendCancel(port_);
  if (e.code) errorNo_ = *e.code;
  if (e.log) WriteLog(ErrorNo());
  switch (e.scope) {
    case EndScope::File:
      return;
    case EndScope::Batch:
      if (!req_.TxFlag && req_.RcvMode) {
        receiver_.Restart();
        return;
      }
      [[fallthrough]];
    case EndScope::Transfer:
      EndProg = true;
      return;
  }
}

void TYmThread::Dropped(std::span<const std::uint8_t> bytes) {
  // Two CANs in a row are the terminal's cancel, even where its bytes are
  // otherwise passed over.
  if (EndProg || (!req_.TxFlag && State() == TYmComStat::SS0)) return;
  cancel_.Passed(bytes);
}

void TYmThread::OnPortWrite(std::uint32_t tick) { Timer().tw = tick; }

void TYmThread::OnPortFailure(std::int32_t code) { End({.code = code, .log = true}); }

// ---------------------------------------------------------------------------
// Steps

std::int32_t TYmThread::PrepareSend() {
  std::error_code ec;
  if (!std::filesystem::exists(req_.TxFName, ec)) return result::NoSendFile;
  ShowLabelAnsi(req_.BhtFName);
  SendJob job;
  AnsiString caption;
  const std::int32_t code = PrepareFileSend(req_, CommasToBlanks(req_.FieldsDat), job, caption);
  if (!caption.empty()) ShowLabelAnsi(caption);
  if (code != result::NormalEnd) {
    sender_.Describe(job.Facts);
    return code;
  }
  return sender_.Start(std::move(job));
}

void TYmThread::WriteLog(std::int32_t code) {
  if (!req_.LogFlag || !FlogOpen) return;
  const FileFacts& f = req_.TxFlag ? sender_.Facts() : receiver_.Facts();
  Flog.WriteLog(LogEntry{clock_.Now(), f.BhtFName, f.FileType, f.iRecords, f.fSize, req_.TxFlag, code});
}

void TYmThread::ShowStart() {
  view_.SetLabel(req_.TxFlag ? transfer_text::kSend : transfer_text::kWaitReceive);
  view_.SetButtonCaption(req_.TxFlag ? transfer_text::kAbort : transfer_text::kEnd);
  receiver_.SetWaiting(!req_.TxFlag);
  view_.SetGaugeMax(100);
  view_.SetGaugeProgress(0);
}

void TYmThread::CloseFiles() {
  // Files closed here are abandoned: a file that is kept was closed, with its
  // errors reported, when it was finished.
  sender_.CloseSource();
  receiver_.CloseFile();
}

}  // namespace pw
