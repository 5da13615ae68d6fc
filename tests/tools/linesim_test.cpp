// The line simulator's core: when bytes are due, faults, room, and the
// command line. Times are passed in; nothing here waits.
#include "tools/linesim/line.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace pw::linesim {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Counting(std::size_t n) {
  Bytes b(n);
  std::iota(b.begin(), b.end(), std::uint8_t{0});
  return b;
}

// Everything due at `now`, taken off the line.
Bytes DrainDue(LineDirection& line, Nanos now) {
  Bytes out(1 << 20);
  out.resize(line.PeekDue(now, out.data(), out.size()));
  line.Consume(out.size());
  return out;
}

TEST(LineSchedule, ABlockTakesTenBitTimesPerByteFromItsArrival) {
  LineDirection line(Direction::kAToB, 115200, {});
  const Bytes block = Counting(1029);
  const Nanos t0 = 5'000'000;
  ASSERT_EQ(line.Accept(block.data(), block.size(), t0), block.size());
  // One byte: 10 / 115200 s = 86805.6 ns; the whole block 89322916.7 ns.
  EXPECT_EQ(line.NextDue(), t0 + 86806);
  EXPECT_TRUE(DrainDue(line, t0 + 86805).empty());
  EXPECT_EQ(DrainDue(line, t0 + 89'322'916).size(), 1028u);
  EXPECT_EQ(line.NextDue(), t0 + 89'322'917);
  const Bytes last = DrainDue(line, t0 + 89'322'917);
  ASSERT_EQ(last.size(), 1u);
  EXPECT_EQ(last[0], block.back());
  EXPECT_FALSE(line.NextDue());
}

TEST(LineSchedule, AKeptBusyLineDoesNotDrift) {
  // 11520 bytes at 115200 bit/s take exactly one second, however they are fed
  // in; rounding each byte to whole nanoseconds would add 5 us.
  LineDirection line(Direction::kAToB, 115200, {});
  const Bytes chunk = Counting(720);
  Bytes received;
  for (int k = 0; k < 16; ++k) {
    const Nanos now = static_cast<Nanos>(k) * 1'000'000;  // well before the line is free
    ASSERT_EQ(line.Accept(chunk.data(), chunk.size(), now), chunk.size());
    if (k == 0) {
      EXPECT_EQ(line.NextDue(), 86806u) << "the first byte waits for its own ten bit-times";
    }
    const Bytes got = DrainDue(line, now);
    received.insert(received.end(), got.begin(), got.end());
  }
  const Bytes before = DrainDue(line, 999'999'999);
  EXPECT_EQ(received.size() + before.size(), 11519u);
  EXPECT_EQ(line.NextDue(), 1'000'000'000u);
}

TEST(LineSchedule, AByteWaitsForTheOneAheadButNotForAnIdleLine) {
  LineDirection line(Direction::kAToB, 115200, {});
  const std::uint8_t x = 'x';
  line.Accept(&x, 1, 0);
  line.Accept(&x, 1, 50'000);  // while the first is still crossing
  EXPECT_EQ(DrainDue(line, 86'806).size(), 1u);
  EXPECT_EQ(line.NextDue(), 173'612u);
  EXPECT_EQ(DrainDue(line, 173'612).size(), 1u);
  line.Accept(&x, 1, 10'000'000);  // the line has long been idle
  EXPECT_EQ(line.NextDue(), 10'086'806u);
}

TEST(LineSchedule, SpeedZeroDeliversOnArrival) {
  LineDirection line(Direction::kBToA, 0, {});
  const Bytes data = Counting(3000);
  line.Accept(data.data(), data.size(), 777);
  EXPECT_EQ(line.NextDue(), 777u);
  EXPECT_EQ(DrainDue(line, 777), data);
}

TEST(LineSchedule, LineTimeIsExactForLongRuns) {
  EXPECT_EQ(LineTime(0, 460800), 0u);
  EXPECT_EQ(LineTime(1, 460800), 21702u);  // 21701.4
  // A million seconds of a busy line, where bytes * 1e10 would not fit in 64 bits.
  const std::uint64_t million_s = 46'080ull * 1'000'000;
  EXPECT_EQ(LineTime(million_s, 460800), 1'000'000ull * 1'000'000'000);
  EXPECT_EQ(LineTime(million_s + 1, 460800), 1'000'000ull * 1'000'000'000 + 21702);
  EXPECT_EQ(LineTime(12, 9600), 12'500'000u);
  EXPECT_EQ(LineTime(5, 0), 0u);
}

TEST(LineFaults, EachFaultHitsItsByteOnceCountedAcrossReads) {
  const std::vector<Fault> faults = {
      {Fault::Kind::kFlip, Direction::kAToB, 1500, 0xFF},
      {Fault::Kind::kFlip, Direction::kAToB, 2, 0x01},
      {Fault::Kind::kDrop, Direction::kBToA, 3, 0xFF},  // the other direction: no effect here
  };
  LineDirection line(Direction::kAToB, 0, faults);
  const Bytes data = Counting(1000);
  Bytes received;
  for (int round = 0; round < 3; ++round) {  // bytes 1-1000, 1001-2000, 2001-3000
    line.Accept(data.data(), data.size(), 0);
    const Bytes got = DrainDue(line, 0);
    received.insert(received.end(), got.begin(), got.end());
  }
  Bytes expected;
  for (int round = 0; round < 3; ++round) expected.insert(expected.end(), data.begin(), data.end());
  expected[1] ^= 0x01;
  expected[1499] ^= 0xFF;
  EXPECT_EQ(received, expected);

  const auto events = line.TakeEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].fault.byteNumber, 2u);
  EXPECT_EQ(events[0].before, 1);
  EXPECT_EQ(events[0].after, 0);
  EXPECT_EQ(events[1].fault.byteNumber, 1500u);
  EXPECT_EQ(events[1].before, data[499]);
  EXPECT_EQ(events[1].after, static_cast<std::uint8_t>(~data[499]));
  EXPECT_TRUE(line.TakeEvents().empty());
}

TEST(LineFaults, ADroppedByteIsLostButStillTakesItsLineTime) {
  LineDirection line(Direction::kBToA, 9600, {{Fault::Kind::kDrop, Direction::kBToA, 3, 0xFF}});
  const Bytes data = {10, 11, 12, 13, 14};
  line.Accept(data.data(), data.size(), 0);
  // At 9600 bit/s a byte takes 1041666.7 ns; byte 4 arrives after four of them.
  EXPECT_EQ(DrainDue(line, LineTime(3, 9600)), (Bytes{10, 11}));
  EXPECT_EQ(line.NextDue(), LineTime(4, 9600));
  EXPECT_EQ(DrainDue(line, LineTime(5, 9600)), (Bytes{13, 14}));
  const auto events = line.TakeEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].fault.kind, Fault::Kind::kDrop);
  EXPECT_EQ(events[0].before, 12);
}

TEST(LineRoom, AFullLineRefusesBytesAndDoesNotCountThem) {
  LineDirection line(Direction::kAToB, 0, {{Fault::Kind::kFlip, Direction::kAToB, 10, 0xFF}}, 8);
  const Bytes data = Counting(20);
  EXPECT_EQ(line.Accept(data.data(), data.size(), 0), 8u);
  EXPECT_EQ(line.Room(), 0u);
  EXPECT_EQ(line.Accept(data.data() + 8, 12, 0), 0u);

  // Delivery can be partial: what is not consumed stays first in line.
  std::uint8_t out[3];
  ASSERT_EQ(line.PeekDue(0, out, 3), 3u);
  line.Consume(2);
  EXPECT_EQ(line.Room(), 2u);
  Bytes rest = DrainDue(line, 0);
  EXPECT_EQ(rest, Bytes(data.begin() + 2, data.begin() + 8));

  // The refused bytes are sent again; byte 10 is the one flipped.
  EXPECT_EQ(line.Accept(data.data() + 8, 12, 0), 8u);
  EXPECT_EQ(line.Accept(data.data() + 16, 4, 0), 0u);
  Bytes expected(data.begin() + 8, data.begin() + 16);
  expected[1] ^= 0xFF;
  EXPECT_EQ(DrainDue(line, 0), expected);
  EXPECT_EQ(line.BytesAccepted(), 16u);
  line.Consume(5);  // more than is in flight: nothing to take, no harm
  EXPECT_FALSE(line.NextDue());
}

std::optional<Options> Parse(std::vector<std::string_view> args, std::string* errorOut = nullptr) {
  std::string error;
  auto o = ParseOptions(args, error);
  if (errorOut) *errorOut = error;
  if (!o) {
    EXPECT_FALSE(error.empty());
  }
  return o;
}

TEST(LineOptions, AFullCommandLine) {
  const auto o = Parse({"--speed", "460800", "--link-a", "/tmp/x/a", "--link-b=/tmp/x/b", "--flip", "a2b:1500",
                        "--flip=b2a:7:0x10", "--drop", "b2a:3", "--log", "/tmp/x/log"});
  ASSERT_TRUE(o);
  EXPECT_EQ(o->speed, 460800u);
  EXPECT_EQ(o->linkA, "/tmp/x/a");
  EXPECT_EQ(o->linkB, "/tmp/x/b");
  EXPECT_EQ(o->logPath, "/tmp/x/log");
  ASSERT_EQ(o->faults.size(), 3u);
  EXPECT_EQ(o->faults[0].kind, Fault::Kind::kFlip);
  EXPECT_EQ(o->faults[0].direction, Direction::kAToB);
  EXPECT_EQ(o->faults[0].byteNumber, 1500u);
  EXPECT_EQ(o->faults[0].mask, 0xFF);
  EXPECT_EQ(o->faults[1].direction, Direction::kBToA);
  EXPECT_EQ(o->faults[1].mask, 0x10);
  EXPECT_EQ(o->faults[2].kind, Fault::Kind::kDrop);
  EXPECT_EQ(o->faults[2].byteNumber, 3u);

  const auto defaults = Parse({"--link-a", "a", "--link-b", "b", "--speed", "0"});
  ASSERT_TRUE(defaults);
  EXPECT_EQ(defaults->speed, 0u);
  EXPECT_TRUE(defaults->faults.empty());
  EXPECT_TRUE(defaults->logPath.empty());

  const auto helpFirst = Parse({"--help", "--speed", "junk"});
  ASSERT_TRUE(helpFirst);
  EXPECT_TRUE(helpFirst->help);
}

TEST(LineOptions, BadCommandLinesAreRefused) {
  const std::vector<std::vector<std::string_view>> bad = {
      {},
      {"--link-a", "a"},
      {"--link-a", "a", "--link-b", "a"},
      {"--link-a", "a", "--link-b"},
      {"--link-a", "a", "--link-b", ""},
      {"--link-a", "a", "--link-b", "b", "--speed", "-1"},
      {"--link-a", "a", "--link-b", "b", "--speed", "115200x"},
      {"--link-a", "a", "--link-b", "b", "--speed", "100000001"},
      {"--link-a", "a", "--link-b", "b", "--speed", "99999999999999999999999"},
      {"--link-a", "a", "--link-b", "b", "--flip", "a2b:0"},
      {"--link-a", "a", "--link-b", "b", "--flip", "a2c:5"},
      {"--link-a", "a", "--link-b", "b", "--flip", "a2b:"},
      {"--link-a", "a", "--link-b", "b", "--flip", "a2b:5:0"},
      {"--link-a", "a", "--link-b", "b", "--flip", "a2b:5:0x100"},
      {"--link-a", "a", "--link-b", "b", "--flip", "a2b:5:"},
      {"--link-a", "a", "--link-b", "b", "--drop", "b2a:5:1"},
      {"--link-a", "a", "--link-b", "b", "--drop", "b2a:5", "--flip", "b2a:5"},
      {"--link-a", "a", "--link-b", "b", "--frob", "1"},
      {"--link-a", "a", "--link-b", "b", "extra"},
  };
  for (const auto& args : bad) {
    std::string joined;
    for (auto a : args) joined += std::string(a) + " ";
    EXPECT_FALSE(Parse(args)) << joined;
  }
  // The same byte in the two directions is two faults, not one.
  EXPECT_TRUE(Parse({"--link-a", "a", "--link-b", "b", "--drop", "a2b:5", "--flip", "b2a:5"}));
}

}  // namespace
}  // namespace pw::linesim
