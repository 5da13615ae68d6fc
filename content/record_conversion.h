// Conversion between comma-separated text lines on the PC and the
// fixed-length records of a BHT data file, in both directions, streaming: the
// memory used is bounded by the record length, never by the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/ansi_string.h"
#include "content/field_file.h"
#include "content/file_kind.h"

namespace pw {

/// Data bytes of one 1024-byte block; the engine adds STX, block number and CRC.
inline constexpr std::size_t kBlockData = 1024;

/// Counts the text lines of \p path as the send side does: every line that
/// ends in LF (or CR LF) and a last line without a line end; an empty line
/// counts too. False if the file cannot be opened or read.
bool CountTextLines(const std::filesystem::path& path, std::int64_t& lines);

/// Send side: turns the lines of a comma-separated PC file into records (each
/// value filled with blanks to its width or cut after it, the record ended by
/// CR LF) and hands them out as the data of consecutive 1024-byte blocks. No
/// byte is lost or repeated, however long a record or a line is.
class CsvBlockReader {
 public:
  /// Opens \p txFName at its start for a layout with \p layout's widths (as
  /// ParseFieldList leaves them). False if the file cannot be opened.
  bool Open(const std::filesystem::path& txFName, const FieldLayout& layout, bool dblQuotFlg);

  /// Fills \p block with the next 1024 data bytes: the next record bytes, and
  /// 0x00 bytes after the last record of the file. Returns the number of record
  /// bytes placed (0 once everything has been handed out). Throws FileError if
  /// the file cannot be read.
  std::size_t ReadCsvBlock(std::span<std::uint8_t, kBlockData> block);

 private:
  void Fill();

  std::ifstream fdat_;
  std::vector<char> chunk_;
  std::size_t chunkPos_ = 0, chunkLen_ = 0;
  bool eof_ = true;

  std::vector<std::int32_t> starts_, widths_;
  AnsiString blankRecord_;  // the record of an empty line, CR LF included
  bool dblQuot_ = false;

  // Converted bytes not yet handed out: sBuf_[head_, size).
  AnsiString sBuf_;
  std::size_t head_ = 0;

  // The line being converted.
  struct Line {
    bool started = false;    // its record is in sBuf_ at record
    bool pendingCr = false;  // a CR was read; a LF next makes it the line end
    bool quoted = false;     // the current value began with a double quote
    std::int32_t field = 0;  // the current field
    std::uint64_t len = 0;   // bytes of the current value so far
    char last = 0;           // its last byte
    std::size_t record = 0;
    char* slot = nullptr;  // the current field in the record
    std::uint64_t width = 0;
  };
  Line line_;

  /// Converted bytes ready to go out: those of ended lines not yet handed
  /// out. The record of \p line, while it is still being filled, is not.
  std::size_t Ready(const Line& line) const { return (line.started ? line.record : sBuf_.size()) - head_; }
};

/// Receive side: the text line of one record (without CR LF). DATA: the
/// record's bytes unchanged. CSV: the fields joined by commas, each without
/// trailing bytes up to 0x20 unless \p lastSpFlg, enclosed in double quotes
/// if \p dblQuotFlg. \p record holds at least the sum of the widths.
AnsiString RecordToLine(std::string_view record, const FieldLayout& layout, TFileType kind, bool lastSpFlg,
                        bool dblQuotFlg);

/// Receive side, record step: cuts the accepted data blocks of a DATA or CSV
/// file into record units of iRecSize0 bytes and writes each record's line,
/// ended by CR LF, to temporary file 1. Records beyond the announced count and
/// the fill of the last block are dropped.
class RecordReceiver {
 public:
  /// Starts a data file: creates temporary file 1 empty. False if it cannot
  /// be created (the header is then answered as a file error).
  bool Open(const std::filesystem::path& tmp1, const FieldLayout& layout, TFileType kind, bool lastSpFlg,
            bool dblQuotFlg);

  /// The record step for one accepted block's data bytes. Throws FileError if
  /// temporary file 1 cannot be written.
  void AddBlock(std::span<const std::uint8_t> data);

  /// Writes what is buffered and closes temporary file 1. Throws FileError.
  void Close();

  bool IsOpen() const { return ftmp1_.is_open(); }
  std::int32_t TmpRecordNo() const { return tmpRecordNo_; }

 private:
  void Flush();

  std::ofstream ftmp1_;
  FieldLayout layout_;
  TFileType kind_ = TFileType::DATA;
  bool lastSp_ = false, dblQuot_ = false;
  std::string sBuf_;  // received bytes that do not yet make a record unit
  std::string out_;   // converted lines not yet written
  std::int32_t tmpRecordNo_ = 0;
};

}  // namespace pw
