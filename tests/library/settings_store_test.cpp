// The settings store: Tarnel.cnf byte for byte, the registry values it falls
// back on, the start-up check, the registry-only writes and the settings folder.
#include "library/settings_store.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "platform/codepage.h"
#include "tests/support/memory_registry.h"
#include "tests/support/recording_boxes.h"
#include "tests/support/temp_drive.h"

namespace pw {
namespace {

namespace fs = std::filesystem;
constexpr const char* kTitle = "Portwick.dll通信";
constexpr std::string_view kKey = "Software\\Orvale\\Lindra\\PortwickDll";
constexpr RegistryRoot kUser = RegistryRoot::CurrentUser;

class SettingsStoreTest : public ::testing::Test {
 protected:
  SettingsStoreTest() { fs::create_directories(folder); }

  void WriteCnf(const std::string& bytes) { std::ofstream(store.FilePath(), std::ios::binary) << bytes; }
  std::string ReadCnf() {
    std::ifstream in(store.FilePath(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  // An existing folder below the drive, as UTF-8 text.
  std::string MakeFolder(const std::string& name) {
    fs::create_directories(drive.Path() / PathFromUtf8(name));
    return Utf8FromPath(drive.Path() / PathFromUtf8(name));
  }

  test::TempDrive drive;
  fs::path folder = drive.Path() / "Users" / "Public" / "Tessaly";
  std::string folderText = Utf8FromPath(folder);
  test::MemoryRegistry registry;
  test::RecordingBoxes boxes;
  Alerts alerts{boxes, kTitle};
  SettingsStore store{folder, registry, alerts};
  Settings& v = store.Values();
};

TEST_F(SettingsStoreTest, FirstLineIsReadByBytePosition) {
  struct Case {
    std::string line;
    std::int32_t port, speed;
    bool flags;  // all six on
  } cases[] = {
      {"0300001152000000000", 3, 115200, false},
      {"0100004608001111111", 1, 460800, true},
      {"0900000096001111110", 9, 115200, true},  // every speed but 460800 reads as 115200
      {"1200004608001111110", 1, 460800, true},  // ports outside 1..9 read as 1
      {"0000004608001111110", 1, 460800, true},
      {" 2xxxxxxxxxx1111110", 1, 460800, true},   // numbers that cannot be read: the defaults
      {"019999999999111111", 1, 460800, true},    // a speed wider than 32 bits cannot be read
      {"010000460800", 1, 460800, false},         // 12 bytes: every flag off
      {"010000460800X2Y+-T1", 1, 460800, false},  // only "1" is on; position 19 is ignored
  };
  for (const Case& c : cases) {
    WriteCnf(c.line + "\r\n");
    ASSERT_TRUE(store.ReadFile()) << c.line;
    EXPECT_EQ(v.ComPort, c.port) << c.line;
    EXPECT_EQ(v.ComName, "COM" + std::to_string(c.port)) << c.line;
    EXPECT_EQ(v.ComSpeed, c.speed) << c.line;
    EXPECT_EQ(v.DspMode, c.flags) << c.line;
    EXPECT_EQ(v.RcvMode, c.flags ? 1 : 0) << c.line;
    EXPECT_EQ(v.WrMode, c.flags ? 1 : 0) << c.line;
    EXPECT_EQ(v.CsvRcvDat && v.DblQuoted && v.LastSpace, c.flags) << c.line;
    EXPECT_EQ(v.CsvRcvDat || v.DblQuoted || v.LastSpace, c.flags) << c.line;
  }
  // Lines missing at the end read as empty: every folder is the settings folder.
  EXPECT_EQ(v.DefRxFolder, folderText);
  EXPECT_EQ(v.DefTxFolder, folderText);
  EXPECT_FALSE(v.LogEnable);
  EXPECT_EQ(v.LogFolder, folderText);
  EXPECT_EQ(v.Reserved, "");
  fs::remove(store.FilePath());
  EXPECT_FALSE(store.ReadFile());
}

TEST_F(SettingsStoreTest, FolderLinesAndTheLogLine) {
  const std::string log = MakeFolder("ログ");  // CP932 in the file, UTF-8 in memory
  const std::string logAnsi = Utf8FromPath(drive.Path()) + kFolderSeparator + "\x83\x8D\x83\x4F";
  const std::string rx = "  " + std::string(300, 'r') + " ";
  WriteCnf("0100004608001110000\n" + rx + "\r\nTX\r12" + logAnsi + kFolderSeparator + "  \r\nany \x82\xA0 text");
  ASSERT_TRUE(store.ReadFile());
  EXPECT_EQ(v.DefRxFolder, std::string(254, 'r'));  // the first 256 bytes, trimmed; existence is not tested
  EXPECT_EQ(v.DefTxFolder, "TX");
  EXPECT_TRUE(v.LogEnable);
  EXPECT_EQ(v.LogFileMode, 2);
  EXPECT_EQ(v.LogFolder, log + kFolderSeparator);
  EXPECT_EQ(v.Reserved, "any \x82\xA0 text");

  for (const std::string& line :
       std::vector<std::string>{"12" + log + "missing", "1x" + log, "0" + log, "", "X2" + log}) {
    WriteCnf("0100004608001110000\r\n\r\n\r\n" + ToAnsi(line) + "\r\n00\r\n");
    ASSERT_TRUE(store.ReadFile());
    EXPECT_EQ(v.LogEnable, line[0] == '1') << line;
    EXPECT_EQ(v.LogFileMode, line == "12" + log + "missing" ? 2 : 1) << line;
    EXPECT_EQ(v.LogFolder, line[0] == '1' && line[1] == 'x' ? log : folderText) << line;
  }
}

TEST_F(SettingsStoreTest, WriteIsByteForByteAndKeepsTheFifthLine) {
  v.DefRxFolder = "RX";
  v.DefTxFolder = "送信";
  ASSERT_TRUE(store.WriteFile());
  EXPECT_EQ(ReadCnf(), "0100004608001110000\r\nRX\r\n\x91\x97\x90\x4D\r\n0\r\n00\r\n");  // the defaults

  const std::string file = "0300001152000101010\r\nA\\\r\nB\\\r\n10C\\\r\n \x82\xA0 kept  \r\n";
  WriteCnf(file);
  ASSERT_TRUE(store.ReadFile());
  v.LogFolder = "C\\";  // a folder the reader did not find
  ASSERT_TRUE(store.WriteFile());
  EXPECT_EQ(ReadCnf(), file);

  v.ComPort = 123;  // wider than its field: the high digits go
  v.ComSpeed = 12345678;
  v.RcvMode = 2;  // only 1 is written as "1"
  v.LogEnable = false;
  ASSERT_TRUE(store.WriteFile());
  EXPECT_EQ(ReadCnf(), "2300123456780001010\r\nA\\\r\nB\\\r\n0\r\n \x82\xA0 kept  \r\n");
  EXPECT_TRUE(boxes.shown.empty());

  // A file that cannot be created: the file error, and memory stays as it was.
  fs::remove(store.FilePath());
  fs::create_directory(store.FilePath());
  EXPECT_FALSE(store.WriteFile());
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].title, "ファイル エラー");
  EXPECT_EQ(boxes.shown[0].text, "フォルダまたはファイル名を変更してください。");
  EXPECT_EQ(boxes.shown[0].flags, 0x30u | 0x2000u | 0x10000u);
  EXPECT_EQ(v.ComPort, 123);
}

TEST_F(SettingsStoreTest, TheRegistryServesOnlyUntilTheFileIsWritten) {
  const std::string rx = MakeFolder("rx");
  const auto dword = [&](const char* name, std::uint32_t value) {
    registry.values[{kUser, std::string(kKey), name}] = value;
  };
  const auto text = [&](const char* name, std::string value) {
    registry.values[{kUser, std::string(kKey), name}] = value;
  };
  dword("ComPort", 3);
  dword("ComSpeed", 115200);
  dword("DspMode", 0);
  dword("RcvMode", 0);
  dword("WrMode", 1);
  dword("CsvRcvDat", 1);
  dword("DblQuoted", 7);   // any value but 0 is on
  text("LastSpace", "1");  // of the wrong type: off
  text("DefRxFolder", rx);
  text("DefTxFolder", rx + "missing");  // no such folder: the settings folder
  dword("LogEnable", 1);
  dword("LogFileMode", 0);
  dword("LogFolder", 5);  // of the wrong type: the settings folder

  ASSERT_TRUE(store.LoadAndCheck());
  EXPECT_EQ(ReadCnf(), "0300001152000011100\r\n" + rx + "\r\n" + folderText + "\r\n10" + folderText + "\r\n00\r\n");
  EXPECT_EQ(v.ComName, "COM3");
  EXPECT_FALSE(v.LastSpace);
  EXPECT_EQ(v.DefRxFolder, rx + kFolderSeparator);
  EXPECT_EQ(v.DefTxFolder, folderText + kFolderSeparator);
  EXPECT_EQ(v.LogFolder, folderText + kFolderSeparator);

  dword("ComPort", 5);  // seen no more: the file is read
  ASSERT_TRUE(store.LoadAndCheck());
  EXPECT_EQ(v.ComPort, 3);

  fs::remove(store.FilePath());
  dword("ComPort", 0);  // below 1: port 1; above 9 as it is
  store.ReadRegistry();
  EXPECT_EQ(v.ComPort, 1);
  dword("ComPort", 12);
  store.ReadRegistry();
  EXPECT_EQ(v.ComName, "COM12");
  registry.values.clear();  // all missing: the defaults, and no port name yet
  store.ReadRegistry();
  EXPECT_EQ(v.ComPort, 1);
  EXPECT_EQ(v.ComName, "");
  EXPECT_EQ(v.ComSpeed, 460800);
  EXPECT_TRUE(v.DspMode);
  EXPECT_EQ(v.DefRxFolder, folderText);
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(SettingsStoreTest, TheCheckNamesTheFirstMissingFolder) {
  // Neither file nor registry: the folders stay empty, the file is written
  // with them, and the check stops at the receive folder (logging is off).
  registry.refuse = true;
  EXPECT_FALSE(store.LoadAndCheck());
  EXPECT_EQ(ReadCnf(), "0100004608001110000\r\n\r\n\r\n0\r\n00\r\n");
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "受信デフォルトフォルダを設定してください。");
  EXPECT_EQ(boxes.shown[0].title, kTitle);
  EXPECT_EQ(boxes.shown[0].flags, unsigned{kMbIconWarning});

  boxes.shown.clear();
  v.LogEnable = true;
  v.ComPort = 4;
  EXPECT_FALSE(store.Check());
  v.LogFolder = "L";
  EXPECT_FALSE(store.Check());
  v.DefRxFolder = "R";
  EXPECT_FALSE(store.Check());
  v.DefTxFolder = "T" + std::string(1, kFolderSeparator);
  EXPECT_TRUE(store.Check());
  ASSERT_EQ(boxes.shown.size(), 3u);
  EXPECT_EQ(boxes.shown[0].text, "通信履歴保存フォルダを設定してください。");
  EXPECT_EQ(boxes.shown[1].text, "受信デフォルトフォルダを設定してください。");
  EXPECT_EQ(boxes.shown[2].text, "送信デフォルトフォルダを設定してください。");
  const std::string sep(1, kFolderSeparator);
  EXPECT_EQ(v.LogFolder + v.DefRxFolder + v.DefTxFolder, "L" + sep + "R" + sep + "T" + sep);
  EXPECT_EQ(v.ComName, "COM4");
}

TEST_F(SettingsStoreTest, RegistryOnlyWritesAndWindowPositions) {
  const auto value = [&](const std::string& key, const char* name) {
    const auto it = registry.values.find({kUser, key, name});
    return it == registry.values.end() ? std::optional<test::MemoryRegistry::Value>() : it->second;
  };
  const std::string key(kKey);
  v.DspMode = false;
  ASSERT_TRUE(store.SaveDspMode());
  EXPECT_EQ(value(key, "DspMode"), test::MemoryRegistry::Value(0u));
  v.LogFileMode = 2;
  v.LogFolder = "L";
  ASSERT_TRUE(store.SaveLogSettings());
  EXPECT_EQ(value(key, "LogEnable"), test::MemoryRegistry::Value(0u));
  EXPECT_FALSE(value(key, "LogFileMode"));  // only with logging on
  v.LogEnable = true;
  ASSERT_TRUE(store.SaveLogSettings());
  EXPECT_EQ(value(key, "LogEnable"), test::MemoryRegistry::Value(1u));
  EXPECT_EQ(value(key, "LogFileMode"), test::MemoryRegistry::Value(2u));
  EXPECT_EQ(value(key, "LogFolder"), test::MemoryRegistry::Value(std::string("L")));
  EXPECT_FALSE(fs::exists(store.FilePath()));

  EXPECT_EQ(store.ReadWindowPos("COM2").x, 1);
  EXPECT_EQ(store.ReadWindowPos("COM2").y, 1);
  ASSERT_TRUE(store.WriteWindowPos("COM2", {-5, 300}));
  EXPECT_EQ(value(key + "\\COM2", "DspX"), test::MemoryRegistry::Value(static_cast<std::uint32_t>(-5)));
  EXPECT_EQ(store.ReadWindowPos("COM2").x, -5);
  EXPECT_EQ(store.ReadWindowPos("COM2").y, 300);
  EXPECT_EQ(store.ReadWindowPos("COM1").x, 1);
}

#ifndef _WIN32  // on Windows the system drive is the real one
TEST(SettingsFolder, FoundOrMadeBelowTheSystemDrive) {
  test::TempDrive drive;
  test::RecordingBoxes boxes;
  const Alerts alerts(boxes, kTitle);
  EXPECT_FALSE(FindSettingsFolder(alerts));
  const fs::path pub = drive.Path() / "Users" / "Public";
  fs::create_directories(pub);
  EXPECT_EQ(FindSettingsFolder(alerts), pub / "Tessaly");
  EXPECT_TRUE(fs::is_directory(pub / "Tessaly"));
  EXPECT_EQ(FindSettingsFolder(alerts), pub / "Tessaly");
  fs::remove(pub / "Tessaly");
  fs::create_symlink(drive.Path() / "nowhere" / "x", pub / "Tessaly");  // cannot be made
  EXPECT_FALSE(FindSettingsFolder(alerts));
  ASSERT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(boxes.shown[1].text, "設定フォルダを作成できません！！");
  EXPECT_EQ(boxes.shown[0].text, "設定フォルダを取得できません！！");
  EXPECT_EQ(boxes.shown[0].title, kTitle);
  EXPECT_EQ(boxes.shown[0].flags, 0x10u | 0x10000u);
}
#endif

}  // namespace
}  // namespace pw
