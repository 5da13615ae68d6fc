// Blocks, CRC, numbering, acceptance, the timeout test and the cancel sequence.
#include "engine/ymodem_block.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/com_port.h"
#include "tests/support/memory_link.h"
#include "tests/support/port_listener.h"

namespace pw::ymodem {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Crc16, MatchesTheCheckValueAndTheTableRule) {
  const char* check = "123456789";
  EXPECT_EQ(CalcCrc16(reinterpret_cast<const std::uint8_t*>(check), 9), 0x31C3);
  const Bytes zeros(128, 0);
  EXPECT_EQ(CalcCrc16(zeros.data(), zeros.size()), 0x0000);
  EXPECT_EQ(kCrcTable[0], 0x0000);
  EXPECT_EQ(kCrcTable[1], 0x1021);
  EXPECT_EQ(kCrcTable[255], 0x1EF0);
  const std::uint8_t one = 'A';
  EXPECT_EQ(CalcCrc16(&one, 1), 0x58E5);
}

TEST(Blocks, HeaderLayout) {
  std::uint8_t b[kTxBufSize];
  ASSERT_TRUE(BuildHeaderBlock(b, "ABC.PD4", 1500));
  EXPECT_EQ(b[0], SOH);
  EXPECT_EQ(b[1], 0x00);
  EXPECT_EQ(b[2], 0xFF);
  const Bytes data(b + 3, b + 131);
  Bytes expected(128, 0);
  const char text[] = "ABC.PD4\0" "1500";
  std::copy(text, text + sizeof text - 1, expected.begin());
  EXPECT_EQ(data, expected);
  const std::uint16_t crc = CalcCrc16(b + 3, 128);
  EXPECT_EQ(b[131], crc >> 8);
  EXPECT_EQ(b[132], crc & 0xFF);
}

TEST(Blocks, HeaderMustFitItsBlock) {
  std::uint8_t b[kTxBufSize] = {0x77};
  const std::string name(116, 'N');  // 116 + 1 + "2147483647" (10) + 1 = 128
  EXPECT_TRUE(BuildHeaderBlock(b, name, 2147483647));
  b[0] = 0x77;
  EXPECT_FALSE(BuildHeaderBlock(b, name + "N", 2147483647));
  EXPECT_FALSE(BuildHeaderBlock(b, "", 1));
  EXPECT_FALSE(BuildHeaderBlock(b, "A.PD4", -1));
  EXPECT_FALSE(BuildHeaderBlock(b, std::string("A\0B", 3), 1));
  EXPECT_EQ(b[0], 0x77);  // untouched when refused
}

TEST(Blocks, EndOfBatchIsAllZeroWithZeroCrc) {
  std::uint8_t b[kTxBufSize];
  BuildEndOfBatchBlock(b);
  Bytes expected(133, 0);
  expected[0] = SOH;
  expected[2] = 0xFF;
  EXPECT_EQ(Bytes(b, b + 133), expected);
}

TEST(Blocks, DataBlocksAreFilledWithZerosAndNumberedModulo256) {
  std::uint8_t b[kTxBufSize];
  const std::uint8_t one = 0x5A;
  ASSERT_EQ(BuildDataBlock(b, 1, &one, 1), kLargeBlock);
  EXPECT_EQ(b[0], STX);
  EXPECT_EQ(b[1], 1);
  EXPECT_EQ(b[2], 254);
  EXPECT_EQ(b[3], 0x5A);
  for (std::size_t i = 4; i < 1027; ++i) ASSERT_EQ(b[i], 0) << i;  // filled with 0x00, not 0x1A
  const std::uint16_t crc = CalcCrc16(b + 3, 1024);
  EXPECT_EQ(b[1027], crc >> 8);
  EXPECT_EQ(b[1028], crc & 0xFF);

  for (auto [no, number] : {std::pair{255, 255}, {256, 0}, {257, 1}, {512, 0}}) {
    BuildDataBlock(b, no, &one, 1);
    EXPECT_EQ(b[1], number);
    EXPECT_EQ(b[2], 255 - number);
  }

  const Bytes text(100, 'x');
  ASSERT_EQ(BuildBlock(b, SOH, 3, text.data(), text.size()), kSmallBlock);
  EXPECT_EQ(Bytes(b + 3, b + 103), text);
  EXPECT_EQ(Bytes(b + 103, b + 131), Bytes(28, 0));
}

TEST(Acceptance, ExpectedRepeatedAndRefusedBlocks) {
  // The expected block with a good CRC.
  EXPECT_EQ(CheckBlock(1, 254, 1, true, true), BlockVerdict::Accept);
  EXPECT_EQ(CheckBlock(0, 255, 0, true, false), BlockVerdict::Accept);  // a header
  // Right number, wrong complement: refused even with a good CRC.
  EXPECT_EQ(CheckBlock(5, 251, 5, true, true), BlockVerdict::Refuse);
  // Right number and complement, bad CRC.
  EXPECT_EQ(CheckBlock(5, 250, 5, false, true), BlockVerdict::Refuse);
  // The previous block again (its ACK was lost): answered, not stored.
  EXPECT_EQ(CheckBlock(4, 251, 5, true, true), BlockVerdict::Repeat);
  EXPECT_EQ(CheckBlock(255, 0, 0, true, true), BlockVerdict::Repeat);  // 255 before 0
  EXPECT_EQ(CheckBlock(4, 250, 5, true, true), BlockVerdict::Refuse);  // its complement is wrong
  // Headers are never repetitions.
  EXPECT_EQ(CheckBlock(255, 0, 0, true, false), BlockVerdict::Refuse);
  // Any other number.
  EXPECT_EQ(CheckBlock(7, 248, 5, true, true), BlockVerdict::Refuse);
  // Numbering wraps: 0 follows 255.
  EXPECT_EQ(CheckBlock(0, 255, 0, true, true), BlockVerdict::Accept);
}

TEST(Timeout, FiresAfterTmrAndAcrossATickWrap) {
  std::uint32_t tw = 1000;
  EXPECT_FALSE(TimedOut(3999, tw, 3000));
  EXPECT_TRUE(TimedOut(4000, tw, 3000));
  // The counter wraps while waiting: the wait ends Tmr after it passed zero.
  tw = 0xFFFFFF00u;
  EXPECT_FALSE(TimedOut(0xFFFFFFFFu, tw, 3000));
  EXPECT_EQ(tw, 0xFFFFFF00u);
  EXPECT_FALSE(TimedOut(5, tw, 3000));
  EXPECT_EQ(tw, 0u);
  EXPECT_FALSE(TimedOut(2999, tw, 3000));
  EXPECT_TRUE(TimedOut(3000, tw, 3000));
}

TEST(Cancel, TwoCanBytesOneHundredMillisecondsApart) {
  test::VirtualClock clock;
  test::MemoryLink link(clock);
  test::RecordingListener listener;
  ComPort port(link.Device(test::MemoryLink::A), clock, listener);
  const auto start = clock.Elapsed();
  SendCancel(port);
  EXPECT_EQ(link.Written(test::MemoryLink::A), (Bytes{CAN, CAN}));
  // Each write pauses 10 ms; the two bytes are 100 ms apart besides.
  EXPECT_EQ(clock.Elapsed() - start, 10u + 100u + 10u);
  EXPECT_EQ(listener.writes, 2);
}

}  // namespace
}  // namespace pw::ymodem
