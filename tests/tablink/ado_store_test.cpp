// The ADO store as far as it can run without the Jet and ACE providers (Wine
// has neither): the connection texts and the provider rule, the objects made
// on any thread, and a data source that cannot be opened, alone and through
// the program's start.
#include "tablink/stores/ado_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/codepage.h"
#include "tablink/stores/data_source.h"
#include "tablink/tablink.h"
#include "tests/support/idle_device.h"
#include "tests/support/memory_registry.h"
#include "tests/support/recording_boxes.h"
#include "tests/support/temp_drive.h"
#include "tests/support/virtual_clock.h"

namespace pw::tablink {
namespace {

namespace fs = std::filesystem;

std::string Utf8(const fs::path& p) {
  const std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

TEST(AdoStore, ConnectionTextsFollowTheExtension) {
  EXPECT_EQ(AdoConnectionString("C:\\Data\\Book1.xls"),
            "Data Source=C:\\Data\\Book1.xls;Extended Properties=Excel 8.0;Persist Security Info=False");
  EXPECT_EQ(AdoConnectionString("C:\\Data\\在庫.XLSX"),
            "Data Source=C:\\Data\\在庫.XLSX;Extended Properties=Excel 8.0;Persist Security Info=False");
  EXPECT_EQ(AdoConnectionString("C:\\Data\\Stock.mdb"),
            "Data Source=C:\\Data\\Stock.mdb;Persist Security Info=False;User ID=Admin");
  EXPECT_EQ(AdoConnectionString("D:/db.xls/Stock.Accdb"),
            "Data Source=D:/db.xls/Stock.Accdb;Persist Security Info=False;User ID=Admin")
      << "a folder's extension does not count";
  EXPECT_EQ(AdoConnectionString("Stock.mde"), "Data Source=Stock.mde;Persist Security Info=False;User ID=Admin");
}

TEST(AdoStore, TheNewFormatsTakeAceAndEverythingElseJet) {
  for (const char* path : {"C:\\Data\\Book1.xlsx", "Book1.XLSX", "C:\\db\\Stock.accdb", "Stock.AcCdB"})
    EXPECT_EQ(AdoProvider(path), "Microsoft.ACE.OLEDB.12.0") << path;
  for (const char* path : {"C:\\Data\\Book1.xls", "Stock.MDB", "Stock.mde", "Stock", "C:\\x.xlsx\\Stock.mdb",
                           "Book1.xlsx.bak", ".xlsx"})
    EXPECT_EQ(AdoProvider(path), "Microsoft.Jet.OLEDB.4.0") << path;
}

TEST(AdoStore, TheObjectsCanBeMadeOnTheWindowsThreadAndTheWorkers) {
  EXPECT_EQ(AdoObjectsAvailable(), 0);
  int onWorker = -1;
  std::thread([&onWorker] { onWorker = AdoObjectsAvailable(); }).join();
  EXPECT_EQ(onWorker, 0);
}

class AdoStoreFiles : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(folder); }
  fs::path Touch(const std::string& name) {
    const fs::path p = folder / fs::path(std::u8string(name.begin(), name.end()));
    std::ofstream(p, std::ios::binary) << "not a workbook";
    return p;
  }

  test::TempDrive drive;
  const fs::path folder = drive.Path() / "data";
};

TEST_F(AdoStoreFiles, ADataSourceThatCannotBeOpenedGivesNothingAndItsReason) {
  const struct {
    const char* name;
    std::int32_t type;
  } sources[] = {{"Book1.xls", kSaveExcel}, {"Book1.xlsx", kSaveExcel}, {"在庫.mdb", kSaveAccess},
                 {"Stock.accdb", kSaveAccess}};
  for (const auto& source : sources) {
    const std::string path = Utf8(Touch(source.name));
    // Again and again, and from a second thread, as the worker would.
    for (int i = 0; i < 3; ++i) {
      std::string why;
      EXPECT_EQ(OpenAdo(source.type, path, why), nullptr) << path;
      EXPECT_TRUE(why.starts_with("the data source cannot be opened: ")) << why;
      EXPECT_NE(why.find("0x"), std::string::npos) << "the code is kept: " << why;
    }
    std::string why;
    std::thread([&] { EXPECT_EQ(ConnectDataSource(source.type, path, why), nullptr); }).join();
    EXPECT_TRUE(why.starts_with("the data source cannot be opened: ")) << why;
  }
}

TEST_F(AdoStoreFiles, TheProgramShowsTheConnectionMessageAndEndsCleanly) {
  const fs::path book = Touch("Book1.xls"), definitions = drive.Path() / "TablinkCdf.Def";
  DefinitionHeader header;
  header.VerStr = "Ver2.00";
  header.SaveType = kSaveExcel;
  header.DataSource = ToAnsi(Utf8(book));
  header.ComSpeed = 115200;
  Definition d;
  d.BhtFile = "A.DAT";
  const Record h = EncodeHeader(header), r = EncodeDefinition(d);
  std::ofstream(definitions, std::ios::binary)
      .write(reinterpret_cast<const char*>(h.data()), static_cast<std::streamsize>(h.size()))
      .write(reinterpret_cast<const char*>(r.data()), static_cast<std::streamsize>(r.size()));

  test::RecordingBoxes boxes;
  const Alerts alerts{boxes, "Tablink通信"};
  test::MemoryRegistry registry;
  test::VirtualClock clock;
  std::string why;
  Tablink app(Tablink::Parts{
      .alerts = alerts,
      .registry = registry,
      .clock = clock,
      .open = [](std::string_view) { return std::make_unique<test::IdleDevice>(); },
      .osVersion = [] { return OsVersion{true, 6, 1}; },
      .alreadyRunning = {},
      .definitions = definitions,
      .connect = [&why](std::int32_t type, const std::string& path) { return ConnectDataSource(type, path, why); },
      .adoObjects = AdoObjectsAvailable});

  ASSERT_TRUE(app.CreateDataObjects());
  ASSERT_EQ(app.StartUp(), std::nullopt);
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_FALSE(app.Connect());
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].title, "Tablink通信");
  EXPECT_EQ(boxes.shown[0].text, "Excelﾃﾞｰﾀｿｰｽへの接続に失敗しました。\r\nﾃﾞｰﾀｿｰｽを確認してください。");
  EXPECT_TRUE(why.starts_with("the data source cannot be opened")) << why;
  EXPECT_EQ(app.Connection(), nullptr);
  app.FormClose(std::nullopt);
}

}  // namespace
}  // namespace pw::tablink
