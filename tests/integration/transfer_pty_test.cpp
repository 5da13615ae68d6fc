// Whole transfers between two workers on their own threads, over two real
// serial ports joined by a line: the worker, its stop and its forced end as
// the library and the programs run them.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "content/result_codes.h"
#include "engine/com_port.h"
#include "engine/ym_thread.h"
#include "platform/clock.h"
#include "tests/content/temp_dir.h"
#include "tests/integration/linked_ports.h"
#include "tests/support/recording_boxes.h"

namespace pw {
namespace {

using test::ReadFile;
using test::WriteFile;

std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 31 + i / 1024) & 0xFF);
  return s;
}

class TransferOverPorts : public ::testing::Test {
 protected:
  void SetUp() override {
    ports = test::LinkedPorts::Create();
    pc = OpenPortDevice("COM1", 115200, Alerts(pcBoxes, "test"));
    bht = OpenPortDevice("COM2", 115200, Alerts(bhtBoxes, "test"));
    ASSERT_TRUE(pc && bht);
    std::filesystem::create_directories(dir / "rx");
  }

  std::unique_ptr<TYmThread> Sender(const std::string& pcName, const std::string& bhtName, const std::string& fields) {
    TransferRequest r;
    r.TxFlag = true;
    r.TxFName = dir / pcName;
    r.BhtFName = bhtName;
    r.FieldsDat = fields;
    return std::make_unique<TYmThread>(*pc, SystemClock(), view, pcAlerts, r);
  }
  std::unique_ptr<TYmThread> Receiver() {
    TransferRequest r;
    r.RxFolder = dir / "rx";
    r.Tmp1File = dir / "portwk1.tmp";
    r.Tmp2File = dir / "portwk2.tmp";
    r.LogFlag = true;
    r.LogFile = dir / "recv.log";
    return std::make_unique<TYmThread>(*bht, SystemClock(), view, bhtAlerts, r);
  }

  std::unique_ptr<test::LinkedPorts> ports;
  test::TempDir dir;
  test::RecordingBoxes pcBoxes, bhtBoxes;
  const Alerts pcAlerts{pcBoxes, "test"}, bhtAlerts{bhtBoxes, "test"};
  NullTransferView view;
  std::unique_ptr<SerialDevice> pc, bht;
};

TEST_F(TransferOverPorts, ARawFileAndADataFileArriveWhole) {
  const std::string raw = Pattern(100 * 1024 + 3);
  WriteFile(dir / "prog.pd4", raw);
  WriteFile(dir / "item.csv", "A001,apple,120\r\nB002,banana,75\r\n");
  for (const auto& [pcName, bhtName, fields] :
       {std::tuple{"prog.pd4", "PROG.PD4", ""}, std::tuple{"item.csv", "ITEM.CSV", "8,20,5"}}) {
    SCOPED_TRACE(bhtName);
    auto rx = Receiver();
    auto tx = Sender(pcName, bhtName, fields);
    rx->Start();
    tx->Start();
    tx->WaitFor();
    rx->WaitFor();
    EXPECT_EQ(tx->ErrorNo(), 0);
    EXPECT_EQ(rx->ErrorNo(), 0);
    EXPECT_EQ(rx->RcvFile(), bhtName);
  }
  EXPECT_EQ(ReadFile(dir / "rx" / "PROG.PD4"), raw);
  EXPECT_EQ(ReadFile(dir / "rx" / "ITEM.CSV"), "A001,apple,120\r\nB002,banana,75\r\n");
  EXPECT_TRUE(pcBoxes.shown.empty());
  EXPECT_TRUE(bhtBoxes.shown.empty());
}

// The forced end's two CAN bytes come from another thread while the worker
// writes blocks: they must not land inside a block, or the receiver would
// take them as data and wait on.
TEST_F(TransferOverPorts, AForcedEndFromAnotherThreadCancelsBetweenBlocks) {
  WriteFile(dir / "big.pd3", Pattern(400 * 1024));
  auto rx = Receiver();
  auto tx = Sender("big.pd3", "BIG.PD3", "");
  rx->Start();
  tx->Start();
  while (rx->ChkRcvWait()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto start = std::chrono::steady_clock::now();
  tx->EndCom();
  tx->WaitFor();
  rx->WaitFor();
  EXPECT_EQ(tx->ErrorNo(), result::Cancelled);
  EXPECT_EQ(rx->ErrorNo(), result::Aborted);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_FALSE(std::filesystem::exists(dir / "rx" / "BIG.PD3"));
}

TEST_F(TransferOverPorts, AStopWhileWaitingEndsAtOnceWithNothingSent) {
  auto rx = Receiver();
  rx->Start();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(rx->ChkRcvWait());
  const auto start = std::chrono::steady_clock::now();
  rx->StopCom();
  rx->WaitFor();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  EXPECT_EQ(rx->ErrorNo(), result::Cancelled);
  EXPECT_EQ(ReadFile(dir / "recv.log"), "");
}

}  // namespace
}  // namespace pw
