// The sender against the receiver, and against scripted terminals, over the
// in-memory line on virtual time.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "content/result_codes.h"
#include "engine/ymodem_block.h"
#include "platform/codepage.h"
#include "tests/engine/transfer_rig.h"

namespace pw::test {
namespace {

using namespace ymodem;

std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return s;
}

// A send from the PC and a receive on the terminal's end, to the end.
struct Pair {
  TransferRig rig;
  std::unique_ptr<TYmThread> tx, rx;

  void Run(std::uint64_t limit = 3'600'000) {
    rig.Add(*tx);
    rig.Add(*rx);
    ASSERT_TRUE(rig.RunToEnd(limit));
  }
};

TEST(Transfer, RawFilesOfEveryBoundarySizeArriveWhole) {
  for (std::size_t size : {std::size_t{1}, std::size_t{1024}, std::size_t{1025}, std::size_t{300 * 1024 + 7}}) {
    SCOPED_TRACE(size);
    Pair p;
    const std::string content = Pattern(size);
    WriteFile(p.rig.dir / "prog.pd3", content);
    p.tx = p.rig.Sender("prog.pd3", "PROG.PD3");
    p.rx = p.rig.Receiver();
    p.Run();
    EXPECT_EQ(p.tx->ErrorNo(), 0);
    EXPECT_EQ(p.rx->ErrorNo(), 0);
    EXPECT_EQ(p.rx->RcvFile(), "PROG.PD3");
    EXPECT_EQ(ReadFile(p.rig.Rx() / "PROG.PD3"), content);

    // On the line: header, the data blocks, EOT, the empty header.
    const Bytes line = p.rig.link.Written(MemoryLink::A);
    const std::size_t blocks = (size + 1023) / 1024;
    ASSERT_EQ(line.size(), kSmallBlock + blocks * kLargeBlock + 1 + kSmallBlock);
    const std::string header(line.begin() + 3, line.begin() + 3 + 9 + std::to_string(size).size() + 1);
    EXPECT_EQ(header, "PROG.PD3" + std::string(1, '\0') + std::to_string(size) + std::string(1, '\0'));
    const std::size_t last = kSmallBlock + (blocks - 1) * kLargeBlock;
    EXPECT_EQ(line[last], STX);
    // The last block is filled with zero bytes.
    const std::size_t tail = size - (blocks - 1) * 1024;
    EXPECT_TRUE(std::all_of(line.begin() + static_cast<std::ptrdiff_t>(last + 3 + tail),
                            line.begin() + static_cast<std::ptrdiff_t>(last + 3 + 1024),
                            [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(line[last + kLargeBlock], EOT);
    if (blocks >= 256) {
      // Block numbers run 255, 0, 1.
      const std::size_t b256 = kSmallBlock + 255 * kLargeBlock;
      EXPECT_EQ(line[b256 - kLargeBlock + 1], 255);
      EXPECT_EQ(line[b256 + 1], 0);
      EXPECT_EQ(line[b256 + 2], 0xFF);
      EXPECT_EQ(line[b256 + kLargeBlock + 1], 1);
    }
    EXPECT_EQ(p.rig.pcView.labels.back(), "PROG.PD3 送信終了");
    EXPECT_EQ(p.rig.pcView.progress.back(), static_cast<std::int32_t>(blocks));
  }
}

TEST(Transfer, CommaSeparatedFileTravelsAsFieldFileAndRecordsAndComesBackAsText) {
  Pair p;
  const std::string csv = "A001,apple,120\r\nB002,banana split with cream,75\r\n,,\r\nC3,\"q\",9";
  WriteFile(p.rig.dir / "item.csv", csv);
  p.tx = p.rig.Sender("item.csv", "ITEM.CSV", "8,20,5", [&](TransferRequest& r) {
    r.LogFlag = true;
    r.LogFile = p.rig.dir / "send.log";
  });
  p.rx = p.rig.Receiver([&](TransferRequest& r) {
    r.LogFlag = true;
    r.LogFile = p.rig.dir / "recv.log";
  });
  p.Run();
  ASSERT_EQ(p.tx->ErrorNo(), 0);
  ASSERT_EQ(p.rx->ErrorNo(), 0);
  EXPECT_EQ(p.rx->RcvFile(), "ITEM.CSV");
  EXPECT_EQ(p.rx->ReceivedFieldList(), "8,20,5");
  // Values are cut to their widths and trailing blanks dropped on the way back.
  EXPECT_EQ(ReadFile(p.rig.Rx() / "ITEM.CSV"),
            "A001,apple,120\r\nB002,banana split with cr,75\r\n,,\r\nC3,\"q\",9\r\n");
  // The field file is never stored.
  EXPECT_FALSE(std::filesystem::exists(p.rig.Rx() / "ITEM.FLD"));

  // The field file went first, in one SOH block.
  const Bytes line = p.rig.link.Written(MemoryLink::A);
  const std::string fld = "* created by BHT\r\nfile\tITEM.CSV\r\nsize\t140\r\nrecords\t4\r\nfields\t8 20 5\r\n";
  const std::string head(line.begin() + 3, line.begin() + 3 + 12);
  EXPECT_EQ(head, std::string("ITEM.FLD\0", 9) + std::to_string(fld.size()) + std::string(1, '\0'));
  EXPECT_EQ(line[kSmallBlock], SOH);
  EXPECT_EQ(std::string(line.begin() + kSmallBlock + 3, line.begin() + kSmallBlock + 3 + fld.size()), fld);

  // One log line per side, byte for byte.
  const auto logLine = [](std::string_view dir) {
    return ToAnsi(std::string("01/08 14:05:09 ITEM.CSV      4件         ") + std::string(dir) + "  正常終了" +
                  std::string(22, ' ') + "\r\n");
  };
  EXPECT_EQ(ReadFile(p.rig.dir / "send.log"), logLine("送信"));
  EXPECT_EQ(ReadFile(p.rig.dir / "recv.log"), logLine("受信"));
}

TEST(Transfer, FixedLengthDataFileKeepsItsRecordsAndALongFieldFileTakesTwoBlocks) {
  // More than 256 fields are refused before anything travels.
  {
    TransferRig rig;
    std::string fields;
    for (int i = 0; i < 257; ++i) fields += (i ? "," : "") + std::string("1");
    WriteFile(rig.dir / "big.dat", "x\r\n");
    auto tx = rig.Sender("big.dat", "BIG.DAT", fields);
    rig.Add(*tx);
    ASSERT_TRUE(rig.RunToEnd(0));
    EXPECT_EQ(tx->ErrorNo(), result::FieldFileError);
    EXPECT_TRUE(rig.link.Written(MemoryLink::A).empty());
  }
  // 256 fields of 255 bytes: the field file is longer than 1024 bytes.
  Pair q;
  std::string fields, data;
  for (int i = 0; i < 256; ++i) fields += (i ? "," : "") + std::string("255");
  for (int r = 0; r < 3; ++r) data += std::string(256 * 255, static_cast<char>('a' + r)) + "\r\n";
  WriteFile(q.rig.dir / "big.dat", data);
  q.tx = q.rig.Sender("big.dat", "BIG.DAT", fields);
  q.rx = q.rig.Receiver();
  q.Run();
  ASSERT_EQ(q.tx->ErrorNo(), 0);
  ASSERT_EQ(q.rx->ErrorNo(), 0);
  EXPECT_EQ(ReadFile(q.rig.Rx() / "BIG.DAT"), data);
  const Bytes line = q.rig.link.Written(MemoryLink::A);
  EXPECT_EQ(line[kSmallBlock], STX);                // the field file's first 1024 bytes
  EXPECT_EQ(line[kSmallBlock + kLargeBlock], SOH);  // and its rest
}

// A send to a scripted terminal: ten NAKs end it, nine do not.
TEST(Send, TenRefusalsOfABlockEndWithCommErrorNineDoNot) {
  for (int naks : {9, 10}) {
    SCOPED_TRACE(naks);
    TransferRig rig;
    WriteFile(rig.dir / "a.pd3", Pattern(2000));
    auto tx = rig.Sender("a.pd3", "A.PD3");
    int refused = 0;
    auto good = GoodTerminal();
    ScriptPeer term(rig.link, MemoryLink::B, rig.clock, [&](const Bytes& u) -> std::vector<ScriptPeer::Reply> {
      if (u[0] == STX && u[1] == 1 && refused < naks) {
        ++refused;
        return {{0, {NAK}}};
      }
      return good(u);
    });
    term.Say({kC});
    rig.Add(*tx);
    rig.Add(term);
    ASSERT_TRUE(rig.RunToEnd());
    const auto firstBlocks = std::count_if(term.Units().begin(), term.Units().end(),
                                           [](const Bytes& u) { return u[0] == STX && u[1] == 1; });
    if (naks == 10) {
      EXPECT_EQ(tx->ErrorNo(), result::CommError);
      EXPECT_EQ(firstBlocks, 10);
      EXPECT_EQ(term.Units().back(), Bytes{CAN});
      EXPECT_EQ(term.Units()[term.Units().size() - 2], Bytes{CAN});
    } else {
      EXPECT_EQ(tx->ErrorNo(), 0);
      EXPECT_EQ(firstBlocks, 10);
    }
  }
}

TEST(Send, NoiseBeforeTheFirstCIsIgnoredAndTwoCsStartOneHeader) {
  TransferRig rig;
  WriteFile(rig.dir / "a.pd3", Pattern(10));
  auto tx = rig.Sender("a.pd3", "A.PD3");
  ScriptPeer term(rig.link, MemoryLink::B, rig.clock, GoodTerminal());
  term.Say({'x', 0x00, 0xFF, ACK, NAK, kC, kC});
  rig.Add(*tx);
  rig.Add(term);
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(tx->ErrorNo(), 0);
  const auto headers = std::count_if(term.Units().begin(), term.Units().end(),
                                     [](const Bytes& u) { return u[0] == SOH && u[1] == 0; });
  EXPECT_EQ(headers, 2);  // the file's and the empty one
}

TEST(Send, ACRightBehindAnAckIsNotLost) {
  // Some receivers answer a header or an EOT with ACK and 'C' in one go.
  TransferRig rig;
  WriteFile(rig.dir / "a.csv", "1,2\r\n");
  auto tx = rig.Sender("a.csv", "A.CSV", "4,4");
  ScriptPeer term(rig.link, MemoryLink::B, rig.clock, [](const Bytes& u) -> std::vector<ScriptPeer::Reply> {
    if ((u[0] == SOH && u[1] == 0 && u[3] != 0) || u[0] == EOT) return {{0, {ACK, kC}}};
    if (u[0] == SOH || u[0] == STX) return {{0, {ACK}}};
    return {};
  });
  term.Say({kC});
  rig.Add(*tx);
  rig.Add(term);
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(tx->ErrorNo(), 0);
  EXPECT_LT(rig.clock.Elapsed(), 1000u);  // no 3-second timeout on the way
}

TEST(Send, ANakForEotSendsEotAgain) {
  TransferRig rig;
  WriteFile(rig.dir / "a.pd3", Pattern(10));
  auto tx = rig.Sender("a.pd3", "A.PD3");
  bool nakked = false;
  auto good = GoodTerminal();
  ScriptPeer term(rig.link, MemoryLink::B, rig.clock, [&](const Bytes& u) -> std::vector<ScriptPeer::Reply> {
    if (u[0] == EOT && !nakked) {
      nakked = true;
      return {{0, {NAK}}};
    }
    return good(u);
  });
  term.Say({kC});
  rig.Add(*tx);
  rig.Add(term);
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(tx->ErrorNo(), 0);
  EXPECT_EQ(std::count(term.Units().begin(), term.Units().end(), Bytes{EOT}), 2);
}

TEST(Send, NakWhereCWasExpectedIsAReceiveDataError) {
  for (bool dataFile : {false, true}) {
    SCOPED_TRACE(dataFile);
    TransferRig rig;
    WriteFile(rig.dir / "a.dat", "12345678\r\n");
    auto tx = dataFile ? rig.Sender("a.dat", "A.DAT", "8") : rig.Sender("a.dat", "A.PD3");
    ScriptPeer term(rig.link, MemoryLink::B, rig.clock, [](const Bytes& u) -> std::vector<ScriptPeer::Reply> {
      if (u[0] == SOH && u[1] == 0) return {{0, {ACK}}, {100, {NAK}}};
      return {};
    });
    term.Say({kC});
    rig.Add(*tx);
    rig.Add(term);
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(tx->ErrorNo(), result::RcvDataError);
    EXPECT_EQ(term.Units().size(), 1u);  // the header, and nothing after
  }
}

TEST(Send, CanInEveryWaitingStateAbortsWithNothingSent) {
  const TYmComStat states[] = {TYmComStat::S20, TYmComStat::S21, TYmComStat::S22, TYmComStat::S23,
                               TYmComStat::S24, TYmComStat::S30, TYmComStat::S31, TYmComStat::S32,
                               TYmComStat::S33, TYmComStat::S40, TYmComStat::S41, TYmComStat::S42};
  for (TYmComStat state : states) {
    SCOPED_TRACE(StateName(state));
    TransferRig rig;
    WriteFile(rig.dir / "a.csv", "1,2\r\n3,4\r\n");
    auto tx = rig.Sender("a.csv", "A.CSV", "4,4", [&](TransferRequest& r) {
      r.LogFlag = true;
      r.LogFile = rig.dir / "log";
    });
    auto good = GoodTerminal();
    bool stopped = false;
    ScriptPeer term(rig.link, MemoryLink::B, rig.clock,
                    [&](const Bytes& u) { return stopped ? std::vector<ScriptPeer::Reply>{} : good(u); });
    term.Say({kC}, 5);
    rig.Add(*tx);
    rig.Add(term);
    ASSERT_TRUE(rig.RunUntil([&] { return tx->YmComStat() == state; }));
    stopped = true;
    term.Hush();
    const std::size_t before = rig.link.Written(MemoryLink::A).size();
    rig.link.Inject(MemoryLink::A, {CAN});
    ASSERT_TRUE(rig.RunToEnd(100));
    EXPECT_EQ(tx->ErrorNo(), result::Aborted);
    EXPECT_EQ(rig.link.Written(MemoryLink::A).size(), before);
    EXPECT_NE(ReadFile(rig.dir / "log").find(ToAnsi("中断")), std::string::npos);
  }
}

TEST(Send, ADataFileWaitsOneMinuteForTheFirstC) {
  TransferRig rig;
  WriteFile(rig.dir / "a.dat", "12345678\r\n");
  auto tx = rig.Sender("a.dat", "A.DAT", "8");
  rig.Add(*tx);
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(tx->ErrorNo(), result::TimeOut);
  EXPECT_EQ(rig.link.Written(MemoryLink::A), (Bytes{CAN, CAN}));
  // One minute, the turnaround pauses and the pause between the two CANs.
  EXPECT_GE(rig.clock.Elapsed(), 60000u);
  EXPECT_LE(rig.clock.Elapsed(), 60000u + 150);
}

TEST(Send, AProgramSendsItsHeaderAfterAMinuteThenEveryThreeSeconds) {
  TransferRig rig;
  WriteFile(rig.dir / "a.pd3", "x");
  auto tx = rig.Sender("a.pd3", "A.PD3");
  std::vector<std::uint64_t> sentAt;
  ScriptPeer term(rig.link, MemoryLink::B, rig.clock, [&](const Bytes&) {
    sentAt.push_back(rig.clock.Elapsed());
    return std::vector<ScriptPeer::Reply>{};
  });
  rig.Add(*tx);
  rig.Add(term);
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(tx->ErrorNo(), result::TimeOut);
  ASSERT_EQ(term.Units().size(), 9u + 2u);  // nine headers, then the two CANs
  for (int i = 0; i < 9; ++i) EXPECT_EQ(term.Units()[i][1], 0);
  EXPECT_NEAR(static_cast<double>(sentAt[0]), 60010, 5);
  for (int i = 1; i < 9; ++i) EXPECT_NEAR(static_cast<double>(sentAt[i] - sentAt[i - 1]), 3010, 5);
  EXPECT_EQ(term.Units()[9], Bytes{CAN});
}

TEST(Send, TheMinuteOfTheFirstWaitSurvivesATickCounterWrap) {
  TransferRig rig;
  rig.clock.SetTick(0xFFFFFFFFu - 499);
  WriteFile(rig.dir / "a.dat", "12345678\r\n");
  auto tx = rig.Sender("a.dat", "A.DAT", "8");
  rig.Add(*tx);
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(tx->ErrorNo(), result::TimeOut);
  // The wait restarts when the counter passes zero, 500 ms in.
  EXPECT_GE(rig.clock.Elapsed(), 60500u);
  EXPECT_LE(rig.clock.Elapsed(), 60500u + 150);
}

TEST(Send, PreparationFailuresEndBeforeAnythingTravels) {
  struct Case {
    const char* pcName;
    const char* content;  // nullptr: no file
    const char* bhtName;
    const char* fields;
    std::int32_t code;
  };
  const Case cases[] = {
      {"missing.pd3", nullptr, "M.PD3", "", result::NoSendFile},
      {"empty.pd3", "", "E.PD3", "", result::SendDataError},
      {"a.csv", "1,2\r\n", "A.CSV", "", result::FieldFileError},
      {"a.csv", "1,2\r\n", "A.CSV", "0,3", result::FieldFileError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pcName);
    TransferRig rig;
    if (c.content) WriteFile(rig.dir / c.pcName, c.content);
    auto tx = rig.Sender(c.pcName, c.bhtName, c.fields, [&](TransferRequest& r) {
      r.LogFlag = true;
      r.LogFile = rig.dir / "log";
    });
    rig.Add(*tx);
    ASSERT_TRUE(rig.RunToEnd(0));
    EXPECT_EQ(tx->ErrorNo(), c.code);
    EXPECT_TRUE(rig.link.Written(MemoryLink::A).empty());
    EXPECT_NE(ReadFile(rig.dir / "log").find(ToAnsi(ResultLogText(c.code))), std::string::npos);
    EXPECT_EQ(rig.pcView.ended, 1);
  }
}

TEST(Send, ALogThatCannotBeOpenedStopsTheTransferBeforeTheLine) {
  TransferRig rig;
  WriteFile(rig.dir / "a.pd3", "x");
  auto tx = rig.Sender("a.pd3", "A.PD3", [&](TransferRequest& r) {
    r.LogFlag = true;
    r.LogFile = rig.dir / "no such folder" / "PWKCOM1_2026_01.log";
  });
  rig.Add(*tx);
  ASSERT_TRUE(rig.RunToEnd(0));
  EXPECT_EQ(tx->ErrorNo(), result::FileAccessError);
  EXPECT_TRUE(rig.link.Written(MemoryLink::A).empty());
  ASSERT_EQ(rig.boxes.shown.size(), 1u);
  EXPECT_EQ(rig.boxes.shown[0].title, "ファイル作成／アクセスエラー");
  EXPECT_EQ(rig.boxes.shown[0].text, LogOpenErrorText(tx->Request().LogFile));
  EXPECT_EQ(rig.boxes.shown[0].flags & kMbIconError, kMbIconError);
}

TEST(Send, StopBeforeAndDuringASendCancelsWithALogLine) {
  for (bool before : {true, false}) {
    SCOPED_TRACE(before);
    TransferRig rig;
    WriteFile(rig.dir / "a.pd3", Pattern(5000));
    auto tx = rig.Sender("a.pd3", "A.PD3", [&](TransferRequest& r) {
      r.LogFlag = true;
      r.LogFile = rig.dir / "log";
    });
    ScriptPeer term(rig.link, MemoryLink::B, rig.clock, GoodTerminal());
    term.Say({kC});
    if (before) tx->StopCom();
    rig.Add(*tx);
    rig.Add(term);
    if (!before) {
      ASSERT_TRUE(rig.RunUntil([&] { return tx->YmComStat() == TYmComStat::S33; }));
      tx->StopCom();
    }
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(tx->ErrorNo(), result::Aborted);
    const Bytes line = rig.link.Written(MemoryLink::A);
    ASSERT_GE(line.size(), 2u);
    EXPECT_EQ(line[line.size() - 1], CAN);
    EXPECT_EQ(line[line.size() - 2], CAN);
    EXPECT_NE(ReadFile(rig.dir / "log").find(ToAnsi("中断")), std::string::npos);
  }
}

TEST(Send, ForcedEndCancelsWithCodeOneAndALogLine) {
  TransferRig rig;
  WriteFile(rig.dir / "a.pd3", Pattern(5000));
  auto tx = rig.Sender("a.pd3", "A.PD3", [&](TransferRequest& r) {
    r.LogFlag = true;
    r.LogFile = rig.dir / "log";
  });
  ScriptPeer term(rig.link, MemoryLink::B, rig.clock, GoodTerminal());
  term.Say({kC});
  rig.Add(*tx);
  rig.Add(term);
  ASSERT_TRUE(rig.RunUntil([&] { return tx->YmComStat() == TYmComStat::S33; }));
  const std::size_t before = rig.link.Written(MemoryLink::A).size();
  rig.Aside(*tx, [&] { tx->EndCom(); });
  ASSERT_TRUE(rig.RunToEnd(10));
  EXPECT_EQ(tx->ErrorNo(), result::Cancelled);
  const Bytes line = rig.link.Written(MemoryLink::A);
  EXPECT_EQ(Bytes(line.begin() + static_cast<std::ptrdiff_t>(before), line.end()), (Bytes{CAN, CAN}));
  EXPECT_NE(ReadFile(rig.dir / "log").find(ToAnsi("取消")), std::string::npos);
}

TEST(Send, APortThatFailsToWriteEndsWithItsCode) {
  TransferRig rig;
  WriteFile(rig.dir / "a.pd3", Pattern(5000));
  auto tx = rig.Sender("a.pd3", "A.PD3");
  ScriptPeer term(rig.link, MemoryLink::B, rig.clock, GoodTerminal());
  term.Say({kC});
  rig.link.FailWrite(MemoryLink::A, 3);
  rig.Add(*tx);
  rig.Add(term);
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(tx->ErrorNo(), result::SendBufWriteError);
  ASSERT_FALSE(rig.boxes.shown.empty());
  EXPECT_EQ(rig.boxes.shown.back().text, "送信データ書き込みエラー");
}

// A forced end that comes while the worker takes the last ACK is too late:
// the send has ended with 0, logged once, and nothing follows on the line.
TEST(Send, AForcedEndDuringTheLastAckLeavesTheSuccessAlone) {
  Pair p;
  WriteFile(p.rig.dir / "a.pd3", Pattern(3000));
  p.tx = p.rig.Sender("a.pd3", "A.PD3", [&](TransferRequest& r) {
    r.LogFlag = true;
    r.LogFile = p.rig.dir / "log";
  });
  p.rx = p.rig.Receiver();
  p.rig.pcView.onLabel = [&](std::string_view label) {
    if (label.ends_with("送信終了")) p.tx->EndCom();
  };
  p.Run();
  EXPECT_EQ(p.tx->ErrorNo(), 0);
  const std::string log = ReadFile(p.rig.dir / "log");
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);
  EXPECT_NE(log.find(ToAnsi("正常終了")), std::string::npos);
  EXPECT_NE(p.rig.link.Written(MemoryLink::A).back(), CAN);
}

// The terminal's two CANs right behind a 'C' are not lost in the rest of the
// read that the sender's answer drops.
TEST(Send, ACancelBehindTheFirstCIsNotLost) {
  TransferRig rig;
  WriteFile(rig.dir / "a.pd3", Pattern(3000));
  auto tx = rig.Sender("a.pd3", "A.PD3");
  ScriptPeer term(rig.link, MemoryLink::B, rig.clock, [](const Bytes&) { return std::vector<ScriptPeer::Reply>{}; });
  term.Say({kC, CAN, CAN});
  rig.Add(*tx);
  rig.Add(term);
  ASSERT_TRUE(rig.RunToEnd(1000));
  EXPECT_EQ(tx->ErrorNo(), result::Aborted);
}

// A port write that fails, at every write of a whole transfer on either side,
// ends that side with 18, one log line and one end for its view; the other
// side ends too, and the file under its name is the old one or the whole new
// one, never a part.
TEST(Transfer, AFailedWriteAnywhereEndsCleanly) {
  const std::string content = Pattern(2500), csv = "A1,x\r\nB2,y\r\n";
  for (const bool dataFile : {false, true}) {
    for (const MemoryLink::End side : {MemoryLink::A, MemoryLink::B}) {
      for (int n = 1;; ++n) {
        SCOPED_TRACE(testing::Message() << "data " << dataFile << " side " << side << " write " << n);
        Pair p;
        const std::string name = dataFile ? "A.CSV" : "A.PD3";
        WriteFile(p.rig.dir / "a.in", dataFile ? csv : content);
        WriteFile(p.rig.Rx() / name, "old");
        const auto logTo = [&](const char* file) {
          return [&p, file](TransferRequest& r) {
            r.LogFlag = true;
            r.LogFile = p.rig.dir / file;
          };
        };
        p.tx = p.rig.Sender("a.in", name, dataFile ? "2,1" : "", logTo("tx.log"));
        p.rx = p.rig.Receiver(logTo("rx.log"));
        p.rig.link.FailWrite(side, n);
        TYmThread& failing = side == MemoryLink::A ? *p.tx : *p.rx;
        TYmThread& other = side == MemoryLink::A ? *p.rx : *p.tx;
        p.rig.Add(*p.tx);
        p.rig.Add(*p.rx);
        ASSERT_TRUE(p.rig.RunUntil([&] { return failing.Ended(); }));
        // A receiver waits for a header without limit, until its user stops it.
        ASSERT_TRUE(p.rig.RunUntil([&] { return other.Ended() || other.YmComStat() == TYmComStat::S00; }));
        other.StopCom();
        ASSERT_TRUE(p.rig.RunToEnd());
        const std::string stored = ReadFile(p.rig.Rx() / name);
        EXPECT_TRUE(stored == "old" || stored == (dataFile ? csv : content));
        if (failing.ErrorNo() == 0) break;  // past the last write
        EXPECT_EQ(failing.ErrorNo(), result::SendBufWriteError);
        const std::string log = ReadFile(p.rig.dir / (side == MemoryLink::A ? "tx.log" : "rx.log"));
        // Its one failure line, behind the line of a file stored before it.
        const std::string failed = ToAnsi("送信ﾊﾞｯﾌｧ書き込みｴﾗｰ");
        EXPECT_NE(log.find(failed), std::string::npos);
        EXPECT_EQ(log.find(failed), log.rfind(failed));
        const bool storedBefore = log.find(ToAnsi("正常終了")) != std::string::npos;
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), storedBefore ? 2 : 1);
        EXPECT_EQ((side == MemoryLink::A ? p.rig.pcView : p.rig.bhtView).ended, 1);
        ASSERT_LT(n, 40);
      }
    }
  }
}

// A block whose complement is wrong but whose CRC is right is refused and
// comes again.
TEST(Transfer, AWrongComplementIsRefusedAndTheBlockComesAgain) {
  Pair p;
  const std::string content = Pattern(3000);
  WriteFile(p.rig.dir / "a.pd3", content);
  p.tx = p.rig.Sender("a.pd3", "A.PD3");
  p.rx = p.rig.Receiver();
  const std::uint64_t complementOfBlock2 = kSmallBlock + kLargeBlock + 2;
  p.rig.link.CorruptByte(MemoryLink::A, complementOfBlock2, 0x01);
  p.Run();
  EXPECT_EQ(p.tx->ErrorNo(), 0);
  EXPECT_EQ(p.rx->ErrorNo(), 0);
  EXPECT_EQ(ReadFile(p.rig.Rx() / "A.PD3"), content);
  EXPECT_EQ(p.rig.link.Written(MemoryLink::A).size(), 2 * kSmallBlock + 4 * kLargeBlock + 1);
}

// With CsvFlg on, a data file of any extension comes back as comma text; with
// logging off, a log in a folder that does not exist troubles nobody.
TEST(Transfer, CsvFlgTurnsEveryDataFileIntoCommaTextAndNoLogIsNoMatter) {
  Pair p;
  WriteFile(p.rig.dir / "item.dat", "AB  1234\r\nC   5   \r\n");
  p.tx = p.rig.Sender("item.dat", "ITEM.DAT", "4,4");
  p.rx = p.rig.Receiver([&](TransferRequest& r) {
    r.CsvFlg = true;
    r.LogFile = p.rig.dir / "missing" / "x.log";
  });
  p.Run();
  EXPECT_EQ(p.rx->ErrorNo(), 0);
  EXPECT_EQ(ReadFile(p.rig.Rx() / "ITEM.DAT"), "AB,1234\r\nC,5\r\n");
  EXPECT_TRUE(p.rig.boxes.shown.empty());
  EXPECT_FALSE(std::filesystem::exists(p.rig.dir / "missing"));
}

}  // namespace
}  // namespace pw::test
