// The portwicka program against the terminal simulator over linesim, and
// against lrzsz: what it sends is stored as the rules give, what it receives
// is stored as it came, an expected name refuses another file (19 in the
// history log), -FB stores comma-separated text, and SIGINT while it waits
// ends it with the stop's result, its temporary files gone.
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "content/result_codes.h"
#include "platform/codepage.h"
#include "tests/integration/peer_process.h"
#include "tests/support/temp_drive.h"

namespace pw {
namespace {

namespace fs = std::filesystem;
using test::ReadWholeFile;
using test::WriteWholeFile;

class PortwickAProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const fs::path& p : {drive.Path() / "dosdevices", settings, pc, tx, logs, bhtDir}) fs::create_directories(p);
    // COM1 at 115200 bit/s, one batch, append; a log a month in logs/.
    WriteWholeFile(settings / "Tarnel.cnf", "0100001152001010000\r\n" + pc.string() + "/\r\n" + tx.string() +
                                                "/\r\n11" + logs.string() + "/\r\n00\r\n");
    if (!withLine) return;
    line = Start({PW_LINESIM_PATH, "--link-a", com1.string(), "--link-b", bht.string(), "--speed", "0"});
    ASSERT_TRUE(test::WaitForPath(com1, 5000) && test::WaitForPath(bht, 5000)) << "linesim made no line";
  }

  std::unique_ptr<test::PeerProcess> Start(std::vector<std::string> argv, const fs::path& out = {},
                                           const fs::path& err = {}) {
    for (const fs::path& f : {out, err})
      if (!f.empty()) WriteWholeFile(f, "");
    return std::make_unique<test::PeerProcess>(test::PeerOptions{argv, {}, out, err});
  }
  // The terminal sends \p file as \p as with the field list \p fields.
  void TerminalSends(const std::string& as, const std::string& data, const std::string& fields,
                     std::vector<std::string> more = {}) {
    WriteWholeFile(drive.Path() / "src", data);
    std::vector<std::string> args = {PW_BHTSIM_PATH, "send",       "--file",   (drive.Path() / "src").string(),
                                     "--as",         as,           "--fields", fields,
                                     "--port",       bht.string(), "--log",    bhtLog.string()};
    args.insert(args.end(), more.begin(), more.end());
    bhtsim = Start(args);
  }
  // Runs portwicka with \p args to its end; its exit code.
  int Portwicka(std::vector<std::string> args) {
    args.insert(args.begin(), PW_PORTWICKA_PATH);
    program = Start(args, out, err);
    EXPECT_TRUE(program->WaitExit(20000)) << Said();
    return program->ExitCode();
  }
  std::string Said() const {
    return "\nportwicka out: " + ReadWholeFile(out) + "\nportwicka err: " + ReadWholeFile(err) + "\nbhtsim log:\n" +
           ReadWholeFile(bhtLog);
  }
  std::string Log() const {
    std::string all;
    for (const auto& e : fs::directory_iterator(logs)) all += ReadWholeFile(e.path());
    return all;
  }
  static bool Within10s(const std::function<bool()>& ready) {
    for (int i = 0; i < 2000 && !ready(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return ready();
  }

  test::TempDrive drive;
  const fs::path com1 = drive.Path() / "dosdevices" / "com1", bht = drive.Path() / "bht";
  const fs::path settings = drive.Path() / "Users" / "Public" / "Tessaly";
  const fs::path pc = drive.Path() / "pc", tx = drive.Path() / "tx", logs = drive.Path() / "logs";
  const fs::path bhtDir = drive.Path() / "bhtdir", bhtLog = drive.Path() / "bhtsim.log";
  const fs::path out = drive.Path() / "out", err = drive.Path() / "err";
  std::unique_ptr<test::PeerProcess> line, bhtsim, program;  // ended in reverse order
  bool withLine = true;  // linesim joins COM1 to the terminal simulator's device
};

// Records of the widths 3 and 4, and what the terminal's field file says of them.
const std::string kRecords = "abcDEFG\r\nx  Y   \r\n";

TEST_F(PortwickAProgram, SendsAFileFromTheSendFolderWithTheGivenFields) {
  WriteWholeFile(tx / "ITEM.CSV", "4901234567,12\r\nSHORT,123456\r\n");
  bhtsim = Start({PW_BHTSIM_PATH, "receive", "--port", bht.string(), "--dir", bhtDir.string()});

  EXPECT_EQ(Portwicka({"-S", "COM1", "115200", "ITEM.CSV", "10,5"}), 0) << Said();
  EXPECT_EQ(ReadWholeFile(out), "send ITEM.CSV: result 0 正常終了\n") << Said();
  ASSERT_TRUE(bhtsim->WaitExit(5000));
  EXPECT_FALSE(ReadWholeFile(bhtDir / "ITEM.FLD").empty());
  EXPECT_EQ(ReadWholeFile(bhtDir / "ITEM.CSV"), "490123456712   \r\nSHORT     12345\r\n");
  EXPECT_NE(Log().find(ToAnsi("ITEM.CSV")), std::string::npos) << "the history log has the send";

  // A program goes as it is, with no field file ahead of it.
  const std::string program("a program\0\x1a\r\nof any bytes", 25);
  WriteWholeFile(tx / "MENU.PD3", program);
  bhtsim = Start({PW_BHTSIM_PATH, "receive", "--port", bht.string(), "--dir", bhtDir.string()});
  EXPECT_EQ(Portwicka({"-S", "COM1", "115200", "MENU.PD3"}), 0) << Said();
  ASSERT_TRUE(bhtsim->WaitExit(5000));
  EXPECT_EQ(ReadWholeFile(bhtDir / "MENU.PD3"), program);
  EXPECT_FALSE(fs::exists(bhtDir / "MENU.FLD"));

  // COM12 passes the name check and fails at the opening.
  EXPECT_EQ(Portwicka({"-R", "COM12"}), 1);
  EXPECT_EQ(ReadWholeFile(err), "PortwickA.exe通信: COM12 は既に使用されているか 使用不可の状態です。\n");
}

TEST_F(PortwickAProgram, ReceivesADataFileAsItCame) {
  TerminalSends("NAME.DAT", kRecords, "3,4");

  EXPECT_EQ(Portwicka({"-R", "COM1", "115200", "0", "0"}), 0) << Said();
  EXPECT_EQ(ReadWholeFile(out), "receive: result 0 正常終了, stored NAME.DAT\n") << Said();
  EXPECT_EQ(ReadWholeFile(pc / "NAME.DAT"), kRecords);
  EXPECT_FALSE(fs::exists(pc / "NAME.FLD")) << "a received field file describes the data; it is not stored";
  EXPECT_FALSE(fs::exists(pc / "portwk1.tmp") || fs::exists(pc / "portwk2.tmp"));
}

TEST_F(PortwickAProgram, AnExpectedNameRefusesAnotherFile) {
  TerminalSends("OTHER.DAT", kRecords, "3,4", {"--expect-cancel"});

  EXPECT_EQ(Portwicka({"-FA", "name.dat"}), 2) << Said();
  EXPECT_EQ(ReadWholeFile(out), "receive: result 19 " + std::string(ResultLogText(19)) + "\n") << Said();
  EXPECT_NE(Log().find(ToAnsi(ResultLogText(19))), std::string::npos) << FromAnsi(Log());
  EXPECT_FALSE(fs::exists(pc / "OTHER.DAT"));
}

TEST_F(PortwickAProgram, FbStoresCommaSeparatedText) {
  const fs::path in = drive.Path() / "in";
  fs::create_directories(in);
  TerminalSends("NAME.DAT", kRecords, "3,4");

  EXPECT_EQ(Portwicka({"-FB", "NAME.DAT", "3,4", in.string()}), 0) << Said();
  EXPECT_EQ(ReadWholeFile(in / "NAME.DAT"), "abc,DEFG\r\nx,Y\r\n") << Said();
}

TEST_F(PortwickAProgram, SigintWhileWaitingEndsWithTheStopsResult) {
  TerminalSends("A.DAT", kRecords, "3,4", {"--silent", "--timeout", "20"});
  for (const char* name : {"portwk1.tmp", "portwk2.tmp"}) WriteWholeFile(pc / name, "left by an earlier run");
  program = Start({PW_PORTWICKA_PATH, "-R", "COM1", "115200"}, out, err);
  ASSERT_TRUE(Within10s([&] { return ReadWholeFile(bhtLog).find("recv C") != std::string::npos; })) << Said();

  kill(program->Pid(), SIGINT);

  ASSERT_TRUE(program->WaitExit(10000)) << Said();
  EXPECT_EQ(program->ExitCode(), 2) << Said();
  EXPECT_EQ(ReadWholeFile(out), "receive: result 1 " + std::string(ResultLogText(1)) + " (stopped)\n") << Said();
  EXPECT_TRUE(fs::is_empty(pc)) << "temporary files left";
  // The port is free again.
  EXPECT_EQ(Portwicka({"-SET", "speed=460800"}), 0) << Said();
}

// The same program against lrzsz (rb and sb in YMODEM mode) behind socat,
// whose pty is COM1.
class PortwickAWithLrzsz : public PortwickAProgram {
 protected:
  PortwickAWithLrzsz() { withLine = false; }

  // \p command runs in \p cwd on the other end of COM1; returns once it runs.
  std::unique_ptr<test::PeerProcess> Peer(const std::string& command, const fs::path& cwd, std::string_view name) {
    for (const char* p : {"sb", "rb", "socat"}) EXPECT_TRUE(test::OnPath(p)) << p << " is missing";
    auto peer = std::make_unique<test::PeerProcess>(test::PeerOptions{
        {"socat", "PTY,link=" + com1.string() + ",raw,echo=0", "SYSTEM:" + command + ",pipes"}, cwd, {}, {}});
    EXPECT_TRUE(test::WaitForPath(com1, 5000) && test::WaitForDescendant(peer->Pid(), name, 5000)) << name;
    return peer;
  }
  // The field file a terminal sends ahead of \p name.
  static std::string FieldFile(const std::string& name) {
    return "* created by BHT\r\nfile\t" + name + "\r\nsize\t18\r\nrecords\t2\r\nfields\t3 4\r\n";
  }
};

TEST_F(PortwickAWithLrzsz, RbStoresTheFieldFileAndTheRecordsOfASend) {
  WriteWholeFile(tx / "ITEM.CSV", "A000000001,00100\r\nB2,7\r\nC000000003,00300\r\n");
  auto rb = Peer("rb --ymodem -u -y", bhtDir, "rb");

  EXPECT_EQ(Portwicka({"-S", "COM1", "115200", "ITEM.CSV", "10,5"}), 0) << Said();
  EXPECT_TRUE(rb->WaitExit(5000));
  EXPECT_EQ(ReadWholeFile(bhtDir / "ITEM.FLD"),
            "* created by BHT\r\nfile\tITEM.CSV\r\nsize\t51\r\nrecords\t3\r\nfields\t10 5\r\n");
  EXPECT_EQ(ReadWholeFile(bhtDir / "ITEM.CSV"), "A00000000100100\r\nB2        7    \r\nC00000000300300\r\n");
}

TEST_F(PortwickAWithLrzsz, ADataFileFromSbIsStoredByteForByteAndAnotherNameIsRefused) {
  WriteWholeFile(bhtDir / "NAME.DAT", kRecords);
  WriteWholeFile(bhtDir / "NAME.FLD", FieldFile("NAME.DAT"));
  auto sb = Peer("sb --ymodem -k NAME.FLD NAME.DAT", bhtDir, "sb");
  EXPECT_EQ(Portwicka({"-R", "COM1", "115200", "0", "0"}), 0) << Said();
  EXPECT_TRUE(sb->WaitExit(5000));
  EXPECT_EQ(ReadWholeFile(pc / "NAME.DAT"), kRecords);

  // -FA expects NAME.DAT; sb sends OTHER.DAT: result 19, in the log too.
  WriteWholeFile(bhtDir / "OTHER.DAT", kRecords);
  WriteWholeFile(bhtDir / "OTHER.FLD", FieldFile("OTHER.DAT"));
  sb = Peer("sb --ymodem -k OTHER.FLD OTHER.DAT", bhtDir, "sb");
  EXPECT_EQ(Portwicka({"-FA", "NAME.DAT"}), 2) << Said();
  EXPECT_EQ(ReadWholeFile(out), "receive: result 19 " + std::string(ResultLogText(19)) + "\n") << Said();
  EXPECT_NE(Log().find(ToAnsi(ResultLogText(19))), std::string::npos) << FromAnsi(Log());
  EXPECT_FALSE(fs::exists(pc / "OTHER.DAT"));
}

}  // namespace
}  // namespace pw
