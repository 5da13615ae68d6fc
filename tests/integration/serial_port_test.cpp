// The port layer on a real serial device (a pseudo-terminal): what waits is
// read as it should be, a write discards stale input, every byte value
// crosses unchanged, and bad names and speeds never reach the device.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <thread>

#include "engine/com_port.h"
#include "platform/clock.h"
#include "tests/integration/pty_peer.h"
#include "tests/support/port_listener.h"
#include "tests/support/recording_boxes.h"

namespace pw {
namespace {

using Bytes = std::vector<std::uint8_t>;

class SerialPort : public ::testing::Test {
 protected:
  void SetUp() override {
    peer = test::PtyPeer::Create();
    device = OpenPortDevice("COM1", 115200, Alerts(boxes, "Portwick.dll通信"));
    ASSERT_TRUE(device) << (boxes.shown.empty() ? "" : boxes.shown[0].text);
    port = std::make_unique<ComPort>(*device, SystemClock(), listener);
  }

  // Waits (up to 5 s) until \p count bytes wait in the driver.
  bool WaitForWaiting(std::int32_t count) {
    const std::uint32_t start = SystemClock().TickCount();
    while (device->BytesWaiting() < count) {
      if (SystemClock().TickCount() - start > 5000) return false;
      device->WaitForInput(10);
      SystemClock().Sleep(1);
    }
    return device->BytesWaiting() == count;
  }

  test::RecordingBoxes boxes;
  test::RecordingListener listener;
  std::unique_ptr<test::PtyPeer> peer;
  std::unique_ptr<SerialDevice> device;
  std::unique_ptr<ComPort> port;
  std::uint8_t rx[kRxBufSize];
};

TEST_F(SerialPort, ReadsWhatWaitsAndAtMost2047Bytes) {
  EXPECT_EQ(port->ReadCom(rx), 0);
  peer->Send({0x43, 0x06});
  ASSERT_TRUE(WaitForWaiting(2));
  EXPECT_EQ(port->ReadCom(rx), 2);
  EXPECT_EQ(rx[0], 0x43);
  EXPECT_EQ(rx[1], 0x06);

  Bytes many(3000);
  for (std::size_t i = 0; i < many.size(); ++i) many[i] = static_cast<std::uint8_t>(i * 7);
  peer->Send(many);
  ASSERT_TRUE(WaitForWaiting(3000));
  EXPECT_EQ(port->ReadCom(rx), 2047);
  EXPECT_TRUE(std::equal(rx, rx + 2047, many.begin()));
  EXPECT_EQ(device->BytesWaiting(), 953);
  EXPECT_EQ(port->ReadCom(rx), 953);
  EXPECT_TRUE(std::equal(rx, rx + 953, many.begin() + 2047));
}

TEST_F(SerialPort, AWriteDiscardsInputThatWaitedAndEveryByteValueCrosses) {
  peer->Send({0x15, 0x15, 0x15});
  ASSERT_TRUE(WaitForWaiting(3));
  Bytes block(1029);
  std::iota(block.begin(), block.end(), 0);  // 0..255 four times and more: XON, XOFF, CR, LF, 0xFF...
  port->WriteCom(block.data(), static_cast<std::int32_t>(block.size()));
  EXPECT_EQ(device->BytesWaiting(), 0);
  EXPECT_EQ(peer->Receive(block.size(), 5000), block);
  EXPECT_EQ(listener.writes, 1);

  Bytes back(256);
  std::iota(back.begin(), back.end(), 0);
  peer->Send(back);
  ASSERT_TRUE(WaitForWaiting(256));
  ASSERT_EQ(port->ReadCom(rx), 256);
  EXPECT_TRUE(std::equal(rx, rx + 256, back.begin()));
  EXPECT_TRUE(listener.failures.empty());
}

TEST_F(SerialPort, TwoWritersNeverInterleaveInsideABlock) {
  // The worker writes blocks while another thread sends control bytes (as a
  // forced end sends its CAN bytes): each block must arrive whole.
  constexpr int kBlocks = 12, kBytes = 12;
  const Bytes block(1029, 0x41);
  std::thread worker([&] {
    for (int i = 0; i < kBlocks; ++i) port->WriteCom(block.data(), static_cast<std::int32_t>(block.size()));
  });
  for (int i = 0; i < kBytes; ++i) port->WriteComByte(0x18);
  worker.join();
  const Bytes got = peer->Receive(kBlocks * block.size() + kBytes, 20000);
  ASSERT_EQ(got.size(), kBlocks * block.size() + kBytes);
  std::size_t run = 0;
  for (std::uint8_t b : got) {
    if (b == 0x41) {
      ++run;
    } else {
      ASSERT_EQ(b, 0x18);
      ASSERT_EQ(run % block.size(), 0u) << "a control byte inside a block";
    }
  }
  EXPECT_EQ(listener.writes, kBlocks + kBytes);
}

TEST_F(SerialPort, PurgeEmptiesTheInputQueue) {
  peer->Send({1, 2, 3, 4});
  ASSERT_TRUE(WaitForWaiting(4));
  port->Purge();
  EXPECT_EQ(device->BytesWaiting(), 0);
}

TEST_F(SerialPort, BadNamesAndSpeedsAreRefusedBeforeTheDeviceIsTouched) {
  std::string name;
  EXPECT_FALSE(CheckPortSettings("COM10", 115200, Alerts(boxes, "t"), name));
  EXPECT_FALSE(CheckPortSettings("LPT1", 115200, Alerts(boxes, "t"), name));
  EXPECT_FALSE(CheckPortSettings("COM1", 4800, Alerts(boxes, "t"), name));
  EXPECT_FALSE(CheckPortSettings("COM1", 230400, Alerts(boxes, "t"), name));
  ASSERT_EQ(boxes.shown.size(), 4u);
  EXPECT_EQ(boxes.shown[0].text, "COMﾎﾟｰﾄ名が不良です。");
  EXPECT_EQ(boxes.shown[1].text, "COMﾎﾟｰﾄ名が不良です。");
  EXPECT_EQ(boxes.shown[2].text, "通信スピード設定に誤りがあります。");
  EXPECT_EQ(boxes.shown[3].text, "通信スピード設定に誤りがあります。");
  // The open port was not disturbed: it still carries bytes.
  peer->Send({0x43});
  ASSERT_TRUE(WaitForWaiting(1));
}

TEST_F(SerialPort, ASecondOpenOfAHeldPortIsRefused) {
  if (!peer->EnforcesExclusiveOpen()) GTEST_SKIP() << "this system lets a second open through";
  test::RecordingBoxes others;
  EXPECT_FALSE(OpenPortDevice("com1", 115200, Alerts(others, "PortwickA.exe通信")));
  ASSERT_EQ(others.shown.size(), 1u);
  EXPECT_EQ(others.shown[0].text, "com1 は既に使用されているか\r\n使用不可の状態です。");
}

}  // namespace
}  // namespace pw
