#include "content/result_codes.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "content/history_log.h"
#include "platform/codepage.h"
#include "temp_dir.h"

namespace pw {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(ResultCodes, NamesTextsAndTheirByteLengths) {
  struct Row {
    std::int32_t code;
    const char* name;
    const char* text;
    std::size_t bytes;
  } rows[] = {
      {0, "NormalEnd", "正常終了", 8},
      {1, "Cancelled", "取消", 4},
      {2, "Aborted", "中断", 4},
      {6, "NoSendFile", "送信ファイルが無い", 18},
      {7, "FieldFileError", "ﾌｨｰﾙﾄﾞﾌｧｲﾙ(ﾃﾞｰﾀ)ｴﾗｰ", 19},
      {9, "SendDataError", "送信データエラー", 16},
      {12, "FileAccessError", "ファイルアクセスエラー", 22},
      {13, "TimeOut", "タイムアウト", 12},
      {14, "CommError", "通信エラー", 10},
      {15, "RcvFieldDataError", "受信ﾌｨｰﾙﾄﾞﾃﾞｰﾀｴﾗｰ", 17},
      {16, "RcvDataError", "受信データエラー", 16},
      {17, "RcvBufReadError", "受信ﾊﾞｯﾌｧ読み取りｴﾗｰ", 20},
      {18, "SendBufWriteError", "送信ﾊﾞｯﾌｧ書き込みｴﾗｰ", 20},
      {19, "WrongRcvFile", "受信ﾌｧｲﾙが違います", 18},
      {20, "FieldMismatch", "指定ﾌｨｰﾙﾄﾞと違います", 20},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(ResultName(r.code), r.name);
    EXPECT_EQ(ResultLogText(r.code), r.text);
    EXPECT_EQ(ToAnsi(ResultLogText(r.code)).size(), r.bytes) << r.code;
  }
  for (std::int32_t other : {3, 4, 5, 8, 10, 11, 21, -1}) {
    EXPECT_EQ(ResultName(other), "UnexpectedError");
    EXPECT_EQ(ResultLogText(other), "想定外のエラー");
    EXPECT_EQ(ToAnsi(ResultLogText(other)).size(), 14u);
  }
}

TEST(LogLine, TheExampleByteForByte) {
  LogEntry e;
  e.Time = LocalTime{2026, 1, 8, 14, 5, 9};
  e.BhtFName = "ITEM.CSV";
  e.FileType = TFileType::CSV;
  e.iRecords = 3;
  e.fSize = 51;
  e.Send = true;
  e.Code = 0;
  const std::string expected = std::string("01/08 14:05:09 ") + "ITEM.CSV      " + "3\x8c\x8f" + std::string(9, ' ') +
                               "\x91\x97\x90\x4d  " + "\x90\xb3\x8f\xed\x8f\x49\x97\xb9" + std::string(22, ' ') +
                               "\r\n";
  EXPECT_EQ(LogLine(e), expected);
  EXPECT_EQ(LogLine(e).size(), 77u + 2u);
}

TEST(LogLine, CountsCutsAndDirection) {
  LogEntry e;
  e.Time = LocalTime{2026, 12, 31, 23, 59, 58};
  e.BhtFName = "ABCDEFGH.PD4";  // 12 bytes, two blanks follow
  e.FileType = TFileType::PD4;
  e.fSize = 123456789;
  e.Code = 5;
  const std::string line = LogLine(e);
  ASSERT_EQ(line.size(), 79u);
  EXPECT_EQ(line.substr(0, 15), "12/31 23:59:58 ");
  EXPECT_EQ(line.substr(15, 14), "ABCDEFGH.PD4  ");
  EXPECT_EQ(line.substr(29, 12), "123456789\xca\xde\xb2");  // 123456789ﾊﾞｲ
  EXPECT_EQ(line.substr(41, 6), "\x8e\xf3\x90\x4d  ");        // 受信
  EXPECT_EQ(line.substr(47, 30), ToAnsi("想定外のエラー") + std::string(16, ' '));

  e.FileType = TFileType::NULL_;  // between files: blank name, bytes
  e.BhtFName = "";
  e.fSize = 0;
  EXPECT_EQ(LogLine(e).substr(15, 26), std::string(14, ' ') + "0\xca\xde\xb2\xc4" + std::string(7, ' '));
  e.FileType = TFileType::DATA;
  e.iRecords = 12345;
  EXPECT_EQ(LogLine(e).substr(29, 12), "12345\x8c\x8f     ");
}

TEST(LogLine, ControlBytesOfARefusedNameCannotBreakTheLine) {
  LogEntry e;
  e.FileType = TFileType::NULL_;
  e.Code = 14;
  std::string control(1, '\x7f');
  for (char c = 0; c < 0x20; ++c) control += c;
  // A name that would end the line, one that would start a forged line, and
  // a Japanese name (trail bytes 0x40 and above), which stays as it is.
  for (const auto& [name, shown] :
       std::vector<std::pair<std::string, std::string>>{{"A\r\nB.PD3", "A??B.PD3      "},
                                                        {"\n01/08 \t\x1f\x7f", "?01/08 ???    "},
                                                        {"\x83\x5C\x83\x40.DAT", "\x83\x5C\x83\x40.DAT      "}}) {
    e.BhtFName = name;
    const std::string line = LogLine(e);
    ASSERT_EQ(line.size(), 79u);
    EXPECT_EQ(line.substr(15, 14), shown);
    EXPECT_EQ(line.find_first_of(control), 77u);  // the CR of the line end
  }
}

TEST(LogFileName, OnePerDayMonthOrYear) {
  const LocalTime t{2026, 1, 8};
  const std::filesystem::path folder = "/logs";
  EXPECT_EQ(LogFileName(folder, "COM1", 0, t), folder / "PWKCOM1_2026_01_08.log");
  EXPECT_EQ(LogFileName(folder, "COM1", 1, t), folder / "PWKCOM1_2026_01.log");
  EXPECT_EQ(LogFileName(folder, "COM1", 2, t), folder / "PWKCOM1_2026.log");
  EXPECT_EQ(LogFileName(folder, "COM12", 7, t), folder / "PWKCOM12_2026_01.log");
}

TEST(HistoryLog, AppendsFlushedLines) {
  TempDir dir;
  WriteFile(dir / "PWKCOM1_2026_01.log", "earlier\r\n");
  HistoryLog log;
  ASSERT_TRUE(log.Open(dir / "PWKCOM1_2026_01.log"));
  LogEntry e;
  e.BhtFName = "A.PD4";
  e.FileType = TFileType::PD4;
  e.fSize = 12345;
  log.WriteLog(e);
  // On disk before the log is closed.
  EXPECT_EQ(ReadFile(dir / "PWKCOM1_2026_01.log"), "earlier\r\n" + LogLine(e));
  e.Code = 2;
  log.WriteLog(e);
  EXPECT_TRUE(log.Close());
  EXPECT_EQ(ReadFile(dir / "PWKCOM1_2026_01.log"), "earlier\r\n" + LogLine(LogEntry{e.Time, e.BhtFName, e.FileType, 0, 12345, false, 0}) + LogLine(e));

  // A log that cannot be created.
  EXPECT_FALSE(log.Open(dir / "missing" / "x.log"));
  EXPECT_EQ(LogOpenErrorText(dir / "x.log"),
            (dir / "x.log").string() + "\r\nの通信履歴保存ファイル作成／アクセスできません。");
}

}  // namespace
}  // namespace pw
