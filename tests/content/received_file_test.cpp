#include "content/received_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "temp_dir.h"

namespace pw {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(ExpandDatePlaceholder, EveryOccurrenceBecomesTheDate) {
  EXPECT_EQ(ExpandDatePlaceholder("ZYYMMDD.DAT", LocalTime{2026, 12, 31}), "Z261231.DAT");
  EXPECT_EQ(ExpandDatePlaceholder("TANAYYMMDD.DAT", LocalTime{2026, 12, 7}), "TANA261207.DAT");
  EXPECT_EQ(ExpandDatePlaceholder("YYMMDDYYMMDD", LocalTime{2031, 1, 8}), "310108310108");
  EXPECT_EQ(ExpandDatePlaceholder("YYMMD.DAT", LocalTime{2026, 1, 8}), "YYMMD.DAT");
  EXPECT_EQ(ExpandDatePlaceholder("yymmdd.DAT", LocalTime{2026, 1, 8}), "yymmdd.DAT");
}

TEST(ReceivedFilePath, OnlyPlainNamesInsideTheFolder) {
  const std::filesystem::path rx = "/rx";
  EXPECT_EQ(ReceivedFilePath(rx, "ITEM.DAT"), rx / "ITEM.DAT");
  for (const char* bad : {"", ".", "..", "../X", "A/B", "A\\B", "C:X", "NUL", "com1.dat", "LPT9", "A\tB", "A?", "\x81",
                          // Windows drops blanks and dots at the end of a name, and of a device name
                          "CON .PD3", "nul  .DAT", "Aux.", "COM1 ", "lpt3 .X.Y", "A.PD3.", "A.PD3 ", "A ", "..."}) {
    EXPECT_FALSE(ReceivedFilePath(rx, bad)) << bad;
    EXPECT_FALSE(IsPlainFileName(bad)) << bad;
  }
  // "ソ" in CP932 ends in 0x5C, which is not a separator there.
  const auto so = ReceivedFilePath(rx, "\x83\x5C.DAT");
  ASSERT_TRUE(so);
  EXPECT_EQ(so->filename().u8string(), u8"ソ.DAT");
  EXPECT_TRUE(IsPlainFileName("COM10.DAT"));
  EXPECT_TRUE(IsPlainFileName("CON X.DAT"));
}

TEST(StoreReceivedFile, ReplaceTakesThePlaceOfTheOldFile) {
  TempDir dir;
  WriteFile(dir / "tmp1", "NEW\r\n");
  WriteFile(dir / "ITEM.DAT", "OLD\r\nOLD\r\n");
  ASSERT_TRUE(StoreReceivedFile(dir / "tmp1", dir.path(), "ITEM.DAT", StoreMode::Replace));
  EXPECT_EQ(ReadFile(dir / "ITEM.DAT"), "NEW\r\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "tmp1"));
  // No file is left beside the target.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(StoreReceivedFile, AppendKeepsTheOldLinesFirst) {
  TempDir dir;
  WriteFile(dir / "tmp1", "A\r\n");
  ASSERT_TRUE(StoreReceivedFile(dir / "tmp1", dir.path(), "ITEM.DAT", StoreMode::Append));
  WriteFile(dir / "tmp1", "B\r\nC\r\n");
  ASSERT_TRUE(StoreReceivedFile(dir / "tmp1", dir.path(), "ITEM.DAT", StoreMode::Append));
  EXPECT_EQ(ReadFile(dir / "ITEM.DAT"), "A\r\nB\r\nC\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);  // target and tmp1
}

TEST(StoreReceivedFile, AFailureLeavesTheOldFileAsItWas) {
  TempDir dir;
  WriteFile(dir / "ITEM.DAT", "OLD\r\n");
  // The received data are missing: neither mode touches the old file.
  for (StoreMode mode : {StoreMode::Replace, StoreMode::Append}) {
    EXPECT_FALSE(StoreReceivedFile(dir / "missing", dir.path(), "ITEM.DAT", mode));
    EXPECT_EQ(ReadFile(dir / "ITEM.DAT"), "OLD\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
  }
  // The target is a folder; the receive folder does not exist; the name is not plain.
  WriteFile(dir / "tmp1", "NEW\r\n");
  std::filesystem::create_directory(dir / "SUB.DAT");
  EXPECT_FALSE(StoreReceivedFile(dir / "tmp1", dir.path(), "SUB.DAT", StoreMode::Replace));
  EXPECT_FALSE(StoreReceivedFile(dir / "tmp1", dir / "nowhere", "ITEM.DAT", StoreMode::Replace));
  EXPECT_FALSE(StoreReceivedFile(dir / "tmp1", dir / "SUB.DAT", "../ITEM.DAT", StoreMode::Replace));
  EXPECT_EQ(ReadFile(dir / "ITEM.DAT"), "OLD\r\n");
  EXPECT_EQ(ReadFile(dir / "tmp1"), "NEW\r\n");
}

std::span<const std::uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(RawReceiver, WritesNoMoreThanTheAnnouncedSize) {
  TempDir dir;
  RawReceiver r;
  ASSERT_TRUE(r.Open(dir / "tmp2", 1500));
  const std::string b1(1024, 'a'), b2 = std::string(476, 'b') + std::string(548, '\0');
  r.AddBlock(Bytes(b1));
  r.AddBlock(Bytes(b2));
  r.AddBlock(Bytes(b2));
  r.Close();
  EXPECT_EQ(r.Written(), 1500);
  EXPECT_EQ(ReadFile(dir / "tmp2"), b1 + std::string(476, 'b'));
  ASSERT_TRUE(StoreReceivedFile(dir / "tmp2", dir.path(), "ABC.PD4", StoreMode::Replace));
  EXPECT_EQ(std::filesystem::file_size(dir / "ABC.PD4"), 1500u);
  EXPECT_FALSE(r.Open(dir / "missing" / "tmp2", 10));
}

TEST(FieldFileCollector, GathersBlocksAndRefusesHugeTexts) {
  const std::string text = "* created by BHT\r\nfile\tITEM.DAT\r\nsize\t51\r\nrecords\t3\r\nfields\t10 5\r\n";
  FieldFileCollector c;
  FieldLayout l;
  c.Begin();
  c.AddBlock(Bytes(text.substr(0, 40)));
  c.AddBlock(Bytes(text.substr(40) + std::string(100, '\0')));
  ASSERT_TRUE(c.Finish(l));
  EXPECT_EQ(l.ChkFName, "ITEM.DAT");
  EXPECT_EQ(l.iRecSize0, 17);

  c.Begin();
  c.AddBlock(Bytes(text));
  const std::string fill(1024, '\0');
  for (int i = 0; i < 64; ++i) c.AddBlock(Bytes(fill));
  EXPECT_FALSE(c.Finish(l));
  EXPECT_EQ(l.iNFields, 0);
}

}  // namespace
}  // namespace pw
