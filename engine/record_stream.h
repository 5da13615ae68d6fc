// Where the data of a file in transfer comes from and goes to. The sender
// takes a data file's blocks from a source; the receiver hands the data of an
// accepted file to a sink, which puts the file in place at its end. The
// library's are files (engine/file_transfer.h); Tablink adds text stores and
// tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/ansi_string.h"
#include "content/record_conversion.h"

namespace pw {

class RecordSource {
 public:
  virtual ~RecordSource() = default;
  /// Fills \p block with the next data bytes of the file, and 0x00 after its
  /// end; returns the count of file bytes placed. Throws FileError.
  virtual std::size_t ReadBlock(std::span<std::uint8_t, kBlockData> block) = 0;
};

class RecordSink {
 public:
  virtual ~RecordSink() = default;
  /// Data of one accepted block, never beyond the size its header announced.
  /// Throws FileError when it cannot be kept.
  virtual void Write(std::span<const std::uint8_t> data) = 0;
  /// The file is complete: put it in place. Returns 0, or the result code
  /// of the failure (the transfer then ends with it). \p storedName is the
  /// name it is stored under.
  virtual std::int32_t Finish(AnsiString& storedName) = 0;
  /// The file is dropped: close what is open; nothing is stored.
  virtual void Abandon() = 0;
};

}  // namespace pw
