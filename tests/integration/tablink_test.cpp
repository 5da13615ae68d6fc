// The tablink server on a pseudo-terminal against the terminal simulator
// over linesim: received data files stored in each text layout byte for
// byte, requests served from comma-separated and fixed-length files, the
// failures logged with their codes and each followed by the next transfer,
// a second instance refused at the port, and SIGTERM while waiting and
// during a transfer.
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/codepage.h"
#include "tablink/definition_file.h"
#include "tablink/result_texts.h"
#include "tests/integration/peer_process.h"
#include "tests/support/temp_drive.h"

namespace pw {
namespace {

namespace fs = std::filesystem;
using namespace tablink;
using test::ReadWholeFile;
using test::WriteWholeFile;

Definition Def(const std::string& name, std::int32_t vector, const std::string& saveName, std::int32_t delimiter,
               std::vector<std::int32_t> map = {}, const std::string& widths = "", const std::string& lastSpace = "0") {
  Definition d;
  d.BhtFile = name;
  d.Vector = vector;
  d.SaveName = saveName;
  d.FieldCount = static_cast<std::int32_t>(map.size());
  for (std::size_t i = 0; i < map.size(); ++i) d.FieldMap[i] = map[i];
  d.FieldWidths = widths;
  d.Delimiter = delimiter;
  d.LastSpace = lastSpace;
  return d;
}

class TablinkProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    test::SetEnv("TMPDIR", drive.Path().string());
    for (const fs::path& p : {drive.Path() / "dosdevices", tessaly, pc, logs, bhtDir}) fs::create_directories(p);
    line = Start({PW_LINESIM_PATH, "--link-a", com1.string(), "--link-b", bht.string(), "--speed", "0"});
    ASSERT_TRUE(test::WaitForPath(com1, 5000) && test::WaitForPath(bht, 5000)) << "linesim made no line";
  }
  void TearDown() override { test::SetEnv("TMPDIR", ""); }

  std::unique_ptr<test::PeerProcess> Start(std::vector<std::string> argv, const fs::path& out = {},
                                           const fs::path& err = {}) {
    for (const fs::path& f : {out, err})
      if (!f.empty() && !fs::exists(f)) WriteWholeFile(f, "");
    return std::make_unique<test::PeerProcess>(test::PeerOptions{argv, {}, out, err});
  }

  /// The working definition file: COM1 at 115200 bit/s, text files in pc/,
  /// a log a month in logs/, and \p defs.
  void Definitions(const std::vector<Definition>& defs, std::int32_t saveType = kSaveText,
                   std::int32_t writeMode = 1, const fs::path& dataSource = {}) {
    DefinitionHeader h;
    h.VerStr = std::string(kVersionMarker);
    h.SaveType = saveType;
    h.DataSource = ToAnsi((dataSource.empty() ? pc : dataSource).string());
    h.ComPort = 0;
    h.ComSpeed = 115200;
    h.WriteMode = writeMode;
    h.SaveLog = true;
    h.LogFileMode = 1;
    h.LogFolder = ToAnsi(logs.string());
    std::string bytes;
    const auto add = [&bytes](const Record& r) { bytes.append(reinterpret_cast<const char*>(r.data()), r.size()); };
    add(EncodeHeader(h));
    for (const Definition& d : defs) add(EncodeDefinition(d));
    WriteWholeFile(tessaly / std::string(kDefinitionFileName), bytes);
  }

  /// Starts the server; returns once it asks the terminal for a file.
  void Serve() {
    server = Start({PW_TABLINK_PATH}, out, err);
    ASSERT_TRUE(Within10s([&] { return ReadWholeFile(err).find("COM1 115.2k") != std::string::npos; })) << Said();
  }
  /// The terminal sends \p data as \p as behind a field file of \p fields
  /// (none when empty) and ends; its exit code.
  int TerminalSends(const std::string& as, const std::string& data, const std::string& fields,
                    std::vector<std::string> more = {}) {
    WriteWholeFile(drive.Path() / "src", data);
    std::vector<std::string> args = {PW_BHTSIM_PATH, "send", "--file", (drive.Path() / "src").string(), "--as", as,
                                     "--port", bht.string(), "--log", bhtLog.string()};
    if (!fields.empty()) args.insert(args.end(), {"--fields", fields});
    args.insert(args.end(), more.begin(), more.end());
    return RunTerminal(args);
  }
  /// The terminal asks for \p name; its exit code.
  int TerminalRequests(const std::string& name, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {PW_BHTSIM_PATH, "request", name, "--dir", bhtDir.string(),
                                     "--port", bht.string(), "--log", bhtLog.string()};
    args.insert(args.end(), more.begin(), more.end());
    return RunTerminal(args);
  }
  int RunTerminal(const std::vector<std::string>& args) {
    bhtsim = Start(args);
    EXPECT_TRUE(bhtsim->WaitExit(30000)) << Said();
    return bhtsim->ExitCode();
  }
  /// Waits until standard output has \p lines lines.
  bool Printed(std::size_t lines) {
    return Within10s([&] {
      const std::string s = ReadWholeFile(out);
      return static_cast<std::size_t>(std::count(s.begin(), s.end(), '\n')) >= lines;
    });
  }
  std::string Said() const {
    return "\ntablink out: " + ReadWholeFile(out) + "\ntablink err: " + ReadWholeFile(err) + "\nbhtsim log:\n" +
           ReadWholeFile(bhtLog);
  }
  std::string Log() const {
    std::string all;
    for (const auto& e : fs::directory_iterator(logs)) all += ReadWholeFile(e.path());
    return FromAnsi(all);
  }
  static bool Within10s(const std::function<bool()>& ready) {
    for (int i = 0; i < 2000 && !ready(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return ready();
  }
  /// Runs \p script with Debian's python3 (where openpyxl lives); what it printed.
  static std::string Python(const std::string& script) {
    const std::string python = fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    FILE* p = popen((python + " -c '" + script + "' 2>&1").c_str(), "r");
    std::string out;
    char buf[4096];
    for (std::size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    if (p) pclose(p);
    return out;
  }
  int Terminate() {
    kill(server->Pid(), SIGTERM);
    EXPECT_TRUE(server->WaitExit(10000)) << Said();
    return server->ExitCode();
  }

  test::TempDrive drive;
  const fs::path com1 = drive.Path() / "dosdevices" / "com1", bht = drive.Path() / "bht";
  const fs::path tessaly = drive.Path() / "Users" / "Public" / "Tessaly";
  const fs::path pc = drive.Path() / "pc", logs = drive.Path() / "logs";
  const fs::path bhtDir = drive.Path() / "bhtdir", bhtLog = drive.Path() / "bhtsim.log";
  const fs::path out = drive.Path() / "out", err = drive.Path() / "err";
  std::unique_ptr<test::PeerProcess> line, bhtsim, server;  // ended in reverse order
};

std::string Today() {
  const std::time_t t = std::time(nullptr);
  char s[8];
  std::strftime(s, sizeof s, "%y%m%d", std::localtime(&t));
  return s;
}

TEST_F(TablinkProgram, StoresReceivedRecordsInEachTextLayout) {
  Definitions({Def("FIX.DAT", kToPc, "FIX.TXT", 0),
               Def("CSV.DAT", kBothWays, "DATA_YYMMDD.CSV", 1, {0, 1, 2}, "8 9 3"),
               Def("TAB.DAT", kToPc, "TAB.TXT", 2, {0, 1}, "", "1")});
  Serve();

  EXPECT_EQ(TerminalSends("FIX.DAT", "AB   12\r\nCD   34\r\n", "5,2"), 0) << Said();
  EXPECT_EQ(TerminalSends("CSV.DAT", "AB      " "  0012.50" "x  \r\n" "a\"b     " "abc      " "   \r\n", "8,9,3"), 0)
      << Said();
  EXPECT_EQ(TerminalSends("TAB.DAT", "AB      -0.5 \r\n", "8,5"), 0) << Said();
  // Appended: the same file twice gives the lines of both.
  EXPECT_EQ(TerminalSends("FIX.DAT", "EF   56\r\n", "5,2"), 0) << Said();
  ASSERT_TRUE(Printed(4)) << Said();

  EXPECT_EQ(ReadWholeFile(pc / "FIX.TXT"), "AB   12\r\nCD   34\r\nEF   56\r\n");
  EXPECT_EQ(ReadWholeFile(pc / ("DATA_" + Today() + ".CSV")), "\"AB\",12.5,x\r\n\"a\"\"b\",0,\r\n");
  EXPECT_EQ(ReadWholeFile(pc / "TAB.TXT"), "\"AB      \"\t-0.5\r\n") << "LastSpace 1 keeps the blanks";
  EXPECT_NE(Log().find("FIX.DAT       2件"), std::string::npos) << Log();
  EXPECT_NE(ReadWholeFile(out).find(" receive CSV.DAT 2 records: result 0 正常終了\n"), std::string::npos) << Said();
  EXPECT_EQ(Terminate(), 0) << Said();
}

TEST_F(TablinkProgram, SaveType3MarksEveryLineAndOverwriteReplacesTheFile) {
  Definitions({Def("FIX.DAT", kToPc, "FIX.TXT", 0), Def("TAB.DAT", kToPc, "TAB.TXT", 2, {0, 2})}, kSaveTextFlag, 0);
  WriteWholeFile(pc / "TAB.TXT", "an older file\r\n");
  Serve();

  EXPECT_EQ(TerminalSends("FIX.DAT", "AB   12\r\n", "5,2"), 0) << Said();
  EXPECT_EQ(TerminalSends("TAB.DAT", "AB   12\r\n", "5,2"), 0) << Said();
  ASSERT_TRUE(Printed(2)) << Said();
  EXPECT_EQ(ReadWholeFile(pc / "FIX.TXT"), "AB   120\r\n");
  EXPECT_EQ(ReadWholeFile(pc / "TAB.TXT"), "\"AB\"\t12,0\r\n");
  EXPECT_EQ(Terminate(), 0) << Said();
}

TEST_F(TablinkProgram, ServesRequestsFromCommaAndFixedLengthFiles) {
  Definitions({Def("ITEM.DAT", kToBht, "ITEM.CSV", 1, {1, 0}, "5 4"),
               Def("FIX.DAT", kBothWays, "FIX.TXT", 0, {0, 0}, "3 2")});
  WriteWholeFile(pc / "ITEM.CSV", "+12,AB\r\n12,\"C,D\"\r\n");
  WriteWholeFile(pc / "FIX.TXT", "abc12\r\nxyz34\r\n");
  Serve();

  EXPECT_EQ(TerminalRequests("ITEM.DAT"), 0) << Said();
  EXPECT_EQ(ReadWholeFile(bhtDir / "ITEM.DAT"), "+0012AB  \r\n00012C,D \r\n");
  EXPECT_EQ(ReadWholeFile(bhtDir / "ITEM.FLD"),
            "* created by BHT\r\nfile\tITEM.DAT\r\nsize\t22\r\nrecords\t2\r\nfields\t5 4\r\n");
  EXPECT_EQ(TerminalRequests("FIX.DAT"), 0) << Said();
  EXPECT_EQ(ReadWholeFile(bhtDir / "FIX.DAT"), "abc12\r\nxyz34\r\n");
  ASSERT_TRUE(Printed(2)) << Said();
  EXPECT_NE(ReadWholeFile(out).find(" send ITEM.DAT 2 records: result 0 正常終了\n"), std::string::npos) << Said();
  EXPECT_EQ(Terminate(), 0) << Said();
}

TEST_F(TablinkProgram, FailuresAreLoggedAndTheServerWaitsAgain) {
  Definitions({Def("IN.DAT", kToPc, "IN.TXT", 0), Def("NOFLD.DAT", kToBht, "IN.TXT", 0),
               Def("EMPTY.DAT", kToBht, "EMPTY.TXT", 1, {0}, "4")});
  WriteWholeFile(pc / "EMPTY.TXT", "");
  Serve();

  EXPECT_EQ(TerminalSends("OTHER.DAT", "AB\r\n", "2", {"--expect-cancel"}), 0) << Said();  // 21
  EXPECT_EQ(TerminalRequests("IN.DAT", {"--expect-cancel"}), 0) << Said();                  // 22
  EXPECT_EQ(TerminalRequests("NOFLD.DAT", {"--expect-cancel"}), 0) << Said();               // 23
  EXPECT_EQ(TerminalRequests("EMPTY.DAT", {"--expect-cancel"}), 0) << Said();               // 9
  // A data file without its field file: NAK ten times, then 14.
  EXPECT_EQ(TerminalSends("IN.DAT", "AB\r\n", "", {"--expect-cancel"}), 0) << Said();
  // And a file that is registered still goes in.
  EXPECT_EQ(TerminalSends("IN.DAT", "AB\r\n", "2"), 0) << Said();
  ASSERT_TRUE(Printed(6)) << Said();
  const std::string log = Log();
  std::size_t at = 0;
  for (const std::int32_t c : {21, 22, 23, 9, 14, 0}) {
    at = log.find(std::string(ResultText(c)), at);
    EXPECT_NE(at, std::string::npos) << "code " << c << " in\n" << log;
  }
  EXPECT_EQ(ReadWholeFile(pc / "IN.TXT"), "AB\r\n");
  EXPECT_EQ(Terminate(), 0) << Said();
}

TEST_F(TablinkProgram, ASecondInstanceFailsAtThePortAndSigtermEndsTheFirst) {
  Definitions({Def("BIG.DAT", kToPc, "BIG.TXT", 0)});
  Serve();
  const fs::path err2 = drive.Path() / "err2";
  auto second = Start({PW_TABLINK_PATH}, drive.Path() / "out2", err2);
  ASSERT_TRUE(second->WaitExit(10000));
  EXPECT_EQ(second->ExitCode(), 1);
  EXPECT_EQ(ReadWholeFile(err2),
            "通信ポートエラー: COM1 は既に使用されているか 使用不可の状態です。\n"
            "Tablink通信: 通信ポート COM1 をオープンできません。 通信ポートの動作を確認してください。\n");

  // SIGTERM during a transfer: cancelled on the line (2), then the end.
  std::string big;
  for (int i = 0; i < 4000; ++i) big += "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdefghijklmnopqrstuvwxyz\r\n";
  WriteWholeFile(drive.Path() / "src", big);
  bhtsim = Start({PW_BHTSIM_PATH, "send", "--file", (drive.Path() / "src").string(), "--as", "BIG.DAT", "--fields",
                  "72", "--port", bht.string(), "--log", bhtLog.string(), "--stretch", "2:3000", "--expect-cancel"});
  ASSERT_TRUE(Within10s([&] { return ReadWholeFile(bhtLog).find("block 2") != std::string::npos; })) << Said();
  EXPECT_EQ(Terminate(), 0) << Said();
  EXPECT_TRUE(bhtsim->WaitExit(10000));
  EXPECT_EQ(bhtsim->ExitCode(), 0) << "the terminal saw the cancel" << Said();
  EXPECT_NE(Log().find(std::string(ResultText(2))), std::string::npos) << Log();
  EXPECT_FALSE(fs::exists(pc / "BIG.TXT"));
}

// Records of a code and a name, as the terminal sends them and as a request
// gives them back.
const std::string kItems = "00123Apple     \r\n00456Banana    \r\n";

TEST_F(TablinkProgram, ReceivesIntoAndServesFromAWorkbookSheet) {
  const fs::path book = pc / "book.xlsx";
  ASSERT_EQ(Python("import openpyxl\nwb = openpyxl.Workbook()\nws = wb.active\nws.title = \"ITEMS\"\n"
                   "ws.append([\"CODE\", \"NAME\"])\nws.append([\"00001\", \"old\"])\n"
                   "wb.create_sheet(\"Other\").append([\"kept\"])\nwb.save(\"" + book.string() + "\")\n"),
            "")
      << "python3-openpyxl is needed";
  Definitions({Def("ITEM.DAT", kBothWays, "ITEMS", 0, {1, 2}, "5 10")}, kSaveExcel, 0, book);
  Serve();

  EXPECT_EQ(TerminalSends("ITEM.DAT", kItems, "5,10"), 0) << Said();
  ASSERT_TRUE(Printed(1)) << Said();
  EXPECT_EQ(Python("import openpyxl\nwb = openpyxl.load_workbook(\"" + book.string() + "\")\n"
                   "print([[c.value for c in r] for r in wb[\"ITEMS\"].iter_rows()], wb[\"Other\"][\"A1\"].value)"),
            "[[\'CODE\', \'NAME\'], [\'00123\', \'Apple\'], [\'00456\', \'Banana\']] kept\n")
      << "the rows replaced, codes kept as text, the other sheet untouched";
  EXPECT_EQ(TerminalRequests("ITEM.DAT"), 0) << Said();
  EXPECT_EQ(ReadWholeFile(bhtDir / "ITEM.DAT"), kItems);
  EXPECT_EQ(Terminate(), 0) << Said();
}

TEST_F(TablinkProgram, ReceivesIntoAndServesFromASqliteTable) {
  const fs::path db = pc / "items.db";
  ASSERT_EQ(Python("import sqlite3\nc = sqlite3.connect(\"" + db.string() + "\")\n"
                   "c.execute(\"create table ITEMS (CODE text, NAME text)\")\n"
                   "c.execute(\"insert into ITEMS values (\\x27X\\x27, \\x27old\\x27)\")\nc.commit()\n"),
            "");
  Definitions({Def("ITEM.DAT", kBothWays, "ITEMS", 0, {1, 2}, "5 10")}, kSaveAccess, 1, db);
  Serve();

  EXPECT_EQ(TerminalSends("ITEM.DAT", kItems, "5,10"), 0) << Said();
  ASSERT_TRUE(Printed(1)) << Said();
  EXPECT_EQ(Python("import sqlite3\nprint(sqlite3.connect(\"" + db.string() +
                   "\").execute(\"select * from ITEMS\").fetchall())"),
            "[(\'X\', \'old\'), (\'00123\', \'Apple\'), (\'00456\', \'Banana\')]\n")
      << "appended";
  EXPECT_EQ(TerminalRequests("ITEM.DAT"), 0) << Said();
  EXPECT_EQ(ReadWholeFile(bhtDir / "ITEM.DAT"), "X    old       \r\n" + kItems);
  EXPECT_EQ(Terminate(), 0) << Said();
}

}  // namespace
}  // namespace pw
