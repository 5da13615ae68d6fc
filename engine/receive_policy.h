// What a receiver asks when a header block has arrived whole, with its block
// number and CRC checked: may this file come, under which name and kind, and
// where do its data go. The library takes every kind into files of the
// receive folder (engine/file_transfer.h); Tablink has rules of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "common/ansi_string.h"
#include "content/file_kind.h"
#include "engine/record_stream.h"
#include "engine/ym_machine.h"

namespace pw {

struct HeaderDecision {
  /// Refuse (NAK), Accepted, EndOfBatch, WrongFile (19), OtherFields (20)
  /// or FileError (12: the file's place could not be opened).
  HeaderVerdict Verdict = HeaderVerdict::Refuse;
  FileFacts Facts;                   ///< as far as the header told them
  AnsiString FNameCaption;           ///< the label to show (ANSI); empty: as it is
  std::unique_ptr<RecordSink> Sink;  ///< Accepted: where the file's data go
};

class ReceivePolicy {
 public:
  virtual ~ReceivePolicy() = default;
  /// Reads the data bytes (128 or 1024) of a header block.
  virtual HeaderDecision Decide(std::span<const std::uint8_t> headerData) = 0;
};

}  // namespace pw
