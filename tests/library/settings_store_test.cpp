// The settings store: Tarnel.cnf byte for byte, the registry values it falls
// back on, the start-up check, the registry-only writes and the settings folder.
#include "library/settings_store.h"

#include "platform/codepage.h"
#include "tests/library/settings_fixture.h"

namespace pw {
namespace {

namespace fs = std::filesystem;
using Value = test::MemoryRegistry::Value;
using SettingsStoreTest = test::SettingsFixture;

TEST_F(SettingsStoreTest, FirstLineIsReadByBytePosition) {
  struct Case {
    std::string line;
    std::int32_t port, speed;
    bool flags;  // all six on, or all off
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
    EXPECT_EQ(v.ComName, "COM" + std::to_string(c.port)) << c.line;
    EXPECT_EQ(v.ComPort * 1000000 + v.ComSpeed, c.port * 1000000 + c.speed) << c.line;
    EXPECT_EQ(v.DspMode + v.RcvMode + v.WrMode + v.CsvRcvDat + v.DblQuoted + v.LastSpace, c.flags ? 6 : 0) << c.line;
  }
  // Lines missing at the end read as empty: every folder is the settings folder.
  EXPECT_EQ(v.DefRxFolder + v.DefTxFolder + v.LogFolder, folderText + folderText + folderText);
  EXPECT_EQ(v.LogEnable + v.Reserved.size(), 0u);
  fs::remove(store.FilePath());
  EXPECT_FALSE(store.ReadFile());
}

TEST_F(SettingsStoreTest, FolderLinesAndTheLogLine) {
  fs::create_directories(drive.Path() / PathFromUtf8("ログ"));
  const std::string log = Utf8FromPath(drive.Path() / PathFromUtf8("ログ"));  // CP932 in the file
  const std::string logAnsi = Utf8FromPath(drive.Path()) + kFolderSeparator + "\x83\x8D\x83\x4F";
  const std::string rx = "  " + std::string(300, 'r') + " ";
  WriteCnf("0100004608001110000\n" + rx + "\r\nTX\r12" + logAnsi + sep + "  \r\nany \x82\xA0 text");
  ASSERT_TRUE(store.ReadFile());
  EXPECT_EQ(v.DefRxFolder, std::string(254, 'r'));  // the first 256 bytes, trimmed; existence is not tested
  EXPECT_EQ(v.DefTxFolder, "TX");
  EXPECT_TRUE(v.LogEnable);
  EXPECT_EQ(v.LogFileMode, 2);
  EXPECT_EQ(v.LogFolder, log + sep);
  EXPECT_EQ(v.Reserved, "any \x82\xA0 text");

  for (const std::string& line : std::vector<std::string>{"12" + log + "missing", "1x" + log, "0" + log, "X2" + log}) {
    WriteCnf("0100004608001110000\r\n\r\n\r\n" + ToAnsi(line) + "\r\n00\r\n");
    ASSERT_TRUE(store.ReadFile());
    EXPECT_EQ(v.LogEnable, line[0] == '1') << line;
    EXPECT_EQ(v.LogFileMode, line[1] == '2' && v.LogEnable ? 2 : 1) << line;
    EXPECT_EQ(v.LogFolder, line[1] == 'x' ? log : folderText) << line;  // a missing folder: the settings folder
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
  EXPECT_EQ(boxes.shown[0].title + boxes.shown[0].text, "ファイル エラーフォルダまたはファイル名を変更してください。");
  EXPECT_EQ(boxes.shown[0].flags, 0x30u | 0x2000u | 0x10000u);
  EXPECT_EQ(v.ComPort, 123);
}

TEST_F(SettingsStoreTest, TheRegistryServesOnlyUntilTheFileIsWritten) {
  const std::string rx = folderText + sep + "..";
  for (const char* name :
       {"ComPort", "ComSpeed", "DspMode", "RcvMode", "WrMode", "CsvRcvDat", "DblQuoted", "LogEnable", "LogFileMode"})
    SetValue(name, std::uint32_t{0});
  SetValue("ComPort", 3u);
  SetValue("ComSpeed", 115200u);
  SetValue("WrMode", 1u);
  SetValue("CsvRcvDat", 1u);
  SetValue("DblQuoted", 7u);   // any value but 0 is on
  SetValue("LastSpace", "1");  // of the wrong type: off
  SetValue("DefRxFolder", rx);
  SetValue("DefTxFolder", rx + "/none");  // no such folder: the settings folder
  SetValue("LogEnable", 1u);
  SetValue("LogFolder", 5u);  // of the wrong type: the settings folder

  ASSERT_TRUE(store.LoadAndCheck());
  EXPECT_EQ(ReadCnf(), "0300001152000011100\r\n" + rx + "\r\n" + folderText + "\r\n10" + folderText + "\r\n00\r\n");
  EXPECT_EQ(v.ComName, "COM3");
  EXPECT_EQ(v.DefRxFolder + v.DefTxFolder, rx + sep + folderText + sep);
  SetValue("ComPort", 5u);  // seen no more: the file is read
  ASSERT_TRUE(store.LoadAndCheck());
  EXPECT_EQ(v.ComPort, 3);

  SetValue("ComPort", 0u);  // below 1: port 1
  store.ReadRegistry();
  EXPECT_EQ(v.ComName, "COM1");
  registry.values.clear();  // all missing: the defaults, and no port name until the check
  store.ReadRegistry();
  EXPECT_EQ(v.ComPort * 1000000 + v.ComSpeed, 1460800);
  EXPECT_EQ(v.ComName + v.DefRxFolder, folderText);
  EXPECT_TRUE(v.DspMode && !v.LogEnable);
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(SettingsStoreTest, TheCheckNamesTheFirstMissingFolder) {
  // Neither file nor registry: the folders stay empty, the file is written
  // with them, and the check stops at the receive folder (logging is off).
  registry.refuse = true;
  EXPECT_FALSE(store.LoadAndCheck());
  EXPECT_EQ(ReadCnf(), "0100004608001110000\r\n\r\n\r\n0\r\n00\r\n");
  EXPECT_EQ(boxes.shown[0].title, "PortwickA.exe通信");
  EXPECT_EQ(boxes.shown[0].flags, unsigned{kMbIconWarning});

  v.LogEnable = true;
  v.ComPort = 4;
  for (std::string* folder : {&v.LogFolder, &v.DefRxFolder, &v.DefTxFolder}) {
    EXPECT_FALSE(store.Check());
    *folder = "F";
  }
  EXPECT_TRUE(store.Check());
  EXPECT_EQ(Texts(), (std::vector<std::string>{
                         "受信デフォルトフォルダを設定してください。", "通信履歴保存フォルダを設定してください。",
                         "受信デフォルトフォルダを設定してください。", "送信デフォルトフォルダを設定してください。"}));
  EXPECT_EQ(v.LogFolder + v.DefRxFolder + v.DefTxFolder, "F" + sep + "F" + sep + "F" + sep);
  EXPECT_EQ(v.ComName, "COM4");
}

TEST_F(SettingsStoreTest, RegistryOnlyWritesAndWindowPositions) {
  const auto value = [&](std::string key, const char* name) {
    const auto it = registry.values.find({RegistryRoot::CurrentUser, key, name});
    return it == registry.values.end() ? std::optional<Value>() : it->second;
  };
  const std::string key(kPortwickKey);
  v.DspMode = false;
  v.LogFolder = "L";
  ASSERT_TRUE(store.SaveDspMode() && store.SaveLogSettings());
  EXPECT_EQ(value(key, "DspMode"), Value(0u));
  EXPECT_EQ(value(key, "LogEnable"), Value(0u));
  EXPECT_FALSE(value(key, "LogFolder"));  // only with logging on
  v.LogEnable = true;
  ASSERT_TRUE(store.SaveLogSettings());
  EXPECT_EQ(value(key, "LogFileMode"), Value(1u));
  EXPECT_EQ(value(key, "LogFolder"), Value("L"));
  EXPECT_FALSE(fs::exists(store.FilePath()));

  EXPECT_EQ(store.ReadWindowPos("COM2").x + store.ReadWindowPos("COM2").y, 2);
  ASSERT_TRUE(store.WriteWindowPos("COM2", {-5, 300}));
  EXPECT_EQ(value(key + "\\COM2", "DspX"), Value(static_cast<std::uint32_t>(-5)));
  EXPECT_EQ(store.ReadWindowPos("COM2").x * 1000 + store.ReadWindowPos("COM2").y, -4700);
  EXPECT_EQ(store.ReadWindowPos("COM1").x, 1);
}

#ifndef _WIN32  // on Windows the system drive is the real one
TEST(SettingsFolder, FoundOrMadeBelowTheSystemDrive) {
  test::TempDrive drive;
  test::RecordingBoxes boxes;
  const Alerts alerts(boxes, "Portwick.dll通信");
  EXPECT_FALSE(FindSettingsFolder(alerts));
  const fs::path pub = drive.Path() / "Users" / "Public";
  fs::create_directories(pub);
  EXPECT_EQ(FindSettingsFolder(alerts), pub / "Tessaly");
  EXPECT_EQ(FindSettingsFolder(alerts), pub / "Tessaly");
  fs::remove(pub / "Tessaly");
  fs::create_symlink(drive.Path() / "nowhere" / "x", pub / "Tessaly");  // cannot be made
  EXPECT_FALSE(FindSettingsFolder(alerts));
  ASSERT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(boxes.shown[0].text, "設定フォルダを取得できません！！");
  EXPECT_EQ(boxes.shown[1].text, "設定フォルダを作成できません！！");
  EXPECT_EQ(boxes.shown[1].title, "Portwick.dll通信");
  EXPECT_EQ(boxes.shown[1].flags, 0x10u | 0x10000u);
}
#endif

}  // namespace
}  // namespace pw
