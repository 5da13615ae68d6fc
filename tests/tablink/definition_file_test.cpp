// The transfer definition file: both record layouts byte for byte, the header
// reading rules, the old layout's conversion, record access, lookup by name
// and where the file is found.
#include "tablink/definition_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "platform/folders.h"
#include "tests/support/memory_registry.h"
#include "tests/support/temp_drive.h"

namespace pw::tablink {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// Writes raw bytes into a hand-built record.
void Put(Record& r, std::size_t at, std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) r[at + i] = static_cast<std::uint8_t>(bytes[i]);
}

// The old layout's text: a length byte and the characters.
std::string Counted(std::string_view text) { return static_cast<char>(text.size()) + std::string(text); }

std::string FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const std::string kLogFolder = "D:\\\x83\x8D\x83\x4F";  // "D:\ログ" in CP932

TEST(DefinitionRecords, HeaderIsLaidOutAtItsOffsets) {
  DefinitionHeader h;
  h.VerStr = "Ver2.00";
  h.SaveType = kSaveAccess;
  h.DataSource = std::string(300, 's');  // cut to 255 bytes
  h.ComPort = 8;
  h.ComSpeed = 115200;
  h.HideForm = true;
  h.WriteMode = 0;
  h.SaveLog = true;
  h.LogFileMode = -2;
  h.LogFolder = kLogFolder;

  Record expected{};
  Put(expected, 0, "Ver2.00");
  Put(expected, 13, "\x02");
  Put(expected, 14, std::string(255, 's'));
  Put(expected, 272, "\x08\x00\x00\x00"s);
  Put(expected, 276, "\x00\xC2\x01\x00"s);
  Put(expected, 280, "\x01\x00\x00\x00"s);
  Put(expected, 288, "\x01\x00\x00\x00"s);
  Put(expected, 292, "\xFE\xFF\xFF\xFF");
  Put(expected, 396, kLogFolder);
  EXPECT_EQ(EncodeHeader(h), expected);

  bool matched = false;  // every field read back as written
  EXPECT_EQ(EncodeHeader(DecodeHeader(expected, MarkerRule::Editor, matched)), expected);
  EXPECT_TRUE(matched);
}

TEST(DefinitionRecords, DefinitionIsLaidOutAtItsOffsets) {
  Definition d;
  d.BhtFile = "ABCDEFGHIJKLMN";  // cut to 12
  d.Vector = kBothWays;
  d.SaveName = "\x8F\xA4\x95\x69YYMMDD.txt";
  d.FieldCount = 24;
  for (std::int32_t i = 0; i < kMaxMapFields; ++i) d.FieldMap[static_cast<std::size_t>(i)] = i + 1;
  d.FieldMap[0] = -1;
  d.FieldWidths = "8 20 5";
  d.Delimiter = 2;
  d.LastSpace = "10";  // cut to "1"

  Record expected{};
  Put(expected, 0, "ABCDEFGHIJKL");
  Put(expected, 13, "\x02");
  Put(expected, 14, d.SaveName);
  Put(expected, 272, "\x18");
  Put(expected, 276, "\xFF\xFF\xFF\xFF");
  for (std::size_t i = 1; i < 24; ++i) Put(expected, 276 + 4 * i, std::string(1, static_cast<char>(i + 1)));
  Put(expected, 396, "8 20 5");
  Put(expected, 652, "\x02");
  Put(expected, 653, "1");
  EXPECT_EQ(EncodeDefinition(d), expected);

  EXPECT_EQ(EncodeDefinition(DecodeDefinition(expected)), expected);
  EXPECT_TRUE(DecodeDefinition(expected).KeepsTrailingBlanks());
}

TEST(DefinitionRecords, HeaderReadingRules) {
  // Marker (13 bytes): the server compares seven characters, the editor up to
  // twelve; the two texts are taken only on a match.
  for (const auto& [marker, server, editor] : {std::tuple{"Ver2.00"s, true, true},
                                               {"Ver2.00xyz"s, true, false},
                                               {"Ver2.00ABCDEF"s, true, false},
                                               {"Ver2.0"s, false, false}}) {
    Record r{};
    Put(r, 0, marker);
    Put(r, 14, "C:\\data");
    Put(r, 396, kLogFolder);
    for (const MarkerRule rule : {MarkerRule::Server, MarkerRule::Editor}) {
      const bool expected = rule == MarkerRule::Server ? server : editor;
      bool matched = !expected;
      const DefinitionHeader h = DecodeHeader(r, rule, matched);
      EXPECT_EQ(matched, expected) << marker;
      EXPECT_EQ(h.VerStr, marker);
      EXPECT_EQ(h.DataSource + "|" + h.LogFolder, matched ? "C:\\data|" + kLogFolder : "|") << marker;
    }
  }
  // ComPort clamped to 0..31, SaveType a signed byte within 0..3, flags on
  // when non-zero.
  const auto read = [](std::string_view comPort, char saveType, std::string_view flag) {
    Record r{};
    Put(r, 272, comPort);
    r[13] = static_cast<std::uint8_t>(saveType);
    Put(r, 280, flag);
    Put(r, 288, flag);
    bool matched = false;
    const DefinitionHeader h = DecodeHeader(r, MarkerRule::Server, matched);
    return std::to_string(h.ComPort) + " " + std::to_string(h.SaveType) + " " + std::to_string(h.HideForm) +
           std::to_string(h.SaveLog);
  };
  EXPECT_EQ(read("\x28\x00\x00\x00"s, '\x04', "\x07\x00\x00\x00"s), "31 0 11");
  EXPECT_EQ(read("\xFF\xFF\xFF\xFF", '\xC8', "\x00\x00\x00\x80"s), "0 0 11");
  EXPECT_EQ(read("\x1F\x00\x00\x00"s, '\x80', "\x00\x00\x00\x00"s), "31 0 00");
  EXPECT_EQ(read("\x05\x00\x00\x00"s, '\x03', "\x00\x00\x00\x00"s), "5 3 00");
}

TEST(DefinitionRecords, OldLayoutBecomesTheCurrentOne) {
  // The numbers sit where they do now; every text is a length byte and its
  // characters.
  DefinitionHeader h;
  h.SaveType = kSaveExcel;
  h.ComPort = 3;
  h.ComSpeed = 9600;
  h.HideForm = true;
  h.SaveLog = true;
  h.LogFileMode = 1;
  Record old = EncodeHeader(h);
  Put(old, 0, Counted("Ver1.00"));
  Put(old, 14, Counted("C:\\book\\a.xls"));
  Put(old, 396, Counted(kLogFolder));
  h.VerStr = "Ver2.00";
  h.DataSource = "C:\\book\\a.xls";
  h.LogFolder = kLogFolder;
  EXPECT_EQ(ConvertOldHeader(old), EncodeHeader(h));

  Definition d;
  d.Vector = kToBht;
  d.FieldCount = 2;
  d.FieldMap = {3, 1};
  d.Delimiter = 1;
  d.LastSpace = "";
  Record oldDef = EncodeDefinition(d);
  Put(oldDef, 0, Counted("ABCDEFGHIJKL"));  // the longest name
  Put(oldDef, 14, Counted("Sheet"));
  Put(oldDef, 396, Counted("10 2"));
  Put(oldDef, 653, Counted("0"));
  d.BhtFile = "ABCDEFGHIJKL";
  d.SaveName = "Sheet";
  d.FieldWidths = "10 2";
  d.LastSpace = "0";
  EXPECT_EQ(ConvertOldDefinition(oldDef), EncodeDefinition(d));

  Put(oldDef, 14, Counted(std::string(255, 'x')));  // a full 255-byte text
  EXPECT_EQ(DecodeDefinition(ConvertOldDefinition(oldDef)).SaveName, std::string(255, 'x'));
}

// A file of a header and the given definitions (name, direction, save name).
struct DefFile {
  test::TempDrive drive;
  fs::path path = drive.Path() / "TablinkCdf.Def";
  DefinitionFile file;

  void Add(std::string name, std::int32_t vector, std::string saveName) {
    Definition d;
    d.BhtFile = std::move(name);
    d.Vector = vector;
    d.SaveName = std::move(saveName);
    ASSERT_TRUE(file.AppendRecord(EncodeDefinition(d)));
  }
};

TEST(DefinitionFileAccess, RecordsAreWrittenAppendedAndCutWhole) {
  DefFile f;
  ASSERT_TRUE(f.file.OpenReadWrite(f.path));  // made when missing
  EXPECT_EQ(f.file.RecordCount(), 0);
  Record header{};
  Put(header, 0, "Ver2.00");
  ASSERT_TRUE(f.file.AppendRecord(header));
  f.Add("A.DAT", kToPc, "a.txt");
  f.Add("B.DAT", kToPc, "b.txt");
  EXPECT_EQ(f.file.RecordCount(), 3);
  Record r;
  EXPECT_FALSE(f.file.WriteRecord(4, header)) << "no gap";
  Definition c;
  c.BhtFile = "C.DAT";
  ASSERT_TRUE(f.file.WriteRecord(1, EncodeDefinition(c)));
  ASSERT_TRUE(f.file.ReadRecord(1, r));
  EXPECT_EQ(DecodeDefinition(r).BhtFile, "C.DAT");

  ASSERT_TRUE(f.file.TruncateAfter(1));
  EXPECT_EQ(f.file.RecordCount(), 2);
  f.Add("D.DAT", kToPc, "d.txt");  // appended where the cut was
  ASSERT_TRUE(f.file.ReadRecord(2, r));
  EXPECT_EQ(DecodeDefinition(r).BhtFile, "D.DAT");
  ASSERT_TRUE(f.file.TruncateAfter(0));  // the only definitions gone: the header alone
  f.file.Close();
  EXPECT_EQ(FileBytes(f.path), std::string(header.begin(), header.end()));

  // Reopened, nothing is lost; read-only refuses every change; a partial
  // record at the end does not count.
  ASSERT_TRUE(f.file.OpenReadWrite(f.path));
  EXPECT_EQ(f.file.RecordCount(), 1);
  f.file.Close();
  std::ofstream(f.path, std::ios::binary | std::ios::app) << std::string(kRecordSize - 1, 'x');
  ASSERT_TRUE(f.file.OpenRead(f.path));
  EXPECT_EQ(f.file.RecordCount(), 1);
  EXPECT_FALSE(f.file.ReadRecord(1, r));
  EXPECT_FALSE(f.file.AppendRecord(header));
  EXPECT_FALSE(f.file.TruncateAfter(0));
  EXPECT_FALSE(f.file.OpenRead(f.drive.Path() / "missing.Def"));
}

TEST(DefinitionFileAccess, LookupTakesTheLowerRecordByDirection) {
  DefFile f;
  ASSERT_TRUE(f.file.OpenReadWrite(f.path));
  ASSERT_TRUE(f.file.AppendRecord(EncodeHeader({})));
  f.Add("A", kToPc, "a1");
  f.Add("B", kToBht, "b1");
  f.Add("A", kBothWays, "a2");
  f.Add("B", kBothWays, "b2");
  f.Add("C", kBothWays, "c1");
  f.Add("D", 3, "d1");  // no direction at all
  const std::int32_t entries = f.file.RecordCount() - 1;

  bool found = false;
  EXPECT_FALSE(FindForSend(f.file, entries, "A", &found)) << "stops at the receive-only record 1";
  EXPECT_TRUE(found);
  EXPECT_EQ(FindForSend(f.file, entries, "B", &found)->SaveName, "b1");
  EXPECT_EQ(FindForReceive(f.file, entries, "A")->SaveName, "a1");
  EXPECT_EQ(FindForReceive(f.file, entries, "B")->SaveName, "b2") << "skips the send-only record 2";
  EXPECT_FALSE(FindForSend(f.file, entries, "a", &found)) << "case counts";
  EXPECT_FALSE(found);
  EXPECT_FALSE(FindForSend(f.file, entries, "D", &found));
  EXPECT_TRUE(found);
  EXPECT_FALSE(FindForReceive(f.file, entries, "D"));
  EXPECT_FALSE(FindForReceive(f.file, 4, "C")) << "records past the entry count are not searched";
  EXPECT_EQ(FindForReceive(f.file, 40, "C")->SaveName, "c1") << "the file's end ends the search";
}

#ifndef _WIN32  // on Windows the drive is a real one
TEST(DefinitionFileLocation, PublicFolderOfTheWorkDriveOrTheProgramFolder) {
  test::TempDrive drive;
  test::MemoryRegistry registry;
  const auto setWork = [&](RegistryRoot root, std::string value) {
    registry.values[{root, std::string(kMachineKey), "WorkFolder"}] = std::move(value);
  };
  fs::path folder;
  EXPECT_EQ(LocateDefinitionFile(registry, &folder), ProgramFolder() / "TablinkCdf.Def") << "no Users/Public";
  EXPECT_EQ(folder, ProgramFolder());

  const fs::path pub = drive.Path() / "Users" / "Public";
  fs::create_directories(pub);
  setWork(RegistryRoot::LocalMachine, "");         // empty: as if absent
  setWork(RegistryRoot::CurrentUser, "/nowhere");  // only the machine's value counts
  EXPECT_EQ(LocateDefinitionFile(registry, &folder), pub / "Tessaly" / "TablinkCdf.Def");
  EXPECT_TRUE(fs::is_directory(pub / "Tessaly"));
  EXPECT_EQ(folder, pub / "Tessaly");

  const fs::path work = drive.Path() / "work";
  fs::create_directories(work / "Users" / "Public");
  std::ofstream(work / "Users" / "Public" / "Tessaly") << "a file in the way";
  setWork(RegistryRoot::LocalMachine, work.string());
  EXPECT_EQ(LocateDefinitionFile(registry, &folder), ProgramFolder() / "TablinkCdf.Def") << "Tessaly cannot be made";
  fs::remove(work / "Users" / "Public" / "Tessaly");
  EXPECT_EQ(LocateDefinitionFile(registry), work / "Users" / "Public" / "Tessaly" / "TablinkCdf.Def");

  registry.refuse = true;  // unreadable: the system drive again
  EXPECT_EQ(LocateDefinitionFile(registry), pub / "Tessaly" / "TablinkCdf.Def");
}
#endif

}  // namespace
}  // namespace pw::tablink
