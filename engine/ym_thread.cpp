// The transfer worker: Execute's steps, the sender and the receiver.
#include "engine/ym_thread.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <span>

#include "content/file_error.h"
#include "content/result_codes.h"
#include "content/send_plan.h"
#include "platform/codepage.h"

namespace pw {

using namespace ymodem;

namespace {

constexpr std::array<std::string_view, 34> kStateNames = {
    "BN0", "BN1", "BN2", "BN3", "BN4", "SS0", "SS1", "S00", "S01", "S02", "S03", "S04",
    "S05", "S06", "S07", "S10", "S11", "S12", "S13", "S14", "S15", "S16", "S20", "S21",
    "S22", "S23", "S24", "S30", "S31", "S32", "S33", "S40", "S41", "S42"};

/// The field file's name for a data file: its extension replaced by ".FLD".
AnsiString FieldFileName(std::string_view bhtFName) {
  const std::string_view ext = FileExtension(bhtFName);
  return AnsiString(bhtFName.substr(0, bhtFName.size() - ext.size())) + ".FLD";
}

bool IsBlockStart(std::uint8_t b) { return b == SOH || b == STX; }

}  // namespace

std::string_view StateName(TYmComStat s) {
  const auto i = static_cast<std::size_t>(s);
  return i < kStateNames.size() ? kStateNames[i] : "?";
}

TYmThread::TYmThread(SerialDevice& device, Clock& clock, TransferView& view, const Alerts& alerts,
                     TransferRequest request)
    : port_(device, clock, *this), clock_(clock), view_(view), alerts_(alerts), req_(std::move(request)) {}

TYmThread::~TYmThread() {
  if (worker_.joinable()) {
    if (!EndProg.load()) EndCom();
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
      for (;;) {
        const PassResult r = Pass();
        if (r == PassResult::Ended) break;
        if (r == PassResult::Idle) {
          // Wait for input, but never past the running timeout and never so
          // long that a stop goes unnoticed.
          const std::uint32_t now = clock_.TickCount(), ref = tw.load();
          const std::uint32_t elapsed = now >= ref ? now - ref : now;
          const std::uint32_t left = Tmr > elapsed ? Tmr - elapsed : 0;
          port_.WaitForInput(std::clamp<std::uint32_t>(left, 1, kIdleWaitMs));
        }
      }
    }
    Finish();
  } catch (const std::exception& e) {
    alerts_.Error(e.what());
    view_.TransferEnded();
  }
}

bool TYmThread::Begin() {
  workerId_ = std::this_thread::get_id();
  ShowStart();

  try {
    port_.Purge();
    if (req_.LogFlag) {
      if (!Flog.Open(req_.LogFile)) {
        // Nothing is exchanged; the caller learns of it as a file error.
        alerts_.Error(kLogOpenErrorCaption, LogOpenErrorText(req_.LogFile));
        SetError(result::FileAccessError);
        EndProg = true;
        return false;
      }
      FlogOpen = true;
    }
    if (req_.TxFlag) {
      BhtFName = req_.BhtFName;
      FieldsDat = CommasToBlanks(req_.FieldsDat);
      if (const std::int32_t code = PrepareSend(); code != 0) {
        SetError(code);
        WriteLog(code);
        EndProg = true;
        return false;
      }
    } else {
      ChkFields = CommasToBlanks(req_.ChkFields);
      received_.Clear();
      iRecords = 0;
      SetState(TYmComStat::SS0);
    }
    // A stop or a forced end that came before the start still holds.
    EndProg = endCom_.load();
    rcvFile_.clear();
    tw = clock_.TickCount();
    return !EndProg;
  } catch (const std::exception& e) {
    HandleFailure(e.what());
    return false;
  }
}

TYmThread::PassResult TYmThread::Pass() {
  try {
    if (EndProg) return PassResult::Ended;
    if (fStop.exchange(false)) {
      const TYmComStat s = State();
      if (!req_.TxFlag && (s == TYmComStat::S00 || s == TYmComStat::SS0)) {
        // Still waiting for a header: nothing to abort.
        SetError(result::Cancelled);
        EndProg = true;
        return PassResult::Ended;
      }
      SetError(result::Aborted);
      WriteLog(result::Aborted);
      Cancel();
      if (req_.TxFlag || !req_.RcvMode) {
        EndProg = true;
        return PassResult::Ended;
      }
      SetState(TYmComStat::SS0);
    }
    if (State() == TYmComStat::SS0)
      FreshWait(true);
    else if (State() == TYmComStat::SS1)
      FreshWait(false);
    if (EndProg) return PassResult::Ended;

    const std::int32_t n = port_.ReadCom(RxBuf);
    if (n == 0) {
      if (req_.TxFlag)
        SendTimeout();
      else
        RcvTimeout();
      return EndProg ? PassResult::Ended : PassResult::Idle;
    }
    if (req_.TxFlag)
      SendProc(RxBuf, n);
    else
      RcvProc(RxBuf, n);
    return EndProg ? PassResult::Ended : PassResult::Worked;
  } catch (const std::exception& e) {
    HandleFailure(e.what());
    return PassResult::Ended;
  }
}

void TYmThread::Finish() {
  CloseFiles();
  if (ErrorNo() != 0) rcvFile_.clear();
  if (endComLog_) {
    try {
      WriteLog(result::Cancelled);
    } catch (const std::exception&) {
      // The port is closing; the line cannot be written and nothing else can be done.
    }
  }
  if (FlogOpen) {
    if (!Flog.Close()) {
      clock_.Sleep(kCloseRetryMs);
      Flog.Close();
    }
    FlogOpen = false;
  }
  // Stale input goes; the last ACK or cancel written is still on its way out.
  port_.PurgeInput();
  clock_.Sleep(kTurnaroundMs);
  view_.TransferEnded();
}

void TYmThread::HandleFailure(const std::string& message) {
  alerts_.Error(message);
  if (ErrorNo() == 0) {
    SetError(result::FileAccessError);
    try {
      WriteLog(result::FileAccessError);
    } catch (const std::exception&) {
      // The log itself failed; the code stands.
    }
  }
  EndProg = true;
}

void TYmThread::StopCom() { fStop = true; }

void TYmThread::EndCom() {
  if (EndProg.load()) return;
  SetError(result::Cancelled);
  endCom_ = true;
  const TYmComStat s = State();
  const bool waiting = !req_.TxFlag && (s == TYmComStat::S00 || s == TYmComStat::SS0);
  if (!waiting) {
    try {
      Cancel();
    } catch (const std::exception&) {
      // The port failed under the forced end; the transfer ends anyway.
    }
    endComLog_ = true;  // the worker writes the line: the log has one writer
  }
  EndProg = true;
}

AnsiString TYmThread::RcvFile() const { return rcvFile_; }

AnsiString TYmThread::ReceivedFieldList() const { return BlanksToCommas(received_.FieldsDat); }

void TYmThread::OnPortWrite(std::uint32_t tick) { tw = tick; }

void TYmThread::OnPortFailure(std::int32_t code) {
  if (!OnWorker()) return;  // a forced end's cancel bytes: the worker is ending anyway
  SetError(code);
  WriteLog(code);
  EndProg = true;
}

void TYmThread::WriteLog(std::int32_t code) {
  if (!req_.LogFlag || !FlogOpen) return;
  Flog.WriteLog(LogEntry{clock_.Now(), BhtFName, FileType, iRecords, fSize, req_.TxFlag, code});
}

void TYmThread::EndWith(std::int32_t code, bool cancel) {
  if (cancel) Cancel();
  SetError(code);
  WriteLog(code);
  EndProg = true;
}

void TYmThread::FailBatch(std::int32_t code) {
  Cancel();
  SetError(code);
  WriteLog(code);
  BatchOver();
}

bool TYmThread::TenthFailure(std::int32_t code) {
  if (++C1 < kMaxRetries) return false;
  FailBatch(code);
  return true;
}

void TYmThread::BatchOver() {
  if (req_.RcvMode)
    SetState(TYmComStat::SS0);
  else
    EndProg = true;
}

void TYmThread::ShowLabelAnsi(std::string_view ansi) { view_.SetLabel(FromAnsi(ansi)); }

void TYmThread::ShowStart() {
  view_.SetLabel(req_.TxFlag ? transfer_text::kSend : transfer_text::kWaitReceive);
  view_.SetButtonCaption(req_.TxFlag ? transfer_text::kAbort : transfer_text::kEnd);
  RcvWaitFlg = !req_.TxFlag;
  iBlockNo = 0;
  iEndBlock = 100;
  view_.SetGaugeMax(100);
  view_.SetGaugeProgress(0);
}

void TYmThread::CloseFiles() {
  // Files closed here are abandoned: a file that is kept was closed, with its
  // errors reported, when it was finished.
  const auto closeTwice = [this](auto&& close) {
    try {
      close();
    } catch (const std::exception&) {
      clock_.Sleep(kCloseRetryMs);
      try {
        close();
      } catch (const std::exception&) {
      }
    }
  };
  if (FdatOpen) {
    Fdat = CsvBlockReader{};
    FdatOpen = false;
  }
  if (Ftmp2In.is_open()) Ftmp2In.close();
  if (Ftmp1.IsOpen()) closeTwice([this] { Ftmp1.Close(); });
  if (Ftmp2.IsOpen()) closeTwice([this] { Ftmp2.Close(); });
}

void TYmThread::FreshWait(bool purge) {
  if (purge) port_.PurgeInput();  // the last batch's final ACK may still be leaving
  CloseFiles();
  C1 = 0;
  Tmr = kHeaderRepeatMs;
  BhtFName.clear();
  FileType = TFileType::NULL_;
  SetError(result::NormalEnd);
  SetState(TYmComStat::S00);
  if (purge) ShowStart();
  port_.WriteComByte(kC);
}

// ---------------------------------------------------------------------------
// Sender

std::int32_t TYmThread::PrepareSend() {
  std::error_code ec;
  if (!std::filesystem::exists(req_.TxFName, ec)) return result::NoSendFile;
  ShowLabelAnsi(BhtFName);

  SendPlan plan;
  const std::int32_t code = PlanSend(req_.TxFName, BhtFName, FieldsDat, plan);
  FileType = plan.FileType;
  FNameCaption = plan.FNameCaption;
  if (!FNameCaption.empty()) ShowLabelAnsi(FNameCaption);
  iBlockNo = 0;
  fSize = plan.Sizes.fSize;
  iRecords = plan.Sizes.iRecords;
  iEndBlock = plan.Sizes.iEndBlock;
  if (code != 0) return code;

  if (FileType == TFileType::CSV) {
    if (!Fdat.Open(req_.TxFName, plan.Layout, req_.DblQuotFlg)) return result::FileAccessError;
    FdatOpen = true;
  } else {
    Ftmp2In.open(req_.TxFName, std::ios::binary);
    if (!Ftmp2In) return result::FileAccessError;
  }

  if (!IsRecordKind(FileType)) {
    if (!BuildHeaderBlock(TxBuf, BhtFName, fSize)) return result::SendDataError;
    GaugeMaxValue = iEndBlock;
    SetState(TYmComStat::S30);
  } else {
    FieldsDat = plan.FieldsDat;
    fieldPos_ = 0;
    GaugeMaxValue = FieldsDat.size() > kLargeData ? 2 : 1;
    if (!BuildHeaderBlock(TxBuf, FieldFileName(BhtFName), static_cast<std::int32_t>(FieldsDat.size())) ||
        !BuildHeaderBlock(DatBuf, BhtFName, fSize))
      return result::SendDataError;
    SetState(TYmComStat::S20);
  }
  view_.SetGaugeMax(GaugeMaxValue);
  view_.SetGaugeProgress(0);
  TxSize = static_cast<std::int32_t>(kSmallBlock);
  C1 = 0;
  C2 = 0;
  Tmr = kFirstCMs;
  return result::NormalEnd;
}

void TYmThread::BuildFieldBlock() {
  const std::size_t remaining = FieldsDat.size() - fieldPos_;
  const bool small = remaining <= kSmallData;
  const std::size_t take = std::min(remaining, small ? kSmallData : kLargeData);
  ++iBlockNo;
  TxSize = static_cast<std::int32_t>(BuildBlock(TxBuf, small ? SOH : STX, static_cast<std::uint8_t>(iBlockNo),
                                                reinterpret_cast<const std::uint8_t*>(FieldsDat.data()) + fieldPos_,
                                                take));
  fieldPos_ += take;
}

void TYmThread::BuildNextDataBlock() {
  std::array<std::uint8_t, kLargeData> data{};
  std::size_t length = 0;
  if (FileType == TFileType::CSV) {
    Fdat.ReadCsvBlock(data);
    length = data.size();
  } else {
    Ftmp2In.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
    length = static_cast<std::size_t>(Ftmp2In.gcount());
    if (Ftmp2In.bad()) throw FileError("read error: " + req_.TxFName.string());
  }
  ++iBlockNo;
  TxSize = static_cast<std::int32_t>(BuildDataBlock(TxBuf, iBlockNo, data.data(), length));
}

void TYmThread::PutEot() {
  TxBuf[0] = EOT;
  TxSize = 1;
}

void TYmThread::SendResend() {
  if (++C2 >= kMaxRetries) {
    EndWith(result::CommError, true);
    return;
  }
  SendTxBuf();
  Tmr = kAnswerMs;
}

// Bytes of one read are taken in order. A byte that makes the sender write
// ends the call and the rest of the read is dropped (it answered what was on
// the line before the write); an ACK that only moves on keeps going, since a
// receiver may send its 'C' right behind it.
void TYmThread::SendProc(const std::uint8_t* bytes, std::int32_t count) {
  if (EndProg) return;
  const auto moveOn = [this](TYmComStat next) {
    C2 = 0;
    Tmr = kAnswerMs;
    SetState(next);
  };
  const auto label = [this](std::string_view text) { view_.SetLabel(FromAnsi(BhtFName) + std::string(text)); };

  for (std::int32_t i = 0; i < count; ++i) {
    const std::uint8_t b = bytes[i];
    const TYmComStat s = State();
    if (s == TYmComStat::S20 || s == TYmComStat::S30) {
      iBlockNo = 0;
      view_.SetGaugeProgress(0);
    }
    if (b == CAN) {
      EndWith(result::Aborted, false);
      return;
    }
    switch (s) {
      case TYmComStat::S20:
      case TYmComStat::S30:
        if (b != kC) break;
        label(transfer_text::kSendStart);
        SendTxBuf();
        moveOn(s == TYmComStat::S20 ? TYmComStat::S21 : TYmComStat::S31);
        return;
      case TYmComStat::S21:
      case TYmComStat::S31:
        if (b == ACK) {
          if (s == TYmComStat::S21) BuildFieldBlock();
          tw = clock_.TickCount();
          moveOn(s == TYmComStat::S21 ? TYmComStat::S22 : TYmComStat::S32);
          continue;  // nothing was sent: a 'C' in the same read still counts
        }
        if (b == NAK) return SendResend();
        break;
      case TYmComStat::S22:
      case TYmComStat::S32:
        if (b == kC) {
          label(transfer_text::kSending);
          if (s == TYmComStat::S32) BuildNextDataBlock();
          SendTxBuf();
          moveOn(s == TYmComStat::S22 ? TYmComStat::S23 : TYmComStat::S33);
          return;
        }
        if (b == NAK) return EndWith(result::RcvDataError, false);
        break;
      case TYmComStat::S23:
      case TYmComStat::S33:
        if (b == ACK) {
          const bool fieldFile = s == TYmComStat::S23;
          const bool done = fieldFile ? fieldPos_ >= FieldsDat.size() : iBlockNo >= iEndBlock;
          if (done) {
            PutEot();
          } else if (fieldFile) {
            BuildFieldBlock();
          } else {
            BuildNextDataBlock();
          }
          SendTxBuf();
          moveOn(done ? (fieldFile ? TYmComStat::S24 : TYmComStat::S40) : s);
          view_.SetGaugeProgress(iBlockNo);
          return;
        }
        if (b == NAK) return SendResend();
        break;
      case TYmComStat::S24:
        if (b == ACK) {
          std::memcpy(TxBuf, DatBuf, kSmallBlock);
          TxSize = static_cast<std::int32_t>(kSmallBlock);
          GaugeMaxValue = iEndBlock;
          view_.SetGaugeMax(GaugeMaxValue);
          view_.SetGaugeProgress(0);
          tw = clock_.TickCount();
          moveOn(TYmComStat::S30);
          continue;
        }
        if (b == NAK) return SendResend();
        break;
      case TYmComStat::S40:
        if (b == ACK) {
          view_.SetGaugeProgress(iEndBlock);
          BuildEndOfBatchBlock(TxBuf);
          TxSize = static_cast<std::int32_t>(kSmallBlock);
          tw = clock_.TickCount();
          moveOn(TYmComStat::S41);
          continue;
        }
        if (b == NAK) return SendResend();
        break;
      case TYmComStat::S41:
        if (b != kC) break;
        SendTxBuf();
        moveOn(TYmComStat::S42);
        return;
      case TYmComStat::S42:
        if (b == ACK) {
          label(transfer_text::kSendEnd);
          return EndWith(result::NormalEnd, false);
        }
        if (b == NAK) return SendResend();
        break;
      default:
        return;
    }
  }
}

void TYmThread::SendTimeout() {
  std::uint32_t ref = tw.load();
  const bool timedOut = TimedOut(clock_.TickCount(), ref, Tmr);
  tw = ref;
  if (!timedOut) return;
  if (State() == TYmComStat::S20) return EndWith(result::TimeOut, true);
  if (++C2 >= kMaxRetries) return EndWith(result::TimeOut, true);
  SendTxBuf();
  Tmr = kAnswerMs;
}

// ---------------------------------------------------------------------------
// Receiver

void TYmThread::StartBlock(std::uint8_t first) {
  tw = clock_.TickCount();
  Tmr = kBlockDeadlineMs;
  iBlockSize = first == SOH ? static_cast<std::int32_t>(kSmallData) : static_cast<std::int32_t>(kLargeData);
}

void TYmThread::RcvProc(const std::uint8_t* bytes, std::int32_t count) {
  const auto aborted = [this] {
    SetError(result::Aborted);
    WriteLog(result::Aborted);
    BatchOver();
  };
  for (std::int32_t i = 0; i < count; ++i) {
    const std::uint8_t b = bytes[i];
    switch (State()) {
      case TYmComStat::S00:
      case TYmComStat::S01:
        if (IsBlockStart(b)) {
          if (State() == TYmComStat::S00) {
            RcvWaitFlg = false;
            C1 = 0;
          }
          StartBlock(b);
          SetState(TYmComStat::S02);
        } else if (b == CAN) {
          return aborted();
        }
        break;
      case TYmComStat::S02:
        Blk[0] = b;
        view_.SetButtonCaption(transfer_text::kAbort);
        SetState(TYmComStat::S03);
        break;
      case TYmComStat::S03:
      case TYmComStat::S12:
        Blk[1] = b;
        iRxN = 0;
        SetState(State() == TYmComStat::S03 ? TYmComStat::S04 : TYmComStat::S13);
        break;
      case TYmComStat::S04:
      case TYmComStat::S13: {
        // The data bytes as one run.
        const std::int32_t take = std::min(iBlockSize - iRxN, count - i);
        std::memcpy(pBuf + iRxN, bytes + i, static_cast<std::size_t>(take));
        iRxN += take;
        i += take - 1;
        if (iRxN == iBlockSize) SetState(State() == TYmComStat::S04 ? TYmComStat::S05 : TYmComStat::S14);
        break;
      }
      case TYmComStat::S05:
        ChkBlk[0] = 0;
        ChkBlk[1] = 0xFF;
        CRC16 = static_cast<std::uint16_t>(b << 8);
        SetState(TYmComStat::S06);
        break;
      case TYmComStat::S06:
        CRC16 = static_cast<std::uint16_t>(CRC16 | b);
        return ActOnHeader(ChkHeader());
      case TYmComStat::S07:
      case TYmComStat::S10:
        if (IsBlockStart(b)) {
          StartBlock(b);
          SetState(TYmComStat::S11);
        } else if (b == EOT) {
          // The file ended before its announced size: dropped, no answer.
          SetState(TYmComStat::SS0);
          return;
        } else if (b == CAN) {
          return aborted();
        }
        break;
      case TYmComStat::S11:
        Blk[0] = b;
        SetState(TYmComStat::S12);
        break;
      case TYmComStat::S14:
        CRC16 = static_cast<std::uint16_t>(b << 8);
        SetState(TYmComStat::S15);
        break;
      case TYmComStat::S15:
        CRC16 = static_cast<std::uint16_t>(CRC16 | b);
        return ActOnBlock(ChkBlock());
      case TYmComStat::S16:
        if (b == EOT || b == kEotAlt) return FinishFile();
        if (IsBlockStart(b)) {
          // The last block again: its ACK was lost. Take it in, answer it,
          // and keep waiting for the EOT.
          StartBlock(b);
          SetState(TYmComStat::S11);
        }
        break;
      default:
        return;
    }
  }
}

int TYmThread::ChkHeader() {
  if (Blk[0] != 0 || Blk[1] != 0xFF) return 0;
  if (CalcCrc16(pBuf, static_cast<std::size_t>(iBlockSize)) != CRC16) return 0;
  const ReceiveKind k = ChooseReceiveKind(std::span<const std::uint8_t>(pBuf, static_cast<std::size_t>(iBlockSize)),
                                          req_.CsvFlg, req_.ChkRcvFName, ChkFields, received_);
  BhtFName = k.BhtFName;
  FileType = k.FileType;
  if (!k.FNameCaption.empty()) {
    FNameCaption = k.FNameCaption;
    ShowLabelAnsi(FNameCaption);
  }
  switch (k.Verdict) {
    case HeaderVerdict::Refuse:
      return 0;
    case HeaderVerdict::EndOfBatch:
      FileType = TFileType::NULL_;
      return 2;
    case HeaderVerdict::WrongFile:
      return 3;
    case HeaderVerdict::OtherFields:
      return 4;
    case HeaderVerdict::FileError:
      return 5;
    case HeaderVerdict::Accepted:
      break;
  }
  fSize = k.fSize;
  if (IsRawKind(FileType)) {
    iRecords = 0;
    if (!Ftmp2.Open(req_.Tmp2File, fSize)) return 5;
  } else if (FileType == TFileType::FLD) {
    iRecords = 0;
    fldText_.Begin();
  } else {
    iRecords = received_.iRecords;
    if (!Ftmp1.Open(req_.Tmp1File, received_, FileType, req_.LastSpFlg, req_.DblQuotFlg)) return 5;
  }
  return 1;
}

void TYmThread::ActOnHeader(int verdict) {
  switch (verdict) {
    case 0:
      if (TenthFailure(result::CommError)) return;
      port_.WriteComByte(NAK);
      Tmr = kAnswerMs;
      SetState(TYmComStat::S01);
      return;
    case 1:
      // An existing file of the name is not touched here: it is replaced
      // only once the new one is complete.
      iEndBlock = fSize / 1024 + (fSize % 1024 != 0 ? 1 : 0);
      view_.SetGaugeMax(iEndBlock);
      ChkBlk[0] = 1;
      ChkBlk[1] = 0xFE;
      TmpRcvSize = 0;
      iBlockNo = 0;
      port_.WriteComByte(ACK);
      clock_.Sleep(kAckToCMs);
      port_.WriteComByte(kC);
      C1 = 0;
      Tmr = kAnswerMs;
      SetState(TYmComStat::S07);
      return;
    case 2:
      port_.WriteComByte(ACK);
      return BatchOver();
    case 3:
    case 4:
      return FailBatch(verdict == 3 ? result::WrongRcvFile : result::FieldMismatch);
    default:
      return EndWith(result::FileAccessError, true);
  }
}

int TYmThread::ChkBlock() {
  const bool crcOk = CalcCrc16(pBuf, static_cast<std::size_t>(iBlockSize)) == CRC16;
  switch (CheckBlock(Blk[0], Blk[1], ChkBlk[0], crcOk, true)) {
    case BlockVerdict::Refuse:
      return 0;
    case BlockVerdict::Repeat:
      return 2;
    case BlockVerdict::Accept:
      break;
  }
  const std::span<const std::uint8_t> data(pBuf, static_cast<std::size_t>(iBlockSize));
  if (IsRecordKind(FileType))
    Ftmp1.AddBlock(data);
  else if (FileType == TFileType::FLD)
    fldText_.AddBlock(data);
  else if (IsRawKind(FileType))
    Ftmp2.AddBlock(data);
  return 1;
}

void TYmThread::ActOnBlock(int verdict) {
  // After the last block only the EOT is awaited; a repetition of the last
  // block comes back to that wait.
  const auto waitNext = [this] { SetState(TmpRcvSize >= fSize ? TYmComStat::S16 : TYmComStat::S10); };
  switch (verdict) {
    case 0:
      if (TenthFailure(result::CommError)) return;
      port_.WriteComByte(NAK);
      Tmr = kAnswerMs;
      return waitNext();
    case 1:
      port_.WriteComByte(ACK);
      C1 = 0;
      Tmr = kAnswerMs;
      TmpRcvSize += iBlockSize;
      ++iBlockNo;
      ChkBlk[0] = static_cast<std::uint8_t>(ChkBlk[0] + 1);
      ChkBlk[1] = static_cast<std::uint8_t>(0xFF - ChkBlk[0]);
      if (TmpRcvSize < fSize && iBlockNo < iEndBlock) view_.SetGaugeProgress(iBlockNo);
      return waitNext();
    default:
      port_.WriteComByte(ACK);
      C1 = 0;
      Tmr = kAnswerMs;
      return waitNext();
  }
}

void TYmThread::FinishFile() {
  const auto failed = [this] { EndWith(result::FileAccessError, true); };
  if (IsRecordKind(FileType)) {
    Ftmp1.Close();
    BhtFName = ExpandDatePlaceholder(BhtFName, clock_.Now());
    if (!StoreReceivedFile(req_.Tmp1File, req_.RxFolder, BhtFName,
                           req_.WriteMode ? StoreMode::Append : StoreMode::Replace))
      return failed();
  } else if (IsRawKind(FileType)) {
    Ftmp2.Close();
    if (!StoreReceivedFile(req_.Tmp2File, req_.RxFolder, BhtFName, StoreMode::Replace)) return failed();
  } else {
    if (FileType == TFileType::FLD) {
      if (fldText_.Finish(received_)) {
        port_.WriteComByte(ACK);
        view_.SetGaugeProgress(iEndBlock);
      } else {
        Cancel();
        SetError(result::RcvFieldDataError);
        WriteLog(result::RcvFieldDataError);
        if (!req_.RcvMode) {
          EndProg = true;
          return;
        }
      }
    }
    clock_.Sleep(kAfterFileMs);
    SetState(TYmComStat::SS1);
    return;
  }
  port_.WriteComByte(ACK);
  rcvFile_ = BhtFName;
  view_.SetGaugeProgress(iEndBlock);
  SetError(result::NormalEnd);
  WriteLog(result::NormalEnd);
  clock_.Sleep(kAfterFileMs);
  SetState(TYmComStat::SS1);
}

void TYmThread::RcvTimeout() {
  std::uint32_t ref = tw.load();
  const bool timedOut = TimedOut(clock_.TickCount(), ref, Tmr);
  tw = ref;
  if (!timedOut) return;
  const TYmComStat s = State();
  if (s == TYmComStat::S00) {
    tw = clock_.TickCount();
    port_.WriteComByte(kC);
    return;
  }
  if (TenthFailure(result::TimeOut)) return;
  if (s == TYmComStat::S07) {
    port_.WriteComByte(ACK);
    clock_.Sleep(kAckToCMs);
    port_.WriteComByte(kC);
  } else {
    port_.WriteComByte(NAK);
  }
  Tmr = kAnswerMs;
  if (s >= TYmComStat::S01 && s <= TYmComStat::S06)
    SetState(TYmComStat::S01);
  else if (s >= TYmComStat::S11 && s <= TYmComStat::S15)
    SetState(TmpRcvSize >= fSize ? TYmComStat::S16 : TYmComStat::S10);
}

}  // namespace pw
