// History log lines and files.
#include "content/history_log.h"

#include "content/file_error.h"
#include "content/result_codes.h"
#include "platform/codepage.h"

namespace pw {

std::filesystem::path LogFileName(const std::filesystem::path& logFolder, std::string_view portName,
                                  std::int32_t logFileMode, const LocalTime& today, std::string_view prefix) {
  AnsiString name(prefix);
  name += portName;
  name += '_';
  name += ZeroPad(today.year, 4);
  if (logFileMode != 2) {
    name += '_';
    name += ZeroPad(today.month, 2);
  }
  if (logFileMode == 0) {
    name += '_';
    name += ZeroPad(today.day, 2);
  }
  name += ".log";
  const std::string utf8 = FromAnsi(name);
  return logFolder / std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

AnsiString LogLine(const LogEntry& e) { return LogLine(e, ResultLogText); }

AnsiString LogLine(const LogEntry& e, ResultTextFn resultText) {
  const LocalTime& t = e.Time;
  AnsiString line = ZeroPad(t.month, 2) + "/" + ZeroPad(t.day, 2) + " " + ZeroPad(t.hour, 2) + ":" +
                    ZeroPad(t.minute, 2) + ":" + ZeroPad(t.second, 2) + " ";
  // The name may be a refused one from the line: a control byte in it must
  // not end the log line or start a forged one. Shift-JIS trail bytes are
  // never below 0x40, so Japanese names are untouched.
  AnsiString name = e.BhtFName;
  for (char& c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  line += FitB(name, 14);
  if (IsRecordKind(e.FileType))
    line += FitB(std::to_string(e.iRecords) + ToAnsi("件"), 12);
  else
    line += FitB(std::to_string(e.fSize) + ToAnsi("ﾊﾞｲﾄ"), 12);
  line += ToAnsi(e.Send ? "送信  " : "受信  ");
  line += FitB(ToAnsi(resultText(e.Code)), 30);
  line += "\r\n";
  return line;
}

std::string LogOpenErrorText(const std::filesystem::path& logFile) {
  const std::u8string path = logFile.u8string();
  return std::string(path.begin(), path.end()) + "\r\nの通信履歴保存ファイル作成／アクセスできません。";
}

bool HistoryLog::Open(const std::filesystem::path& logFile) {
  if (flog_.is_open()) flog_.close();
  flog_.clear();
  flog_.open(logFile, std::ios::binary | std::ios::app);
  return flog_.is_open();
}

void HistoryLog::WriteLog(const LogEntry& e) { WriteLog(e, ResultLogText); }

void HistoryLog::WriteLog(const LogEntry& e, ResultTextFn resultText) {
  const AnsiString line = LogLine(e, resultText);
  if (!flog_.is_open() || !flog_.write(line.data(), static_cast<std::streamsize>(line.size())) || !flog_.flush())
    throw FileError("the history log cannot be written");
}

bool HistoryLog::Close() {
  if (!flog_.is_open()) return true;
  flog_.flush();
  const bool flushed = !flog_.fail();
  flog_.close();
  return flushed && !flog_.fail();
}

}  // namespace pw
