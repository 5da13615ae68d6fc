#include "content/field_file.h"

#include <gtest/gtest.h>

#include <string>

#include "temp_dir.h"

namespace pw {
namespace {

using test::TempDir;
using test::WriteFile;

std::string Widths(const FieldLayout& l) {
  std::string s;
  for (int i = 0; i < l.iNFields; ++i) s += (i ? " " : "") + std::to_string(l.Field[i].Width);
  return s;
}

TEST(ParseFieldList, ValidListsGiveWidthsAndRecordLength) {
  FieldLayout l;
  EXPECT_EQ(ParseFieldList(CommasToBlanks("10,5,20"), l), 35);
  EXPECT_EQ(l.iNFields, 3);
  EXPECT_EQ(Widths(l), "10 5 20");
  EXPECT_EQ(l.Field[2].Start, 15);

  // Blanks and control characters around the list do not count.
  EXPECT_EQ(ParseFieldList(" \t8 1\r\n", l), 9);
  EXPECT_EQ(Widths(l), "8 1");

  EXPECT_EQ(ParseFieldList("8192 8192 8192 8191", l), 32767);
  EXPECT_EQ(l.iNFields, 4);
}

TEST(ParseFieldList, InvalidListsGiveZeroAndNoFields) {
  FieldLayout l;
  for (const char* list : {"", "10  5", "10,,5", "8193", "0", "5 0", "5 x", "5 -3", "+5", "99999999999",
                           "8192 8192 8192 8192 8192 8192 8192 8192"}) {
    ParseFieldList("7 7", l);
    EXPECT_EQ(ParseFieldList(CommasToBlanks(list), l), 0) << list;
    EXPECT_EQ(l.iNFields, 0) << list;
  }
}

TEST(ParseFieldList, RefusesMoreThan256Widths) {
  FieldLayout l;
  std::string list = "1";
  for (int i = 1; i < 256; ++i) list += " 1";
  EXPECT_EQ(ParseFieldList(list, l), 256);
  EXPECT_EQ(l.iNFields, 256);
  EXPECT_EQ(ParseFieldList(list + " 1", l), 0);
  EXPECT_EQ(l.iNFields, 0);
}

TEST(FieldHeader, ItemCsvExampleIs66Bytes) {
  const std::string text = FieldHeader("ITEM.CSV", 51, 3, 2, "10 5");
  EXPECT_EQ(text,
            "* created by BHT\r\n"
            "file\tITEM.CSV\r\n"
            "size\t51\r\n"
            "records\t3\r\n"
            "fields\t10 5\r\n");
  EXPECT_EQ(text.size(), 66u);
  // One field: the singular key.
  EXPECT_EQ(FieldHeader("A.DAT", 8, 1, 1, "8"), "* created by BHT\r\nfile\tA.DAT\r\nsize\t8\r\nrecords\t1\r\nfield\t8\r\n");
}

TEST(GetFldValue, ConsumesUpToTheKeysLine) {
  AnsiString sBuf = "file\tA.DAT\r\nsize\t10\r\nrest";
  EXPECT_EQ(GetFldValue(sBuf, "size"), "10");
  EXPECT_EQ(sBuf, "rest");
  // A key that comes before the consumed part is no longer found.
  EXPECT_EQ(GetFldValue(sBuf, "file"), "");
  EXPECT_EQ(sBuf, "rest");
  // A value without CR LF gives nothing.
  sBuf = "file\tA.DAT\n";
  EXPECT_EQ(GetFldValue(sBuf, "file"), "");
}

std::string Fld(const std::string& size, const std::string& records, const std::string& fields,
                const std::string& nl = "\r\n", const std::string& recKey = "records") {
  return "* created by BHT" + nl + "file\tITEM.DAT" + nl + "size\t" + size + nl + recKey + "\t" + records + nl +
         "fields\t" + fields + nl;
}

TEST(ParseFieldFile, ReadsTheLayoutWithFillBytes) {
  FieldLayout l;
  ASSERT_TRUE(ParseFieldFile(Fld("51", "3", "10 5") + std::string(60, '\0'), l));
  EXPECT_EQ(l.ChkFName, "ITEM.DAT");
  EXPECT_EQ(l.ChkSize, 51);
  EXPECT_EQ(l.iRecords, 3);
  EXPECT_EQ(l.FieldsDat, "10 5");
  EXPECT_EQ(l.iNFields, 2);
  EXPECT_EQ(l.Field[1].Start, 10);
  EXPECT_EQ(l.Field[1].Width, 5);
  EXPECT_EQ(l.iRecSize, 15);
  EXPECT_EQ(l.iRecSize0, 17);

  // "record" for "records" is accepted.
  ASSERT_TRUE(ParseFieldFile(Fld("51", "3", "10 5", "\r\n", "record"), l));
  EXPECT_EQ(l.iRecords, 3);

  // Received widths are not held to the send-side limits; empty tokens make no entry.
  ASSERT_TRUE(ParseFieldFile(Fld("20000", "2", " 0  9999 x"), l));
  EXPECT_EQ(Widths(l), "0 9999 0");
  EXPECT_EQ(l.iRecSize0, 10000);
}

TEST(ParseFieldFile, UnitMustBeAWholeRecordWithAtMostTwoSeparatorBytes) {
  FieldLayout l;
  EXPECT_TRUE(ParseFieldFile(Fld("100", "10", "10"), l));
  EXPECT_EQ(l.iRecSize0, 10);
  EXPECT_TRUE(ParseFieldFile(Fld("100", "10", "8"), l));
  EXPECT_EQ(l.iRecSize0, 10);
  EXPECT_FALSE(ParseFieldFile(Fld("100", "10", "7"), l));
  EXPECT_FALSE(ParseFieldFile(Fld("101", "10", "10"), l));
  EXPECT_FALSE(ParseFieldFile(Fld("100", "10", "11"), l));
}

TEST(ParseFieldFile, InvalidFieldFilesLeaveNoLayout) {
  FieldLayout l;
  std::string many = "1";
  for (int i = 1; i < 257; ++i) many += " 1";
  const std::string cases[] = {
      Fld("51", "3", "10 5", "\n"),                 // LF-only lines give no values
      Fld("0", "3", "10 5"), Fld("x", "3", "10 5"),  // size 0 or not a number
      Fld("51", "0", "17"), Fld("51", "", "17"),    // no records
      Fld("51", "3", ""),                           // no fields
      Fld("4294967347", "3", "10 5"),               // a size beyond 32 bits
      Fld("51", "3", "10 99999999999"),             // a width beyond 32 bits
      Fld("257", "1", many),                        // 257 widths
      Fld("131076", "2", "65536"),                  // a unit of 65538 bytes
      "size\t51\r\nrecords\t3\r\nfields\t10 5\r\n",  // no file
      Fld("51", "3", "10 5").substr(0, 63),          // last line without CR LF
  };
  for (const std::string& text : cases) {
    ASSERT_TRUE(ParseFieldFile(Fld("51", "3", "10 5"), l));
    EXPECT_FALSE(ParseFieldFile(text, l)) << text;
    EXPECT_EQ(l.iNFields, 0);
    EXPECT_EQ(l.ChkFName, "");
    EXPECT_EQ(l.iRecSize0, 0);
  }
  // A unit of exactly 65535 + 2 bytes is still accepted.
  EXPECT_TRUE(ParseFieldFile(Fld("131074", "2", "65535"), l));
  EXPECT_EQ(l.iRecSize0, 65537);
}

TEST(ParseFieldFile, RawNamesTakeTheRecordLengthAsUnit) {
  FieldLayout l;
  const std::string text = "file\tLOGO.BMP\r\nsize\t999\r\nrecords\t2\r\nfield\t10\r\n";
  ASSERT_TRUE(ParseFieldFile(text, l));
  EXPECT_EQ(l.iRecSize0, 10);
}

TEST(ReadFldFile, FirstLineWithoutTheFieldsWord) {
  TempDir dir;
  WriteFile(dir / "ITEM.fld", "FIELDS 4,6\r\nignored\r\n");
  EXPECT_EQ(ReadFldFile(dir / "ITEM.CSV"), "4,6");
  WriteFile(dir / "ITEM.fld", "4 6\n");
  EXPECT_EQ(ReadFldFile(dir / "ITEM.CSV"), "4 6");
  WriteFile(dir / "ITEM.fld", "  Field\t12  ");
  EXPECT_EQ(ReadFldFile(dir / "ITEM.CSV"), "12");
  // The five-line field-file format does not serve here.
  WriteFile(dir / "ITEM.fld", FieldHeader("ITEM.CSV", 51, 3, 2, "10 5"));
  EXPECT_EQ(ReadFldFile(dir / "ITEM.CSV"), "* created by bht");
}

TEST(ReadFldFile, NameComparesWithoutCaseAndMissingFileGivesNothing) {
  TempDir dir;
  EXPECT_EQ(ReadFldFile(dir / "ITEM.CSV"), "");
  WriteFile(dir / "Item.FLD", "fields 3,3\r\n");
  EXPECT_EQ(ReadFldFile(dir / "ITEM.CSV"), "3,3");
  // A first line that no field list could fill is refused, not cut.
  WriteFile(dir / "Item.FLD", std::string(100000, '1'));
  EXPECT_EQ(ReadFldFile(dir / "ITEM.CSV"), "");
}

TEST(FieldList, CommasAndBlanks) {
  EXPECT_EQ(CommasToBlanks("10,5,,20"), "10 5  20");
  EXPECT_EQ(BlanksToCommas("10 5 20"), "10,5,20");
}

}  // namespace
}  // namespace pw
