// What a send carries, worked out before anything goes on the line: the kind
// of the file, its record layout, its size, record count and block count, and
// the field-file text that goes ahead of a data file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "common/ansi_string.h"
#include "content/field_file.h"
#include "content/file_kind.h"

namespace pw {

struct SendSizes {
  std::int32_t fSize = 0;      ///< bytes announced in the data file's header
  std::int32_t iRecords = 0;   ///< records (record kinds)
  std::int32_t iEndBlock = 0;  ///< 1024-byte data blocks
};

/// Measures the PC file \p txFName for a send of kind \p type with record size
/// \p iRecSize (record kinds). Raw kinds and DATA: the file's length; DATA
/// also counts records of iRecSize + 2 bytes. CSV: the number of text lines
/// times iRecSize. Returns 0, 9 (SendDataError: the file is empty, or its size
/// does not fit 32 bits) or 12 (FileAccessError: it cannot be opened or read).
std::int32_t MeasureSendFile(const std::filesystem::path& txFName, TFileType type, std::int32_t iRecSize,
                             SendSizes& sizes);

struct SendPlan {
  TFileType FileType = TFileType::DATA;
  AnsiString FNameCaption;  ///< the label for the progress window (ANSI)
  FieldLayout Layout;       ///< record kinds: the widths of the field list
  std::int32_t iRecSize = 0;
  SendSizes Sizes;
  AnsiString FieldsDat;  ///< record kinds: the field-file text (FieldHeader)
};

/// The content steps of preparing a send of \p txFName as the terminal file
/// \p bhtFName (upper case) with the blank-separated field list \p fieldsDat.
/// Returns 0 (ready), 6 (NoSendFile), 7 (FieldFileError: a record kind whose
/// list gives no record), 9 (SendDataError) or 12 (FileAccessError).
std::int32_t PlanSend(const std::filesystem::path& txFName, std::string_view bhtFName, std::string_view fieldsDat,
                      SendPlan& plan);

}  // namespace pw
