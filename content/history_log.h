// The history log: one fixed-width line per transferred file and per failure,
// in files per day, month or year.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "common/ansi_string.h"
#include "content/file_kind.h"
#include "platform/clock.h"

namespace pw {

/// The log file for the port \p portName ("COM1"): \p logFolder /
/// \p prefix + port + date part + ".log", the date part from \p today by
/// \p logFileMode: 0 "_yyyy_mm_dd", 2 "_yyyy", any other "_yyyy_mm". The
/// library's logs are "PWK...", the table server's "TlnkExe...".
std::filesystem::path LogFileName(const std::filesystem::path& logFolder, std::string_view portName,
                                  std::int32_t logFileMode, const LocalTime& today, std::string_view prefix = "PWK");

/// The log's text of a result code (UTF-8).
using ResultTextFn = std::string_view (*)(std::int32_t code);

/// What one log line tells: the thread's values when the event happens.
struct LogEntry {
  LocalTime Time;
  AnsiString BhtFName;
  TFileType FileType = TFileType::NULL_;
  std::int32_t iRecords = 0;
  std::int32_t fSize = 0;
  bool Send = false;  ///< the transfer is a send (TxFlag)
  std::int32_t Code = 0;
};

/// The line for \p e: time (15 bytes, "mm/dd hh:nn:ss "), name (14, each
/// control byte 0x00-0x1F and 0x7F shown as '?'), count
/// (12: records and "件" for record kinds, else bytes and "ﾊﾞｲﾄ"), direction
/// (6) and the code's text (30), each filled with blanks or cut, 77 bytes of
/// ANSI text in all, then CR LF.
AnsiString LogLine(const LogEntry& e);
/// The same with the result texts of another program.
AnsiString LogLine(const LogEntry& e, ResultTextFn resultText);

/// The message shown when the log cannot be opened at the start of a
/// transfer (UTF-8): the file's path, CR LF, and the reason. The transfer then
/// ends with result 12 without any exchange on the line.
std::string LogOpenErrorText(const std::filesystem::path& logFile);
inline constexpr std::string_view kLogOpenErrorCaption = "ファイル作成／アクセスエラー";

/// The log file of one transfer, opened at its start and closed at its end.
class HistoryLog {
 public:
  /// Opens \p logFile for appending, creating it if it does not exist.
  /// False if neither is possible.
  bool Open(const std::filesystem::path& logFile);
  bool IsOpen() const { return flog_.is_open(); }
  /// Appends the line for \p e and flushes it to the file at once. Throws
  /// FileError if it cannot be written.
  void WriteLog(const LogEntry& e);
  /// WriteLog with the result texts of another program.
  void WriteLog(const LogEntry& e, ResultTextFn resultText);
  /// Flushes and closes the file; false if that reports an error.
  bool Close();

 private:
  std::ofstream flog_;
};

}  // namespace pw
