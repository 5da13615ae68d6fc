#include "content/file_kind.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "content/result_codes.h"
#include "content/send_plan.h"
#include "platform/codepage.h"
#include "temp_dir.h"

namespace pw {
namespace {

using test::TempDir;
using test::WriteFile;

TEST(TFileType, ValuesInTheSystemsOrder) {
  EXPECT_EQ(sizeof(TFileType), 1u);
  const TFileType all[] = {TFileType::DATA, TFileType::CSV, TFileType::PD3, TFileType::PD4, TFileType::FLD,
                           TFileType::FN3EX3, TFileType::LCS, TFileType::BMP, TFileType::JPG, TFileType::WAV,
                           TFileType::ZIP, TFileType::REQFILE, TFileType::ERROR_, TFileType::NULL_, TFileType::etc};
  const char* names[] = {"DATA", "CSV", "PD3", "PD4", "FLD", "FN3EX3", "LCS", "BMP",
                         "JPG", "WAV", "ZIP", "REQFILE", "ERROR", "NULL", "etc"};
  for (int i = 0; i < 15; ++i) {
    EXPECT_EQ(static_cast<int>(all[i]), i);
    EXPECT_EQ(FileTypeName(all[i]), names[i]);
  }
  EXPECT_TRUE(IsRecordKind(TFileType::CSV));
  EXPECT_FALSE(IsRecordKind(TFileType::FLD));
  EXPECT_TRUE(IsRawKind(TFileType::ZIP));
  EXPECT_FALSE(IsRawKind(TFileType::DATA));
  EXPECT_FALSE(IsRawKind(TFileType::NULL_));
}

TEST(ChooseSendKind, KindAndLabelByExtension) {
  struct Case {
    const char* name;
    TFileType type;
    const char* label;  // CP932 bytes after the name
  } cases[] = {
      {"A.PD4", TFileType::PD4, "\x20\xcc\xdf\xdb\xb8\xde\xd7\xd1\x91\x97\x90\x4d"},  // " ﾌﾟﾛｸﾞﾗﾑ送信"
      {"A.PD3", TFileType::PD3, "\x20\xcc\xdf\xdb\xb8\xde\xd7\xd1\x91\x97\x90\x4d"},
      {"A.FN3", TFileType::FN3EX3, "\x20\xcc\xdf\xdb\xb8\xde\xd7\xd1\x91\x97\x90\x4d"},
      {"A.EX3", TFileType::FN3EX3, "\x20\xcc\xdf\xdb\xb8\xde\xd7\xd1\x91\x97\x90\x4d"},
      {"ITEM.CSV", TFileType::CSV, "\x20\xc3\xde\xb0\xc0\x91\x97\x90\x4d"},  // " ﾃﾞｰﾀ送信"
      {"ITEM.DAT", TFileType::DATA, "\x20\xc3\xde\xb0\xc0\x91\x97\x90\x4d"},
      {"ITEM.BNF", TFileType::DATA, "\x20\xc3\xde\xb0\xc0\x91\x97\x90\x4d"},
      {"ITEM", TFileType::DATA, "\x20\xc3\xde\xb0\xc0\x91\x97\x90\x4d"},
      {"CSV.X", TFileType::DATA, "\x20\xc3\xde\xb0\xc0\x91\x97\x90\x4d"},
  };
  for (const Case& c : cases) {
    const SendKind k = ChooseSendKind(c.name);
    EXPECT_EQ(k.FileType, c.type) << c.name;
    EXPECT_EQ(k.FNameCaption, std::string(c.name) + c.label) << c.name;
  }
  EXPECT_EQ(ChooseSendKind("A.LCS").FNameCaption, "A.LCS" + ToAnsi(" LCSﾌｧｲﾙ送信"));
  EXPECT_EQ(ChooseSendKind("A.BMP").FNameCaption, "A.BMP" + ToAnsi(" BMPﾌｧｲﾙ送信"));
  EXPECT_EQ(ChooseSendKind("A.JPG").FNameCaption, "A.JPG" + ToAnsi(" JPGﾌｧｲﾙ送信"));
  EXPECT_EQ(ChooseSendKind("A.WAV").FNameCaption, "A.WAV" + ToAnsi(" WAVﾌｧｲﾙ送信"));
  // An archive goes byte for byte, without a field file.
  EXPECT_EQ(ChooseSendKind("A.ZIP").FileType, TFileType::ZIP);

  EXPECT_EQ(SendRecordSize(TFileType::CSV, 15), 17);
  EXPECT_EQ(SendRecordSize(TFileType::DATA, 15), 15);
  EXPECT_EQ(SendRecordSize(TFileType::CSV, 0), 0);
}

TEST(PlanSend, ItemCsvWithThreeLines) {
  TempDir dir;
  WriteFile(dir / "item.csv", "A,1\r\nB,2\r\nC,3");
  SendPlan plan;
  ASSERT_EQ(PlanSend(dir / "item.csv", "ITEM.CSV", "10 5", plan), result::NormalEnd);
  EXPECT_EQ(plan.FileType, TFileType::CSV);
  EXPECT_EQ(plan.iRecSize, 17);
  EXPECT_EQ(plan.Sizes.iRecords, 3);
  EXPECT_EQ(plan.Sizes.fSize, 51);
  EXPECT_EQ(plan.Sizes.iEndBlock, 1);
  EXPECT_EQ(plan.FieldsDat, "* created by BHT\r\nfile\tITEM.CSV\r\nsize\t51\r\nrecords\t3\r\nfields\t10 5\r\n");
  EXPECT_EQ(plan.FieldsDat.size(), 66u);
}

TEST(PlanSend, TheFieldFileCarriesTheListAsItWasRead) {
  // Blanks and control bytes at the ends of the list are not part of it; a
  // TAB or CR left in the field file made our own receiver refuse it.
  TempDir dir;
  WriteFile(dir / "item.csv", "A,1,x\r\nB,2,y\r\n");
  for (const char* list : {"8 20 5\t", "8 20 5\r", " 8 20 5\r\n"}) {
    SendPlan plan;
    ASSERT_EQ(PlanSend(dir / "item.csv", "ITEM.CSV", list, plan), result::NormalEnd);
    FieldLayout received;
    ASSERT_TRUE(ParseFieldFile(plan.FieldsDat, received)) << plan.FieldsDat;
    EXPECT_EQ(received.FieldsDat, "8 20 5");
    EXPECT_EQ(received.iRecSize0, plan.iRecSize);
  }
}

TEST(PlanSend, SizesOfDataAndRawFiles) {
  TempDir dir;
  SendPlan plan;
  // DATA: records of 8 + CR LF; a remainder of more than 2 bytes is one more record.
  WriteFile(dir / "d", std::string(33, 'x'));
  ASSERT_EQ(PlanSend(dir / "d", "ITEM.DAT", "3 5", plan), 0);
  EXPECT_EQ(plan.iRecSize, 8);
  EXPECT_EQ(plan.Sizes.fSize, 33);
  EXPECT_EQ(plan.Sizes.iRecords, 4);
  WriteFile(dir / "d", std::string(32, 'x'));
  ASSERT_EQ(PlanSend(dir / "d", "ITEM.DAT", "3 5", plan), 0);
  EXPECT_EQ(plan.Sizes.iRecords, 3);

  // Raw: the length, blocks of 1024, no field file.
  WriteFile(dir / "p", std::string(1024, 'x'));
  ASSERT_EQ(PlanSend(dir / "p", "A.PD4", "", plan), 0);
  EXPECT_EQ(plan.Sizes.fSize, 1024);
  EXPECT_EQ(plan.Sizes.iEndBlock, 1);
  EXPECT_EQ(plan.FieldsDat, "");
  WriteFile(dir / "p", std::string(1025, 'x'));
  ASSERT_EQ(PlanSend(dir / "p", "A.ZIP", "", plan), 0);
  EXPECT_EQ(plan.Sizes.iEndBlock, 2);
}

TEST(PlanSend, RefusalsBeforeAnythingIsSent) {
  TempDir dir;
  SendPlan plan;
  EXPECT_EQ(PlanSend(dir / "missing.csv", "ITEM.CSV", "10 5", plan), result::NoSendFile);
  WriteFile(dir / "item.csv", "A,1\r\n");
  EXPECT_EQ(PlanSend(dir / "item.csv", "ITEM.CSV", "", plan), result::FieldFileError);
  EXPECT_EQ(PlanSend(dir / "item.csv", "ITEM.DAT", "10  5", plan), result::FieldFileError);
  WriteFile(dir / "empty", "");
  EXPECT_EQ(PlanSend(dir / "empty", "ITEM.CSV", "10 5", plan), result::SendDataError);
  EXPECT_EQ(PlanSend(dir / "empty", "A.PD4", "", plan), result::SendDataError);
  EXPECT_EQ(PlanSend(dir.path(), "A.PD4", "", plan), result::FileAccessError);

  // 32768 records of 65537 bytes would announce a size beyond 32 bits:
  // refused, not wrapped; of 65535 bytes they fit.
  WriteFile(dir / "many.csv", std::string(32768, '\n'));
  SendSizes sizes;
  EXPECT_EQ(MeasureSendFile(dir / "many.csv", TFileType::CSV, 65537, sizes), result::SendDataError);
  EXPECT_EQ(MeasureSendFile(dir / "many.csv", TFileType::CSV, 65535, sizes), result::NormalEnd);
  EXPECT_EQ(sizes.fSize, 32768 * 65535);
}

// A header block: name, 0x00, then \p rest, filled with 0x00 to 128 bytes.
std::vector<std::uint8_t> Header(const std::string& name, const std::string& rest = "") {
  std::vector<std::uint8_t> b(128, 0);
  const std::string s = name + std::string(1, '\0') + rest;
  std::copy(s.begin(), s.end(), b.begin());
  return b;
}

FieldLayout LayoutFor(const std::string& name) {
  FieldLayout l;
  EXPECT_TRUE(ParseFieldFile("file\t" + name + "\r\nsize\t51\r\nrecords\t3\r\nfields\t10 5\r\n", l));
  return l;
}

TEST(ChooseReceiveKind, RawAndFieldFiles) {
  FieldLayout l = LayoutFor("ITEM.DAT");
  ReceiveKind k = ChooseReceiveKind(Header("abc.pd4", "1500"), false, "", "", l);
  EXPECT_EQ(k.Verdict, HeaderVerdict::Accepted);
  EXPECT_EQ(k.FileType, TFileType::PD4);
  EXPECT_EQ(k.BhtFName, "ABC.PD4");
  EXPECT_EQ(k.fSize, 1500);
  EXPECT_EQ(k.FNameCaption, "ABC.PD4" + ToAnsi(" ﾌﾟﾛｸﾞﾗﾑ受信"));
  EXPECT_EQ(l.FieldsDat, "");  // a raw file forgets the received list

  k = ChooseReceiveKind(Header("A.EX3", "10"), false, "", "", l);
  EXPECT_EQ(k.FileType, TFileType::FN3EX3);
  EXPECT_EQ(k.FNameCaption, "A.EX3" + ToAnsi(" ﾃﾞｰﾀ受信"));

  // Size fields after the size (as other YMODEM senders write them) do not matter.
  k = ChooseReceiveKind(Header("A.ZIP", "77 14371234567 100644"), false, "", "", l);
  EXPECT_EQ(k.FileType, TFileType::ZIP);
  EXPECT_EQ(k.fSize, 77);

  l = LayoutFor("ITEM.DAT");
  k = ChooseReceiveKind(Header("item.fld", "66"), false, "OTHER.DAT", "", l);
  EXPECT_EQ(k.Verdict, HeaderVerdict::Accepted);
  EXPECT_EQ(k.FileType, TFileType::FLD);
  EXPECT_EQ(l.ChkFName, "");
  EXPECT_EQ(l.iNFields, 0);

  k = ChooseReceiveKind(Header(""), false, "", "", l);
  EXPECT_EQ(k.Verdict, HeaderVerdict::EndOfBatch);
  EXPECT_EQ(k.FileType, TFileType::NULL_);
}

TEST(ChooseReceiveKind, DataFilesOnlyRightAfterTheirFieldFile) {
  FieldLayout l = LayoutFor("ITEM.DAT");
  ReceiveKind k = ChooseReceiveKind(Header("ITEM.DAT", "51"), false, "", "", l);
  EXPECT_EQ(k.Verdict, HeaderVerdict::Accepted);
  EXPECT_EQ(k.FileType, TFileType::DATA);
  EXPECT_EQ(ChooseReceiveKind(Header("ITEM.DAT", "51"), true, "", "", l).FileType, TFileType::CSV);

  l = LayoutFor("ITEM.CSV");
  EXPECT_EQ(ChooseReceiveKind(Header("ITEM.CSV", "51"), false, "", "", l).FileType, TFileType::CSV);

  // Another name than the field file's: refused, and the field file is forgotten.
  l = LayoutFor("ITEM.DAT");
  EXPECT_EQ(ChooseReceiveKind(Header("OTHER.DAT", "51"), false, "", "", l).Verdict, HeaderVerdict::Refuse);
  EXPECT_EQ(l.ChkFName, "");
  EXPECT_EQ(ChooseReceiveKind(Header("ITEM.DAT", "51"), false, "", "", l).Verdict, HeaderVerdict::Refuse);

  // Expected fields.
  l = LayoutFor("ITEM.DAT");
  EXPECT_EQ(ChooseReceiveKind(Header("ITEM.DAT", "51"), false, "", "10 5", l).Verdict, HeaderVerdict::Accepted);
  EXPECT_EQ(ChooseReceiveKind(Header("ITEM.DAT", "51"), false, "", "10 6", l).Verdict, HeaderVerdict::OtherFields);
  EXPECT_EQ(l.ChkFName, "");

  // Expected name: the field file passes, another data file is the wrong file.
  l = LayoutFor("OTHER.DAT");
  EXPECT_EQ(ChooseReceiveKind(Header("OTHER.DAT", "51"), false, "ITEM.DAT", "", l).Verdict,
            HeaderVerdict::WrongFile);

  // The business-settings file shows its text alone.
  l = LayoutFor("ITEM.BNF");
  k = ChooseReceiveKind(Header("ITEM.BNF", "51"), false, "", "", l);
  EXPECT_EQ(k.Verdict, HeaderVerdict::Accepted);
  EXPECT_EQ(k.FNameCaption, ToAnsi("業務設定受信"));
}

TEST(ChooseReceiveKind, BadHeadersAreRefused) {
  FieldLayout l;
  for (const auto& h : {Header("ABCDEFGHI.PD4", "10"),  // 13 bytes
                        Header("A.PD4", "0"), Header("A.PD4", ""), Header("A.PD4", "abc"),
                        Header("A.PD4", "2147483648"),  // beyond 32 bits
                        Header("../A.PD4", "10"), Header("C:A.PD4", "10"), Header("CON.PD4", "10"),
                        Header("A\\B.PD4", "10")}) {
    EXPECT_EQ(ChooseReceiveKind(h, false, "", "", l).Verdict, HeaderVerdict::Refuse);
  }
  // No 0x00 after the name, or digits up to the end of the block.
  std::vector<std::uint8_t> b(128, 'A');
  EXPECT_EQ(ChooseReceiveKind(b, false, "", "", l).Verdict, HeaderVerdict::Refuse);
  b = Header("A.PD4", std::string(128 - 6, '1'));
  EXPECT_EQ(ChooseReceiveKind(b, false, "", "", l).Verdict, HeaderVerdict::Refuse);
  // A 12-byte name is fine, and a double-byte name whose second byte is 0x5C too.
  EXPECT_EQ(ChooseReceiveKind(Header("ABCDEFGH.PD4", "5"), false, "", "", l).Verdict, HeaderVerdict::Accepted);
  EXPECT_EQ(ChooseReceiveKind(Header("\x83\x5C.PD4", "5"), false, "", "", l).Verdict, HeaderVerdict::Accepted);
}

}  // namespace
}  // namespace pw
