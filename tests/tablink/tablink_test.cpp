// Tablink's start-up: each refusal with its message, in the order the checks
// run, the port's own boxes, and what a started program shows and is given.
#include "tablink/tablink.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/codepage.h"
#include "tests/support/idle_device.h"
#include "tests/support/memory_registry.h"
#include "tests/support/recording_boxes.h"
#include "tests/support/temp_drive.h"
#include "tests/support/virtual_clock.h"

namespace pw::tablink {
namespace {

namespace fs = std::filesystem;

class TablinkStartUp : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(folder);
    header.VerStr = "Ver2.00";
    header.DataSource = ToAnsi(folder.string());
    header.ComSpeed = 115200;
  }
  void Write(int definitions = 1) {
    std::string bytes;
    const auto add = [&bytes](const Record& r) { bytes.append(reinterpret_cast<const char*>(r.data()), r.size()); };
    add(EncodeHeader(header));
    Definition d;
    d.BhtFile = "A.DAT";
    for (int i = 0; i < definitions; ++i) add(EncodeDefinition(d));
    std::ofstream(file, std::ios::binary) << bytes;
  }
  /// The start-up's result, and the boxes it showed as "title: text".
  std::optional<int> Run() {
    boxes.shown.clear();
    app = std::make_unique<Tablink>(Tablink::Parts{.alerts = alerts,
                                                   .registry = registry,
                                                   .clock = clock,
                                                   .open = [this](std::string_view name) { return Open(name); },
                                                   .osVersion = [] { return OsVersion{true, 6, 1}; },
                                                   .alreadyRunning = {},
                                                   .definitions = file,
                                                   .connect = {},
                                                   .adoObjects = {}});
    return app->StartUp();
  }
  std::unique_ptr<SerialDevice> Open(std::string_view name) {
    opened = std::string(name);
    if (refuseOpen) return nullptr;
    auto d = std::make_unique<FailingDevice>();
    d->failQueues = failQueues;
    return d;
  }
  std::string Boxes() const {
    std::string all;
    for (const auto& b : boxes.shown) all += b.title + ": " + b.text + "\n";
    return all;
  }

  struct FailingDevice : test::IdleDevice {
    bool SetQueueSizes(std::uint32_t, std::uint32_t) override { return !failQueues; }
    bool failQueues = false;
  };

  test::TempDrive drive;
  const fs::path file = drive.Path() / "TablinkCdf.Def", folder = drive.Path() / "text";
  DefinitionHeader header;
  test::RecordingBoxes boxes;
  const Alerts alerts{boxes, "Tablink通信"};
  test::MemoryRegistry registry;
  test::VirtualClock clock;
  std::unique_ptr<Tablink> app;
  std::string opened;
  bool refuseOpen = false, failQueues = false;
};

TEST_F(TablinkStartUp, RefusesWithEachMessageInTurn) {
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Boxes(), "Tablink通信: 設定ファイルがありません！！\r\n転送ファイル設定をしてください。\n");
  Write(0);  // the header alone: valid for the editor, not for the server
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Boxes(), "Tablink通信: 設定データがありません！！\r\n転送ファイル設定をしてください。\n");
  header.VerStr = "Ver1.00";
  Write();
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Boxes(), "Tablink通信: 古いバージョンの設定です。\r\n設定を更新してください。\n");
  header.VerStr = "Ver2.00 and more";  // seven characters are compared
  header.DataSource = ToAnsi((drive.Path() / "none").string());
  Write();
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Boxes(), "Tablink通信: " + (drive.Path() / "none").string() + "\r\n設定フォルダがありません。\n");
  header.SaveType = kSaveExcel;
  header.DataSource = ToAnsi((folder / "book.xlsx").string());
  Write();
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Boxes(), "Tablink通信: book.xlsx\r\n設定データソースが存在しません。\n");
  header.SaveType = kSaveText;
  header.DataSource.clear();
  Write();
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Boxes(), "Tablink通信: 保存フォルダの設定がありません。\n");
}

TEST_F(TablinkStartUp, ThePortsFailuresShowTheirOwnBoxThenTheOpenFailure) {
  header.ComPort = 2;
  Write();
  refuseOpen = true;
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(opened, "COM3");
  EXPECT_EQ(Boxes(),
            "通信ポートエラー: COM3 は既に使用されているか\r\n使用不可の状態です。\n"
            "Tablink通信: 通信ポート COM3 をオープンできません。\r\n通信ポートの動作を確認してください。\n");
  refuseOpen = false;
  failQueues = true;
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Boxes(),
            "通信設定: 通信バッファ容量設定失敗\n"
            "Tablink通信: 通信ポート COM3 をオープンできません。\r\n通信ポートの動作を確認してください。\n");
}

TEST_F(TablinkStartUp, AStartedServerIsGivenItsSettings) {
  header.ComSpeed = 12345;
  header.WriteMode = 0;
  header.LogFileMode = 1;
  header.SaveLog = true;
  header.HideForm = true;
  Write();
  clock.SetNow({2026, 1, 8, 9, 30, 0});
  ASSERT_EQ(Run(), std::nullopt) << Boxes();
  EXPECT_EQ(app->Caption(), "Tablink通信 COM1 ####") << "an odd speed is still used";
  EXPECT_FALSE(app->DspFlag);
  const ServerSettings& s = app->Settings();
  EXPECT_EQ(s.LogFile.filename(), "TlnkExeCOM1_2026_01.log");
  EXPECT_EQ(s.LogFile.parent_path(), app->WorkFolder().parent_path()) << "no log folder: the work folder";
  EXPECT_EQ(s.Store.DsFolder, folder / "");
  EXPECT_FALSE(s.Store.Append);
  EXPECT_TRUE(s.SaveLog);
  EXPECT_EQ(SpeedText(460800), " 460.8k");

  // The position is stored per port, and only while the window is shown.
  app->FormClose(Tablink::Position{30, 40});
  EXPECT_FALSE(registry.ReadDword(RegistryRoot::CurrentUser, "Software\\Orvale\\Lindra\\TablinkExe\\COM1", "DspX"));
  ASSERT_EQ(Run(), std::nullopt);
  app->DspFlag = true;
  app->FormClose(Tablink::Position{30, 40});
  EXPECT_EQ(app->StoredPosition().x, 30);
  EXPECT_EQ(app->StoredPosition().y, 40);
}

TEST_F(TablinkStartUp, DataObjectsThatCannotBeMadeEndTheProgramWithTheMdacMessage) {
  int missing = 0;
  Tablink window(Tablink::Parts{.alerts = alerts,
                                .registry = registry,
                                .clock = clock,
                                .open = {},
                                .osVersion = {},
                                .alreadyRunning = {},
                                .definitions = {},
                                .connect = {},
                                .adoObjects = [&missing] { return missing; }});
  EXPECT_TRUE(window.CreateDataObjects());
  missing = 1;
  EXPECT_FALSE(window.CreateDataObjects());
  missing = 2;
  EXPECT_FALSE(window.CreateDataObjects());
  EXPECT_EQ(Boxes(),
            "MDACエラー: Microfoft Data Access Components(MDAC)がありません。\n"
            "MDACエラー: Microfoft Data Access Components(MDAC)がエラーです。\n");
}

}  // namespace
}  // namespace pw::tablink
