// What a receiver asks when a header block has arrived whole, with its block
// number and CRC checked: may this file come, under which name and kind, and
// where do its data go. The library takes every kind into files of the
// receive folder (engine/file_transfer.h); Tablink has rules of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "common/ansi_string.h"
#include "engine/record_stream.h"
#include "engine/ym_machine.h"

namespace pw {

/// The receiver's answer to a header.
enum class HeaderAnswer {
  Refuse,      ///< NAK; the tenth in a row ends the batch with 14
  Accept,      ///< ACK, then 'C' for the file's data
  EndOfBatch,  ///< ACK; the batch is over
  Request,     ///< ACK; the terminal asks for a file, which the worker sends next (the batch is over)
  Fail,        ///< the cancel sequence, the failure's code and log line; the batch or the transfer ends
};

struct HeaderDecision {
  HeaderAnswer Answer = HeaderAnswer::Refuse;
  std::int32_t FailCode = 0;             ///< Fail: the result code
  EndScope FailScope = EndScope::Batch;  ///< Fail: what ends
  FileFacts Facts;                       ///< as far as the header told them
  AnsiString FNameCaption;               ///< the label to show (ANSI); empty: as it is
  std::unique_ptr<RecordSink> Sink;      ///< Accept: where the file's data go
};

class ReceivePolicy {
 public:
  virtual ~ReceivePolicy() = default;
  /// Reads the data bytes (128 or 1024) of a header block.
  virtual HeaderDecision Decide(std::span<const std::uint8_t> headerData) = 0;
};

}  // namespace pw
