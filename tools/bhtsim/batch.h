// What the simulated terminal sends: the file under its name on the line,
// preceded by a field file when field widths are given, or the request for a
// file from the PC.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/bhtsim/options.h"

namespace pw::bhtsim {

using Bytes = std::vector<std::uint8_t>;

struct BatchFile {
  std::string name;  ///< as it goes into the header block
  Bytes bytes;
};

/// The name on the line: \p as when given, else the base name of \p path with
/// the ASCII letters upper-cased.
std::string LineName(std::string_view path, std::string_view as);

/// \p name with its extension (from the last '.') replaced by ".FLD", or
/// ".FLD" appended when it has none.
std::string FieldFileName(std::string_view name);

/// The field-file text for the data file \p name with \p content, laid out by
/// the comma-separated widths \p fields. Nothing, and \p error set, when the
/// widths are not a valid list or the size is not a whole number of record
/// units. The unit is the sum of the widths, plus 2 when the first record is
/// followed by CR LF.
std::optional<std::string> FieldFileText(std::string_view name, const Bytes& content, std::string_view fields,
                                         std::string& error);

/// The batch for a send with \p options of a file holding \p content. Nothing,
/// and \p error set, when it cannot be sent as asked: an empty file, a name
/// and size that do not fit a header block, or a bad field layout.
std::optional<std::vector<BatchFile>> BuildBatch(const Options& options, Bytes content, std::string& error);

/// The header block that asks the PC for the file \p name (1 to 12 bytes):
/// block 0, SOH, whose data are "#D", the name filled with blanks to twelve
/// bytes, then 0x00 to the end; CRC-16 as every block.
Bytes RequestBlock(std::string_view name);

}  // namespace pw::bhtsim
