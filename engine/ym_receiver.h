// The receiver: a YMODEM batch from the terminal, file by file, each stored
// where its header's policy says. See ym_receiver.cpp for how it runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>

#include "common/ansi_string.h"
#include "engine/com_port.h"
#include "engine/receive_policy.h"
#include "engine/record_stream.h"
#include "engine/transfer_view.h"
#include "engine/ym_machine.h"
#include "engine/ymodem_block.h"
#include "platform/clock.h"

namespace pw {

class YmReceiver {
 public:
  YmReceiver(ComPort& port, Clock& clock, TransferView& view, YmHost& host, ReceivePolicy& policy)
      : port_(port), clock_(clock), view_(view), host_(host), policy_(policy) {}

  /// The waiting for a header begins (the end of SS0 and SS1, once the
  /// worker has closed the files): no file, the first 'C', then one every
  /// second until a header starts. \p fresh: a new
  /// batch, so an EOT repeated from the last one is no longer answered.
  void Listen(bool fresh);
  /// One read's bytes, in order, as the state table says.
  void RcvProc(std::span<const std::uint8_t> bytes);
  /// A read found nothing: the timeout handling.
  void RcvTimeout();
  /// The batch is over; a fresh wait follows.
  void Restart() { YmComStat = TYmComStat::SS0; }
  /// Drops the file in transfer, if any.
  void CloseFile();

  TYmComStat State() const { return YmComStat; }
  YmTimer& Timer() { return timer_; }
  const FileFacts& Facts() const { return facts_; }
  /// True while nothing of the first header has arrived.
  bool Waiting() const { return RcvWaitFlg.load(); }
  void SetWaiting(bool waiting) { RcvWaitFlg = waiting; }
  /// The name the last stored file was stored under.
  const AnsiString& RcvFile() const { return RcvFile_; }
  void ClearRcvFile() { RcvFile_.clear(); }

 private:
  using Action = std::int32_t (YmReceiver::*)(std::span<const std::uint8_t> rest);
  /// A row's byte: one value, or any byte at all.
  static constexpr std::int16_t kAny = -1;
  struct Row {
    TYmComStat state;
    std::int16_t byte;
    Action action;
  };
  static const Row kTable[];

  // The table's actions; each returns the bytes it took (at least 1) or kStop.
  std::int32_t HeaderStart(std::span<const std::uint8_t> rest);
  std::int32_t HeaderAgain(std::span<const std::uint8_t> rest);
  std::int32_t EotAgain(std::span<const std::uint8_t> rest);
  std::int32_t HeaderNumber(std::span<const std::uint8_t> rest);
  std::int32_t Complement(std::span<const std::uint8_t> rest);
  std::int32_t Data(std::span<const std::uint8_t> rest);
  std::int32_t HeaderCrcHigh(std::span<const std::uint8_t> rest);
  std::int32_t HeaderCrcLow(std::span<const std::uint8_t> rest);
  std::int32_t BlockStart(std::span<const std::uint8_t> rest);
  std::int32_t HoldByte(std::span<const std::uint8_t> rest);
  std::int32_t EarlyEot(std::span<const std::uint8_t> rest);
  std::int32_t BlockNumber(std::span<const std::uint8_t> rest);
  std::int32_t BlockCrcHigh(std::span<const std::uint8_t> rest);
  std::int32_t BlockCrcLow(std::span<const std::uint8_t> rest);
  std::int32_t FileEot(std::span<const std::uint8_t> rest);
  std::int32_t Aborted(std::span<const std::uint8_t> rest);

  HeaderAnswer ChkHeader();
  void ActOnHeader(HeaderAnswer answer);
  ymodem::BlockVerdict ChkBlock();
  void ActOnBlock(ymodem::BlockVerdict verdict);
  void FinishFile();
  /// The NAK of a refused header or block, once the line is quiet.
  void RefuseWhenQuiet();
  void StartBlock(std::uint8_t first);
  /// Counts a refusal or a timeout in C1; the tenth in a row ends the batch
  /// with \p code and returns true.
  bool TenthFailure(std::int32_t code);
  /// Where a data block that was answered leaves the receiver: the EOT once
  /// the announced size is in, else the next block.
  TYmComStat AfterBlock() const { return TmpRcvSize >= fSize ? TYmComStat::S16 : TYmComStat::S10; }
  void EndBatch(std::int32_t code, bool cancel);

  ComPort& port_;
  Clock& clock_;
  TransferView& view_;
  YmHost& host_;
  ReceivePolicy& policy_;

  TYmComStat YmComStat = TYmComStat::SS0;
  YmTimer timer_;
  std::atomic<bool> RcvWaitFlg{false};
  FileFacts facts_;
  std::unique_ptr<RecordSink> sink_;
  std::int32_t failCode_ = 0;  // a failed header's code and what it ends
  EndScope failScope_ = EndScope::Batch;
  AnsiString RcvFile_;
  bool eotAnswered_ = false;  // the last file's EOT was answered; a repeat of it is answered again
  std::uint8_t held_ = 0;     // an EOT or CAN that counts once the line stays quiet behind it (HoldByte)
  YmTimer heldTimer_;         // the timer it stopped
  bool refusing_ = false;     // a NAK goes once the line is quiet (RefuseWhenQuiet)
  std::int32_t fSize = 0;
  std::int64_t TmpRcvSize = 0;  // may pass fSize by a block: kept wide
  std::int32_t iBlockNo = 0, iEndBlock = 0, iBlockSize = 0, iRxN = 0, C1 = 0;
  std::uint8_t Blk[2] = {0, 0}, ChkBlk[2] = {0, 0};
  std::uint8_t pBuf[kRxBufSize] = {};
  std::uint16_t CRC16 = 0;
};

}  // namespace pw
