// Interop with lrzsz over pseudo-terminals: sb sends batches to our receiver,
// our sender sends to rb, and what each side stores is exactly what the other
// meant to send. lrzsz runs behind socat, whose pty is COM1; the peer is
// always ended (it may hang after its last exchange) and judged by its files.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "engine/com_port.h"
#include "engine/transfer_view.h"
#include "engine/ym_thread.h"
#include "platform/clock.h"
#include "tests/integration/peer_process.h"
#include "tests/support/recording_boxes.h"
#include "tests/support/temp_drive.h"

namespace pw {
namespace {

namespace fs = std::filesystem;
using test::ReadWholeFile;
using test::WriteWholeFile;

constexpr const char* kTitle = "Portwick.dll通信";
constexpr int kWidths[] = {8, 20, 5};
constexpr int kRecordUnit = 8 + 20 + 5 + 2;  // the widths and CR LF

// Notes the end of the transfer, which the worker reports last.
class EndView : public NullTransferView {
 public:
  void TransferEnded() override { ended = true; }
  std::atomic<bool> ended{false};
};

std::string RandomBytes(std::size_t count, unsigned seed) {
  std::mt19937 rng(seed);
  std::string out(count, '\0');
  for (char& c : out) c = static_cast<char>(rng());
  return out;
}

// The field file of a data file with the 8,20,5 layout, as the terminal writes it.
std::string FieldText(const std::string& name, std::size_t size, std::size_t records) {
  return "* created by BHT\r\nfile\t" + name + "\r\nsize\t" + std::to_string(size) + "\r\nrecords\t" +
         std::to_string(records) + "\r\nfields\t8 20 5\r\n";
}

// Records whose fields hold every byte value (CR, LF, 0x1A, CAN, 0x00 among
// them), each ended by CR LF.
std::string BinaryRecords(std::size_t count, unsigned seed) {
  std::string out;
  const std::string fields = RandomBytes(count * (kRecordUnit - 2), seed);
  for (std::size_t r = 0; r < count; ++r) out += fields.substr(r * (kRecordUnit - 2), kRecordUnit - 2) + "\r\n";
  return out;
}

// The record a comma-separated line becomes on the terminal: each value up to
// the next comma (the rest of the line for the last field) filled with blanks
// to its width or cut after it, then CR LF.
std::string RecordOf(std::string line) {
  std::string record;
  for (const int width : kWidths) {
    std::string value = line;
    if (const std::size_t comma = line.find(','); comma != std::string::npos) {
      value = line.substr(0, comma);
      line.erase(0, comma + 1);
    }
    value.resize(static_cast<std::size_t>(width), ' ');
    record += value;
  }
  return record + "\r\n";
}

class Lrzsz : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* program : {"sb", "rb", "socat"}) ASSERT_TRUE(test::OnPath(program)) << program << " is missing";
    fs::create_directories(drive.Path() / "dosdevices");
    fs::create_directories(pc);
    fs::create_directories(folder);
  }

  // socat makes a pty and links COM1 to it; \p command runs in \p cwd on the
  // other end of socat's pipes. Returns once the program itself runs.
  std::unique_ptr<test::PeerProcess> StartPeer(const std::string& command, const fs::path& cwd,
                                               std::string_view program) {
    auto peer = std::make_unique<test::PeerProcess>(test::PeerOptions{
        {"socat", "PTY,link=" + com1.string() + ",raw,echo=0", "SYSTEM:" + command + ",pipes"}, cwd, {}, peerLog});
    EXPECT_TRUE(test::WaitForPath(com1, 5000)) << "socat made no pty";
    EXPECT_TRUE(test::WaitForDescendant(peer->Pid(), program, 5000)) << program << " did not start";
    return peer;
  }

  struct Outcome {
    std::int32_t errorNo = -1;
    AnsiString rcvFile;
  };

  // One transfer of ours on COM1 at 115200 bit/s, set up by \p fill, to its
  // end (ended by force after \p limitMs); then the peer is given 3 s to exit.
  Outcome Run(test::PeerProcess& peer, const std::function<void(TransferRequest&)>& fill,
              std::uint32_t limitMs = 20000) {
    Outcome out;
    if (!fs::is_symlink(com1)) {
      ADD_FAILURE() << "no COM1 link (without one COM1 would be /dev/ttyS0)";
      return out;
    }
    const auto device = OpenPortDevice("COM1", 115200, Alerts(boxes, kTitle));
    if (!device) {
      ADD_FAILURE() << "COM1 did not open: " << (boxes.shown.empty() ? "" : boxes.shown[0].text);
      return out;
    }
    EndView view;
    {
      TransferRequest request;
      request.LogFlag = false;
      fill(request);
      const Alerts alerts(boxes, kTitle);
      TYmThread t(*device, SystemClock(), view, alerts, request);
      t.Start();
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
      while (!view.ended && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (!view.ended) {
        ADD_FAILURE() << "the transfer did not end; state " << StateName(t.YmComStat()) << "\n" << PeerLog();
        t.EndCom();
      }
      t.WaitFor();
      out.errorNo = t.ErrorNo();
      out.rcvFile = t.RcvFile();
    }
    if (!peer.WaitExit(3000)) peer.Kill();
    return out;
  }

  void Receive(TransferRequest& t) {
    t.TxFlag = false;
    t.RxFolder = folder;
    t.Tmp1File = drive.Path() / "portwk1.tmp";
    t.Tmp2File = drive.Path() / "portwk2.tmp";
  }

  std::string PeerLog() const { return "peer said: " + ReadWholeFile(peerLog); }

  test::TempDrive drive;
  const fs::path com1 = drive.Path() / "dosdevices" / "com1";
  const fs::path pc = drive.Path() / "pc";          // files the PC sends, or sb sends
  const fs::path folder = drive.Path() / "folder";  // where the receiving side stores
  const fs::path peerLog = drive.Path() / "peer.log";
  test::RecordingBoxes boxes;
};

// sb -k sends the field file and the data file in 1024-byte blocks, the tail
// of each in 128-byte blocks filled with 0x1A; the data file is stored with
// each record as its bytes and CR LF, which is the file sb read.
TEST_F(Lrzsz, OurReceiverStoresADataFileThatSbSendsBehindItsFieldFile) {
  const std::size_t records = 8760;  // 306600 bytes: 299 blocks of 1024 and a tail of 424
  const std::string data = BinaryRecords(records, 11);
  WriteWholeFile(pc / "NAME.DAT", data);
  WriteWholeFile(pc / "NAME.FLD", FieldText("NAME.DAT", data.size(), records));
  WriteWholeFile(folder / "NAME.DAT", "an older file of that name\r\n");

  auto sb = StartPeer("sb --ymodem -k NAME.FLD NAME.DAT", pc, "sb");
  const Outcome out = Run(*sb, [&](TransferRequest& t) { Receive(t); });

  EXPECT_EQ(out.errorNo, 0) << PeerLog();
  EXPECT_EQ(out.rcvFile, "NAME.DAT");
  const std::string stored = ReadWholeFile(folder / "NAME.DAT");
  EXPECT_EQ(stored.size(), data.size());
  EXPECT_TRUE(stored == data) << "the stored records differ from those sb sent";
  EXPECT_FALSE(fs::exists(folder / "NAME.FLD")) << "a field file is read, never stored";
  EXPECT_TRUE(boxes.shown.empty());
}

// Raw files of 1, 1024 and 1025 bytes in one batch: stored to their announced
// size (the 0x1A fill dropped, the file's own trailing 0x1A bytes kept), a
// lower-case name stored in upper case, an older file replaced.
TEST_F(Lrzsz, OurReceiverStoresRawFilesOfABatchToTheirAnnouncedSizes) {
  std::string last = RandomBytes(1025, 13);
  last.replace(last.size() - 3, 3, "\x1A\x1A\x1A");
  const std::string files[][2] = {
      {"B1.PD3", RandomBytes(1, 12)}, {"B1024.PD3", RandomBytes(1024, 14)}, {"b1025.pd3", last}};
  for (const auto& [name, bytes] : files) WriteWholeFile(pc / name, bytes);
  WriteWholeFile(folder / "B1024.PD3", RandomBytes(5000, 15));

  auto sb = StartPeer("sb --ymodem -k B1.PD3 B1024.PD3 b1025.pd3", pc, "sb");
  const Outcome out = Run(*sb, [&](TransferRequest& t) { Receive(t); });

  EXPECT_EQ(out.errorNo, 0) << PeerLog();
  EXPECT_EQ(out.rcvFile, "B1025.PD3");
  for (const auto& [name, bytes] : files) {
    AnsiString upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string stored = ReadWholeFile(folder / upper);
    EXPECT_EQ(stored.size(), bytes.size()) << upper;
    EXPECT_TRUE(stored == bytes) << upper << " differs from what sb sent";
  }
  EXPECT_FALSE(fs::exists(folder / "b1025.pd3"));
}

class LrzszSend : public Lrzsz {
 protected:
  // Sends \p pcFile as \p bhtName to rb, which stores into `folder`.
  Outcome Send(const fs::path& pcFile, const std::string& bhtName, const std::string& fields) {
    auto rb = StartPeer("rb --ymodem -u -y", folder, "rb");
    return Run(*rb, [&](TransferRequest& t) {
      t.TxFlag = true;
      t.TxFName = pcFile;
      t.BhtFName = bhtName;
      t.FieldsDat = fields;
    });
  }
};

// A comma-separated file goes as its field file and its records: values
// filled with blanks or cut to 8, 20 and 5 bytes, surplus values dropped, an
// empty line a record of blanks, the last line without a line end counted.
TEST_F(LrzszSend, RbStoresTheFieldFileAndTheRecordsOfACsvSend) {
  std::string text, records;
  std::size_t lines = 0;
  for (int i = 0; i < 600; ++i) {
    std::string line;
    switch (i % 5) {
      case 0: line = "4901234" + std::to_string(100000 + i) + ",APPLE " + std::to_string(i) + "," + std::to_string(i % 97); break;
      case 1: line = std::to_string(i) + ",A NAME LONGER THAN ITS TWENTY BYTES,1234567"; break;
      case 2: line = "A,B,C,SURPLUS,VALUES"; break;
      case 3: line = ""; break;
      default: line = "  LEAD,  " + std::to_string(i) + "  ,9"; break;
    }
    text += line + (i + 1 < 600 ? "\r\n" : "");
    records += RecordOf(line);
    ++lines;
  }
  WriteWholeFile(pc / "ITEM.CSV", text);

  const Outcome out = Send(pc / "ITEM.CSV", "ITEM.CSV", "8,20,5");

  EXPECT_EQ(out.errorNo, 0) << PeerLog();
  EXPECT_EQ(ReadWholeFile(folder / "ITEM.FLD"), FieldText("ITEM.CSV", records.size(), lines));
  const std::string stored = ReadWholeFile(folder / "ITEM.CSV");
  EXPECT_EQ(stored.size(), records.size());
  EXPECT_TRUE(stored == records) << "rb stored other records than the conversion should give";
}

// A data file of fixed records goes unchanged behind its field file, which
// counts its records of 35 bytes.
TEST_F(LrzszSend, RbStoresTheFieldFileAndTheBytesOfADataSend) {
  const std::string data = BinaryRecords(1000, 21);
  WriteWholeFile(pc / "ITEM.DAT", data);

  const Outcome out = Send(pc / "ITEM.DAT", "ITEM.DAT", "8,20,5");

  EXPECT_EQ(out.errorNo, 0) << PeerLog();
  EXPECT_EQ(ReadWholeFile(folder / "ITEM.FLD"), FieldText("ITEM.DAT", data.size(), 1000));
  EXPECT_TRUE(ReadWholeFile(folder / "ITEM.DAT") == data);
}

// A program file goes alone, byte for byte, its last block filled with 0x00
// that rb drops by the announced size (here the file itself ends in 0x00).
TEST_F(LrzszSend, RbStoresARawFileByteForByte) {
  std::string bytes = RandomBytes(3073, 22);
  bytes.back() = '\0';
  WriteWholeFile(pc / "prog.pd3", bytes);

  const Outcome out = Send(pc / "prog.pd3", "PROG.PD3", "");

  EXPECT_EQ(out.errorNo, 0) << PeerLog();
  const std::string stored = ReadWholeFile(folder / "PROG.PD3");
  EXPECT_EQ(stored.size(), bytes.size());
  EXPECT_TRUE(stored == bytes);
}

}  // namespace
}  // namespace pw
