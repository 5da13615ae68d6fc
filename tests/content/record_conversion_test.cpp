#include "content/record_conversion.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace pw {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

FieldLayout Widths(const char* list) {
  FieldLayout l;
  EXPECT_GT(ParseFieldList(list, l), 0) << list;
  return l;
}

// Converts \p text with the widths \p list; returns the concatenated data
// of \p blocks blocks.
std::string Convert(const std::string& text, const char* list, bool dblQuot = false, int blocks = 1) {
  TempDir dir;
  WriteFile(dir / "in.csv", text);
  CsvBlockReader reader;
  EXPECT_TRUE(reader.Open(dir / "in.csv", Widths(list), dblQuot));
  std::string out;
  for (int i = 0; i < blocks; ++i) {
    std::array<std::uint8_t, kBlockData> block;
    reader.ReadCsvBlock(block);
    out.append(reinterpret_cast<const char*>(block.data()), block.size());
  }
  return out;
}

// The record bytes of a one-block conversion, without the 0x00 fill.
std::string Records(const std::string& text, const char* list, bool dblQuot = false) {
  std::string out = Convert(text, list, dblQuot);
  EXPECT_EQ(out.find_last_not_of('\0') + 1, out.find('\0', out.find_last_not_of('\0')));
  return out.substr(0, out.find_last_not_of('\0') + 1);
}

TEST(ReadCsvBlock, ValuesAreFilledOrCutToTheirWidths) {
  EXPECT_EQ(Records("ABCD,E", "3 2"), "ABCE \r\n");
  EXPECT_EQ(Records("A,B,C", "2 2"), "A B \r\n");          // a third value is ignored
  EXPECT_EQ(Records("\r\n", "3 2"), "     \r\n");           // an empty line is all blanks
  EXPECT_EQ(Records("A\r\n", "2 2 1"), "A    \r\n");       // missing values are blanks
  EXPECT_EQ(Records("A,\r\n", "2 2"), "A   \r\n");
  EXPECT_EQ(Records(" A,  B", "3 3"), " A   B\r\n");        // leading blanks stay
  // Line ends: CR LF, LF, and a last line without one; a lone CR is data.
  EXPECT_EQ(Records("1\r\n2\n3", "1"), "1\r\n2\r\n3\r\n");
  EXPECT_EQ(Records("A\rB,C\r\n", "4 1"), "A\rB C\r\n");
  EXPECT_EQ(Records("AB\r", "3"), "AB\r\r\n");
}

TEST(ReadCsvBlock, DoubleQuotes) {
  EXPECT_EQ(Records("\"X\",\"Y\"", "4 2", true), "X   Y \r\n");
  EXPECT_EQ(Records("\"X\",\"Y\"", "4 3", false), "\"X\" \"Y\"\r\n");
  // A lone quote or an empty quoted value is empty; an unclosed one loses its
  // opening quote only; quotes elsewhere and doubled quotes stay.
  EXPECT_EQ(Records("\",\"\",\"AB,A\"B\"", "2 2 2 3", true), "    ABA\"B\r\n");
  EXPECT_EQ(Records("\"a\"\"b\"", "5", true), "a\"\"b \r\n");
  // A comma inside quotes still splits.
  EXPECT_EQ(Records("\"A,B\"", "2 2", true), "A B\"\r\n");
  // A quoted value longer than its width: cut, the closing quote is not reached.
  EXPECT_EQ(Records("\"ABCDE\"", "3", true), "ABC\r\n");
  EXPECT_EQ(Records("\"ABC\"", "3", true), "ABC\r\n");
}

TEST(ReadCsvBlock, SixtyRecordsOf17BytesFillOneBlock) {
  std::string text, expected;
  for (int i = 0; i < 60; ++i) {
    const std::string n = std::to_string(i);
    text += "ITEM" + n + "," + n + "\r\n";
    expected += std::string("ITEM" + n).append(10 - 4 - n.size(), ' ') + n + std::string(5 - n.size(), ' ') + "\r\n";
  }
  ASSERT_EQ(expected.size(), 1020u);
  EXPECT_EQ(Convert(text, "10 5"), expected + std::string(4, '\0'));
  // One more line goes on into a second block, no byte lost or repeated.
  const std::string two = Convert(text + "X,Y", "10 5", false, 2);
  EXPECT_EQ(two.substr(0, 1037), expected + "X         Y    \r\n");
  EXPECT_EQ(two.substr(1037), std::string(2048 - 1037, '\0'));
}

TEST(ReadCsvBlock, RecordsLongerThanABlockGoOutWhole) {
  // Records of 5002 bytes: each spans several blocks.
  std::string text, expected;
  for (int i = 0; i < 3; ++i) {
    const std::string a(2998 + i, static_cast<char>('a' + i)), b(4000, static_cast<char>('A' + i));
    text += a + "," + b + "\n";
    expected += a + std::string(3000 - a.size(), ' ') + b.substr(0, 2000) + "\r\n";
  }
  const int blocks = static_cast<int>((expected.size() + 1023) / 1024);
  const std::string out = Convert(text, "3000 2000", false, blocks + 1);
  EXPECT_EQ(out.substr(0, expected.size()), expected);
  EXPECT_EQ(out.substr(expected.size()), std::string(out.size() - expected.size(), '\0'));
}

TEST(ReadCsvBlock, AVeryLongLineIsSkippedNotHeld) {
  const std::string text = "AB," + std::string(3'000'000, 'x') + ",C,D\nE\n";
  EXPECT_EQ(Records(text, "1 2 1"), "AxxC\r\nE   \r\n");
}

TEST(ReadCsvBlock, ALineAcrossTheEndOfAFileReadGoesOutWhole) {
  // The file is read 64 KiB at a time, so the end of a read falls into a
  // line while records of earlier lines wait to go out. A first line of each
  // length moves that point through the line; no byte of a record may go out
  // before its line has ended.
  for (std::size_t first = 0; first < 1000; first += 37) {
    SCOPED_TRACE(first);
    std::string text = std::string(first, '-') + "\r\n";
    std::string expected = std::string(first, '-') + std::string(1000 - first, ' ') + "\r\n";
    for (int i = 0; text.size() < 70 * 1024; ++i) {
      const std::string v(998, static_cast<char>('a' + i % 26));
      text += v + "\r\n";
      expected += v + "  \r\n";
    }
    const std::string out = Convert(text, "1000", false, static_cast<int>(expected.size() / 1024) + 1);
    std::size_t same = 0;
    while (same < expected.size() && out[same] == expected[same]) ++same;
    EXPECT_EQ(same, expected.size()) << "the first wrong byte";
  }
}

TEST(ReadCsvBlock, CountsOfBytesAndEnd) {
  TempDir dir;
  WriteFile(dir / "in.csv", std::string(61, '\n'));  // 61 empty lines of 17 bytes
  CsvBlockReader reader;
  ASSERT_TRUE(reader.Open(dir / "in.csv", Widths("10 5"), false));
  std::array<std::uint8_t, kBlockData> block;
  EXPECT_EQ(reader.ReadCsvBlock(block), 1024u);
  EXPECT_EQ(reader.ReadCsvBlock(block), 13u);
  EXPECT_EQ(block[12], '\n');
  EXPECT_EQ(block[13], 0);
  EXPECT_EQ(reader.ReadCsvBlock(block), 0u);
  EXPECT_FALSE(reader.Open(dir / "missing.csv", Widths("10 5"), false));
}

TEST(CountTextLines, EveryLineCounts) {
  TempDir dir;
  std::int64_t n = -1;
  for (const auto& [text, lines] : std::vector<std::pair<std::string, int>>{
           {"", 0}, {"A", 1}, {"A\r\n", 1}, {"A\r\nB", 2}, {"\r\n\r\n", 2}, {"A\nB\n", 2}, {"\r", 1}}) {
    WriteFile(dir / "f", text);
    ASSERT_TRUE(CountTextLines(dir / "f", n));
    EXPECT_EQ(n, lines) << text;
  }
  EXPECT_FALSE(CountTextLines(dir / "missing", n));
}

FieldLayout Received(const std::string& size, const std::string& records, const std::string& fields) {
  FieldLayout l;
  EXPECT_TRUE(ParseFieldFile("file\tX.DAT\r\nsize\t" + size + "\r\nrecords\t" + records + "\r\nfields\t" + fields +
                                 "\r\n",
                             l));
  return l;
}

TEST(RecordToLine, CsvValuesAndFlags) {
  const FieldLayout l = Received("9", "1", "4 3");  // unit 9
  const std::string rec = "AB  12 \r\n";
  EXPECT_EQ(RecordToLine(rec, l, TFileType::CSV, false, false), "AB,12");
  EXPECT_EQ(RecordToLine(rec, l, TFileType::CSV, true, false), "AB  ,12 ");
  EXPECT_EQ(RecordToLine(rec, l, TFileType::CSV, false, true), "\"AB\",\"12\"");
  EXPECT_EQ(RecordToLine(rec, l, TFileType::CSV, true, true), "\"AB  \",\"12 \"");
  // An all-blank field is an empty value; control bytes are trimmed too, leading blanks stay.
  const FieldLayout l3 = Received("6", "1", "2 2 2");
  EXPECT_EQ(RecordToLine("A   \tB", l3, TFileType::CSV, false, false), "A,,\tB");
  EXPECT_EQ(RecordToLine(" A\x01\x1f B", l3, TFileType::CSV, false, false), " A,, B");
  EXPECT_EQ(RecordToLine(" A\x01\x1f B", l3, TFileType::DATA, false, false), " A\x01\x1f B");
}

std::string Receive(const FieldLayout& l, TFileType kind, const std::vector<std::string>& blocks, bool lastSp = false,
                    bool dblQuot = false, std::int32_t* count = nullptr) {
  TempDir dir;
  RecordReceiver r;
  EXPECT_TRUE(r.Open(dir / "tmp1", l, kind, lastSp, dblQuot));
  for (const std::string& b : blocks) r.AddBlock({reinterpret_cast<const std::uint8_t*>(b.data()), b.size()});
  r.Close();
  if (count) *count = r.TmpRecordNo();
  return ReadFile(dir / "tmp1");
}

TEST(RecordReceiver, CutsBlocksIntoRecordLines) {
  // Unit 9 = record 7 + 2 separator bytes; the fill after the last record is dropped.
  const FieldLayout l = Received("27", "3", "4 3");
  std::string data = "AB  12 \r\nCD  34 \r\nEF  56 \r\n";
  std::string block = data + std::string(128 - data.size(), '\0');
  std::int32_t n = 0;
  EXPECT_EQ(Receive(l, TFileType::CSV, {block}, false, false, &n), "AB,12\r\nCD,34\r\nEF,56\r\n");
  EXPECT_EQ(n, 3);
  EXPECT_EQ(Receive(l, TFileType::DATA, {block}), "AB  12 \r\nCD  34 \r\nEF  56 \r\n");
  EXPECT_EQ(Receive(l, TFileType::CSV, {block}, true, false), "AB  ,12 \r\nCD  ,34 \r\nEF  ,56 \r\n");
  EXPECT_EQ(Receive(l, TFileType::CSV, {block}, false, true), "\"AB\",\"12\"\r\n\"CD\",\"34\"\r\n\"EF\",\"56\"\r\n");

  // Records split across blocks; blocks beyond the announced count add nothing.
  EXPECT_EQ(Receive(l, TFileType::CSV, {data.substr(0, 5), data.substr(5, 13), data.substr(18), "GH  78 \r\n", block}),
            "AB,12\r\nCD,34\r\nEF,56\r\n");
}

TEST(RecordReceiver, UnitEqualToRecordLength) {
  const FieldLayout l = Received("15", "3", "3 2");  // unit 5, no separator
  EXPECT_EQ(Receive(l, TFileType::CSV, {"AB 12CDE3 F  4 " + std::string(113, '\0')}), "AB,12\r\nCDE,3\r\nF,4\r\n");
}

TEST(RecordReceiver, ManyBlocksAndLargeRecords) {
  // 1000 records of 3000 bytes, unit 3002, in 1024-byte blocks.
  const FieldLayout l = Received("3002000", "1000", "1000 2000");
  std::string data, expected;
  for (int i = 0; i < 1000; ++i) {
    const std::string rec = std::string(1000, static_cast<char>('a' + i % 26)) + std::string(2000, '0' + i % 10);
    data += rec + "\r\n";
    expected += rec.substr(0, 1000) + "," + rec.substr(1000) + "\r\n";
  }
  data.resize((data.size() + 1023) / 1024 * 1024, '\0');
  std::vector<std::string> blocks;
  for (std::size_t i = 0; i < data.size(); i += 1024) blocks.push_back(data.substr(i, 1024));
  EXPECT_EQ(Receive(l, TFileType::CSV, blocks), expected);
}

TEST(RecordReceiver, OpenFailsWhereNoFileCanBeCreated) {
  TempDir dir;
  RecordReceiver r;
  EXPECT_FALSE(r.Open(dir / "missing" / "tmp1", Received("9", "1", "4 3"), TFileType::CSV, false, false));
}

}  // namespace
}  // namespace pw
