// The sender's state machine.
//
// Theory of operation. The terminal drives the batch: it asks for each
// header and for each file's data with 'C', and answers every block and EOT
// with ACK (take the next), NAK (send it again) or CAN (the user stopped).
// The sender keeps what it sent last in TxBuf, so that a NAK or a timeout
// repeats exactly that. A batch behind a field file runs S20 to S24 for the
// field file and then S30 to S42 for the data file; a file that goes alone
// starts at S30. Every write restarts the timer; every answer that moves on
// allows 3 s for the next, and ten NAKs or timeouts in a row end the send.
//
// A byte that makes the sender write ends the read: what followed it on the
// line answered something earlier, and is dropped (the worker still looks
// there for a cancel). A byte that only moves on (the ACK of a header, say)
// keeps going, as the terminal's 'C' may come right behind it.
#include "engine/ym_sender.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "content/result_codes.h"
#include "engine/transfer_text.h"
#include "platform/codepage.h"

namespace pw {

using namespace ymodem;
using S = TYmComStat;

namespace {

/// The field file's name for a data file: its extension replaced by ".FLD".
AnsiString FieldFileName(std::string_view bhtFName) {
  const std::string_view ext = FileExtension(bhtFName);
  return AnsiString(bhtFName.substr(0, bhtFName.size() - ext.size())) + ".FLD";
}

}  // namespace

// One row per state and byte, in the order the batch runs. A byte that its
// state does not list is skipped.
const YmSender::Row YmSender::kTable[] = {
    // The field file.
    {S::S20, kC, &YmSender::SendFieldHeader},
    {S::S20, CAN, &YmSender::Cancelled},
    {S::S21, ACK, &YmSender::FieldHeaderAcked},
    {S::S21, NAK, &YmSender::Resend},
    {S::S21, CAN, &YmSender::Cancelled},
    {S::S22, kC, &YmSender::SendFirstFieldBlock},
    {S::S22, NAK, &YmSender::NakForC},
    {S::S22, CAN, &YmSender::Cancelled},
    {S::S23, ACK, &YmSender::FieldBlockAcked},
    {S::S23, NAK, &YmSender::Resend},
    {S::S23, CAN, &YmSender::Cancelled},
    {S::S24, ACK, &YmSender::FieldEotAcked},
    {S::S24, NAK, &YmSender::Resend},
    {S::S24, CAN, &YmSender::Cancelled},
    // The data file.
    {S::S30, kC, &YmSender::SendDataHeader},
    {S::S30, CAN, &YmSender::Cancelled},
    {S::S31, ACK, &YmSender::DataHeaderAcked},
    {S::S31, NAK, &YmSender::Resend},
    {S::S31, CAN, &YmSender::Cancelled},
    {S::S32, kC, &YmSender::SendFirstDataBlock},
    {S::S32, NAK, &YmSender::NakForC},
    {S::S32, CAN, &YmSender::Cancelled},
    {S::S33, ACK, &YmSender::DataBlockAcked},
    {S::S33, NAK, &YmSender::Resend},
    {S::S33, CAN, &YmSender::Cancelled},
    // EOT and the end of the batch.
    {S::S40, ACK, &YmSender::DataEotAcked},
    {S::S40, NAK, &YmSender::Resend},
    {S::S40, CAN, &YmSender::Cancelled},
    {S::S41, kC, &YmSender::SendEndHeader},
    {S::S41, CAN, &YmSender::Cancelled},
    {S::S42, ACK, &YmSender::BatchAcked},
    {S::S42, NAK, &YmSender::Resend},
    {S::S42, CAN, &YmSender::Cancelled},
};

std::int32_t YmSender::Start(SendJob job) {
  job_ = std::move(job);
  iBlockNo = 0;
  fieldPos_ = 0;
  const FileFacts& f = job_.Facts;
  if (job_.FieldText.empty()) {
    if (!BuildHeaderBlock(TxBuf, f.BhtFName, f.fSize)) return result::SendDataError;
    GaugeMaxValue = job_.iEndBlock;
    YmComStat = S::S30;
  } else {
    GaugeMaxValue = job_.FieldText.size() > kLargeData ? 2 : 1;
    if (!BuildHeaderBlock(TxBuf, FieldFileName(f.BhtFName), static_cast<std::int32_t>(job_.FieldText.size())) ||
        !BuildHeaderBlock(DatBuf, f.BhtFName, f.fSize))
      return result::SendDataError;
    YmComStat = S::S20;
  }
  view_.SetGaugeMax(GaugeMaxValue);
  view_.SetGaugeProgress(0);
  TxSize = static_cast<std::int32_t>(kSmallBlock);
  C2 = 0;
  timer_.Tmr = kFirstCMs;
  return result::NormalEnd;
}

void YmSender::SendProc(std::span<const std::uint8_t> bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::uint8_t b = bytes[i];
    if (YmComStat == S::S20 || YmComStat == S::S30) {
      iBlockNo = 0;
      view_.SetGaugeProgress(0);
    }
    const Row* row = std::find_if(std::begin(kTable), std::end(kTable),
                                  [&](const Row& r) { return r.state == YmComStat && r.byte == b; });
    if (row == std::end(kTable)) continue;
    if ((this->*row->action)() == kStop) {
      host_.Dropped(bytes.subspan(i + 1));
      return;
    }
  }
}

void YmSender::SendTimeout() {
  if (!TimedOut(clock_.TickCount(), timer_.tw, timer_.Tmr)) return;
  if (YmComStat == S::S20 || ++C2 >= kMaxRetries) {
    EndWith(result::TimeOut, true);
    return;
  }
  Send();
  timer_.Tmr = kAnswerMs;
  // Behind a field file's header, TxBuf holds its first block: once that is
  // out, its ACK is what comes next.
  if (YmComStat == S::S22) YmComStat = S::S23;
}

// ---- Actions

std::int32_t YmSender::SendFieldHeader() {
  Label(transfer_text::kSendStart);
  Send();
  MoveOn(S::S21);
  return kStop;
}

std::int32_t YmSender::FieldHeaderAcked() {
  BuildFieldBlock();
  timer_.tw = clock_.TickCount();
  MoveOn(S::S22);
  return 1;
}

std::int32_t YmSender::SendFirstFieldBlock() {
  Label(transfer_text::kSending);
  Send();
  MoveOn(S::S23);
  return kStop;
}

std::int32_t YmSender::FieldBlockAcked() {
  const bool done = fieldPos_ >= job_.FieldText.size();
  if (done)
    PutEot();
  else
    BuildFieldBlock();
  Send();
  MoveOn(done ? S::S24 : S::S23);
  view_.SetGaugeProgress(iBlockNo);
  return kStop;
}

std::int32_t YmSender::FieldEotAcked() {
  std::memcpy(TxBuf, DatBuf, kSmallBlock);
  TxSize = static_cast<std::int32_t>(kSmallBlock);
  GaugeMaxValue = job_.iEndBlock;
  view_.SetGaugeMax(GaugeMaxValue);
  view_.SetGaugeProgress(0);
  timer_.tw = clock_.TickCount();
  MoveOn(S::S30);
  return 1;
}

std::int32_t YmSender::SendDataHeader() {
  Label(transfer_text::kSendStart);
  Send();
  MoveOn(S::S31);
  return kStop;
}

std::int32_t YmSender::DataHeaderAcked() {
  timer_.tw = clock_.TickCount();
  MoveOn(S::S32);
  return 1;
}

std::int32_t YmSender::SendFirstDataBlock() {
  Label(transfer_text::kSending);
  BuildDataBlock();
  Send();
  MoveOn(S::S33);
  return kStop;
}

std::int32_t YmSender::DataBlockAcked() {
  const bool done = iBlockNo >= job_.iEndBlock;
  if (done)
    PutEot();
  else
    BuildDataBlock();
  Send();
  MoveOn(done ? S::S40 : S::S33);
  view_.SetGaugeProgress(iBlockNo);
  return kStop;
}

std::int32_t YmSender::DataEotAcked() {
  view_.SetGaugeProgress(job_.iEndBlock);
  BuildEndOfBatchBlock(TxBuf);
  TxSize = static_cast<std::int32_t>(kSmallBlock);
  timer_.tw = clock_.TickCount();
  MoveOn(S::S41);
  return 1;
}

std::int32_t YmSender::SendEndHeader() {
  Send();
  MoveOn(S::S42);
  return kStop;
}

std::int32_t YmSender::BatchAcked() {
  Label(transfer_text::kSendEnd);
  return EndWith(result::NormalEnd, false);
}

std::int32_t YmSender::Resend() {
  if (++C2 >= kMaxRetries) return EndWith(result::CommError, true);
  Send();
  timer_.Tmr = kAnswerMs;
  return kStop;
}

std::int32_t YmSender::NakForC() { return EndWith(result::RcvDataError, false); }

std::int32_t YmSender::Cancelled() { return EndWith(result::Aborted, false); }

// ---- Helpers

void YmSender::MoveOn(TYmComStat next) {
  C2 = 0;
  timer_.Tmr = kAnswerMs;
  YmComStat = next;
}

void YmSender::Label(std::string_view text) { view_.SetLabel(FromAnsi(job_.Facts.BhtFName) + std::string(text)); }

void YmSender::BuildFieldBlock() {
  const std::size_t remaining = job_.FieldText.size() - fieldPos_;
  const bool small = remaining <= kSmallData;
  const std::size_t take = std::min(remaining, small ? kSmallData : kLargeData);
  ++iBlockNo;
  TxSize = static_cast<std::int32_t>(
      BuildBlock(TxBuf, small ? SOH : STX, static_cast<std::uint8_t>(iBlockNo),
                 reinterpret_cast<const std::uint8_t*>(job_.FieldText.data()) + fieldPos_, take));
  fieldPos_ += take;
}

void YmSender::BuildDataBlock() {
  std::array<std::uint8_t, kLargeData> data{};
  const std::size_t length = job_.Source->ReadBlock(data);
  ++iBlockNo;
  TxSize = static_cast<std::int32_t>(ymodem::BuildDataBlock(TxBuf, iBlockNo, data.data(), length));
}

void YmSender::PutEot() {
  TxBuf[0] = EOT;
  TxSize = 1;
}

std::int32_t YmSender::EndWith(std::int32_t code, bool cancel) {
  host_.End({.code = code, .log = true, .cancel = cancel, .scope = EndScope::Transfer});
  return kStop;
}

}  // namespace pw
