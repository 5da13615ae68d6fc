// The serial-port layer: argument checks, opening and configuring, and the
// read and write primitives with their failures.
#include "engine/com_port.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/memory_link.h"
#include "tests/support/port_listener.h"
#include "tests/support/recording_boxes.h"

namespace pw {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::MemoryLink;

constexpr const char* kTitle = "Portwick.dll通信";
constexpr unsigned kErrorBox = kMbIconError | kMbSetForeground;

TEST(PortSettings, NameAndSpeedAreCheckedBeforeAnythingIsTouched) {
  test::RecordingBoxes boxes;
  std::string name;
  EXPECT_TRUE(CheckPortSettings("com3", 115200, Alerts(boxes, kTitle), name));
  EXPECT_EQ(name, "COM3");
  for (const char* bad : {"COM10", "LPT1", "COM0", "COM", "", "COMA", " COM1"}) {
    boxes.shown.clear();
    EXPECT_FALSE(CheckPortSettings(bad, 115200, Alerts(boxes, kTitle), name)) << bad;
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "COMﾎﾟｰﾄ名が不良です。");
    EXPECT_EQ(boxes.shown[0].title, kTitle);
    EXPECT_EQ(boxes.shown[0].flags & kErrorBox, kErrorBox);
  }
  for (std::uint32_t speed : {9600u, 19200u, 38400u, 57600u, 115200u, 460800u})
    EXPECT_TRUE(CheckPortSettings("COM1", speed, Alerts(boxes, kTitle), name)) << speed;
  for (std::uint32_t speed : {4800u, 230400u, 0u, 115201u}) {
    boxes.shown.clear();
    EXPECT_FALSE(CheckPortSettings("COM1", speed, Alerts(boxes, kTitle), name)) << speed;
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "通信スピード設定に誤りがあります。");
  }
}

// A device whose configuration steps can be refused, and which counts how
// many of its kind are open.
struct StepDevice : SerialDevice {
  static inline int open = 0;
  int failStep;  // 1 queues, 2 event mask, 3 timeouts, 4 line; 0 none
  std::vector<std::string>* log;
  StepDevice(int fail, std::vector<std::string>* l) : failStep(fail), log(l) { ++open; }
  ~StepDevice() override { --open; }
  bool SetQueueSizes(std::uint32_t in, std::uint32_t out) override {
    log->push_back("queues " + std::to_string(in) + " " + std::to_string(out));
    return failStep != 1;
  }
  bool SetEventMask(bool) override {
    log->push_back("mask");
    return failStep != 2;
  }
  bool SetTimeouts(std::uint32_t ms) override {
    log->push_back("timeouts " + std::to_string(ms));
    return failStep != 3;
  }
  bool SetLine(std::uint32_t speed) override {
    log->push_back("line " + std::to_string(speed));
    return failStep != 4;
  }
  bool Purge() override {
    log->push_back("purge");
    return true;
  }
  bool PurgeInput() override {
    log->push_back("purge input");
    return true;
  }
  std::int32_t BytesWaiting() override { return 0; }
  std::int32_t OutputQueued() override { return 0; }
  std::int32_t Read(std::uint8_t*, std::int32_t) override { return 0; }
  std::int32_t Write(const std::uint8_t*, std::int32_t n) override { return n; }
  void ClearError() override {}
  bool WaitForInput(std::uint32_t) override { return false; }
};

TEST(OpenPortDevice, ConfiguresInOrderAndPurges) {
  std::vector<std::string> log;
  test::RecordingBoxes boxes;
  auto dev = OpenPortDevice("COM1", 115200, Alerts(boxes, kTitle),
                            [&](std::string_view) { return std::make_unique<StepDevice>(0, &log); });
  ASSERT_TRUE(dev);
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(log, (std::vector<std::string>{"queues 2080 1040", "mask", "timeouts 20000", "line 115200", "purge"}));
}

TEST(OpenPortDevice, EachRefusedStepHasItsMessageAndLeavesNothingOpen) {
  const char* messages[] = {"メモリ獲得失敗", "通信マスク設定失敗", "通信タイマー設定失敗", "通信条件設定失敗"};
  for (int step = 1; step <= 4; ++step) {
    std::vector<std::string> log;
    test::RecordingBoxes boxes;
    int openWhileShown = -1;
    boxes.onShow = [&] { openWhileShown = StepDevice::open; };
    auto dev = OpenPortDevice("COM2", 9600, Alerts(boxes, kTitle),
                              [&](std::string_view) { return std::make_unique<StepDevice>(step, &log); });
    EXPECT_FALSE(dev);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, messages[step - 1]);
    EXPECT_EQ(boxes.shown[0].title, kTitle);
    EXPECT_EQ(boxes.shown[0].flags & kErrorBox, kErrorBox);
    EXPECT_EQ(openWhileShown, 0);
    EXPECT_EQ(StepDevice::open, 0);
    EXPECT_EQ(log.size(), static_cast<std::size_t>(step));  // nothing after the refused step
  }
}

TEST(OpenPortDevice, APortThatCannotBeOpenedShowsTheInUseMessage) {
  test::RecordingBoxes boxes;
  auto none = [](std::string_view) { return std::unique_ptr<SerialDevice>(); };
  EXPECT_FALSE(OpenPortDevice("COM4", 115200, Alerts(boxes, "PortwickA.exe通信"), none));
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "COM4 は既に使用されているか\r\n使用不可の状態です。");
  EXPECT_EQ(boxes.shown[0].title, "PortwickA.exe通信");

  boxes.shown.clear();
  EXPECT_FALSE(ChkComPort(7, Alerts(boxes, kTitle), none));
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "COM7 は既に使用されているか\r\n使用不可の状態です。");

  std::vector<std::string> log;
  std::string asked;
  EXPECT_TRUE(ChkComPort(3, Alerts(boxes, kTitle), [&](std::string_view n) {
    asked = n;
    return std::make_unique<StepDevice>(0, &log);
  }));
  EXPECT_EQ(asked, "COM3");
  EXPECT_EQ(StepDevice::open, 0);  // closed again
}

class ComPortTest : public ::testing::Test {
 protected:
  test::VirtualClock clock;
  MemoryLink link{clock};
  test::RecordingListener listener;
  ComPort port{link.Device(MemoryLink::A), clock, listener};
  std::uint8_t rx[kRxBufSize];
};

TEST_F(ComPortTest, ReadTakesWhatWaitsUpTo2047Bytes) {
  EXPECT_EQ(port.ReadCom(rx), 0);
  link.Inject(MemoryLink::A, {1, 2});
  EXPECT_EQ(port.ReadCom(rx), 2);
  EXPECT_EQ(rx[0], 1);
  EXPECT_EQ(rx[1], 2);
  Bytes many(3000);
  for (std::size_t i = 0; i < many.size(); ++i) many[i] = static_cast<std::uint8_t>(i);
  link.Inject(MemoryLink::A, many);
  EXPECT_EQ(port.ReadCom(rx), 2047);
  EXPECT_EQ(rx[2046], static_cast<std::uint8_t>(2046));
  EXPECT_EQ(port.ReadCom(rx), 953);
  EXPECT_EQ(rx[0], static_cast<std::uint8_t>(2047));
}

TEST_F(ComPortTest, WriteDiscardsWaitingInputPausesAndRestartsTheTimer) {
  link.Inject(MemoryLink::A, {9, 9, 9});
  const std::uint32_t before = clock.TickCount();
  const Bytes block(1029, 0x42);
  port.WriteCom(block.data(), static_cast<std::int32_t>(block.size()));
  EXPECT_EQ(link.Pending(MemoryLink::A), 0u);
  EXPECT_EQ(link.Written(MemoryLink::A), block);
  EXPECT_EQ(clock.TickCount() - before, kTurnaroundMs);
  EXPECT_EQ(listener.lastWriteTick, clock.TickCount());
  port.WriteComByte(0x06);
  EXPECT_EQ(link.Written(MemoryLink::A).back(), 0x06);
  EXPECT_EQ(listener.writes, 2);
}

TEST_F(ComPortTest, AFailedReadReportsCode17AndRaisesKind1) {
  link.Inject(MemoryLink::A, {1});
  link.FailRead(MemoryLink::A, 1);
  try {
    port.ReadCom(rx);
    FAIL() << "no exception";
  } catch (const ECommReadWriteError& e) {
    EXPECT_EQ(e.Kind(), 1);
    EXPECT_STREQ(e.what(), "受信データ読取エラー");
  }
  EXPECT_EQ(listener.failures, (std::vector<std::int32_t>{17}));
}

TEST_F(ComPortTest, AFailedWriteReportsCode18AndRaisesKind2) {
  link.FailWrite(MemoryLink::A, 1);
  try {
    port.WriteComByte(0x15);
    FAIL() << "no exception";
  } catch (const ECommReadWriteError& e) {
    EXPECT_EQ(e.Kind(), 2);
    EXPECT_STREQ(e.what(), "送信データ書き込みエラー");
  }
  EXPECT_EQ(listener.failures, (std::vector<std::int32_t>{18}));
  EXPECT_EQ(listener.writes, 0);
  EXPECT_STREQ(ECommReadWriteError(3).what(), "");
}

TEST_F(ComPortTest, WritesWaitForRoomInTheOutputQueue) {
  // At 9600 bit/s a 1029-byte block takes about 1.07 s on the line; the next
  // block waits until the queue has room for it.
  link.SetBitRate(9600);
  const Bytes block(1029, 1);
  port.WriteCom(block.data(), 1029);
  const std::uint64_t afterFirst = clock.Elapsed();
  port.WriteCom(block.data(), 1029);
  EXPECT_GE(clock.Elapsed() - afterFirst, 1000u);
  // A control byte needs only one free byte.
  port.WriteComByte(0x06);
  EXPECT_EQ(link.Written(MemoryLink::A).size(), 2059u);
}

TEST_F(ComPortTest, AnInputPurgeLetsWrittenBytesLeaveAFullPurgeDoesNot) {
  // The last ACK of a batch, then the end-of-transfer purge: the ACK must
  // still reach the terminal, while stale input is gone.
  link.SetBitRate(9600);
  const Bytes block(300, 7);
  port.WriteCom(block.data(), 300);
  port.WriteComByte(0x06);
  link.Inject(MemoryLink::A, {0x43});
  port.PurgeInput();
  EXPECT_EQ(port.ReadCom(rx), 0);
  clock.Advance(1000);
  std::uint8_t far[kRxBufSize];
  EXPECT_EQ(link.Device(MemoryLink::B).Read(far, 2047), 301);
  EXPECT_EQ(far[300], 0x06);

  port.WriteCom(block.data(), 300);
  port.Purge();
  clock.Advance(1000);
  EXPECT_LT(link.Device(MemoryLink::B).Read(far, 2047), 300);
}

struct StuckDevice : StepDevice {
  StuckDevice(std::vector<std::string>* l) : StepDevice(0, l) {}
  std::int32_t OutputQueued() override { return static_cast<std::int32_t>(kOutputQueueSize); }
};

TEST(ComPort, AnOutputQueueThatNeverDrainsIsAFailedWrite) {
  test::VirtualClock clock;
  test::RecordingListener listener;
  std::vector<std::string> log;
  StuckDevice dev(&log);
  ComPort port(dev, clock, listener);
  EXPECT_THROW(port.WriteComByte(0x43), ECommReadWriteError);
  EXPECT_EQ(listener.failures, (std::vector<std::int32_t>{18}));
  EXPECT_GE(clock.Elapsed(), kWriteTimeoutMs);
}

}  // namespace
}  // namespace pw
