// The store side of a transfer: where a received data file's records go (a
// text file, or rows of a table) and where a requested file's records come
// from. The server builds the field table of each transfer and hands the
// store a sink for a receive or a send job for a request.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "common/ansi_string.h"
#include "content/field_file.h"
#include "engine/record_stream.h"
#include "engine/ym_sender.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "tablink/definition_file.h"
#include "tablink/table.h"

namespace pw::tablink {

/// What every transfer of one run shares.
struct StoreSettings {
  std::int32_t SaveType = kSaveText;
  std::filesystem::path DsFolder;  ///< text: the folder of the files; tables: the database's folder
  bool Append = true;              ///< WriteMode 1; 0 overwrites
  std::filesystem::path TmpFile;   ///< where received text lines wait for the end of the file
};

/// One field of the terminal's records.
struct StoreField {
  std::int32_t Start = 0;  ///< byte offset in the record
  std::int32_t Width = 0;
  /// Tables: the column from 1, 0 for an ignored field. Separated text: the
  /// type, 0 string, 1 number, 2 other. -1 beyond the definition's fields.
  std::int32_t col = -1;
};

/// The field table of one transfer.
struct StoreLayout {
  std::vector<StoreField> Fields;
  std::int32_t iRecSize = 0;   ///< the record's bytes, the sum of the widths
  std::int32_t iRecSize0 = 0;  ///< a record as it travels: receive as the field file says, send + CR LF
  std::int32_t iRecords = 0;   ///< receive: the records announced
};

/// The field table of a received data file: the field file's widths, each
/// field's FieldMap entry while it is within FieldCount, else -1.
StoreLayout ReceiveLayout(const FieldLayout& received, const Definition& def);

/// The field table of a send from the definition's widths \p fieldsDat
/// (trimmed): each blank-separated part a decimal number (no number reads
/// as 0). False (code 7) for a part of 0 or less or above 8192, or widths
/// above 65535 in all. \p useFieldCount: only as many fields as FieldCount
/// (tables); text uses every width.
bool SendLayout(std::string_view fieldsDat, const Definition& def, bool useFieldCount, StoreLayout& layout);

/// A failure inside a transfer that ends it with \p Code and returns the
/// server to waiting (a row that cannot be added, a cell that cannot be
/// sent ...).
class StoreError : public std::runtime_error {
 public:
  StoreError(std::int32_t code, const std::string& what) : std::runtime_error(what), Code(code) {}
  std::int32_t Code;
};

/// The extensions a terminal may never ask for (code 20).
bool IsRefusedSendName(std::string_view bhtName);

// ---- Receiving. Each returns 0 with \p sink ready, or the code. A sink's
// Write throws StoreError (rows) or FileError (the temporary file); its
// Finish puts the data in place and returns 0, or 12, 32 or 33 after showing
// their box; these end the server. A table's Finish also throws StoreError
// (31) for rows its store kept back and cannot store.

/// Text (SaveType 0 and 3): the lines go to the temporary file, rewritten
/// now, and at the end to DsFolder + SaveName (placeholders replaced), by
/// append or by a rename over the old file.
std::int32_t OpenTextReceive(const StoreSettings& settings, const Definition& def, const StoreLayout& layout,
                             Clock& clock, const Alerts& alerts, std::unique_ptr<RecordSink>& sink);
/// A sheet or table (SaveType 1 and 2): a transaction begins, the table is
/// opened and checked, emptied for an overwrite, and put into edit mode
/// (codes 24 to 28, 35). Abandon closes the table and rolls back.
std::int32_t OpenTableReceive(TableConnection& connection, const StoreSettings& settings, const Definition& def,
                              const StoreLayout& layout, const Alerts& alerts, std::unique_ptr<RecordSink>& sink);

// ---- Sending. Each returns 0 with \p job ready (the field file, the sizes,
// the source), or 6, 7, 9, 12, 20, 24 or 34. \p job.Facts tells what is known
// even on failure. A source's ReadBlock throws StoreError(36) at a cell that
// cannot be sent.

std::int32_t PrepareTextSend(const StoreSettings& settings, const Definition& def, std::string_view bhtName,
                             SendJob& job);
std::int32_t PrepareTableSend(TableConnection& connection, const Definition& def, std::string_view bhtName,
                              SendJob& job);

/// After a failure, or when the server cleans up: the table closed if open,
/// an open transaction rolled back.
void ReleaseTable(TableConnection& connection);

}  // namespace pw::tablink
