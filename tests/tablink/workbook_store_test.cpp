// The workbook store through the table store's receive and send, on
// workbooks made and checked by Debian's openpyxl.
#include "tablink/stores/workbook_store.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "content/field_file.h"
#include "platform/codepage.h"
#include "tablink/stores.h"
#include "tests/content/temp_dir.h"
#include "tests/support/recording_boxes.h"

namespace pw::tablink {
namespace {

using test::ReadFile;
using test::WriteFile;

// Debian's interpreter, where python3-openpyxl lives.
std::string Python() { return std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3"; }

// A workbook as Excel leaves one: Items has a header with a gap (no column
// C), rows 2 and 5 (row 5 holds a boolean), text in shared strings (one rich,
// with a reading), a formula in C2 and a calculation chain naming it; Other
// has a formula row without value in column A; Header only has no data.
constexpr const char* kMakeScript = R"PY(
import sys, zipfile, openpyxl
path = sys.argv[1]
wb = openpyxl.Workbook()
ws = wb.active
ws.title = "Items"
ws.append(["Code", "品名", None, "Qty"])
ws.append(["00123", "x", "=A2", 5])
ws["A5"], ws["B5"], ws["D5"] = "00456", "ﾊﾞﾅﾅ", True
o = wb.create_sheet("Other")
o.append(["keep", 1.5])
o["B3"] = "=A1"
wb.create_sheet("Header only").append(["A", "B"])
wb.save(path)
with zipfile.ZipFile(path) as z:
    parts = {i.filename: z.read(i).decode() for i in z.infolist()}
def edit(name, old, new):
    assert old in parts[name], (name, old)
    parts[name] = parts[name].replace(old, new)
ns = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
parts["xl/sharedStrings.xml"] = (f'<sst {ns}><si><t>Code</t></si><si><r><t>りん</t></r><r><rPr><b/></rPr>'
                                 '<t>ご</t></r><rPh sb="0" eb="2"><t>リンゴ</t></rPh></si></sst>')
parts["xl/calcChain.xml"] = f'<calcChain {ns}><c r="C2" i="1"/></calcChain>'
edit("xl/worksheets/sheet1.xml", '<c r="A1" t="inlineStr"><is><t>Code</t></is></c>', '<c r="A1" t="s"><v>0</v></c>')
edit("xl/worksheets/sheet1.xml", '<c r="B2" t="inlineStr"><is><t>x</t></is></c>', '<c r="B2" t="s"><v> 1 </v></c>')
rel = '<Relationship Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/%s" Target="%s" Id="%s"/>'
edit("xl/_rels/workbook.xml.rels", "</Relationships>",
     rel % ("sharedStrings", "sharedStrings.xml", "rIdS") + rel % ("calcChain", "calcChain.xml", "rIdC") + "</Relationships>")
ct = '<Override PartName="/xl/%s.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.%s+xml"/>'
edit("[Content_Types].xml", "</Types>", ct % ("sharedStrings", "sharedStrings") + ct % ("calcChain", "calcChain") + "</Types>")
with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
    for name, text in parts.items():
        z.writestr(name, text)
)PY";

// Every cell with a value as openpyxl reads it: "B2=s:text" (s string, n
// number, b boolean, f formula), a line per row, a "##" line per sheet.
constexpr const char* kDumpScript = R"PY(
import sys, openpyxl
sys.stdout.reconfigure(encoding="utf-8")
for ws in openpyxl.load_workbook(sys.argv[1]).worksheets:
    print("##", ws.title)
    for row in ws.iter_rows():
        cells = [f"{c.coordinate}={c.data_type}:{c.value}" for c in row if c.value is not None]
        if cells:
            print(" ".join(cells))
)PY";

// The entries of the second archive that differ from the first's in their
// stored bytes, CRC or method, and those removed or added.
constexpr const char* kCompareScript = R"PY(
import sys, zipfile
def stored(path, info):
    with open(path, "rb") as f:
        f.seek(info.header_offset)
        h = f.read(30)
        f.seek(info.header_offset + 30 + int.from_bytes(h[26:28], "little") + int.from_bytes(h[28:30], "little"))
        return (info.CRC, info.compress_type, f.read(info.compress_size))
a, b = zipfile.ZipFile(sys.argv[1]), zipfile.ZipFile(sys.argv[2])
assert b.testzip() is None
names = set(b.namelist())
print("changed:", *sorted(i.filename for i in a.infolist()
                          if i.filename in names and stored(sys.argv[1], i) != stored(sys.argv[2], b.getinfo(i.filename))))
print("removed:", *sorted(set(a.namelist()) - names), "added:", *sorted(names - set(a.namelist())))
)PY";

// Copies of the workbook (argument 1) with one part edited each, per four
// arguments: the copy, the part, the text replaced (the whole part when
// empty) and its replacement.
constexpr const char* kEditScript = R"PY(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    parts = {i.filename: z.read(i).decode() for i in z.infolist()}
a = sys.argv[2:]
for copy, part, old, new in zip(a[0::4], a[1::4], a[2::4], a[3::4]):
    edited = dict(parts)
    assert not old or old in edited[part], (part, old)
    edited[part] = edited[part].replace(old, new) if old else new
    with zipfile.ZipFile(copy, "w", zipfile.ZIP_DEFLATED) as z:
        for name, text in edited.items():
            z.writestr(name, text)
)PY";

Definition Def(const char* saveName, std::vector<std::int32_t> map, const char* widths) {
  Definition d;
  d.BhtFile = "ITEM.DAT";
  d.SaveName = saveName;
  d.FieldCount = static_cast<std::int32_t>(map.size());
  std::copy(map.begin(), map.end(), d.FieldMap.begin());
  d.FieldWidths = widths;
  return d;
}

class WorkbookStore : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system((Python() + " -c 'import openpyxl' >/dev/null 2>&1").c_str()) != 0)
      GTEST_SKIP() << "python3 with openpyxl is missing (./dev installs python3-openpyxl)";
    ASSERT_EQ(Run(kMakeScript, {book}), "");
    std::string why;
    conn = OpenWorkbook(book, why);
    ASSERT_TRUE(conn) << why;
  }

  // Runs \p script with \p args; its output.
  std::string Run(const char* script, std::vector<std::filesystem::path> args) {
    const auto file = dir / "script.py";
    WriteFile(file, script);
    std::string command = Python() + " '" + file.string() + "'";
    for (const auto& a : args) command += " '" + a.string() + "'";
    std::string out;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    char buffer[4096];
    for (std::size_t n; p && (n = fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
    if (p) pclose(p);
    return out;
  }
  std::string Dump() { return Run(kDumpScript, {book}); }

  // Receives \p records of \p def's widths (each followed by CR LF); the
  // code the transfer ends with.
  // \p beforeEnd runs before the end.
  std::int32_t Receive(const Definition& def, bool append, const std::string& records, bool abandon = false,
                       const std::function<void()>& beforeEnd = {}) {
    FieldLayout f;
    f.iRecSize = ParseFieldList(def.FieldWidths, f);
    f.iRecSize0 = f.iRecSize + 2;
    f.iRecords = static_cast<std::int32_t>(records.size() / static_cast<std::size_t>(f.iRecSize0));
    const StoreSettings settings{kSaveExcel, {}, append, {}};
    std::unique_ptr<RecordSink> sink;
    const std::int32_t open = OpenTableReceive(*conn, settings, def, ReceiveLayout(f, def), alerts, sink);
    if (open != 0) return open;
    try {
      for (std::size_t at = 0; at < records.size(); at += kBlockData) {
        const std::size_t n = std::min(kBlockData, records.size() - at);
        sink->Write(std::span(reinterpret_cast<const std::uint8_t*>(records.data()) + at, n));
      }
    } catch (const StoreError& e) {
      sink->Abandon();
      return e.Code;
    }
    if (beforeEnd) beforeEnd();
    if (abandon) {
      sink->Abandon();
      return -1;
    }
    AnsiString stored;
    return sink->Finish(stored);
  }

  // The records a send of \p def gives.
  std::string Send(const Definition& def) {
    SendJob job;
    EXPECT_EQ(PrepareTableSend(*conn, def, "ITEM.DAT", job), 0);
    std::string data;
    std::array<std::uint8_t, kBlockData> block;
    for (std::int32_t i = 0; i < job.iEndBlock; ++i)
      data.append(reinterpret_cast<const char*>(block.data()), job.Source->ReadBlock(block));
    return data;
  }

  test::TempDir dir;
  std::filesystem::path book = dir / "book.xlsx";
  std::unique_ptr<TableConnection> conn;
  test::RecordingBoxes boxes;
  Alerts alerts{boxes, "Tablink"};
};

TEST_F(WorkbookStore, SheetsColumnsAndRowsAreReadAsExcelWroteThem) {
  std::vector<AnsiString> names;
  ASSERT_TRUE(conn->ListTables(names));
  EXPECT_EQ(names, (std::vector<AnsiString>{"Items", "Other", "Header only"}));
  ASSERT_TRUE(conn->ListColumns("Items$", names));  // as ADO names a sheet
  EXPECT_EQ(names, (std::vector<AnsiString>{"Code", ToAnsi("品名"), "Qty"}));

  // Shared strings (the reading left out), a number, a boolean; row 5
  // follows row 2.
  EXPECT_EQ(Send(Def("Items", {1, 2, 3}, "6 6 5")),
            "00123 " + ToAnsi("りんご") + "5    \r\n00456 " + FitB(ToAnsi("ﾊﾞﾅﾅ"), 6) + "TRUE \r\n");

  SendJob job;
  std::array<std::uint8_t, kBlockData> block;
  ASSERT_EQ(PrepareTableSend(*conn, Def("Other", {1}, "4"), "ITEM.DAT", job), 0);
  try {
    job.Source->ReadBlock(block);
    ADD_FAILURE() << "an empty cell was sent";
  } catch (const StoreError& e) {
    EXPECT_EQ(e.Code, 36);
  }
  EXPECT_EQ(PrepareTableSend(*conn, Def("Nope", {1}, "4"), "ITEM.DAT", job), 24);
  EXPECT_EQ(Receive(Def("Nope", {1}, "4"), true, "abcd\r\n"), 24);
  EXPECT_NE(conn->LastError().find("Nope"), std::string::npos);
}

TEST_F(WorkbookStore, ReceivedRowsAreAppendedOrReplaceTheDataAsTextOnlyTheSheetRewritten) {
  const auto original = dir / "original.xlsx";
  std::filesystem::copy_file(book, original);
  using std::filesystem::perms;
  std::filesystem::permissions(book, perms::owner_read | perms::owner_write | perms::group_read);
  const Definition items = Def("Items", {1, 2, 3}, "6 10 5");
  // Leading zeros, Japanese, leading blanks, markup and the workbook's own
  // escape pattern; trailing blanks go.
  const std::string records = "00777 " + FitB(ToAnsi("みかん"), 10) + "  042\r\n" + "0     <&>_x0041_7    \r\n";
  ASSERT_EQ(Receive(items, true, records), 0);
  const std::string others =
      "## Other\nA1=s:keep B1=n:1.5\nB3=f:=A1\n"
      "## Header only\nA1=s:A B1=s:B\n";
  EXPECT_EQ(Dump(),
            "## Items\nA1=s:Code B1=s:品名 D1=s:Qty\nA2=s:00123 B2=s:りんご C2=f:=A2 D2=n:5\n"
            "A5=s:00456 B5=s:ﾊﾞﾅﾅ D5=b:True\n"
            "A6=s:00777 B6=s:みかん D6=s:  042\n"
            "A7=s:0 B7=s:<&>_x005F_x0041_ D7=s:7\n" +  // escaped as Excel does; openpyxl shows it raw
                others);
  EXPECT_EQ(Run(kCompareScript, {original, book}), "changed: xl/worksheets/sheet1.xml\nremoved: added:\n");
  EXPECT_EQ(std::filesystem::status(book).permissions(), perms::owner_read | perms::owner_write | perms::group_read);
  // Read back as it went in.
  EXPECT_EQ(Send(items).substr(2 * 23), records);

  // An overwrite keeps the header; the formula it drops takes the
  // calculation chain with it.
  ASSERT_EQ(Receive(items, false, "1     a         2    \r\n"), 0);
  EXPECT_EQ(Dump(), "## Items\nA1=s:Code B1=s:品名 D1=s:Qty\nA2=s:1 B2=s:a D2=s:2\n" + others);
  EXPECT_EQ(Run(kCompareScript, {original, book}),
            "changed: [Content_Types].xml xl/_rels/workbook.xml.rels xl/worksheets/sheet1.xml\n"
            "removed: xl/calcChain.xml added:\n");

  ASSERT_EQ(Receive(Def("Header only", {2, 1}, "2 3"), true, "b1a1 \r\nb2a2 \r\n"), 0);
  EXPECT_NE(Dump().find("## Header only\nA1=s:A B1=s:B\nA2=s:a1 B2=s:b1\nA3=s:a2 B3=s:b2\n"), std::string::npos);
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(WorkbookStore, AnAbandonedOrOvertakenReceiveLeavesTheWorkbookAsItWas) {
  const std::string before = ReadFile(book);
  for (const bool append : {true, false}) {
    ASSERT_EQ(Receive(Def("Items", {1, 2}, "3 3"), append, "abcdef\r\nghijkl\r\n", true), -1);
    EXPECT_EQ(ReadFile(book), before);
    EXPECT_FALSE(conn->InTransaction());
    EXPECT_FALSE(conn->GetTable().IsOpen());
  }
  // Changed by someone else during the receive: the commit fails (33), and
  // their workbook stays.
  const auto touched = std::filesystem::last_write_time(book) - std::chrono::hours(1);
  EXPECT_EQ(Receive(Def("Items", {1, 2}, "3 3"), true, "abcdef\r\n", false,
                    [&] { std::filesystem::last_write_time(book, touched); }),
            33);
  EXPECT_EQ(ReadFile(book), before);
  EXPECT_EQ(std::filesystem::last_write_time(book), touched);
  EXPECT_FALSE(conn->InTransaction());
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "テーブルを更新できません");
  // Nothing was left beside it either.
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) files.push_back(e.path().filename().string());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"book.xlsx", "script.py"}));
}

TEST_F(WorkbookStore, TenThousandRowsOfJapaneseTextGoInAndComeBackUnchanged) {
  const char* names[] = {"日本語", "ﾃｽﾄ", "表～", "abc"};
  std::string records;
  for (int i = 0; i < 10000; ++i) records += ZeroPad(i, 6) + FitB(ToAnsi(names[i % 4]), 8) + "\r\n";
  const Definition def = Def("Header only", {1, 2}, "6 8");
  ASSERT_EQ(Receive(def, false, records), 0);

  const std::string dump = Dump();
  EXPECT_NE(dump.find("\nA2=s:000000 B2=s:日本語\nA3=s:000001 B3=s:ﾃｽﾄ\nA4=s:000002 B4=s:表～\n"), std::string::npos);
  EXPECT_NE(dump.find("\nA10001=s:009999 B10001=s:abc\n"), std::string::npos);
  EXPECT_EQ(Send(def), records);
}

TEST_F(WorkbookStore, TheTableKeepsItsRowsAcrossCloseAndTransactions) {
  TableConnection& c = *conn;
  Table& t = c.GetTable();
  AnsiString v;
  const auto field = [&](std::int32_t i) { return t.GetField(i, v) ? v : "(none)"; };

  // Inside a transaction: an appended row is current and counted, and
  // still there after the table is closed and opened again.
  ASSERT_TRUE(c.BeginTrans());
  t.SetTableName("items");
  ASSERT_TRUE(t.Open());
  EXPECT_EQ(t.RecordCount(), 2);
  ASSERT_TRUE(t.Append() && t.SetField(0, "9") && t.Post());
  EXPECT_EQ(t.RecNo(), 3);
  EXPECT_EQ(field(0), "9");
  ASSERT_TRUE(t.Close() && t.Open());
  EXPECT_EQ(t.RecordCount(), 3);
  // A row deleted, one of the part's and the appended one changed.
  ASSERT_TRUE(t.First() && t.Delete());
  EXPECT_EQ(t.RecNo(), 1);
  EXPECT_EQ(field(0), "00456");
  ASSERT_TRUE(t.Edit() && t.SetField(2, "7") && t.Post() && t.Next());
  EXPECT_EQ(field(0), "9");
  ASSERT_TRUE(t.Edit() && t.SetField(1, "edited") && t.Post() && t.Next());
  EXPECT_TRUE(t.Eof());
  EXPECT_EQ(t.RecordCount(), 2);
  EXPECT_FALSE(t.Next());
  ASSERT_TRUE(t.Close() && c.CommitTrans());
  const std::string items = "## Items\nA1=s:Code B1=s:品名 D1=s:Qty\nA5=s:00456 B5=s:ﾊﾞﾅﾅ D5=s:7\nA6=s:9 B6=s:edited\n";
  EXPECT_EQ(Dump().substr(0, items.size()), items);

  // A rollback forgets everything since the transaction began, also for an
  // open table.
  const std::string before = ReadFile(book);
  ASSERT_TRUE(c.BeginTrans() && t.Open() && t.DeleteAll());
  EXPECT_EQ(t.RecordCount(), 0);
  ASSERT_TRUE(t.Append() && t.SetField(0, "x") && t.Post());
  ASSERT_TRUE(c.RollbackTrans());
  EXPECT_EQ(t.RecordCount(), 2);
  EXPECT_EQ(field(0), "00456");
  ASSERT_TRUE(t.Close());
  EXPECT_EQ(ReadFile(book), before);

  // Without a transaction the rows are written as the table closes.
  t.SetTableName("Header only");
  ASSERT_TRUE(t.Open() && t.Append() && t.SetField(1, "b") && t.Post());
  EXPECT_FALSE(t.SetField(2, "c"));
  ASSERT_TRUE(t.Close());
  EXPECT_NE(Dump().find("## Header only\nA1=s:A B1=s:B\nB2=s:b\n"), std::string::npos);
}

TEST_F(WorkbookStore, DamagedOrUnusualPartsAreRefusedOrRead) {
  const auto copy = [&](const char* name) { return dir / name; };
  const char* sheet1 = "xl/worksheets/sheet1.xml";
  // Per line: a copy, its part, the text replaced and its replacement.
  // clang-format off
  ASSERT_EQ(Run(kEditScript,
                {book,
                 copy("cut.xlsx"), sheet1, "</row></sheetData>", "</row>",
                 copy("doctype.xlsx"), sheet1, "<worksheet", "<!DOCTYPE worksheet [<!ENTITY a \"aaaa\">]><worksheet",
                 copy("number.xlsx"), sheet1, "<row r=\"5\">", "<row r=\"1048577\">",
                 copy("order.xlsx"), sheet1, "<row r=\"5\">", "<row r=\"2\">",
                 copy("outside.xlsx"), "xl/_rels/workbook.xml.rels", "/xl/worksheets/sheet1.xml", "../../../etc/passwd",
                 copy("nobook.xlsx"), "_rels/.rels", "officeDocument", "other",
                 // Elements with a prefix, rows and cells without references.
                 copy("prefix.xlsx"), sheet1, "",
                     "<x:worksheet xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><x:sheetData>"
                     "<x:row><x:c t=\"inlineStr\"><x:is><x:t>A</x:t></x:is></x:c><x:c><x:v>2</x:v></x:c></x:row>"
                     "</x:sheetData></x:worksheet>",
                 copy("empty.xlsx"), sheet1, "", "<worksheet><sheetData/></worksheet>"}),
            "");
  // clang-format on
  const Definition def = Def("Items", {2, 1}, "1 2");
  std::string why;
  for (const char* name : {"cut.xlsx", "doctype.xlsx", "number.xlsx", "order.xlsx", "outside.xlsx"}) {
    SCOPED_TRACE(name);
    conn = OpenWorkbook(copy(name), why);
    ASSERT_TRUE(conn) << why;
    EXPECT_EQ(Receive(def, true, "abc\r\n"), 24);
    EXPECT_FALSE(conn->LastError().empty());
  }
  std::vector<AnsiString> names;
  ASSERT_TRUE(conn->ListTables(names));
  EXPECT_EQ(names, (std::vector<AnsiString>{"Other", "Header only"}));
  for (const char* name : {"nobook.xlsx", "script.py", "missing.xlsx"}) {
    EXPECT_FALSE(OpenWorkbook(copy(name), why)) << name;
    EXPECT_FALSE(why.empty());
  }

  book = copy("prefix.xlsx");
  conn = OpenWorkbook(book, why);
  ASSERT_TRUE(conn) << why;
  ASSERT_EQ(Receive(def, true, "abc\r\n"), 0);
  const std::string items = "## Items\nA1=s:A B1=n:2\nA2=s:bc B2=s:a\n";
  EXPECT_EQ(Dump().substr(0, items.size()), items);

  conn = OpenWorkbook(copy("empty.xlsx"), why);
  ASSERT_TRUE(conn) << why;
  EXPECT_EQ(Receive(def, true, "abc\r\n"), 30);  // no columns to set
}

}  // namespace
}  // namespace pw::tablink
