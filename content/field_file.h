// Field lists and field files: the record layout of a BHT data file, as the
// caller gives it (widths), as it travels ahead of the data file (".FLD"), and
// as it lies beside a PC file to send (".fld").
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "common/ansi_string.h"

namespace pw {

/// Capacity of a layout; a list or field file with more widths is refused.
inline constexpr std::int32_t kMaxFields = 256;
/// Send side: the limits of one width and of a whole record.
inline constexpr std::int32_t kMaxFieldWidth = 8192;
inline constexpr std::int32_t kMaxRecordLength = 65535;
/// Receive side: the largest record unit (record plus separator) accepted.
inline constexpr std::int32_t kMaxRecordUnit = kMaxRecordLength + 2;

struct FieldEntry {
  std::int32_t Start = 0;  ///< byte offset of the field in the record
  std::int32_t Width = 0;  ///< width in bytes
};

/// The layout of a data file and, on the receive side, what the last field
/// file said about it.
struct FieldLayout {
  std::array<FieldEntry, kMaxFields> Field{};
  std::int32_t iNFields = 0;
  std::int32_t iRecSize = 0;   ///< sum of the widths (receive); a send uses SendRecordSize
  std::int32_t iRecSize0 = 0;  ///< receive: one record unit as it travels
  std::int32_t iRecords = 0;
  std::int32_t ChkSize = 0;    ///< receive: the "size" of the field file
  AnsiString ChkFName;         ///< receive: the "file" of the field file
  AnsiString FieldsDat;        ///< receive: the "fields" of the field file, blank-separated

  /// Forgets everything: no field file has been received.
  void Clear() { *this = FieldLayout{}; }
};

/// Every comma turned into one blank, as a transfer holds a caller's list.
AnsiString CommasToBlanks(std::string_view list);
/// Every blank turned into a comma, as a received list goes back to the caller.
AnsiString BlanksToCommas(std::string_view list);

/// Parses a blank-separated list of widths into \p layout (iNFields, each
/// Width and Start). Returns the record length, the sum of the widths, or 0
/// when the list is invalid: empty, two blanks in a row, a width that is not a
/// decimal number from 1 to 8192, more than 256 widths, or a total above
/// 65535. iNFields is 0 whenever 0 is returned.
std::int32_t ParseFieldList(std::string_view list, FieldLayout& layout);

/// The field-file text that travels ahead of a data file: five lines ended by
/// CR LF ("* created by BHT", file, size, records, field(s)). \p fieldsDat is
/// the blank-separated list as ParseFieldList accepted it, trimmed.
AnsiString FieldHeader(std::string_view bhtFName, std::int32_t fSize, std::int32_t iRecords,
                       std::int32_t iNFields, std::string_view fieldsDat);

/// The value of \p key in the received field-file text \p sBuf: the bytes
/// after the key and one separator byte up to the next CR LF. Consumes \p sBuf
/// up to the end of that line; empty (and \p sBuf untouched when the key is
/// missing) if there is no such value.
AnsiString GetFldValue(AnsiString& sBuf, std::string_view key);

/// Reads a received field file (its data blocks as received, fill included)
/// into \p layout. Returns false when it is invalid: a missing "file",
/// "size", "records" (or "record") or "fields" (or "field") value, a size or
/// record count of 0, a number that does not fit 32 bits, more than 256 widths,
/// a size that is not a whole number of record units, a unit shorter than the
/// record or more than 2 bytes longer, or a unit above 65537 bytes.
bool ParseFieldFile(std::string_view sBuf, FieldLayout& layout);

/// The field list in the ".fld" file beside \p sendFile (same name, extension
/// ".fld" in any case): its first line without a leading "fields" or "field"
/// word and without surrounding blanks. Empty if there is no such file, it
/// cannot be read, or its first line is unreasonably long.
AnsiString ReadFldFile(const std::filesystem::path& sendFile);

}  // namespace pw
