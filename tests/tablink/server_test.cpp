// The table server over an in-memory line, on virtual time, with a table
// held in memory: a received data file replaces the table's rows in one
// transaction, a failure inside it leaves the rows as they were, a request
// is answered with the rows and a row with an empty cell stops it with 36;
// after each the server waits for the next file.
#include "tablink/server.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "engine/ymodem_block.h"
#include "tablink/result_texts.h"
#include "tests/engine/transfer_rig.h"
#include "tests/support/memory_table.h"

namespace pw::tablink {
namespace {

using namespace ymodem;
using test::Bytes;
using test::ScriptPeer;
using test::TableOp;

class TableServer : public ::testing::Test {
 protected:
  TableServer() {
    table.AddTable("ITEMS", {"CODE", "NAME", "QTY"}, {{"OLD", "old row", "9"}});
    Definition d;
    d.BhtFile = "ITEM.DAT";
    d.Vector = kBothWays;
    d.SaveName = "ITEMS";
    d.FieldCount = 2;
    d.FieldMap = {1, 2};  // the third field is dropped on receive, not sent on request
    d.FieldWidths = "4 6";
    DefinitionHeader h;
    h.VerStr = "Ver2.00";
    std::ofstream f(rig.dir / "TablinkCdf.Def", std::ios::binary);
    for (const Record& r : {EncodeHeader(h), EncodeDefinition(d)})
      f.write(reinterpret_cast<const char*>(r.data()), static_cast<std::streamsize>(r.size()));
  }

  /// The server on the PC's end, overwriting the table.
  void Serve() {
    ServerSettings s;
    s.Store = {kSaveAccess, rig.dir.path(), false, rig.dir / "tmp"};
    s.Definitions = rig.dir / "TablinkCdf.Def";
    server = std::make_unique<TablinkServer>(rig.link.Device(test::MemoryLink::A), rig.clock, rig.pcView, rig.alerts,
                                             s, &table, [this](const LogEntry& e) { codes.push_back(e.Code); });
    rig.Add(*server);
  }
  /// The terminal sends \p records as ITEM.DAT, behind its field file.
  void TerminalSends(const std::string& records) {
    std::ofstream(rig.dir / "ITEM.DAT", std::ios::binary) << records;
    TransferRequest r;
    r.TxFlag = true;
    r.TxFName = rig.dir / "ITEM.DAT";
    r.BhtFName = "ITEM.DAT";
    r.FieldsDat = "4,6,2";
    terminal = rig.Worker(std::move(r), test::MemoryLink::B);
    rig.Add(*terminal);
    ASSERT_TRUE(rig.RunUntil([&] { return terminal->Ended() && server->ChkRcvWait(); }, 120'000));
  }
  /// Runs until the server has logged \p n transfers and waits again.
  bool Logged(std::size_t n) {
    return rig.RunUntil([&] { return codes.size() >= n && server->ChkRcvWait(); }, 120'000);
  }

  test::TransferRig rig;
  test::MemoryConnection table;
  std::unique_ptr<TablinkServer> server;
  std::unique_ptr<TYmThread> terminal;
  std::vector<std::int32_t> codes;
};

TEST_F(TableServer, AReceiveReplacesTheRowsAndAFailureLeavesThemAsTheyWere) {
  Serve();
  TerminalSends("A001Apple 12\r\nB002Banana34\r\n");
  EXPECT_EQ(terminal->ErrorNo(), 0);
  ASSERT_TRUE(Logged(1));
  EXPECT_EQ(codes, (std::vector<std::int32_t>{0}));
  using Rows = std::vector<std::vector<std::string>>;
  EXPECT_EQ(table.Rows("ITEMS"), (Rows{{"A001", "Apple", ""}, {"B002", "Banana", ""}}));

  // The second row cannot be posted: 31, and the table is as it was before.
  table.FailOn(TableOp::Post, 2);
  TerminalSends("C003Cherry56\r\nD004Dates 78\r\n");
  ASSERT_TRUE(Logged(2));
  EXPECT_EQ(codes.back(), code::PostFailed);
  EXPECT_EQ(table.Rows("ITEMS"), (Rows{{"A001", "Apple", ""}, {"B002", "Banana", ""}}));
  EXPECT_FALSE(table.InTransaction());

  // Rows a store kept back are refused at the end of the file: 31 as well,
  // and the server waits again.
  table.FailOn(TableOp::Flush);
  TerminalSends("E005Elder 90\r\n");
  ASSERT_TRUE(Logged(3));
  EXPECT_EQ(codes.back(), code::PostFailed);
  EXPECT_EQ(table.Rows("ITEMS"), (Rows{{"A001", "Apple", ""}, {"B002", "Banana", ""}}));
  EXPECT_FALSE(table.InTransaction());
  EXPECT_TRUE(table.Misuse().empty()) << table.Misuse().front();
}

TEST_F(TableServer, ARequestIsAnsweredWithTheRowsUntilACellIsEmpty) {
  Serve();
  // A terminal that asks for ITEM.DAT at the server's first 'C', then takes
  // the batch as a good terminal does.
  bool asked = false;
  Bytes got;
  const ScriptPeer::Handler good = test::GoodTerminal();
  ScriptPeer bht(rig.link, test::MemoryLink::B, rig.clock, [&](const Bytes& u) -> std::vector<ScriptPeer::Reply> {
    if (!asked && u == Bytes{kC}) {
      asked = true;
      return {{0, test::HeaderBlock("#DITEM.DAT    ")}};
    }
    if (asked && u == Bytes{ACK}) return {{100, {kC}}};
    if (u[0] == STX || (u[0] == SOH && u[1] != 0)) got.insert(got.end(), u.begin() + 3, u.end() - 2);
    return good(u);
  });
  table.AddTable("ITEMS", {"CODE", "NAME", "QTY"}, {{"A001", "Apple", "1"}, {"B002", "Banana", "2"}});
  rig.Add(bht);
  ASSERT_TRUE(Logged(1));
  EXPECT_EQ(codes, (std::vector<std::int32_t>{0}));
  // The field file's block, then the records, the fill of the last block.
  const std::string text(got.begin(), got.end());
  EXPECT_NE(text.find("records\t2\r\nfields\t4 6\r\n"), std::string::npos);
  EXPECT_NE(text.find(std::string("A001Apple \r\nB002Banana\r\n\0\0", 26)), std::string::npos);

  // A row whose mapped cell is empty stops the send with 36.
  table.AddTable("ITEMS", {"CODE", "NAME", "QTY"}, {{"A001", "", "1"}});
  asked = false;
  bht.Hush();
  rig.RunUntil([&] { return asked; }, 5'000);
  ASSERT_TRUE(Logged(2));
  EXPECT_EQ(codes.back(), code::TableDataError);
  EXPECT_FALSE(table.GetTable().IsOpen());
  EXPECT_TRUE(table.Misuse().empty()) << table.Misuse().front();
}

}  // namespace
}  // namespace pw::tablink
