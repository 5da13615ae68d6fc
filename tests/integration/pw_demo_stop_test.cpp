// pw_demo stopped by SIGINT, with bhtsim as the terminal over linesim: in the
// middle of a receive it cancels on the line (result 2, the terminal sees both
// CAN bytes); while it still waits for the terminal it ends with result 1 and
// sends no cancel. Either way it leaves no temporary file behind.
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/integration/peer_process.h"
#include "tests/support/temp_drive.h"

namespace pw {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::ReadWholeFile;
using test::WriteWholeFile;

class PwDemoStop : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const fs::path& p : {drive.Path() / "dosdevices", pc, terminal, tmp}) fs::create_directories(p);
    if (const char* t = std::getenv("TMPDIR")) previousTmp = t;
    test::SetEnv("TMPDIR", tmp.string());  // where pw_demo makes its temporary folder
    line = std::make_unique<test::PeerProcess>(test::PeerOptions{
        {PW_LINESIM_PATH, "--link-a", com1.string(), "--link-b", bhtPort.string(), "--speed", "0"}, {}, {}, {}});
    ASSERT_TRUE(test::WaitForPath(com1, 5000) && test::WaitForPath(bhtPort, 5000)) << "linesim made no line";
  }
  void TearDown() override {
    test::SetEnv("TMPDIR", previousTmp);
    if (demo) demo->Kill();
    if (bhtsim) bhtsim->Kill();
    if (line) line->Kill();
  }

  void StartBhtsim(std::vector<std::string> args) {
    args.insert(args.begin(), PW_BHTSIM_PATH);
    args.insert(args.end(), {"--port", bhtPort.string(), "--log", bhtsimLog.string(), "--expect-cancel"});
    bhtsim = std::make_unique<test::PeerProcess>(test::PeerOptions{args, {}, {}, drive.Path() / "bhtsim.err"});
  }
  void StartReceive() {
    WriteWholeFile(demoOut, "");
    demo = std::make_unique<test::PeerProcess>(
        test::PeerOptions{{PW_DEMO_PATH, "receive", "--port", "COM1", "--dir", pc.string()}, {}, demoOut, demoErr});
  }
  // Waits up to 10 s for \p ready, checking every 5 ms.
  template <class Ready>
  static bool WaitUntil(Ready ready) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!ready()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(5ms);
    }
    return true;
  }
  std::uintmax_t TempBytes() const {
    std::uintmax_t n = 0;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(tmp, ec))
      if (e.is_regular_file(ec)) n += e.file_size(ec);
    return n;
  }
  std::string Said() const {
    return "\npw_demo said: " + ReadWholeFile(demoOut) + ReadWholeFile(demoErr) + "\nbhtsim log:\n" +
           ReadWholeFile(bhtsimLog);
  }

  test::TempDrive drive;
  const fs::path com1 = drive.Path() / "dosdevices" / "com1";
  const fs::path bhtPort = drive.Path() / "bht";
  const fs::path pc = drive.Path() / "pc", terminal = drive.Path() / "terminal", tmp = drive.Path() / "tmp";
  const fs::path bhtsimLog = drive.Path() / "bhtsim.log";
  const fs::path demoOut = drive.Path() / "demo.out", demoErr = drive.Path() / "demo.err";
  std::string previousTmp;
  std::unique_ptr<test::PeerProcess> line, bhtsim, demo;
};

TEST_F(PwDemoStop, SigintDuringAReceiveCancelsItOnTheLine) {
  std::string big(2 << 20, '\0');
  std::mt19937 rng(5);
  for (char& c : big) c = static_cast<char>(rng());
  WriteWholeFile(terminal / "BIG.PD3", big);
  StartBhtsim({"send", "--file", (terminal / "BIG.PD3").string()});
  StartReceive();
  ASSERT_TRUE(WaitUntil([&] { return TempBytes() >= 16 * 1024; })) << "no data arrived" << Said();

  kill(demo->Pid(), SIGINT);

  ASSERT_TRUE(demo->WaitExit(10000)) << Said();
  EXPECT_EQ(demo->ExitCode(), 2) << Said();
  EXPECT_NE(ReadWholeFile(demoOut).find("receive: result 2 "), std::string::npos) << Said();
  ASSERT_TRUE(bhtsim->WaitExit(5000)) << Said();
  EXPECT_EQ(bhtsim->ExitCode(), 0) << "the terminal saw no whole cancel sequence" << Said();
  EXPECT_TRUE(fs::is_empty(tmp)) << "temporary files left";
  EXPECT_TRUE(fs::is_empty(pc)) << "a stopped receive stores nothing";
}

TEST_F(PwDemoStop, SigintWhileWaitingForTheTerminalSendsNoCancel) {
  WriteWholeFile(terminal / "A.PD3", "x");
  StartBhtsim({"send", "--file", (terminal / "A.PD3").string(), "--silent", "--timeout", "20"});
  StartReceive();
  // The receiver asks for the first block with 'C', every second.
  ASSERT_TRUE(WaitUntil([&] { return ReadWholeFile(bhtsimLog).find("recv C") != std::string::npos; })) << Said();

  kill(demo->Pid(), SIGINT);

  ASSERT_TRUE(demo->WaitExit(10000)) << Said();
  EXPECT_EQ(demo->ExitCode(), 1) << Said();
  EXPECT_NE(ReadWholeFile(demoOut).find("receive: result 1 "), std::string::npos) << Said();
  std::this_thread::sleep_for(300ms);  // a cancel would have arrived by now
  EXPECT_TRUE(bhtsim->Running()) << "the terminal saw a cancel" << Said();
  EXPECT_EQ(ReadWholeFile(bhtsimLog).find("CAN"), std::string::npos) << Said();
  EXPECT_TRUE(fs::is_empty(tmp)) << "temporary files left";
}

}  // namespace
}  // namespace pw
