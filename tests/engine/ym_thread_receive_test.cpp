// The receiver against the sender and against scripted terminals, over the
// in-memory line on virtual time.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "content/result_codes.h"
#include "engine/ymodem_block.h"
#include "platform/codepage.h"
#include "tests/engine/transfer_rig.h"

namespace pw::test {
namespace {

using namespace ymodem;
using Reply = ScriptPeer::Reply;

std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 13 + 5 + i / 256) & 0xFF);  // no two blocks alike
  return s;
}

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

/// A terminal that sends each step's bytes when the PC's byte \p on arrives.
struct Step {
  std::uint8_t on;
  Bytes send;
};
ScriptPeer::Handler Sequence(std::vector<Step> steps) {
  auto next = std::make_shared<std::size_t>(0);
  return [steps, next](const Bytes& u) -> std::vector<Reply> {
    if (*next < steps.size() && u[0] == steps[*next].on) return {{0, steps[(*next)++].send}};
    return {};
  };
}

/// The steps of a terminal sending one raw file in 1024-byte blocks and
/// ending the batch.
std::vector<Step> RawFileSteps(const std::string& header, const std::string& data) {
  std::vector<Step> steps{{kC, HeaderBlock(header)}};
  std::uint8_t kind = kC;
  for (std::size_t off = 0, n = 1; off < data.size(); off += 1024, ++n) {
    const std::string part = data.substr(off, 1024);
    steps.push_back({kind, DataBlock(STX, static_cast<std::uint8_t>(n), Bytes(part.begin(), part.end()))});
    kind = ACK;
  }
  steps.push_back({ACK, {EOT}});
  steps.push_back({kC, HeaderBlock("")});
  return steps;
}

/// The field file of a data file \p name of \p records records of the widths
/// \p fields (blank-separated), each record followed by CR LF.
std::string FieldText(const std::string& name, int records, int recordLength, const std::string& fields) {
  return "* created by BHT\r\nfile\t" + name + "\r\nsize\t" + std::to_string(records * (recordLength + 2)) +
         "\r\nrecords\t" + std::to_string(records) + "\r\nfields\t" + fields + "\r\n";
}

std::vector<Step> DataFileSteps(const std::string& name, const std::string& fld, const std::string& data) {
  const std::string fldName = name.substr(0, name.find('.')) + ".FLD";
  std::vector<Step> steps{{kC, HeaderBlock(fldName + std::string(1, '\0') + std::to_string(fld.size()))},
                          {kC, DataBlock(SOH, 1, B(fld))},
                          {ACK, {EOT}},
                          {kC, HeaderBlock(name + std::string(1, '\0') + std::to_string(data.size()))},
                          {kC, DataBlock(STX, 1, B(data))},
                          {ACK, {EOT}},
                          {kC, HeaderBlock("")}};
  return steps;
}

TEST(Receive, HeadersThatCannotBeStoredAreRefused) {
  const std::string z(1, '\0');
  const std::string headers[] = {
      "ABCDEFGHI.PD3" + z + "10",  // 13 bytes
      "TANAYYMMDD.FLD" + z + "70",  // 14 bytes, even with a date placeholder
      "A.PD3" + z + "0",           // size 0
      "A.PD3" + z,                 // no size
      "A.PD3" + z + "2147483648",  // beyond 32 bits
      "../A.PD3" + z + "10",       "A/B.PD3" + z + "10", "A\\B.PD3" + z + "10", "C:A.PD3" + z + "10",
      "CON.PD3" + z + "10",        "nul" + z + "10",     "COM1.TXT" + z + "10", ".." + z + "10",
      z + "" + "X",                // not refused: the end of a batch (checked below)
  };
  for (const std::string& h : headers) {
    SCOPED_TRACE(h);
    TransferRig rig;
    auto rx = rig.Receiver();
    ScriptPeer term(rig.link, MemoryLink::A, rig.clock, Sequence({{kC, HeaderBlock(h)}}), false);
    rig.Add(*rx);
    rig.Add(term);
    ASSERT_TRUE(rig.RunUntil([&] { return term.Units().size() >= 2 || rx->Ended(); }, 5000));
    if (h[0] == '\0') {
      EXPECT_EQ(term.Units().back(), Bytes{ACK});
      EXPECT_TRUE(rx->Ended());
    } else {
      EXPECT_EQ(term.Units().back(), Bytes{NAK});
      EXPECT_EQ(rx->YmComStat(), TYmComStat::S01);
    }
    EXPECT_TRUE(std::filesystem::is_empty(rig.Rx()));
  }
}

TEST(Receive, TheAnnouncedSizeCutsTheFillOfTheLastBlock) {
  TransferRig rig;
  auto rx = rig.Receiver();
  const std::string data = Pattern(2048);
  ScriptPeer term(rig.link, MemoryLink::A, rig.clock,
                  Sequence(RawFileSteps("abc.pd4" + std::string(1, '\0') + "1500 0 0", data)), false);
  rig.Add(*rx);
  rig.Add(term);
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(rx->ErrorNo(), 0);
  EXPECT_EQ(rx->RcvFile(), "ABC.PD4");
  EXPECT_EQ(ReadFile(rig.Rx() / "ABC.PD4"), data.substr(0, 1500));
  // 'C', then ACK and 'C' for the header, ACK per block, ACK for EOT, 'C', ACK.
  EXPECT_EQ(term.Units().size(), 1u + 2 + 2 + 1 + 1 + 1);
}

TEST(Receive, ADataFileWithoutItsFieldFileIsRefusedTenTimes) {
  TransferRig rig;
  auto rx = rig.Receiver([&](TransferRequest& r) {
    r.LogFlag = true;
    r.LogFile = rig.dir / "log";
  });
  const Bytes header = HeaderBlock("ITEM.DAT" + std::string(1, '\0') + "70");
  ScriptPeer term(rig.link, MemoryLink::A, rig.clock, [&](const Bytes& u) -> std::vector<Reply> {
    if (u[0] == kC || u[0] == NAK) return {{0, header}};
    return {};
  }, false);
  rig.Add(*rx);
  rig.Add(term);
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(rx->ErrorNo(), result::CommError);
  EXPECT_EQ(std::count(term.Units().begin(), term.Units().end(), Bytes{NAK}), 9);
  EXPECT_EQ(term.Units()[term.Units().size() - 2], Bytes{CAN});
  EXPECT_EQ(term.Units().back(), Bytes{CAN});
  EXPECT_NE(ReadFile(rig.dir / "log").find(ToAnsi("通信エラー")), std::string::npos);
}

TEST(Receive, DataFileArrivesBehindItsFieldFileAndTheDatePlaceholderIsFilledIn) {
  TransferRig rig;
  rig.clock.SetNow({2026, 12, 7, 9, 30, 0});
  auto rx = rig.Receiver([&](TransferRequest& r) {
    r.LogFlag = true;
    r.LogFile = rig.dir / "log";
  });
  const std::string data = "AAAA1234\r\nBBBB5678\r\n";
  // Names are at most 12 bytes on the line, the placeholder included.
  ScriptPeer term(rig.link, MemoryLink::A, rig.clock,
                  Sequence(DataFileSteps("TAYYMMDD.DAT", FieldText("TAYYMMDD.DAT", 2, 8, "4 4"), data)), false);
  rig.Add(*rx);
  rig.Add(term);
  ASSERT_TRUE(rig.RunToEnd());
  ASSERT_EQ(rx->ErrorNo(), 0);
  EXPECT_EQ(rx->RcvFile(), "TA261207.DAT");
  EXPECT_EQ(rx->ReceivedFieldList(), "4,4");
  EXPECT_EQ(ReadFile(rig.Rx() / "TA261207.DAT"), data);
  EXPECT_EQ(ReadFile(rig.dir / "log"),
            ToAnsi("12/07 09:30:00 TA261207.DAT  2件         受信  正常終了" + std::string(22, ' ') + "\r\n"));
}

TEST(Receive, EotAlternativeByteEndsTheFileOnlyAfterItsData) {
  Bytes data = B(Pattern(1024));
  data[100] = kEotAlt;  // inside a block it is data
  TransferRig rig;
  auto rx = rig.Receiver();
  ScriptPeer term(rig.link, MemoryLink::A, rig.clock,
                  Sequence({{kC, HeaderBlock("P.PD3" + std::string(1, '\0') + "1024")},
                            {kC, Cat({{kEotAlt}, DataBlock(STX, 1, data)})},
                            {ACK, {kEotAlt}},
                            {kC, HeaderBlock("")}}),
                  false);
  rig.Add(*rx);
  rig.Add(term);
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(rx->ErrorNo(), 0);
  EXPECT_EQ(ReadFile(rig.Rx() / "P.PD3"), std::string(data.begin(), data.end()));
}

TEST(Receive, ALostAckBringsTheBlockAgainAndItIsStoredOnce) {
  // The ACK of the first of two blocks, and the ACK of the last block.
  for (std::size_t size : {std::size_t{2000}, std::size_t{1000}}) {
    SCOPED_TRACE(size);
    TransferRig rig;
    const std::string content = Pattern(size);
    WriteFile(rig.dir / "p.pd3", content);
    auto tx = rig.Sender("p.pd3", "P.PD3");
    auto rx = rig.Receiver();
    rig.link.DropByte(MemoryLink::B, 3);  // 'C', ACK and 'C' for the header, then this ACK
    rig.Add(*tx);
    rig.Add(*rx);
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(tx->ErrorNo(), 0);
    EXPECT_EQ(rx->ErrorNo(), 0);
    EXPECT_EQ(ReadFile(rig.Rx() / "P.PD3"), content);
    // The block went again (at least once): it was still stored once.
    EXPECT_GT(rig.link.Written(MemoryLink::A).size(), kSmallBlock + (size + 1023) / 1024 * kLargeBlock + 1 + kSmallBlock);
  }
}

TEST(Receive, CanFromTheTerminalAbortsInEveryWaitingState) {
  for (TYmComStat state : {TYmComStat::S00, TYmComStat::S07, TYmComStat::S10}) {
    for (bool continuous : {false, true}) {
      SCOPED_TRACE(std::string(StateName(state)) + (continuous ? " continuous" : ""));
      TransferRig rig;
      // The terminal sends the header (and the first block) and then waits.
      std::vector<Step> steps;
      if (state != TYmComStat::S00) steps.push_back({kC, HeaderBlock("P.PD3" + std::string(1, '\0') + "5000")});
      if (state == TYmComStat::S10) steps.push_back({kC, DataBlock(STX, 1, B(Pattern(1024)))});
      ScriptPeer term(rig.link, MemoryLink::A, rig.clock, Sequence(steps), false);
      auto rx = rig.Receiver([&](TransferRequest& r) {
        r.RcvMode = continuous;
        r.LogFlag = true;
        r.LogFile = rig.dir / "log";
      });
      rig.Add(*rx);
      rig.Add(term);
      ASSERT_TRUE(rig.RunUntil([&] { return rx->YmComStat() == state && !term.Units().empty(); }));
      rig.RunUntil([] { return false; }, 200);  // the terminal's last answer has come
      const std::size_t before = rig.link.Written(MemoryLink::B).size();
      rig.link.Inject(MemoryLink::B, {CAN});
      if (!continuous) {
        ASSERT_TRUE(rig.RunUntil([&] { return rx->Ended(); }, 100));
        EXPECT_EQ(rig.link.Written(MemoryLink::B).size(), before);
      } else {
        // Back to waiting: a fresh 'C'.
        ASSERT_TRUE(rig.RunUntil([&] { return rig.link.Written(MemoryLink::B).size() > before; }, 100));
        EXPECT_EQ(rig.link.Written(MemoryLink::B).back(), kC);
        EXPECT_FALSE(rx->Ended());
        rig.Aside(*rx, [&] { rx->StopCom(); });
        ASSERT_TRUE(rig.RunUntil([&] { return rx->Ended(); }, 100));
      }
      EXPECT_EQ(rx->ErrorNo(), continuous ? result::Cancelled : result::Aborted);
      EXPECT_NE(ReadFile(rig.dir / "log").find(ToAnsi("中断")), std::string::npos);
    }
  }
}

TEST(Receive, StopWhileWaitingEndsQuietlyAndStopDuringAFileAborts) {
  {
    TransferRig rig;
    auto rx = rig.Receiver([&](TransferRequest& r) {
      r.LogFlag = true;
      r.LogFile = rig.dir / "log";
    });
    rig.Add(*rx);
    rig.RunUntil([] { return false; }, 2500);
    EXPECT_TRUE(rx->ChkRcvWait());
    const Bytes sent = rig.link.Written(MemoryLink::B);
    EXPECT_EQ(sent, (Bytes{kC, kC, kC}));  // 'C' at once and every second
    rx->StopCom();
    ASSERT_TRUE(rig.RunToEnd(10));
    EXPECT_EQ(rx->ErrorNo(), result::Cancelled);
    EXPECT_EQ(rig.link.Written(MemoryLink::B), sent);
    EXPECT_EQ(ReadFile(rig.dir / "log"), "");
    EXPECT_EQ(rig.bhtView.labels.front(), "受信待ち");
    EXPECT_EQ(rig.bhtView.buttons.front(), "終了");
  }
  {
    TransferRig rig;
    WriteFile(rig.dir / "p.pd3", Pattern(5000));
    auto tx = rig.Sender("p.pd3", "P.PD3");
    auto rx = rig.Receiver([&](TransferRequest& r) {
      r.LogFlag = true;
      r.LogFile = rig.dir / "log";
    });
    rig.Add(*tx);
    rig.Add(*rx);
    ASSERT_TRUE(rig.RunUntil([&] { return rx->YmComStat() == TYmComStat::S10; }));
    EXPECT_FALSE(rx->ChkRcvWait());
    EXPECT_EQ(rig.bhtView.buttons.back(), "中断");
    const std::size_t before = rig.link.Written(MemoryLink::B).size();
    rig.Aside(*rx, [&] { rx->StopCom(); });
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(rx->ErrorNo(), result::Aborted);
    EXPECT_EQ(tx->ErrorNo(), result::Aborted);  // the sender saw the CAN
    const Bytes sent = rig.link.Written(MemoryLink::B);
    EXPECT_EQ(Bytes(sent.begin() + static_cast<std::ptrdiff_t>(before), sent.end()), (Bytes{CAN, CAN}));
    EXPECT_FALSE(std::filesystem::exists(rig.Rx() / "P.PD3"));
  }
}

TEST(Receive, ForcedEndWhileWaitingSendsNothingAndDuringAFileCancels) {
  for (bool during : {false, true}) {
    SCOPED_TRACE(during);
    TransferRig rig;
    WriteFile(rig.dir / "p.pd3", Pattern(5000));
    auto tx = rig.Sender("p.pd3", "P.PD3");
    auto rx = rig.Receiver([&](TransferRequest& r) {
      r.LogFlag = true;
      r.LogFile = rig.dir / "log";
    });
    rig.Add(*rx);
    if (during) rig.Add(*tx);
    ASSERT_TRUE(rig.RunUntil([&] { return rx->YmComStat() == (during ? TYmComStat::S10 : TYmComStat::S00); }));
    const std::size_t before = rig.link.Written(MemoryLink::B).size();
    rig.Aside(*rx, [&] { rx->EndCom(); });
    ASSERT_TRUE(rig.RunUntil([&] { return rx->Ended(); }, 10));
    rig.RunToEnd();
    EXPECT_EQ(rx->ErrorNo(), result::Cancelled);
    const Bytes sent = rig.link.Written(MemoryLink::B);
    EXPECT_EQ(Bytes(sent.begin() + static_cast<std::ptrdiff_t>(before), sent.end()),
              during ? (Bytes{CAN, CAN}) : Bytes{});
    EXPECT_EQ(ReadFile(rig.dir / "log").find(ToAnsi("取消")) != std::string::npos, during);
  }
}

TEST(Receive, ContinuousModeWaitsForTheNextBatchAfterSuccessAndAfterFailure) {
  TransferRig rig;
  auto rx = rig.Receiver([&](TransferRequest& r) {
    r.RcvMode = true;
    r.LogFlag = true;
    r.LogFile = rig.dir / "log";
  });
  rig.Add(*rx);

  // A batch that fails: ten refusals of its first block.
  WriteFile(rig.dir / "bad.pd3", Pattern(3000));
  auto bad = rig.Sender("bad.pd3", "BAD.PD3");
  rig.link.SetFilter(MemoryLink::A, [](std::uint64_t i, std::uint8_t& b) {
    if (i >= kSmallBlock && i < kSmallBlock + 10 * kLargeBlock && (i - kSmallBlock) % kLargeBlock == 500) b ^= 1;
    return true;
  });
  rig.Add(*bad);
  ASSERT_TRUE(rig.RunUntil([&] { return bad->Ended(); }));
  EXPECT_EQ(bad->ErrorNo(), result::Aborted);  // the receiver's CAN
  rig.link.SetFilter(MemoryLink::A, nullptr);

  // Two good batches follow on the same wait.
  for (const char* name : {"ONE.PD3", "TWO.PD3"}) {
    WriteFile(rig.dir / name, std::string(name) + Pattern(1500));
    auto good = rig.Sender(name, name);
    rig.Add(*good);
    ASSERT_TRUE(rig.RunUntil([&] { return good->Ended(); }));
    EXPECT_EQ(good->ErrorNo(), 0);
    EXPECT_EQ(ReadFile(rig.Rx() / name), std::string(name) + Pattern(1500));
  }
  EXPECT_FALSE(rx->Ended());
  EXPECT_EQ(rx->YmComStat(), TYmComStat::S00);
  rx->StopCom();
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(rx->ErrorNo(), result::Cancelled);
  EXPECT_EQ(rx->RcvFile(), "");  // a stop is not a success
  const std::string log = ReadFile(rig.dir / "log");
  EXPECT_NE(log.find(ToAnsi("通信エラー")), std::string::npos);
  EXPECT_NE(log.find("ONE.PD3"), std::string::npos);
  EXPECT_NE(log.find("TWO.PD3"), std::string::npos);
}

TEST(Receive, WriteModeAppendsTheLinesOfEveryTransferOtherwiseTheLastOneStays) {
  for (bool append : {false, true}) {
    SCOPED_TRACE(append);
    TransferRig rig;
    auto rx = rig.Receiver([&](TransferRequest& r) {
      r.RcvMode = true;
      r.WriteMode = append;
    });
    rig.Add(*rx);
    std::string expected;
    for (const char* text : {"first,1\r\nsecond,2\r\n", "third,3\r\n"}) {
      WriteFile(rig.dir / "item.csv", text);
      auto tx = rig.Sender("item.csv", "ITEM.CSV", "6,1");
      rig.Add(*tx);
      ASSERT_TRUE(rig.RunUntil([&] { return tx->Ended(); }));
      ASSERT_EQ(tx->ErrorNo(), 0);
      expected = append ? expected + text : text;
    }
    rx->StopCom();
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(ReadFile(rig.Rx() / "ITEM.CSV"), expected);
  }
}

TEST(Receive, TheExpectedNameAndFieldsAreHeldToTheDataFileOnly) {
  struct Case {
    const char* sent;
    const char* fields;
    std::int32_t rx, tx;
  };
  const Case cases[] = {
      {"ITEM.DAT", "4,4", result::NormalEnd, result::NormalEnd},
      {"OTHER.DAT", "4,4", result::WrongRcvFile, result::Aborted},
      {"ITEM.DAT", "4,3,1", result::FieldMismatch, result::Aborted},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.sent) + " " + c.fields);
    TransferRig rig;
    WriteFile(rig.dir / "item.dat", "AAAA1234\r\nBBBB5678\r\n");
    auto tx = rig.Sender("item.dat", c.sent, c.fields);
    auto rx = rig.Receiver([&](TransferRequest& r) {
      r.ChkRcvFName = "ITEM.DAT";
      r.ChkFields = "4,4";
      r.LogFlag = true;
      r.LogFile = rig.dir / "log";
    });
    rig.Add(*tx);
    rig.Add(*rx);
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(rx->ErrorNo(), c.rx);
    EXPECT_EQ(tx->ErrorNo(), c.tx);
    EXPECT_EQ(std::filesystem::exists(rig.Rx() / c.sent), c.rx == 0);
    if (c.rx != 0) {
      EXPECT_NE(ReadFile(rig.dir / "log").find(ToAnsi(ResultLogText(c.rx))), std::string::npos);
    }
  }
}

TEST(Receive, ABadFieldFileEndsWithReceivedFieldDataError) {
  TransferRig rig;
  auto rx = rig.Receiver();
  const std::string fld = "* created by BHT\r\nfile\tA.DAT\r\nsize\t10\r\nrecords\t0\r\nfields\t8\r\n";
  ScriptPeer term(rig.link, MemoryLink::A, rig.clock,
                  Sequence({{kC, HeaderBlock("A.FLD" + std::string(1, '\0') + std::to_string(fld.size()))},
                            {kC, DataBlock(SOH, 1, B(fld))},
                            {ACK, {EOT}}}),
                  false);
  rig.Add(*rx);
  rig.Add(term);
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(rx->ErrorNo(), result::RcvFieldDataError);
  EXPECT_EQ(term.Units().back(), Bytes{CAN});
}

TEST(Receive, AnEarlyEotDropsTheFileAndTheOldOneStays) {
  TransferRig rig;
  WriteFile(rig.Rx() / "P.PD3", "old");
  auto rx = rig.Receiver();
  const std::string data = Pattern(1024);
  ScriptPeer term(rig.link, MemoryLink::A, rig.clock,
                  Sequence({{kC, HeaderBlock("P.PD3" + std::string(1, '\0') + "2147483647")},
                            {kC, DataBlock(STX, 1, B(data))},
                            {ACK, {EOT}}}),
                  false);
  rig.Add(*rx);
  rig.Add(term);
  ASSERT_TRUE(rig.RunUntil([&] { return term.Units().size() >= 5; }, 10000));
  // Dropped without an answer; a fresh wait begins.
  EXPECT_EQ(term.Units().back(), Bytes{kC});
  EXPECT_EQ(rx->YmComStat(), TYmComStat::S00);
  EXPECT_EQ(ReadFile(rig.Rx() / "P.PD3"), "old");
  rx->StopCom();
  ASSERT_TRUE(rig.RunToEnd());
}

TEST(Receive, ATemporaryFileThatCannotBeCreatedEndsEvenAContinuousReceive) {
  TransferRig rig;
  WriteFile(rig.dir / "p.pd3", "x");
  auto tx = rig.Sender("p.pd3", "P.PD3");
  auto rx = rig.Receiver([&](TransferRequest& r) {
    r.RcvMode = true;
    r.Tmp2File = rig.dir / "missing" / "portwk2.tmp";
  });
  rig.Add(*tx);
  rig.Add(*rx);
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(rx->ErrorNo(), result::FileAccessError);
  EXPECT_EQ(tx->ErrorNo(), result::Aborted);
}

TEST(Receive, TheBlockDeadlineAllowsLargeBlocksAt115200ButNotAt19200) {
  for (std::uint32_t speed : {115200u, 19200u}) {
    SCOPED_TRACE(speed);
    TransferRig rig;
    rig.link.SetBitRate(speed);
    WriteFile(rig.dir / "p.pd3", Pattern(3000));
    auto tx = rig.Sender("p.pd3", "P.PD3");
    auto rx = rig.Receiver();
    rig.Add(*tx);
    rig.Add(*rx);
    ASSERT_TRUE(rig.RunToEnd());
    if (speed == 115200) {
      EXPECT_EQ(rx->ErrorNo(), 0);
      EXPECT_EQ(ReadFile(rig.Rx() / "P.PD3"), Pattern(3000));
    } else {
      // Each block is refused or runs out of time until one side gives up.
      EXPECT_NE(rx->ErrorNo(), 0);
      EXPECT_NE(tx->ErrorNo(), 0);
      EXPECT_FALSE(std::filesystem::exists(rig.Rx() / "P.PD3"));
    }
  }
}

TEST(Receive, AReadFailureEndsWithItsCode) {
  TransferRig rig;
  WriteFile(rig.dir / "p.pd3", Pattern(3000));
  auto tx = rig.Sender("p.pd3", "P.PD3");
  auto rx = rig.Receiver();
  rig.link.FailRead(MemoryLink::B, 3);
  rig.Add(*tx);
  rig.Add(*rx);
  ASSERT_TRUE(rig.RunUntil([&] { return rx->Ended(); }));
  EXPECT_EQ(rx->ErrorNo(), result::RcvBufReadError);
  ASSERT_FALSE(rig.boxes.shown.empty());
  EXPECT_EQ(rig.boxes.shown.back().text, "受信データ読取エラー");
}

// The size in the data file's header is what is data: fill bytes and blocks
// past it never become records, whatever the field file announced.
TEST(Receive, TheHeaderSizeBoundsTheRecords) {
  struct Case {
    int announced;        // records the field file announces
    std::size_t size;     // the data file's header size
    std::size_t records;  // records stored
  } cases[] = {{150, 100 * 12, 100}, {100, 12, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    TransferRig rig;
    auto rx = rig.Receiver();
    std::string data;
    for (int i = 0; i < 100; ++i) data += "R" + std::to_string(100000000 + i) + "\r\n";
    const std::string fld = FieldText("A.DAT", c.announced, 10, "10");
    std::vector<Step> steps{{kC, HeaderBlock("A.FLD" + std::string(1, '\0') + std::to_string(fld.size()))},
                            {kC, DataBlock(SOH, 1, B(fld))},
                            {ACK, {EOT}},
                            {kC, HeaderBlock("A.DAT" + std::string(1, '\0') + std::to_string(c.size))}};
    Bytes fill(2048, 0x1A);
    std::copy(data.begin(), data.end(), fill.begin());
    const std::size_t blocks = (c.size + 1023) / 1024;
    for (std::size_t n = 0; n < blocks; ++n)
      steps.push_back({n == 0 ? kC : ACK, DataBlock(STX, static_cast<std::uint8_t>(n + 1),
                                                    Bytes(fill.begin() + 1024 * n, fill.begin() + 1024 * (n + 1)))});
    steps.push_back({ACK, {EOT}});
    steps.push_back({kC, HeaderBlock("")});
    ScriptPeer term(rig.link, MemoryLink::A, rig.clock, Sequence(steps), false);
    rig.Add(*rx);
    rig.Add(term);
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(rx->ErrorNo(), 0);
    EXPECT_EQ(ReadFile(rig.Rx() / "A.DAT"), data.substr(0, c.records * 12));
  }
}

// Two CANs in a row end the transfer with 2 wherever they fall outside a
// block's data: right behind a block, in input that a write discards, or
// while the EOT is awaited (one CAN is enough there, as in every wait).
TEST(Receive, TheTerminalsCancelIsNeverLost) {
  const Bytes block = DataBlock(STX, 1, B(Pattern(1024)));
  const Bytes header = HeaderBlock("P.PD3" + std::string(1, '\0') + "3000");
  const Bytes cancel = Cat({Bytes(10, CAN), Bytes(10, 0x08)});  // as sb sends it
  const std::vector<Step> cases[] = {
      {{kC, header}, {kC, Cat({block, cancel})}},  // behind a block, in one read
      {{kC, header}, {ACK, cancel}},               // while the PC pauses between ACK and 'C'
      {{kC, HeaderBlock("P.PD3" + std::string(1, '\0') + "1000")}, {kC, block}, {ACK, {CAN}}},  // awaiting EOT
  };
  for (const auto& steps : cases) {
    TransferRig rig;
    WriteFile(rig.Rx() / "P.PD3", "old");
    auto rx = rig.Receiver();
    ScriptPeer term(rig.link, MemoryLink::A, rig.clock, Sequence(steps), false);
    rig.Add(*rx);
    rig.Add(term);
    ASSERT_TRUE(rig.RunToEnd(1000));
    EXPECT_EQ(rx->ErrorNo(), result::Aborted);
    EXPECT_EQ(ReadFile(rig.Rx() / "P.PD3"), "old");
  }
}

// A file dropped at an early EOT is a failure, logged, and the batch that
// ends behind it does not end with 0.
TEST(Receive, AnEarlyEotBeforeTheEndOfTheBatchIsAFailure) {
  TransferRig rig;
  auto rx = rig.Receiver([&](TransferRequest& r) {
    r.LogFlag = true;
    r.LogFile = rig.dir / "log";
  });
  ScriptPeer term(rig.link, MemoryLink::A, rig.clock,
                  Sequence({{kC, HeaderBlock("P.PD3" + std::string(1, '\0') + "5000")},
                            {kC, DataBlock(STX, 1, B(Pattern(1024)))},
                            {ACK, {EOT}},
                            {kC, HeaderBlock("")}}),
                  false);
  rig.Add(*rx);
  rig.Add(term);
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(rx->ErrorNo(), result::RcvDataError);
  EXPECT_EQ(rx->RcvFile(), "");
  EXPECT_FALSE(std::filesystem::exists(rig.Rx() / "P.PD3"));
  EXPECT_NE(ReadFile(rig.dir / "log").find(ToAnsi("受信データエラー")), std::string::npos);
}

// A receive that fails after a good field file hands back neither a file
// name nor that field file's list.
TEST(Receive, AFailedReceiveHandsBackNoFieldList) {
  TransferRig rig;
  auto rx = rig.Receiver();
  const std::string fld = FieldText("A.DAT", 2, 4, "4");
  ScriptPeer term(rig.link, MemoryLink::A, rig.clock,
                  Sequence({{kC, HeaderBlock("A.FLD" + std::string(1, '\0') + std::to_string(fld.size()))},
                            {kC, DataBlock(SOH, 1, B(fld))},
                            {ACK, {EOT}},
                            {kC, HeaderBlock("A.DAT" + std::string(1, '\0') + "12")},
                            {kC, {CAN}}}),
                  false);
  rig.Add(*rx);
  rig.Add(term);
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(rx->ErrorNo(), result::Aborted);
  EXPECT_EQ(rx->ReceivedFieldList(), "");
}

// Nine refusals of one block and then nine of the next still succeed: each
// accepted block starts the count anew, on both sides.
TEST(Receive, NineRefusalsOfEachOfTwoBlocksStillSucceed) {
  const std::string data = Pattern(2048);
  // The receiver: each block arrives broken nine times.
  {
    TransferRig rig;
    auto rx = rig.Receiver();
    auto sent = std::make_shared<int>(0);
    const Bytes good[] = {DataBlock(STX, 1, B(data.substr(0, 1024))), DataBlock(STX, 2, B(data.substr(1024)))};
    ScriptPeer term(
        rig.link, MemoryLink::A, rig.clock,
        [&, sent](const Bytes& u) -> std::vector<Reply> {
          if (u[0] == kC && *sent == 0) return {{0, HeaderBlock("P.PD3" + std::string(1, '\0') + "2048")}};
          if (u[0] == kC && *sent == 1) ++*sent;
          if (u[0] == ACK && *sent == 22) return {{0, {EOT}}};
          if (u[0] == kC && *sent == 23) return {{0, HeaderBlock("")}};
          if (u[0] != kC && u[0] != ACK && u[0] != NAK) return {};
          if (*sent == 0 || *sent >= 22) {
            ++*sent;
            return {};
          }
          const int k = (*sent - 2) % 10, b = (*sent - 2) / 10;  // the k-th try of block b
          ++*sent;
          Bytes block = good[b];
          if (k < 9) block[100] ^= 1;
          return {{0, block}};
        },
        false);
    rig.Add(*rx);
    rig.Add(term);
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(rx->ErrorNo(), 0);
    EXPECT_EQ(ReadFile(rig.Rx() / "P.PD3"), data);
    EXPECT_EQ(std::count(term.Units().begin(), term.Units().end(), Bytes{NAK}), 18);
  }
  // The sender: the terminal refuses each block nine times.
  {
    TransferRig rig;
    WriteFile(rig.dir / "p.pd3", data);
    auto tx = rig.Sender("p.pd3", "P.PD3");
    auto naks = std::make_shared<int>(0);
    const ScriptPeer::Handler good = GoodTerminal();
    ScriptPeer term(rig.link, MemoryLink::B, rig.clock, [good, naks](const Bytes& u) -> std::vector<Reply> {
      if (u[0] == STX && (*naks)++ % 10 < 9) return {{0, {NAK}}};
      return good(u);
    });
    term.Say({kC});
    rig.Add(*tx);
    rig.Add(term);
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(tx->ErrorNo(), 0);
    EXPECT_EQ(*naks, 20);
  }
}

// In continuous mode a stop during a file aborts that file (2, logged) and
// the receiver waits again; a second stop while it waits ends with 1.
TEST(Receive, AStopInContinuousModeAbortsTheFileAndASecondOneEnds) {
  TransferRig rig;
  WriteFile(rig.dir / "a.pd3", Pattern(5000));
  auto tx = rig.Sender("a.pd3", "A.PD3");
  auto rx = rig.Receiver([&](TransferRequest& r) {
    r.RcvMode = true;
    r.LogFlag = true;
    r.LogFile = rig.dir / "log";
  });
  rig.Add(*tx);
  rig.Add(*rx);
  ASSERT_TRUE(rig.RunUntil([&] { return rx->YmComStat() == TYmComStat::S10; }));
  EXPECT_EQ(rig.bhtView.labels.back(), "A.PD3 ﾌﾟﾛｸﾞﾗﾑ受信");
  rx->StopCom();
  ASSERT_TRUE(rig.RunUntil([&] { return tx->Ended() && rx->YmComStat() == TYmComStat::S00; }));
  EXPECT_EQ(tx->ErrorNo(), result::Aborted);
  EXPECT_FALSE(rx->Ended());
  EXPECT_EQ(rig.bhtView.labels.back(), "受信待ち");
  EXPECT_NE(ReadFile(rig.dir / "log").find(ToAnsi("中断")), std::string::npos);
  rx->StopCom();
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(rx->ErrorNo(), result::Cancelled);
}

// A failing write of the temporary file in the middle of a receive ends it
// with 12 and its message; the old file stays.
TEST(Receive, ATemporaryFileThatFailsMidwayEndsWithAFileError) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  TransferRig rig;
  WriteFile(rig.dir / "p.pd3", Pattern(300 * 1024));
  WriteFile(rig.Rx() / "P.PD3", "old");
  auto tx = rig.Sender("p.pd3", "P.PD3");
  auto rx = rig.Receiver([&](TransferRequest& r) { r.Tmp2File = "/dev/full"; });
  rig.Add(*tx);
  rig.Add(*rx);
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(rx->ErrorNo(), result::FileAccessError);
  EXPECT_EQ(ReadFile(rig.Rx() / "P.PD3"), "old");
  ASSERT_EQ(rig.boxes.shown.size(), 1u);
}

}  // namespace
}  // namespace pw::test
