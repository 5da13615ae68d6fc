// The receiver's state machine.
//
// Theory of operation. The receiver asks for each header with 'C', once a
// second until one starts. A block is read byte by byte through the states
// that take its number, complement, data and CRC; the whole block must arrive
// within 400 ms of its first byte. A header (block 0) is judged by the
// policy: refused (NAK, ten in a row end the batch), accepted (ACK, 100 ms,
// then 'C' for its data), the empty header that ends the batch (ACK), or a
// failure that ends the batch or the transfer. Data blocks are numbered from
// 1 modulo 256; the expected one is taken (ACK), the previous one again is
// answered without being taken (its ACK was lost), anything else is refused.
// Once the size the header announced is in, only the EOT is awaited, and the
// EOT puts the file in place. Bytes after a block's CRC in the same read are
// dropped: the sender waits for the answer before it sends more.
//
// Beyond the bare protocol, the receiver survives one lost byte anywhere: a
// header sent again while the first data block is awaited (its ACK or the 'C'
// behind it was lost) is answered as the header was, and an EOT repeated
// after its file was stored (its ACK was lost) is answered again. Where the
// first byte of a block is awaited, an EOT or a CAN counts only once the line
// has been quiet behind it (see HoldByte): a block or header whose first byte
// was lost or damaged is not read as an early end of the file, a repeated
// EOT or the terminal's cancel, and a refused block is answered only once
// the line is quiet (see RefuseWhenQuiet).
#include "engine/ym_receiver.h"

#include <algorithm>
#include <cstring>

#include "content/result_codes.h"
#include "engine/transfer_text.h"
#include "platform/codepage.h"

namespace pw {

using namespace ymodem;
using S = TYmComStat;

namespace {

/// How long the line must stay quiet behind an EOT or a CAN where a block is
/// awaited, and behind a refused block before its NAK. The bytes of a block
/// follow each other at the line's pace (about 1 ms at 9600 bit/s), and the
/// sender writes nothing more after a block, an EOT or a cancel until it is
/// answered.
constexpr std::uint32_t kQuietMs = 50;

}  // namespace

// One row per state and byte, in the order a file runs. A byte that its
// state does not list is skipped.
const YmReceiver::Row YmReceiver::kTable[] = {
    // The header.
    {S::S00, SOH, &YmReceiver::HeaderStart},
    {S::S00, STX, &YmReceiver::HeaderStart},
    {S::S00, CAN, &YmReceiver::HoldByte},
    {S::S00, EOT, &YmReceiver::EotAgain},
    {S::S01, SOH, &YmReceiver::HeaderAgain},
    {S::S01, STX, &YmReceiver::HeaderAgain},
    {S::S01, CAN, &YmReceiver::HoldByte},
    {S::S02, kAny, &YmReceiver::HeaderNumber},
    {S::S03, kAny, &YmReceiver::Complement},
    {S::S04, kAny, &YmReceiver::Data},
    {S::S05, kAny, &YmReceiver::HeaderCrcHigh},
    {S::S06, kAny, &YmReceiver::HeaderCrcLow},
    // The data blocks.
    {S::S07, SOH, &YmReceiver::BlockStart},
    {S::S07, STX, &YmReceiver::BlockStart},
    {S::S07, EOT, &YmReceiver::HoldByte},
    {S::S07, CAN, &YmReceiver::HoldByte},
    {S::S10, SOH, &YmReceiver::BlockStart},
    {S::S10, STX, &YmReceiver::BlockStart},
    {S::S10, EOT, &YmReceiver::HoldByte},
    {S::S10, CAN, &YmReceiver::HoldByte},
    {S::S11, kAny, &YmReceiver::BlockNumber},
    {S::S12, kAny, &YmReceiver::Complement},
    {S::S13, kAny, &YmReceiver::Data},
    {S::S14, kAny, &YmReceiver::BlockCrcHigh},
    {S::S15, kAny, &YmReceiver::BlockCrcLow},
    // The end of the file.
    {S::S16, EOT, &YmReceiver::FileEot},
    {S::S16, kEotAlt, &YmReceiver::FileEot},
    {S::S16, SOH, &YmReceiver::BlockStart},  // the last block again: its ACK was lost
    {S::S16, STX, &YmReceiver::BlockStart},
    {S::S16, CAN, &YmReceiver::HoldByte},
};

void YmReceiver::Listen(bool fresh) {
  held_ = 0;
  refusing_ = false;
  C1 = 0;
  timer_.Tmr = kHeaderRepeatMs;
  facts_ = FileFacts{};
  if (fresh) eotAnswered_ = false;
  YmComStat = S::S00;
  port_.WriteComByte(kC);
}

void YmReceiver::CloseFile() {
  if (sink_) sink_->Abandon();
  sink_.reset();
}

void YmReceiver::RcvProc(std::span<const std::uint8_t> bytes) {
  if (refusing_) {
    timer_.tw = clock_.TickCount();  // the refused block's bytes: the quiet time starts again
    return;
  }
  if (held_ != 0) {
    // Bytes came behind the held EOT or CAN: it was a byte of a block whose
    // first byte was lost, and the wait for the block goes on as it was.
    held_ = 0;
    timer_ = heldTimer_;
  }
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::uint8_t b = bytes[i];
    const Row* row = std::find_if(std::begin(kTable), std::end(kTable), [&](const Row& r) {
      return r.state == YmComStat && (r.byte == kAny || r.byte == b);
    });
    if (row == std::end(kTable)) {
      ++i;
      continue;
    }
    const std::int32_t took = (this->*row->action)(bytes.subspan(i));
    if (took == kStop) {
      host_.Dropped(bytes.subspan(i + 1));
      return;
    }
    i += static_cast<std::size_t>(took);
  }
}

void YmReceiver::RcvTimeout() {
  if (!TimedOut(clock_.TickCount(), timer_.tw, timer_.Tmr)) return;
  if (refusing_) {
    refusing_ = false;
    port_.WriteComByte(NAK);
    timer_.Tmr = kAnswerMs;
    return;
  }
  if (held_ != 0) {
    // The line stayed quiet: the EOT or the CAN was the terminal's.
    const std::uint8_t b[1] = {held_};
    held_ = 0;
    timer_ = heldTimer_;
    if (b[0] == CAN)
      Aborted(b);
    else if (YmComStat == S::S00)
      port_.WriteComByte(ACK);  // an EOT again: its ACK was lost
    else
      EarlyEot(b);
    return;
  }
  const TYmComStat s = YmComStat;
  if (s == S::S00) {
    timer_.tw = clock_.TickCount();
    port_.WriteComByte(kC);
    return;
  }
  if (TenthFailure(result::TimeOut)) return;
  if (s == S::S07) {
    // The header's answer again.
    port_.WriteComByte(ACK);
    clock_.Sleep(kAckToCMs);
    port_.WriteComByte(kC);
  } else {
    port_.WriteComByte(NAK);
  }
  timer_.Tmr = kAnswerMs;
  if (s >= S::S01 && s <= S::S06)
    YmComStat = S::S01;
  else if (s >= S::S11 && s <= S::S15)
    YmComStat = AfterBlock();
}

// ---- Actions

std::int32_t YmReceiver::HeaderStart(std::span<const std::uint8_t> rest) {
  RcvWaitFlg = false;
  C1 = 0;
  eotAnswered_ = false;
  return HeaderAgain(rest);
}

std::int32_t YmReceiver::HeaderAgain(std::span<const std::uint8_t> rest) {
  StartBlock(rest[0]);
  YmComStat = S::S02;
  return 1;
}

std::int32_t YmReceiver::EotAgain(std::span<const std::uint8_t> rest) {
  if (!eotAnswered_) return 1;
  return HoldByte(rest);  // answered with ACK once the line is quiet
}

std::int32_t YmReceiver::HeaderNumber(std::span<const std::uint8_t> rest) {
  Blk[0] = rest[0];
  view_.SetButtonCaption(transfer_text::kAbort);
  YmComStat = S::S03;
  return 1;
}

std::int32_t YmReceiver::Complement(std::span<const std::uint8_t> rest) {
  Blk[1] = rest[0];
  iRxN = 0;
  YmComStat = YmComStat == S::S03 ? S::S04 : S::S13;
  return 1;
}

std::int32_t YmReceiver::Data(std::span<const std::uint8_t> rest) {
  // The data bytes as one run.
  const std::size_t take = std::min<std::size_t>(static_cast<std::size_t>(iBlockSize - iRxN), rest.size());
  std::memcpy(pBuf + iRxN, rest.data(), take);
  iRxN += static_cast<std::int32_t>(take);
  if (iRxN == iBlockSize) YmComStat = YmComStat == S::S04 ? S::S05 : S::S14;
  return static_cast<std::int32_t>(take);
}

std::int32_t YmReceiver::HeaderCrcHigh(std::span<const std::uint8_t> rest) {
  ChkBlk[0] = 0;
  ChkBlk[1] = 0xFF;
  CRC16 = static_cast<std::uint16_t>(rest[0] << 8);
  YmComStat = S::S06;
  return 1;
}

std::int32_t YmReceiver::HeaderCrcLow(std::span<const std::uint8_t> rest) {
  CRC16 = static_cast<std::uint16_t>(CRC16 | rest[0]);
  ActOnHeader(ChkHeader());
  return refusing_ ? static_cast<std::int32_t>(rest.size()) : kStop;  // see RefuseWhenQuiet
}

std::int32_t YmReceiver::BlockStart(std::span<const std::uint8_t> rest) {
  StartBlock(rest[0]);
  YmComStat = S::S11;
  return 1;
}

std::int32_t YmReceiver::HoldByte(std::span<const std::uint8_t> rest) {
  // Where the first byte of a block is awaited, a CAN aborts the batch, and
  // an EOT ends the file early (S07, S10) or is the last file's EOT again
  // (S00). But a block or header whose first byte was lost or damaged puts
  // its other bytes here: a block's number (4 is EOT, 24 is CAN), then its
  // data or a header's CRC, up to an SOH or STX that starts a false block
  // (refused in the end). Taken as itself, one such byte would drop the
  // file, abort the batch or answer a header with the ACK of an EOT, for one
  // bad byte on the line. The sender writes nothing behind an EOT, nor the
  // terminal behind its cancel but another CAN, until it is answered: so a
  // byte with others behind it is passed over like any byte the state does
  // not list, and a last one is held until the line has been quiet for
  // kQuietMs. The state's own wait goes on meanwhile and is answered as
  // before once its time is up.
  if (rest.size() > 1 && rest[0] == CAN && rest[1] == CAN) return Aborted(rest);
  if (rest.size() > 1) return 1;
  held_ = rest[0];
  heldTimer_ = timer_;
  timer_.tw = clock_.TickCount();
  timer_.Tmr = kQuietMs;
  return 1;
}

std::int32_t YmReceiver::EarlyEot(std::span<const std::uint8_t>) {
  // The file ended before its announced size: it is dropped without an
  // answer and a fresh wait begins. That is a failure, logged as one, and the
  // batch that goes on does not end with 0 because of it.
  host_.End({.code = result::RcvDataError, .log = true, .cancel = false, .scope = EndScope::File});
  YmComStat = S::SS0;
  return kStop;
}

std::int32_t YmReceiver::BlockNumber(std::span<const std::uint8_t> rest) {
  Blk[0] = rest[0];
  YmComStat = S::S12;
  return 1;
}

std::int32_t YmReceiver::BlockCrcHigh(std::span<const std::uint8_t> rest) {
  CRC16 = static_cast<std::uint16_t>(rest[0] << 8);
  YmComStat = S::S15;
  return 1;
}

std::int32_t YmReceiver::BlockCrcLow(std::span<const std::uint8_t> rest) {
  CRC16 = static_cast<std::uint16_t>(CRC16 | rest[0]);
  ActOnBlock(ChkBlock());
  return refusing_ ? static_cast<std::int32_t>(rest.size()) : kStop;  // see RefuseWhenQuiet
}

std::int32_t YmReceiver::FileEot(std::span<const std::uint8_t>) {
  FinishFile();
  return kStop;
}

std::int32_t YmReceiver::Aborted(std::span<const std::uint8_t>) {
  host_.End({.code = result::Aborted, .log = true, .cancel = false, .scope = EndScope::Batch});
  return kStop;
}

// ---- Headers

HeaderAnswer YmReceiver::ChkHeader() {
  if (Blk[0] != 0 || Blk[1] != 0xFF) return HeaderAnswer::Refuse;
  if (CalcCrc16(pBuf, static_cast<std::size_t>(iBlockSize)) != CRC16) return HeaderAnswer::Refuse;
  HeaderDecision d = policy_.Decide(std::span<const std::uint8_t>(pBuf, static_cast<std::size_t>(iBlockSize)));
  facts_ = d.Facts;
  if (!d.FNameCaption.empty()) view_.SetLabel(FromAnsi(d.FNameCaption));
  sink_ = std::move(d.Sink);
  failCode_ = d.FailCode;
  failScope_ = d.FailScope;
  if (d.Answer == HeaderAnswer::Accept) fSize = d.Facts.fSize;
  return d.Answer;
}

void YmReceiver::ActOnHeader(HeaderAnswer answer) {
  switch (answer) {
    case HeaderAnswer::Refuse:
      if (TenthFailure(result::CommError)) return;
      RefuseWhenQuiet();
      YmComStat = S::S01;
      return;
    case HeaderAnswer::Accept:
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
      timer_.Tmr = kAnswerMs;
      YmComStat = S::S07;
      return;
    case HeaderAnswer::EndOfBatch:
    case HeaderAnswer::Request:
      port_.WriteComByte(ACK);
      host_.End({.code = std::nullopt, .log = false, .cancel = false, .scope = EndScope::Batch});
      return;
    case HeaderAnswer::Fail:
      host_.End({.code = failCode_, .log = true, .cancel = true, .scope = failScope_});
      return;
  }
}

// ---- Data blocks

BlockVerdict YmReceiver::ChkBlock() {
  const bool crcOk = CalcCrc16(pBuf, static_cast<std::size_t>(iBlockSize)) == CRC16;
  const BlockVerdict v = CheckBlock(Blk[0], Blk[1], ChkBlk[0], crcOk, true);
  if (v != BlockVerdict::Accept) return v;
  // What the header announced is the file; the fill of the last block, and
  // anything past the size, is not.
  std::size_t n = static_cast<std::size_t>(iBlockSize);
  if (facts_.FileType != TFileType::FLD)
    n = static_cast<std::size_t>(std::clamp<std::int64_t>(fSize - TmpRcvSize, 0, iBlockSize));
  if (sink_ && n > 0) sink_->Write(std::span<const std::uint8_t>(pBuf, n));
  return v;
}

void YmReceiver::ActOnBlock(BlockVerdict verdict) {
  switch (verdict) {
    case BlockVerdict::Refuse:
      if (TenthFailure(result::CommError)) return;
      RefuseWhenQuiet();
      YmComStat = AfterBlock();
      return;
    case BlockVerdict::Accept:
      port_.WriteComByte(ACK);
      C1 = 0;
      timer_.Tmr = kAnswerMs;
      TmpRcvSize += iBlockSize;
      ++iBlockNo;
      ChkBlk[0] = static_cast<std::uint8_t>(ChkBlk[0] + 1);
      ChkBlk[1] = static_cast<std::uint8_t>(0xFF - ChkBlk[0]);
      if (TmpRcvSize < fSize && iBlockNo < iEndBlock) view_.SetGaugeProgress(iBlockNo);
      YmComStat = AfterBlock();
      return;
    case BlockVerdict::Repeat: {
      // While the first data block is awaited, the block before it is the
      // header: it came again because its ACK or the 'C' behind it was lost.
      const bool header =
          TmpRcvSize == 0 && Blk[0] == 0 && CalcCrc16(pBuf, static_cast<std::size_t>(iBlockSize)) == CRC16;
      port_.WriteComByte(ACK);
      if (header) {
        clock_.Sleep(kAckToCMs);
        port_.WriteComByte(kC);
      }
      C1 = 0;
      timer_.Tmr = kAnswerMs;
      YmComStat = header ? S::S07 : AfterBlock();
      return;
    }
  }
}

void YmReceiver::FinishFile() {
  if (!sink_) {
    clock_.Sleep(kAfterFileMs);
    YmComStat = S::SS1;
    return;
  }
  AnsiString storedName;
  const std::int32_t code = sink_->Finish(storedName);
  sink_.reset();
  if (facts_.FileType == TFileType::FLD) {
    // A field file is not stored and has no log line of its own.
    if (code != result::NormalEnd) return EndBatch(result::RcvFieldDataError, true);
  } else {
    if (code != result::NormalEnd) {
      host_.End({.code = code, .log = true, .cancel = true, .scope = EndScope::Transfer});
      return;
    }
    facts_.BhtFName = storedName;
    RcvFile_ = storedName;
  }
  port_.WriteComByte(ACK);
  eotAnswered_ = true;
  view_.SetGaugeProgress(iEndBlock);
  if (facts_.FileType != TFileType::FLD)
    host_.End({.code = result::NormalEnd, .log = true, .cancel = false, .scope = EndScope::File});
  clock_.Sleep(kAfterFileMs);
  YmComStat = S::SS1;
}

// ---- Helpers

void YmReceiver::RefuseWhenQuiet() {
  // A refused block may be a false one: an SOH or STX inside a block whose
  // first byte was lost starts a block that ends inside the real one, whose
  // bytes are still coming. A NAK sent at once makes the sender write the
  // block again straight behind them, where the rest of the false block
  // takes its first bytes, and the next block is false too: the batch can
  // fail for one lost byte. So the bytes of the refused block are passed over
  // (they are no answer, not even two CANs) until the line has been quiet
  // for kQuietMs, and the NAK goes then; the sender waits for it.
  refusing_ = true;
  timer_.tw = clock_.TickCount();
  timer_.Tmr = kQuietMs;
}

void YmReceiver::StartBlock(std::uint8_t first) {
  timer_.tw = clock_.TickCount();
  timer_.Tmr = kBlockDeadlineMs;
  iBlockSize = first == SOH ? static_cast<std::int32_t>(kSmallData) : static_cast<std::int32_t>(kLargeData);
}

bool YmReceiver::TenthFailure(std::int32_t code) {
  if (++C1 < kMaxRetries) return false;
  EndBatch(code, true);
  return true;
}

void YmReceiver::EndBatch(std::int32_t code, bool cancel) {
  host_.End({.code = code, .log = true, .cancel = cancel, .scope = EndScope::Batch});
}

}  // namespace pw
