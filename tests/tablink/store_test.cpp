#include "tablink/stores.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "tablink/result_texts.h"
#include "tests/content/temp_dir.h"
#include "tests/support/memory_table.h"
#include "tests/support/recording_boxes.h"
#include "tests/support/virtual_clock.h"

namespace pw::tablink {
namespace {

using test::MemoryConnection;
using test::ReadFile;
using test::TableOp;
using test::WriteFile;

Definition Def(const char* saveName, std::vector<std::int32_t> map, const char* widths = "", std::int32_t delimiter = 1,
               const char* lastSpace = "0") {
  Definition d;
  d.BhtFile = "ITEM.DAT";
  d.SaveName = saveName;
  d.FieldCount = static_cast<std::int32_t>(map.size());
  std::copy(map.begin(), map.end(), d.FieldMap.begin());
  d.FieldWidths = widths;
  d.Delimiter = delimiter;
  d.LastSpace = lastSpace;
  return d;
}

// The layout a field file of \p widths, \p extra bytes after each record and
// \p records records gives.
StoreLayout Received(const char* widths, std::int32_t extra, std::int32_t records, const Definition& def) {
  FieldLayout f;
  f.iRecSize = ParseFieldList(widths, f);
  f.iRecSize0 = f.iRecSize + extra;
  f.iRecords = records;
  return ReceiveLayout(f, def);
}

// Hands \p bytes to \p sink in writes of 1, 7, 1024 and 3 bytes in turn, so
// records are split across writes, and then a block's zero fill.
void Feed(RecordSink& sink, std::string bytes) {
  bytes.append(300, '\0');
  static constexpr std::size_t kSizes[] = {1, 7, 1024, 3};
  for (std::size_t pos = 0, i = 0; pos < bytes.size(); ++i) {
    const std::size_t n = std::min(kSizes[i % 4], bytes.size() - pos);
    sink.Write(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()) + pos, n));
    pos += n;
  }
}

// Every block of \p job's source, cut at the size announced; checks the fill.
std::string Drain(SendJob& job) {
  std::string data;
  for (std::int32_t i = 0; i < job.iEndBlock; ++i) {
    std::array<std::uint8_t, kBlockData> block;
    const std::size_t n = job.Source->ReadBlock(block);
    data.append(reinterpret_cast<const char*>(block.data()), n);
    EXPECT_TRUE(std::all_of(block.begin() + static_cast<std::ptrdiff_t>(n), block.end(), [](auto b) { return b == 0; }));
  }
  EXPECT_EQ(data.size(), static_cast<std::size_t>(job.Facts.fSize));
  return data;
}

class TextStore : public ::testing::Test {
 protected:
  // Receives \p records as \p def says into a file; returns Finish's code.
  std::int32_t Receive(const Definition& def, const StoreLayout& layout, const std::string& records,
                       AnsiString* stored = nullptr) {
    std::unique_ptr<RecordSink> sink;
    EXPECT_EQ(OpenTextReceive(settings, def, layout, clock, alerts, sink), 0);
    Feed(*sink, records);
    AnsiString name;
    const std::int32_t code = sink->Finish(name);
    if (stored) *stored = name;
    return code;
  }
  std::string Stored(const Definition& def, const char* widths, std::int32_t extra, std::int32_t count,
                     const std::string& records) {
    EXPECT_EQ(Receive(def, Received(widths, extra, count, def), records), 0);
    return ReadFile(dir / def.SaveName);
  }
  std::int32_t Send(const Definition& def, SendJob& job, const char* bhtName = "ITEM.DAT") {
    return PrepareTextSend(settings, def, bhtName, job);
  }

  test::TempDir dir;
  test::VirtualClock clock;  // 8 January 2026, 14:05:09
  test::RecordingBoxes boxes;
  Alerts alerts{boxes, "Tablink"};
  StoreSettings settings{kSaveText, dir.path(), false, dir / "tmp"};
};

TEST_F(TextStore, FixedLengthRecordsAreStoredUnchanged) {
  // Records beyond the announced count and the fill are dropped.
  EXPECT_EQ(Stored(Def("A.DAT", {}, "", 0), "3 2", 2, 2, "ABC12\r\nDE 34\r\nXYZ99\r\n"), "ABC12\r\nDE 34\r\n");
  settings.SaveType = kSaveTextFlag;
  EXPECT_EQ(Stored(Def("B.DAT", {}, "", 0, "1"), "3 2", 0, 2, "ABC12DE 34"), "ABC120\r\nDE 340\r\n");
}

TEST_F(TextStore, SeparatedFieldsAreConvertedByType) {
  // string, number, other, and a field beyond the definition's.
  const std::string records = FitB("AB\"C", 8) + "  0012.50" + "x   " + "yz " +  //
                              FitB("", 8) + FitB("-0.50", 9) + FitB("", 4) + "q  " +  //
                              FitB("a,b", 8) + FitB("abc", 9) + " q  " + FitB("", 3);
  const char* widths = "8 9 4 3";
  EXPECT_EQ(Stored(Def("C.CSV", {0, 1, 2}), widths, 0, 3, records),
            "\"AB\"\"C\",12.5,x,yz\r\n\"\",-0.5,,q\r\n\"a,b\",0, q,\r\n");
  EXPECT_EQ(Stored(Def("T.TXT", {0, 1, 2}, "", 2), widths, 0, 1, records), "\"AB\"\"C\"\t12.5\tx\tyz\r\n");
  settings.SaveType = kSaveTextFlag;  // the flag follows a comma, also between tabs
  EXPECT_EQ(Stored(Def("F.TXT", {0, 1, 2}, "", 2), widths, 0, 1, records), "\"AB\"\"C\"\t12.5\tx\tyz,0\r\n");
  EXPECT_EQ(Stored(Def("F.CSV", {0, 1, 2}), widths, 0, 1, records), "\"AB\"\"C\",12.5,x,yz,0\r\n");
}

TEST_F(TextStore, NumbersAreWrittenInGeneralFormat) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"  0012.50", "12.5"},  {"-0.50", "-0.5"},          {"+7", "7"},        {"1e3", "1000"},
      {"1.5E+20", "1.5E20"},  {"0.000012", "0.000012"},   {"0.0000012", "1.2E-6"},
      {"123456789012345", "123456789012345"},             {"1234567890123456", "1.23456789012346E15"},
      {"000", "0"},           {"-0", "0"},                {"5.", "5"},        {".5", "0.5"},
      {"12,5", "0"},          {"1 2", "0"},               {"", "0"},          {".", "0"},
      {"1e", "0"},            {"1e999", "0"},             {"0x1F", "0"},      {"inf", "0"}};
  std::string records, expected;
  for (const auto& [in, out] : cases) {
    records += FitB(in, 20);
    expected += out + "\r\n";
  }
  EXPECT_EQ(Stored(Def("N.CSV", {1}), "20", 0, static_cast<std::int32_t>(cases.size()), records), expected);
}

TEST_F(TextStore, TrailingBlanksAreDataOnlyWithLastSpace) {
  EXPECT_EQ(Stored(Def("S0.CSV", {0, 2}, "", 1, "0"), "8 8", 0, 1, "AB      AB      "), "\"AB\",AB\r\n");
  EXPECT_EQ(Stored(Def("S1.CSV", {0, 2}, "", 1, "1"), "8 8", 0, 1, "AB      AB      "),
            "\"AB      \",AB      \r\n");
}

TEST_F(TextStore, TheNameTakesTheDateAndTheFileIsAppendedOrReplaced) {
  const Definition def = Def("DATA_YYMMDD_HHMMSS.CSV", {2});
  const StoreLayout layout = Received("2", 0, 1, def);
  const auto target = dir / "DATA_260108_140509.CSV";
  AnsiString stored;

  settings.Append = true;
  ASSERT_EQ(Receive(def, layout, "A1", &stored), 0);
  EXPECT_EQ(stored, "DATA_260108_140509.CSV");
  ASSERT_EQ(Receive(def, layout, "B2"), 0);
  EXPECT_EQ(ReadFile(target), "A1\r\nB2\r\n");

  settings.Append = false;
  ASSERT_EQ(Receive(def, layout, "C3"), 0);
  EXPECT_EQ(ReadFile(target), "C3\r\n");

  // An abandoned file leaves the old one as it was.
  std::unique_ptr<RecordSink> sink;
  ASSERT_EQ(OpenTextReceive(settings, def, layout, clock, alerts, sink), 0);
  Feed(*sink, "D4");
  sink->Abandon();
  EXPECT_EQ(ReadFile(target), "C3\r\n");

  settings.DsFolder = dir / "missing";
  EXPECT_EQ(Receive(def, layout, "E5"), 12);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].title, "ファイル作成／アクセスエラー");
  EXPECT_EQ(boxes.shown[0].text,
            (dir / "missing" / "DATA_260108_140509.CSV").string() + "\r\nの受信ファイル作成／アクセスできません。");
}

TEST_F(TextStore, SeparatedLinesAreSentAsRecords) {
  WriteFile(dir / "ITEM.CSV",
            "+12,12,\"a,\"\"b\",xyzw\r\n"  // quoted value: its separator and doubled quote belong to it
            "-1234567,123456,abcdefgh\n"  // too long; the last field missing
            "\r\n"
            "1,2,3,4,5,6\n"  // more values than fields
            "7");            // a last line without its end
  SendJob job;
  ASSERT_EQ(Send(Def("ITEM.CSV", {1, 1, 0, 2}, " 5 5 6 3 "), job), 0);
  EXPECT_EQ(job.Facts.BhtFName, "ITEM.DAT");
  EXPECT_EQ(job.Facts.FileType, TFileType::DATA);
  EXPECT_EQ(job.Facts.iRecords, 5);
  EXPECT_EQ(job.Facts.fSize, 105);
  EXPECT_EQ(job.iEndBlock, 1);
  EXPECT_EQ(job.FieldText, "* created by BHT\r\nfile\tITEM.DAT\r\nsize\t105\r\nrecords\t5\r\nfields\t5 5 6 3\r\n");
  EXPECT_EQ(Drain(job),
            "+001200012a,\"b  xyz\r\n"
            "-456723456abcdef   \r\n"
            "0000000000         \r\n"
            "00001000023     4  \r\n"
            "0000700000         \r\n");
}

TEST_F(TextStore, FixedFilesAreSentUnchangedAndFailuresHaveTheirCodes) {
  WriteFile(dir / "FIX.DAT", "ABCDE\r\nFGHIJ\r\nKL");
  SendJob job;
  ASSERT_EQ(Send(Def("FIX.DAT", {}, "5", 0), job), 0);
  EXPECT_EQ(job.Facts.iRecords, 2);  // a remainder of 2 bytes is no record
  EXPECT_EQ(Drain(job), "ABCDE\r\nFGHIJ\r\nKL");
  WriteFile(dir / "FIX.DAT", "ABCDE\r\nFGHIJ\r\nKLM");
  ASSERT_EQ(Send(Def("FIX.DAT", {}, "5", 0), job), 0);
  EXPECT_EQ(job.Facts.iRecords, 3);
  EXPECT_EQ(job.FieldText, "* created by BHT\r\nfile\tITEM.DAT\r\nsize\t17\r\nrecords\t3\r\nfield\t5\r\n");

  WriteFile(dir / "EMPTY.CSV", "");
  EXPECT_EQ(Send(Def("EMPTY.CSV", {0}, "5"), job), 9);
  EXPECT_EQ(Send(Def("NONE.CSV", {0}, "5"), job), 6);
  EXPECT_EQ(job.Facts.BhtFName, "ITEM.DAT");
  EXPECT_EQ(Send(Def("FIX.DAT", {}, "5", 0), job, "PROG.PD3"), 20);
  EXPECT_EQ(Send(Def("FIX.DAT", {}, "5", 0), job, "pic.jpg"), 20);
  for (const char* widths : {"", "5  5", "0", "8193", "5 x", "8192 8192 8192 8192 8192 8192 8192 8192 1"})
    EXPECT_EQ(Send(Def("FIX.DAT", {}, widths, 0), job), 7) << widths;
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(TextStore, AStoredFileGoesBackAsTheRecordsItCameFrom) {
  // Strings with separators and quotes, signed numbers, blanks after values;
  // enough records for several blocks.
  std::string records;
  for (int i = 0; i < 150; ++i) {
    records += FitB(i % 3 == 0 ? "a\"b,c" : (i % 3 == 1 ? " x" : ""), 6);
    records += i % 2 ? "-00" + ZeroPad(i, 2) : ZeroPad(i * 7, 3) + ".5";
    records += FitB(i % 5 ? "p q" : "", 4);
    records += "\r\n";
  }
  const Definition def = Def("ROUND.CSV", {0, 1, 2}, "6 5 4");
  ASSERT_EQ(Receive(def, Received("6 5 4", 2, 150, def), records), 0);
  SendJob job;
  ASSERT_EQ(Send(def, job), 0);
  EXPECT_EQ(job.iEndBlock, 3);
  EXPECT_EQ(Drain(job), records);
}

// ---------------------------------------------------------------------------
// Tables

class TableStore : public ::testing::Test {
 protected:
  TableStore() { conn.AddTable("T", {"A", "B", "C"}, {{"1", "x", "p"}, {"2", "y", "q"}}); }

  // A receive of two records of "4 3 2": field 1 to column B, field 2
  // ignored, field 3 to column A. Returns the code it ends with.
  std::int32_t Receive(bool append = true, bool finish = true) {
    settings.Append = append;
    std::unique_ptr<RecordSink> sink;
    const std::int32_t open = OpenTableReceive(conn, settings, def, Received("4 3 2", 2, 2, def), alerts, sink);
    if (open != 0) return open;
    try {
      Feed(*sink, "ab  zzzq \r\ncd  zzzr \r\n");
    } catch (const StoreError& e) {
      sink->Abandon();
      return e.Code;
    }
    if (!finish) {
      sink->Abandon();
      return -1;
    }
    AnsiString stored;
    try {
      const std::int32_t code = sink->Finish(stored);
      EXPECT_EQ(stored, "T");
      return code;
    } catch (const StoreError& e) {
      return e.Code;
    }
  }

  using Rows = std::vector<std::vector<std::string>>;
  const Rows before{{"1", "x", "p"}, {"2", "y", "q"}};
  MemoryConnection conn;
  Definition def = Def("T", {2, 0, 1}, "4 3 2");
  StoreSettings settings{kSaveAccess, {}, true, {}};
  test::RecordingBoxes boxes;
  Alerts alerts{boxes, "Tablink"};
};

TEST_F(TableStore, RecordsBecomeRowsInOneTransaction) {
  ASSERT_EQ(Receive(), 0);
  EXPECT_EQ(conn.Rows("T"), (Rows{{"1", "x", "p"}, {"2", "y", "q"}, {"q", "ab", ""}, {"r", "cd", ""}}));
  def.LastSpace = "1";
  ASSERT_EQ(Receive(false), 0);
  EXPECT_EQ(conn.Rows("T"), (Rows{{"q ", "ab  ", ""}, {"r ", "cd  ", ""}}));
  EXPECT_FALSE(conn.InTransaction());
  EXPECT_FALSE(conn.GetTable().IsOpen());
  EXPECT_TRUE(conn.Misuse().empty());
}

TEST_F(TableStore, OverwriteDeletesInsideTheTransactionAndAnAbandonRestores) {
  settings.Append = false;
  std::unique_ptr<RecordSink> sink;
  ASSERT_EQ(OpenTableReceive(conn, settings, def, Received("4 3 2", 2, 1, def), alerts, sink), 0);
  EXPECT_TRUE(conn.InTransaction());
  EXPECT_TRUE(conn.Rows("T").empty());
  Feed(*sink, "ab  zzzq \r\n");
  EXPECT_EQ(conn.Rows("T").size(), 1u);
  sink->Abandon();
  EXPECT_EQ(conn.Rows("T"), before);
  EXPECT_FALSE(conn.InTransaction());
  EXPECT_FALSE(conn.GetTable().IsOpen());
  EXPECT_TRUE(conn.Misuse().empty());
}

TEST_F(TableStore, EachFailingStepEndsWithItsCodeAndLeavesTheRowsAsBefore) {
  struct Case {
    const char* what;
    std::function<void(MemoryConnection&)> arrange;
    bool append;
    std::int32_t code;
  };
  const auto failOn = [](TableOp op, int nth = 1) { return [=](MemoryConnection& c) { c.FailOn(op, nth); }; };
  const auto refuse = [](TableAbility a) { return [=](MemoryConnection& c) { c.Refuse(a); }; };
  const Case cases[] = {
      {"begin", failOn(TableOp::BeginTrans), true, 24},
      {"open", failOn(TableOp::Open), true, 24},
      {"add", refuse(TableAbility::Add), true, 25},
      {"update", refuse(TableAbility::Update), true, 26},
      {"delete", refuse(TableAbility::Delete), true, 27},
      {"read-only", [](MemoryConnection& c) { c.SetReadOnly(); }, true, 28},
      {"first", failOn(TableOp::First), false, 35},
      {"count", failOn(TableOp::RecordCount), false, 35},
      {"second delete", failOn(TableOp::Delete, 2), false, 35},
      {"edit", failOn(TableOp::Edit), true, 28},
      {"second append", failOn(TableOp::Append, 2), false, 29},
      {"set", failOn(TableOp::SetField, 2), true, 30},
      {"post", failOn(TableOp::Post, 2), true, 31},
      {"flush", failOn(TableOp::Flush), true, 31},  // rows kept back are refused at the end
      {"close", failOn(TableOp::Close), false, 32},
      {"commit", failOn(TableOp::CommitTrans), false, 33},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryConnection fresh;
    fresh.AddTable("T", {"A", "B", "C"}, before);
    conn = std::move(fresh);
    boxes.shown.clear();
    c.arrange(conn);
    EXPECT_EQ(Receive(c.append), c.code);
    EXPECT_EQ(conn.Rows("T"), before);
    EXPECT_FALSE(conn.InTransaction());
    EXPECT_FALSE(conn.GetTable().IsOpen());
    EXPECT_TRUE(conn.Misuse().empty());
    if (c.code == 32 || c.code == 33) {
      ASSERT_EQ(boxes.shown.size(), 1u);
      EXPECT_EQ(boxes.shown[0].title, "T");
      EXPECT_EQ(boxes.shown[0].text, c.code == 32 ? "テーブルをクローズできません" : "テーブルを更新できません");
    } else {
      EXPECT_TRUE(boxes.shown.empty());
    }
  }
}

TEST_F(TableStore, RowsAreSentAsRecordsAndAnEmptyCellStopsTheSend) {
  conn.AddTable("S", {"A", "B", "C"}, {{"12345", "x", "p"}, {"1", "yy", "q"}});
  SendJob job;
  ASSERT_EQ(PrepareTableSend(conn, Def("S", {2, 1, 3}, "4 3 2"), "ITEM.DAT", job), 0);
  EXPECT_EQ(job.FieldText, "* created by BHT\r\nfile\tITEM.DAT\r\nsize\t22\r\nrecords\t2\r\nfields\t4 3 2\r\n");
  EXPECT_EQ(Drain(job), "x   123p \r\nyy  1  q \r\n");

  // Only FieldCount fields are sent; a store that cannot count is walked.
  conn.HideCount();
  ASSERT_EQ(PrepareTableSend(conn, Def("S", {3}, "4 3 2"), "ITEM.DAT", job), 0);
  EXPECT_EQ(job.FieldText, "* created by BHT\r\nfile\tITEM.DAT\r\nsize\t12\r\nrecords\t2\r\nfield\t4\r\n");
  EXPECT_EQ(Drain(job), "p   \r\nq   \r\n");

  std::array<std::uint8_t, kBlockData> block;
  conn.AddTable("E", {"A", "B"}, {{"1", "2"}, {"3", ""}});
  ASSERT_EQ(PrepareTableSend(conn, Def("E", {1, 2}, "1 1"), "ITEM.DAT", job), 0);
  try {
    job.Source->ReadBlock(block);
    ADD_FAILURE() << "an empty cell was sent";
  } catch (const StoreError& e) {
    EXPECT_EQ(e.Code, 36);
  }
  ASSERT_EQ(PrepareTableSend(conn, Def("E", {1, 0}, "1 1"), "ITEM.DAT", job), 0);
  EXPECT_THROW(job.Source->ReadBlock(block), StoreError);  // a field without a column

  conn.AddTable("Z", {"A"});
  EXPECT_EQ(PrepareTableSend(conn, Def("Z", {1}, "1"), "ITEM.DAT", job), 9);
  EXPECT_EQ(PrepareTableSend(conn, Def("S", {1}, "1"), "A.PD4", job), 20);
  EXPECT_EQ(PrepareTableSend(conn, Def("S", {1}, "1 0"), "ITEM.DAT", job), 7);
  conn.FailOn(TableOp::Open);
  EXPECT_EQ(PrepareTableSend(conn, Def("S", {1}, "1"), "ITEM.DAT", job), 24);
  conn.FailOn(TableOp::First);
  EXPECT_EQ(PrepareTableSend(conn, Def("S", {1}, "1"), "ITEM.DAT", job), 34);
  EXPECT_FALSE(conn.GetTable().IsOpen());
  EXPECT_TRUE(conn.Misuse().empty());
}

}  // namespace
}  // namespace pw::tablink
