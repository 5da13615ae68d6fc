// pw_demo stopped by SIGINT, with bhtsim as the terminal over linesim: in the
// middle of a receive it cancels on the line (result 2, the terminal sees both
// CAN bytes); while it still waits for the terminal it ends with result 1 and
// sends no cancel. Either way no temporary file is left.
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
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
using test::ReadWholeFile;

class PwDemoStop : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const fs::path& p : {drive.Path() / "dosdevices", pc, tmp}) fs::create_directories(p);
    test::SetEnv("TMPDIR", tmp.string());  // pw_demo's temporary folder goes here
    line = Start({PW_LINESIM_PATH, "--link-a", com1.string(), "--link-b", bht.string(), "--speed", "0"});
    ASSERT_TRUE(test::WaitForPath(com1, 5000) && test::WaitForPath(bht, 5000)) << "linesim made no line";
  }
  void TearDown() override { test::SetEnv("TMPDIR", previousTmp); }

  std::unique_ptr<test::PeerProcess> Start(std::vector<std::string> argv, const fs::path& out = {}) {
    if (!out.empty()) test::WriteWholeFile(out, "");
    return std::make_unique<test::PeerProcess>(test::PeerOptions{argv, {}, out, out});
  }
  // bhtsim sends \p file as the terminal; then pw_demo receives it.
  void StartBoth(const fs::path& file, std::vector<std::string> more) {
    std::vector<std::string> args = {PW_BHTSIM_PATH, "send",  "--file",     file.string(),    "--port",
                                     bht.string(),   "--log", log.string(), "--expect-cancel"};
    args.insert(args.end(), more.begin(), more.end());
    bhtsim = Start(args);
    demo = Start({PW_DEMO_PATH, "receive", "--port", "COM1", "--dir", pc.string()}, demoOut);
  }
  static bool Within10s(const std::function<bool()>& ready) {
    for (int i = 0; i < 2000 && !ready(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return ready();
  }
  std::uintmax_t TempBytes() const {
    std::uintmax_t n = 0;
    for (const auto& e : fs::recursive_directory_iterator(tmp))
      if (e.is_regular_file()) n += e.file_size();
    return n;
  }
  std::string Said() const { return "\npw_demo: " + ReadWholeFile(demoOut) + "\nbhtsim log:\n" + ReadWholeFile(log); }

  test::TempDrive drive;
  const fs::path com1 = drive.Path() / "dosdevices" / "com1", bht = drive.Path() / "bht";
  const fs::path pc = drive.Path() / "pc", tmp = drive.Path() / "tmp";
  const fs::path log = drive.Path() / "bhtsim.log", demoOut = drive.Path() / "demo.out";
  const std::string previousTmp = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
  std::unique_ptr<test::PeerProcess> line, bhtsim, demo;  // ended in reverse order
};

TEST_F(PwDemoStop, SigintDuringAReceiveCancelsItOnTheLine) {
  std::string big(2 << 20, '\0');
  std::mt19937 rng(5);
  for (char& c : big) c = static_cast<char>(rng());
  test::WriteWholeFile(drive.Path() / "BIG.PD3", big);
  StartBoth(drive.Path() / "BIG.PD3", {});
  ASSERT_TRUE(Within10s([&] { return TempBytes() >= 16 * 1024; })) << "no data arrived" << Said();

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
  test::WriteWholeFile(drive.Path() / "A.PD3", "x");
  StartBoth(drive.Path() / "A.PD3", {"--silent", "--timeout", "20"});
  // The receiver asks for the first block with 'C'.
  ASSERT_TRUE(Within10s([&] { return ReadWholeFile(log).find("recv C") != std::string::npos; })) << Said();

  kill(demo->Pid(), SIGINT);

  ASSERT_TRUE(demo->WaitExit(10000)) << Said();
  EXPECT_EQ(demo->ExitCode(), 1) << Said();
  EXPECT_NE(ReadWholeFile(demoOut).find("receive: result 1 "), std::string::npos) << Said();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // a cancel would have come by now
  EXPECT_TRUE(bhtsim->Running() && ReadWholeFile(log).find("CAN") == std::string::npos) << Said();
  EXPECT_TRUE(fs::is_empty(tmp)) << "temporary files left";
}

}  // namespace
}  // namespace pw
