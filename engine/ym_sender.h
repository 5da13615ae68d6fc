// The sender: one PC file to the terminal as a YMODEM batch. A data file
// goes behind the field file that describes it, in the same batch; any other
// kind goes alone. See ym_sender.cpp for how it runs.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "common/ansi_string.h"
#include "engine/com_port.h"
#include "engine/record_stream.h"
#include "engine/transfer_view.h"
#include "engine/ym_machine.h"
#include "engine/ymodem_block.h"
#include "platform/clock.h"

namespace pw {

/// What one send carries, worked out before anything goes on the line.
struct SendJob {
  FileFacts Facts;                       ///< the terminal's name, the kind, the records and the size announced
  std::int32_t iEndBlock = 0;            ///< 1024-byte data blocks
  AnsiString FieldText;                  ///< the field file that goes first (ANSI); empty: the file goes alone
  std::unique_ptr<RecordSource> Source;  ///< the data file's blocks
};

class YmSender {
 public:
  YmSender(ComPort& port, Clock& clock, TransferView& view, YmHost& host)
      : port_(port), clock_(clock), view_(view), host_(host) {}

  /// Takes \p job and readies the batch: the headers, the gauge, the first
  /// state (S20 behind a field file, S30 alone) and the minute the terminal
  /// has for its first 'C'. Returns 0, or 9 when the name and the size do
  /// not fit a header block.
  std::int32_t Start(SendJob job);

  /// One read's bytes, in order, as the state table says.
  void SendProc(std::span<const std::uint8_t> bytes);
  /// A read found nothing: the timeout handling.
  void SendTimeout();

  TYmComStat State() const { return YmComStat; }
  YmTimer& Timer() { return timer_; }
  const FileFacts& Facts() const { return job_.Facts; }
  /// What the log tells of a send that failed before it started.
  void Describe(FileFacts facts) { job_.Facts = std::move(facts); }
  /// Lets go of the data file.
  void CloseSource() { job_.Source.reset(); }

 private:
  using Action = std::int32_t (YmSender::*)();
  struct Row {
    TYmComStat state;
    std::uint8_t byte;
    Action action;
  };
  static const Row kTable[];

  // The table's actions; each returns 1 (go on with the next byte) or kStop.
  std::int32_t SendFieldHeader();
  std::int32_t FieldHeaderAcked();
  std::int32_t SendFirstFieldBlock();
  std::int32_t FieldBlockAcked();
  std::int32_t FieldEotAcked();
  std::int32_t SendDataHeader();
  std::int32_t DataHeaderAcked();
  std::int32_t SendFirstDataBlock();
  std::int32_t DataBlockAcked();
  std::int32_t DataEotAcked();
  std::int32_t SendEndHeader();
  std::int32_t BatchAcked();
  std::int32_t Resend();
  std::int32_t NakForC();
  std::int32_t Cancelled();

  void MoveOn(TYmComStat next);
  void Label(std::string_view text);
  void Send() { port_.WriteCom(TxBuf, TxSize); }
  void BuildFieldBlock();
  void BuildDataBlock();
  void PutEot();
  std::int32_t EndWith(std::int32_t code, bool cancel);

  ComPort& port_;
  Clock& clock_;
  TransferView& view_;
  YmHost& host_;

  SendJob job_;
  TYmComStat YmComStat = TYmComStat::S30;
  YmTimer timer_;
  std::int32_t iBlockNo = 0, C2 = 0, GaugeMaxValue = 0;
  std::size_t fieldPos_ = 0;  // field-file text already in blocks
  std::uint8_t DatBuf[ymodem::kSmallBlock] = {};
  std::uint8_t TxBuf[ymodem::kTxBufSize] = {};
  std::int32_t TxSize = 0;
};

}  // namespace pw
