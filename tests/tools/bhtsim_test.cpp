// The terminal simulator's core: its command line, the field file it sends,
// and its two sequences against a small scripted PC on a virtual clock, with
// every misbehaviour checked on the bytes it puts on the line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <numeric>
#include <set>

#include "engine/ymodem_block.h"
#include "tests/support/temp_drive.h"
#include "tools/bhtsim/batch.h"
#include "tools/bhtsim/options.h"
#include "tools/bhtsim/terminal.h"

namespace pw::bhtsim {
namespace {

using namespace ymodem;
using Kind = Outcome::Kind;

// ---------------------------------------------------------------------------
// A line whose far end is scripted: the PC reacts to each write at once or
// after a delay, on a virtual clock that only waits advance.

class ScriptedLine : public Channel {
 public:
  struct Write {
    std::uint64_t at;
    Bytes bytes;
  };
  std::function<void(const Bytes&)> onWrite;
  std::vector<Write> writes;

  /// Input that arrives \p afterMs from now.
  void Deliver(Bytes bytes, std::uint64_t afterMs = 0) {
    for (std::uint8_t b : bytes) input_.emplace(now_ + afterMs, b);
  }
  /// Runs \p fn at now + \p afterMs, while the terminal waits.
  void At(std::uint64_t afterMs, std::function<void()> fn) { timers_.emplace(now_ + afterMs, std::move(fn)); }

  void Write(const std::uint8_t* bytes, std::size_t count) override {
    writes.push_back({now_, Bytes(bytes, bytes + count)});
    if (onWrite) onWrite(writes.back().bytes);
  }
  std::size_t Read(std::uint8_t* out, std::size_t max, std::uint32_t timeoutMs) override {
    const std::uint64_t until = now_ + timeoutMs;
    for (;;) {
      if (!timers_.empty() && timers_.begin()->first <= until &&
          (input_.empty() || timers_.begin()->first < input_.begin()->first)) {
        now_ = std::max(now_, timers_.begin()->first);
        auto fn = std::move(timers_.begin()->second);
        timers_.erase(timers_.begin());
        fn();
        continue;
      }
      if (!input_.empty() && input_.begin()->first <= until) {
        now_ = std::max(now_, input_.begin()->first);
        std::size_t n = 0;
        while (n < max && !input_.empty() && input_.begin()->first <= now_) {
          out[n++] = input_.begin()->second;
          input_.erase(input_.begin());
        }
        return n;
      }
      now_ = until;
      return 0;
    }
  }
  void Sleep(std::uint32_t ms) override { now_ += ms; }
  std::uint64_t NowMs() override { return now_; }

  /// Every byte the terminal wrote, in order.
  Bytes Sent() const {
    Bytes all;
    for (const auto& w : writes) all.insert(all.end(), w.bytes.begin(), w.bytes.end());
    return all;
  }

 private:
  std::uint64_t now_ = 1000;
  std::multimap<std::uint64_t, std::uint8_t> input_;
  std::multimap<std::uint64_t, std::function<void()>> timers_;
};

Bytes Counting(std::size_t n, unsigned seed = 0) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>((i * 7 + seed) ^ (i >> 8));
  return b;
}

std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }

// The PC receiving from the terminal: it answers a good header with ACK and,
// 100 ms later, 'C'; a good data block (or its repetition) with ACK; anything
// else with NAK; EOT or 0xB0 with ACK and, 50 ms later, 'C'. It records every
// block as it arrived and what each file came to.
struct PcReceiver {
  struct Seen {
    Bytes block;  // the whole block as it arrived
    bool good;
  };
  ScriptedLine& line;
  std::vector<Seen> blocks;
  std::vector<std::uint8_t> ends;  // EOT or 0xB0, per file
  std::vector<std::pair<std::string, Bytes>> files;
  bool batchOver = false;
  int nakAll = 0;  // NAK this many good blocks first, whatever they are
  Bytes pending;
  std::uint8_t expected = 0;

  explicit PcReceiver(ScriptedLine& l) : line(l) {
    line.onWrite = [this](const Bytes& w) { Take(w); };
    line.Deliver({kC});
  }

  void Take(const Bytes& w) {
    pending.insert(pending.end(), w.begin(), w.end());
    while (!pending.empty()) {
      const std::uint8_t first = pending[0];
      if (first == EOT || first == kEotAlt) {
        ends.push_back(first);
        pending.erase(pending.begin());
        line.Deliver({ACK});
        line.Deliver({kC}, 50);
        expected = 0;
        continue;
      }
      if (first != SOH && first != STX) {
        pending.erase(pending.begin());
        continue;
      }
      const std::size_t size = (first == SOH ? kSmallData : kLargeData) + kFraming;
      if (pending.size() < size) return;
      const Bytes block(pending.begin(), pending.begin() + static_cast<long>(size));
      pending.erase(pending.begin(), pending.begin() + static_cast<long>(size));
      const std::uint16_t crc = CalcCrc16(block.data() + 3, size - kFraming);
      const bool crcOk = block[size - 2] == (crc >> 8) && block[size - 1] == (crc & 0xFF);
      const auto verdict = CheckBlock(block[1], block[2], expected, crcOk, expected != 0);
      blocks.push_back({block, verdict == BlockVerdict::Accept});
      if (verdict == BlockVerdict::Refuse || (verdict == BlockVerdict::Accept && nakAll > 0)) {
        if (verdict == BlockVerdict::Accept) --nakAll;
        line.Deliver({NAK});
        continue;
      }
      line.Deliver({ACK});
      if (verdict == BlockVerdict::Repeat) continue;
      if (expected == 0) {
        if (block[3] == 0) {
          batchOver = true;
          continue;
        }
        const char* name = reinterpret_cast<const char*>(block.data() + 3);
        files.push_back({name, {}});
        line.Deliver({kC}, 100);
      } else {
        files.back().second.insert(files.back().second.end(), block.begin() + 3, block.end() - 2);
      }
      ++expected;
    }
  }
};

// The PC sending a batch: header on 'C', first data block on the next 'C',
// the next block on ACK, the same block again on NAK or after 3 s without an
// answer, EOT after the last block, and the empty header on 'C' at the end.
using Files = std::vector<std::pair<std::string, Bytes>>;

struct PcSender {
  ScriptedLine& line;
  std::vector<Files> batches;
  std::size_t batch = 0;
  Files files;
  enum class State { kHeader, kHeaderAck, kDataC, kBlockAck, kEotAck, kEnd, kEndAck, kDone } state = State::kHeader;
  std::size_t file = 0;
  std::size_t block = 0;  // data blocks of this file sent
  Bytes last;
  int generation = 0;                                         // for the 3 s resend timer
  std::vector<std::pair<std::uint8_t, std::size_t>> answers;  // to data blocks: (answer, block number)
  int repeats = 0;
  int deafToHeaderAcks = 0;  // header ACKs to miss, as if the line lost them
  std::uint8_t eot = EOT;    // what ends each file

  PcSender(ScriptedLine& l, std::vector<Files> b) : line(l), batches(std::move(b)), files(batches[0]) {
    line.onWrite = [this](const Bytes& w) {
      for (std::uint8_t b : w) Answer(b);
    };
  }

  void Send(Bytes b) {
    last = b;
    line.Deliver(std::move(b));
    const int g = ++generation;
    line.At(3000, [this, g] {
      if (g != generation || state == State::kDone) return;
      ++repeats;
      Send(last);
    });
  }
  void SendDataBlock() {
    const Bytes& data = files[file].second;
    const std::size_t offset = block * kLargeData;
    Bytes b(kLargeBlock);
    BuildDataBlock(b.data(), static_cast<std::int32_t>(block + 1), data.data() + offset,
                   std::min(kLargeData, data.size() - offset));
    ++block;
    Send(b);
  }
  void Answer(std::uint8_t b) {
    if (state == State::kBlockAck && (b == ACK || b == NAK)) answers.push_back({b, block});
    switch (state) {
      case State::kHeader:
      case State::kEnd:
        if (b == kC) {
          Bytes h(kSmallBlock);
          if (state == State::kEnd) {
            BuildEndOfBatchBlock(h.data());
          } else {
            BuildHeaderBlock(h.data(), files[file].first, static_cast<std::int32_t>(files[file].second.size()));
          }
          state = state == State::kEnd ? State::kEndAck : State::kHeaderAck;
          Send(h);
        }
        break;
      case State::kHeaderAck:
        if (b == ACK && deafToHeaderAcks > 0) {
          --deafToHeaderAcks;
        } else if (b == ACK) {
          ++generation;
          state = State::kDataC;
        } else if (b == NAK) {
          Send(last);
        }
        break;
      case State::kDataC:
        if (b == kC) {
          block = 0;
          state = State::kBlockAck;
          SendDataBlock();
        }
        break;
      case State::kBlockAck:
        if (b == NAK) {
          Send(last);
        } else if (b == ACK) {
          if (block * kLargeData >= files[file].second.size()) {
            state = State::kEotAck;
            Send({eot});
          } else {
            SendDataBlock();
          }
        }
        break;
      case State::kEotAck:
        if (b == ACK) {
          ++generation;
          state = ++file < files.size() ? State::kHeader : State::kEnd;
        }
        break;
      case State::kEndAck:
        if (b == ACK) {
          ++generation;
          state = State::kDone;
          if (++batch < batches.size()) {
            files = batches[batch];
            file = 0;
            state = State::kHeader;
          }
        }
        break;
      case State::kDone:
        break;
    }
  }
};

Options SendOptions() {
  Options o;
  o.mode = Mode::kSend;
  o.port = "line";
  o.file = "item.dat";
  return o;
}

Options ReceiveOptions(const std::filesystem::path& dir) {
  Options o;
  o.mode = Mode::kReceive;
  o.port = "line";
  o.dir = dir.string();
  return o;
}

// ---------------------------------------------------------------------------
// Command line

std::optional<Options> Parse(std::vector<std::string_view> args, std::string* error = nullptr) {
  std::string e;
  auto o = ParseOptions(args, e);
  if (error) *error = e;
  return o;
}

TEST(BhtsimOptions, ReadsEveryOptionOfEachMode) {
  const auto r = Parse({"receive",         "--port", "/dev/pts/3", "--dir=/tmp/in", "--batches", "3", "--timeout", "5",
                        "--drop-ack",      "4",      "--nak",      "2@7",           "--can-at",  "9", "--noise",   "16",
                        "--expect-cancel", "--log",  "r.log",      "--speed",       "9600"});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->mode, Mode::kReceive);
  EXPECT_EQ(r->port, "/dev/pts/3");
  EXPECT_EQ(r->dir, "/tmp/in");
  EXPECT_EQ(r->batches, 3u);
  EXPECT_EQ(r->timeoutSec, 5u);
  EXPECT_EQ(r->dropAck, 4u);
  EXPECT_EQ(r->nakTimes, 2u);
  EXPECT_EQ(r->nakBlock, 7u);
  EXPECT_EQ(r->canAt, 9u);
  EXPECT_EQ(r->noise, 16u);
  EXPECT_TRUE(r->expectCancel);
  EXPECT_EQ(r->logPath, "r.log");
  EXPECT_EQ(r->speed, 9600u);

  const auto s = Parse({"send", "--port", "p", "--file", "a.dat", "--as", "B.DAT", "--fields", "10,5", "--fill", "00",
                        "--corrupt-block", "2", "--stretch", "3:500", "--eot-b0", "--silent", "--nak"},
                       nullptr);
  EXPECT_FALSE(s) << "--nak is for receive";
  const auto s2 = Parse({"send", "--port", "p", "--file", "a.dat", "--as", "B.DAT", "--fields", "10,5", "--fill", "00",
                         "--corrupt-block", "2", "--stretch", "3:500", "--eot-b0", "--silent"});
  ASSERT_TRUE(s2);
  EXPECT_EQ(s2->as, "B.DAT");
  EXPECT_EQ(s2->fields, "10,5");
  EXPECT_EQ(s2->fill, 0x00);
  EXPECT_EQ(s2->corruptBlock, 2u);
  EXPECT_EQ(s2->stretchBlock, 3u);
  EXPECT_EQ(s2->stretchMs, 500u);
  EXPECT_TRUE(s2->eotB0);
  EXPECT_TRUE(s2->silent);
  EXPECT_EQ(s2->timeoutSec, 60u);

  const auto n = Parse({"receive", "--port", "p", "--dir", "d", "--nak", "3"});
  ASSERT_TRUE(n);
  EXPECT_EQ(n->nakTimes, 3u);
  EXPECT_EQ(n->nakBlock, 1u) << "the first data block by default";
  const auto q = Parse({"request", "--port", "p", "MASTER.DAT", "--dir", "d", "--nak", "1"});
  ASSERT_TRUE(q);
  EXPECT_EQ(q->mode, Mode::kRequest);
  EXPECT_EQ(q->request, "MASTER.DAT");
  EXPECT_EQ(q->dir, "d");
  EXPECT_TRUE(Parse({"--help"})->help);
  EXPECT_TRUE(Parse({"send", "--bogus", "--help"})->help);
}

TEST(BhtsimOptions, RefusesWhatCannotBeRun) {
  const std::vector<std::vector<std::string_view>> bad = {
      {},
      {"--port", "p"},
      {"fetch", "--port", "p"},
      {"receive", "--dir", "d"},
      {"receive", "--port", "p"},
      {"send", "--port", "p"},
      {"send", "--port", "p", "--file"},
      {"receive", "--port", "p", "--dir", "d", "--file", "f"},
      {"send", "--port", "p", "--file", "f", "--drop-ack", "1"},
      {"receive", "--port", "p", "--dir", "d", "--eot-b0"},
      {"receive", "--port", "p", "--dir", "d", "--stretch", "1:10"},
      {"receive", "--port", "p", "--dir", "d", "--nak", "0"},
      {"receive", "--port", "p", "--dir", "d", "--nak", "2@"},
      {"receive", "--port", "p", "--dir", "d", "--nak", "x@2"},
      {"receive", "--port", "p", "--dir", "d", "--can-at", "0"},
      {"receive", "--port", "p", "--dir", "d", "--batches", "0"},
      {"receive", "--port", "p", "--dir", "d", "--timeout", "-1"},
      {"receive", "--port", "p", "--dir", "d", "--speed", "12345"},
      {"receive", "--port", "p", "--dir", "d", "--silent=1"},
      {"send", "--port", "p", "--file", "f", "--stretch", "2"},
      {"send", "--port", "p", "--file", "f", "--stretch", "0:100"},
      {"send", "--port", "p", "--file", "f", "--fill", "FF"},
      {"send", "--port", "p", "--file", "f", "--corrupt-block", "99999999999999999999"},
      {"send", "--port", "p", "--file", "f", "receive"},
      {"send", "--port", "p", "--file", "f", "NAME"},
      {"request", "--port", "p", "--dir", "d"},
      {"request", "A", "--port", "p"},
      {"request", "A", "B", "--port", "p", "--dir", "d"},
      {"request", "ABCDEFGHIJKLM", "--port", "p", "--dir", "d"},
      {"request", "A", "--port", "p", "--dir", "d", "--batches", "2"},
      {"request", "A", "--port", "p", "--dir", "d", "--file", "f"},
  };
  for (const auto& args : bad) {
    std::string error;
    EXPECT_FALSE(Parse(args, &error)) << testing::PrintToString(args);
    EXPECT_FALSE(error.empty());
  }
}

// ---------------------------------------------------------------------------
// The send batch

Bytes Records(std::size_t count, std::size_t width, bool crlf) {
  Bytes out;
  for (std::size_t i = 0; i < count; ++i) {
    for (std::size_t j = 0; j < width; ++j) out.push_back(static_cast<std::uint8_t>('A' + (i + j) % 26));
    if (crlf) out.insert(out.end(), {'\r', '\n'});
  }
  return out;
}

TEST(BhtsimBatch, FieldFileDescribesTheRecordsOfTheFile) {
  std::string error;
  // Three 15-byte records with CR LF: 51 bytes, unit 17.
  const auto text = FieldFileText("ITEM.CSV", Records(3, 15, true), "10,5", error);
  ASSERT_TRUE(text) << error;
  EXPECT_EQ(*text, "* created by BHT\r\nfile\tITEM.CSV\r\nsize\t51\r\nrecords\t3\r\nfields\t10 5\r\n");
  EXPECT_EQ(text->size(), 66u);

  // Without separators the unit is the record; one width is "field".
  const auto single = FieldFileText("A.DAT", Records(4, 8, false), "8", error);
  ASSERT_TRUE(single) << error;
  EXPECT_EQ(*single, "* created by BHT\r\nfile\tA.DAT\r\nsize\t32\r\nrecords\t4\r\nfield\t8\r\n");

  // 32 bytes of 8-byte records do not make 10-byte units (8 + CR LF)...
  EXPECT_FALSE(FieldFileText("A.DAT", Records(4, 8, false), "3,7", error));
  EXPECT_NE(error.find("32"), std::string::npos) << error;
  // ...nor a list that the PC would refuse.
  EXPECT_FALSE(FieldFileText("A.DAT", Records(4, 8, false), "4,,4", error));
  EXPECT_FALSE(FieldFileText("A.DAT", Records(4, 8, false), "8193", error));
  EXPECT_FALSE(FieldFileText("A.DAT", {}, "8", error));
}

TEST(BhtsimBatch, NamesTheFilesAsTheTerminalDoes) {
  EXPECT_EQ(LineName("/tmp/x/item.dat", ""), "ITEM.DAT");
  EXPECT_EQ(LineName("tana.dat", "Tana.Dat"), "Tana.Dat");
  EXPECT_EQ(FieldFileName("ITEM.DAT"), "ITEM.FLD");
  EXPECT_EQ(FieldFileName("A.B.CSV"), "A.B.FLD");
  EXPECT_EQ(FieldFileName("NOEXT"), "NOEXT.FLD");

  Options o = SendOptions();
  o.file = "/x/item.dat";
  o.fields = "15";
  std::string error;
  const auto batch = BuildBatch(o, Records(2, 15, true), error);
  ASSERT_TRUE(batch) << error;
  ASSERT_EQ(batch->size(), 2u);
  EXPECT_EQ((*batch)[0].name, "ITEM.FLD");
  EXPECT_EQ((*batch)[1].name, "ITEM.DAT");
  EXPECT_EQ((*batch)[1].bytes.size(), 34u);

  o.fields.clear();
  EXPECT_EQ(BuildBatch(o, Bytes(5, 'x'), error)->size(), 1u);
  EXPECT_FALSE(BuildBatch(o, {}, error)) << "an empty file";
  o.as = std::string(125, 'N');
  EXPECT_TRUE(BuildBatch(o, Bytes(5, 'x'), error)) << "name, 0x00, size, 0x00 fill exactly 128 bytes";
  o.as = std::string(126, 'N');
  EXPECT_FALSE(BuildBatch(o, Bytes(5, 'x'), error)) << "one byte too many";
}

TEST(BhtsimBatch, RequestBlockCarriesTheNameInFourteenBytes) {
  for (const std::string name : {"MASTER.DAT", "ABCDEFGHIJKL"}) {
    Bytes data(kSmallData, 0x00);
    const std::string text = "#D" + name + std::string(12 - name.size(), ' ');
    std::copy(text.begin(), text.end(), data.begin());
    const std::uint16_t crc = CalcCrc16(data.data(), data.size());
    Bytes expected{SOH, 0x00, 0xFF};
    expected.insert(expected.end(), data.begin(), data.end());
    expected.push_back(static_cast<std::uint8_t>(crc >> 8));
    expected.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    EXPECT_EQ(RequestBlock(name), expected) << name;
    EXPECT_EQ(expected[3 + 14], 0x00) << "the name part ends with the 15th byte";
  }
}

// ---------------------------------------------------------------------------
// Sending to the PC

struct SendRun {
  ScriptedLine line;
  PcReceiver pc{line};
  Outcome outcome;

  void Run(const Options& o, const std::vector<BatchFile>& batch) {
    Link link(line, nullptr, o.noise);
    Sender sender(link, o, batch);
    outcome = sender.Run();
  }
};

TEST(BhtsimSend, ABatchArrivesWholeInFilledBlocks) {
  const Bytes data = Counting(2 * 1024 + 5);
  for (const std::uint8_t fill : {std::uint8_t{0x1A}, std::uint8_t{0x00}}) {
    Options o = SendOptions();
    o.fields = "2053";
    o.fill = fill;
    std::string error;
    const auto batch = BuildBatch(o, data, error);
    ASSERT_TRUE(batch) << error;
    SendRun run;
    run.Run(o, *batch);
    EXPECT_EQ(run.outcome.kind, Kind::kDone) << run.outcome.message;
    EXPECT_EQ(ExitCode(run.outcome, false), 0);
    EXPECT_TRUE(run.pc.batchOver);
    ASSERT_EQ(run.pc.files.size(), 2u);
    EXPECT_EQ(run.pc.files[0].first, "ITEM.FLD");
    std::string fld = "* created by BHT\r\nfile\tITEM.DAT\r\nsize\t2053\r\nrecords\t1\r\nfield\t2053\r\n";
    fld.resize(1024, static_cast<char>(fill));
    EXPECT_EQ(Text(run.pc.files[0].second), fld);
    EXPECT_EQ(run.pc.files[1].first, "ITEM.DAT");
    Bytes expected = data;
    expected.resize(3 * 1024, fill);
    EXPECT_EQ(run.pc.files[1].second, expected);
    // Every block was good the first time: 2 headers, 1 + 3 data blocks, the end.
    ASSERT_EQ(run.pc.blocks.size(), 7u);
    for (const auto& b : run.pc.blocks) EXPECT_TRUE(b.good);
    EXPECT_EQ(run.pc.blocks[0].block[0], SOH);
    EXPECT_EQ(run.pc.blocks[1].block[0], STX);
    EXPECT_EQ(run.pc.blocks[1].block[1], 1) << "the field file's block";
    EXPECT_EQ(run.pc.blocks[3].block[1], 1) << "numbers restart at 1 for each file";
    EXPECT_EQ(run.pc.blocks[5].block[1], 3);
    const Bytes& header = run.pc.blocks[2].block;
    ASSERT_EQ(header.size(), kSmallBlock);
    Bytes expectedHeader(kSmallBlock);
    BuildHeaderBlock(expectedHeader.data(), "ITEM.DAT", 2053);
    EXPECT_EQ(header, expectedHeader) << "name, 0x00, size, 0x00 fill";
    Bytes end(kSmallBlock);
    BuildEndOfBatchBlock(end.data());
    EXPECT_EQ(run.pc.blocks[6].block, end);
    EXPECT_EQ(run.pc.ends, (std::vector<std::uint8_t>{EOT, EOT}));
  }
}

bool IsControl(std::uint8_t b) {
  return b == SOH || b == STX || b == EOT || b == ACK || b == NAK || b == CAN || b == kC || b == kEotAlt;
}

TEST(BhtsimSend, EachMisbehaviourChangesTheLineAsDocumented) {
  const Bytes data = Counting(3 * 1024);
  std::string error;

  {  // --corrupt-block 2: block 2 goes out once with its first data byte inverted.
    Options o = SendOptions();
    o.corruptBlock = 2;
    SendRun run;
    run.Run(o, *BuildBatch(o, data, error));
    EXPECT_EQ(run.outcome.kind, Kind::kDone);
    ASSERT_EQ(run.pc.blocks.size(), 6u);  // header, 1, 2 (bad), 2, 3, end
    EXPECT_FALSE(run.pc.blocks[2].good);
    EXPECT_TRUE(run.pc.blocks[3].good);
    Bytes bad = run.pc.blocks[2].block;
    EXPECT_EQ(bad[3], static_cast<std::uint8_t>(~run.pc.blocks[3].block[3]));
    bad[3] = run.pc.blocks[3].block[3];
    EXPECT_EQ(bad, run.pc.blocks[3].block) << "nothing else differs";
    EXPECT_EQ(run.pc.files[0].second, data);
  }
  {  // --stretch 2:700: block 2's first byte, 700 ms, the rest; once.
    Options o = SendOptions();
    o.stretchBlock = 2;
    o.stretchMs = 700;
    SendRun run;
    run.Run(o, *BuildBatch(o, data, error));
    EXPECT_EQ(run.outcome.kind, Kind::kDone);
    const auto& w = run.line.writes;
    const auto one =
        std::find_if(w.begin(), w.end(), [](const auto& x) { return x.bytes.size() == 1 && x.bytes[0] == STX; });
    ASSERT_NE(one, w.end());
    ASSERT_NE(one + 1, w.end());
    EXPECT_EQ((one + 1)->bytes.size(), kLargeBlock - 1);
    EXPECT_EQ((one + 1)->bytes[0], 2) << "block number 2 follows";
    EXPECT_EQ((one + 1)->at - one->at, 700u);
    EXPECT_EQ(std::count_if(w.begin(), w.end(), [](const auto& x) { return x.bytes.size() == 1 && x.bytes[0] == STX; }),
              1);
    EXPECT_EQ(run.pc.files[0].second, data);
  }
  {  // --eot-b0: only the last file ends with 0xB0.
    Options o = SendOptions();
    o.fields = "1024";
    o.eotB0 = true;
    SendRun run;
    run.Run(o, *BuildBatch(o, data, error));
    EXPECT_EQ(run.outcome.kind, Kind::kDone);
    EXPECT_EQ(run.pc.ends, (std::vector<std::uint8_t>{EOT, kEotAlt}));
  }
  {  // --noise 40: forty bytes that mean nothing, right before the header.
    Options o = SendOptions();
    o.noise = 40;
    SendRun run;
    run.Run(o, *BuildBatch(o, data, error));
    EXPECT_EQ(run.outcome.kind, Kind::kDone);
    ASSERT_GE(run.line.writes.size(), 2u);
    const Bytes& noise = run.line.writes[0].bytes;
    EXPECT_EQ(noise.size(), 40u);
    EXPECT_TRUE(std::none_of(noise.begin(), noise.end(), IsControl));
    EXPECT_GT(std::set<std::uint8_t>(noise.begin(), noise.end()).size(), 20u) << "not one byte over and over";
    EXPECT_EQ(run.line.writes[1].bytes.size(), kSmallBlock);
    EXPECT_EQ(run.pc.files[0].second, data);
  }
  {  // --can-at 2: CAN, 100 ms, CAN where block 2 would go; that was asked, so 0.
    Options o = SendOptions();
    o.canAt = 2;
    SendRun run;
    run.Run(o, *BuildBatch(o, data, error));
    EXPECT_EQ(run.outcome.kind, Kind::kCancelSent);
    EXPECT_EQ(ExitCode(run.outcome, false), 0);
    EXPECT_EQ(ExitCode(run.outcome, true), 1) << "the PC did not cancel";
    const auto& w = run.line.writes;
    ASSERT_GE(w.size(), 2u);
    EXPECT_EQ(w[w.size() - 2].bytes, Bytes{CAN});
    EXPECT_EQ(w.back().bytes, Bytes{CAN});
    EXPECT_EQ(w.back().at - w[w.size() - 2].at, 100u);
    EXPECT_EQ(run.pc.blocks.size(), 2u) << "header and block 1 only";

    o.canAt = 4;  // there are three
    SendRun past;
    past.Run(o, *BuildBatch(o, data, error));
    EXPECT_EQ(past.outcome.kind, Kind::kFailed) << "the cancel asked for never happened";
    EXPECT_TRUE(past.pc.batchOver);
  }
}

TEST(BhtsimSend, RetriesUpToTheTenthNakThenCancels) {
  const Bytes data = Counting(100);
  std::string error;
  Options o = SendOptions();
  SendRun nine;
  nine.pc.nakAll = 9;
  nine.Run(o, *BuildBatch(o, data, error));
  EXPECT_EQ(nine.outcome.kind, Kind::kDone) << "nine NAKs and an ACK go on";
  EXPECT_EQ(nine.pc.blocks.size(), 10u + 2u);

  SendRun ten;
  ten.pc.nakAll = 10;
  ten.Run(o, *BuildBatch(o, data, error));
  EXPECT_EQ(ten.outcome.kind, Kind::kFailed);
  EXPECT_EQ(ExitCode(ten.outcome, false), 1);
  EXPECT_EQ(ten.pc.blocks.size(), 10u) << "the header, ten times";
  const Bytes sent = ten.line.Sent();
  EXPECT_EQ(Bytes(sent.end() - 2, sent.end()), (Bytes{CAN, CAN}));
}

TEST(BhtsimSend, EndsWhenThePcCancelsOrNeverAsks) {
  const Bytes data = Counting(100);
  std::string error;
  Options o = SendOptions();
  const auto batch = *BuildBatch(o, data, error);
  for (const int cans : {1, 2}) {
    ScriptedLine line;
    line.Deliver({0x7F, 0x00, kC});  // noise before the 'C' is skipped
    line.onWrite = [&](const Bytes&) {
      line.Deliver({CAN});
      if (cans == 2) line.Deliver({CAN}, 100);
    };
    Link link(line, nullptr, 0);
    const Outcome out = Sender(link, o, batch).Run();
    EXPECT_EQ(out.kind, Kind::kPeerCancelled);
    EXPECT_EQ(out.cans, cans);
    EXPECT_EQ(out.message.substr(0, 17), "cancelled by peer");
    EXPECT_EQ(ExitCode(out, false), 1);
    EXPECT_EQ(ExitCode(out, true), cans == 2 ? 0 : 1);
    EXPECT_EQ(line.writes.size(), 1u) << "the header, nothing after the CAN";
  }

  ScriptedLine quiet;
  o.timeoutSec = 7;
  Link link(quiet, nullptr, 0);
  const std::uint64_t start = quiet.NowMs();
  const Outcome out = Sender(link, o, batch).Run();
  EXPECT_EQ(out.kind, Kind::kFailed);
  EXPECT_EQ(quiet.NowMs() - start, 7000u);
  EXPECT_TRUE(quiet.writes.empty());
}

TEST(BhtsimSilent, ListensWithoutAWordUntilTheTimeOrTheCancel) {
  for (const Mode mode : {Mode::kSend, Mode::kReceive}) {
    Options o = mode == Mode::kSend ? SendOptions() : ReceiveOptions("/nonexistent");
    o.silent = true;
    o.timeoutSec = 5;
    std::string error;
    const auto batch = *BuildBatch(SendOptions(), Counting(10), error);
    auto run = [&](ScriptedLine& line) {
      Link link(line, nullptr, 0);
      return mode == Mode::kSend ? Sender(link, o, batch).Run() : Receiver(link, o, stdout).Run();
    };
    ScriptedLine asking;
    for (int i = 0; i < 10; ++i) asking.Deliver({kC}, i * 1000u);
    const std::uint64_t start = asking.NowMs();
    const Outcome timedOut = run(asking);
    EXPECT_EQ(timedOut.kind, Kind::kFailed);
    EXPECT_EQ(asking.NowMs() - start, 5000u);
    EXPECT_TRUE(asking.writes.empty());
    EXPECT_EQ(ExitCode(timedOut, true), 1);

    ScriptedLine cancelling;
    cancelling.Deliver({CAN}, 2000);
    cancelling.Deliver({CAN}, 2100);
    const Outcome cancelled = run(cancelling);
    EXPECT_EQ(cancelled.kind, Kind::kPeerCancelled);
    EXPECT_EQ(ExitCode(cancelled, true), 0);
    EXPECT_TRUE(cancelling.writes.empty());
  }
}

// ---------------------------------------------------------------------------
// Receiving from the PC

struct ReceiveRun {
  test::TempDrive dir;
  ScriptedLine line;
  Outcome outcome;
  std::string report;

  void Run(Options o) {
    std::FILE* out = std::tmpfile();
    Link link(line, nullptr, o.noise);
    outcome = o.mode == Mode::kRequest ? RunRequest(link, o, out) : Receiver(link, o, out).Run();
    std::rewind(out);
    char buf[4096];
    report.assign(buf, std::fread(buf, 1, sizeof buf, out));
    std::fclose(out);
  }
  Options Defaults() const { return ReceiveOptions(dir.Path()); }
  Bytes Stored(const std::string& name) const {
    std::ifstream in(dir.Path() / name, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), {});
  }
};

TEST(BhtsimReceive, StoresEveryFileOfEveryBatchAtItsAnnouncedSize) {
  ReceiveRun run;
  const std::string fldText = "* created by BHT\r\nfile\tB.DAT\r\n";
  const Bytes fld(fldText.begin(), fldText.end());
  const Bytes big = Counting(300 * 1024 + 77, 3);  // more than 256 blocks: numbers wrap
  PcSender pc(run.line, {{{"B.FLD", fld}, {"B.DAT", big}}, {{"ONE", {0x42}}, {"K", Counting(1024)}}});
  Options o = run.Defaults();
  o.batches = 2;
  run.Run(o);
  EXPECT_EQ(run.outcome.kind, Kind::kDone) << run.outcome.message;
  EXPECT_EQ(pc.state, PcSender::State::kDone);
  EXPECT_EQ(run.Stored("B.FLD"), fld);
  EXPECT_EQ(run.Stored("B.DAT"), big);
  EXPECT_EQ(run.Stored("ONE"), Bytes{0x42});
  EXPECT_EQ(run.Stored("K"), Counting(1024));
  EXPECT_EQ(run.report, "stored B.FLD 30\nstored B.DAT 307277\nstored ONE 1\nstored K 1024\n");
  EXPECT_EQ(pc.repeats, 0);
  EXPECT_TRUE(std::none_of(pc.answers.begin(), pc.answers.end(), [](const auto& a) { return a.first == NAK; }));

  // 'C' first; a header's ACK is followed by 'C' 100 ms later.
  const auto& w = run.line.writes;
  ASSERT_GE(w.size(), 3u);
  EXPECT_EQ(w[0].bytes, Bytes{kC});
  EXPECT_EQ(w[1].bytes, Bytes{ACK});
  EXPECT_EQ(w[2].bytes, Bytes{kC});
  EXPECT_EQ(w[2].at - w[1].at, 100u);
}

TEST(BhtsimReceive, EachMisbehaviourChangesTheAnswersAsDocumented) {
  const Bytes data = Counting(4 * 1024);
  // The data block numbers of this file that were answered with `what`.
  auto answered = [](const PcSender& pc, std::uint8_t what) {
    std::vector<std::size_t> blocks;
    for (const auto& [a, block] : pc.answers)
      if (a == what) blocks.push_back(block);
    return blocks;
  };
  {  // --drop-ack 2: no answer to block 2; the PC's repetition gets its ACK.
    ReceiveRun run;
    PcSender pc(run.line, {{{"D", data}}});
    Options o = run.Defaults();
    o.dropAck = 2;
    run.Run(o);
    EXPECT_EQ(run.outcome.kind, Kind::kDone);
    EXPECT_EQ(pc.repeats, 1);
    EXPECT_EQ(answered(pc, ACK), (std::vector<std::size_t>{1, 2, 3, 4}));
    EXPECT_EQ(run.Stored("D"), data) << "the repetition is not stored twice";
  }
  {  // --nak 3@2: three NAKs for block 2, then on.
    ReceiveRun run;
    PcSender pc(run.line, {{{"D", data}}});
    Options o = run.Defaults();
    o.nakTimes = 3;
    o.nakBlock = 2;
    run.Run(o);
    EXPECT_EQ(run.outcome.kind, Kind::kDone);
    EXPECT_EQ(answered(pc, NAK), (std::vector<std::size_t>{2, 2, 2}));
    EXPECT_EQ(answered(pc, ACK), (std::vector<std::size_t>{1, 2, 3, 4}));
    EXPECT_EQ(run.Stored("D"), data);
  }
  {  // --can-at 3: CAN, 100 ms, CAN instead of block 3's ACK; nothing stored.
    ReceiveRun run;
    PcSender pc(run.line, {{{"D", data}}});
    Options o = run.Defaults();
    o.canAt = 3;
    run.Run(o);
    EXPECT_EQ(run.outcome.kind, Kind::kCancelSent);
    EXPECT_EQ(ExitCode(run.outcome, false), 0);
    EXPECT_EQ(answered(pc, ACK), (std::vector<std::size_t>{1, 2}));
    const auto& w = run.line.writes;
    EXPECT_EQ(w[w.size() - 2].bytes, Bytes{CAN});
    EXPECT_EQ(w.back().bytes, Bytes{CAN});
    EXPECT_EQ(w.back().at - w[w.size() - 2].at, 100u);
    EXPECT_FALSE(std::filesystem::exists(run.dir.Path() / "D"));
  }
  {  // --noise 12: the noise goes out just before the first 'C'.
    ReceiveRun run;
    PcSender pc(run.line, {{{"D", data}}});
    Options o = run.Defaults();
    o.noise = 12;
    run.Run(o);
    EXPECT_EQ(run.outcome.kind, Kind::kDone);
    ASSERT_GE(run.line.writes.size(), 2u);
    EXPECT_EQ(run.line.writes[0].bytes, NoiseBytes(12));
    EXPECT_EQ(run.line.writes[1].bytes, Bytes{kC});
  }
}

TEST(BhtsimReceive, AnswersAHeaderSentAgainAsAHeader) {
  // The PC missed the header's ACK and sends the header again after 3 s: it
  // needs the ACK and then a 'C' before it sends data.
  ReceiveRun run;
  const Bytes data = Counting(1500);
  PcSender pc(run.line, {{{"H", data}}});
  pc.deafToHeaderAcks = 1;
  run.Run(run.Defaults());
  EXPECT_EQ(run.outcome.kind, Kind::kDone) << run.outcome.message;
  EXPECT_EQ(pc.repeats, 1);
  EXPECT_EQ(run.Stored("H"), data);
  const Bytes sent = run.line.Sent();
  EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 6), (Bytes{kC, ACK, kC, ACK, kC, ACK}));
  const auto& w = run.line.writes;
  EXPECT_EQ(w[4].at - w[3].at, 100u) << "the 'C' follows the second ACK as it did the first";
}

TEST(BhtsimReceive, Takes0xB0ForEotAfterTheLastBlock) {
  ReceiveRun run;
  PcSender pc(run.line, {{{"E", Counting(1030)}, {"F", Counting(5)}}});
  pc.eot = kEotAlt;
  run.Run(run.Defaults());
  EXPECT_EQ(run.outcome.kind, Kind::kDone) << run.outcome.message;
  EXPECT_EQ(run.report, "stored E 1030\nstored F 5\n");
  EXPECT_EQ(pc.repeats, 0);
}

TEST(BhtsimReceive, RefusesBadBlocksAndUnsafeNames) {
  ReceiveRun run;
  std::vector<Bytes> headers;
  Bytes h(kSmallBlock);
  BuildHeaderBlock(h.data(), "GOOD", 3);
  h[4] ^= 1;  // CRC no longer matches
  headers.push_back(h);
  BuildHeaderBlock(h.data(), "GOOD", 3);
  h[2] = 0xFE;  // wrong complement
  headers.push_back(h);
  for (const char* name : {"../evil", "a/b", ".."}) {
    BuildHeaderBlock(h.data(), name, 3);
    headers.push_back(h);
  }
  std::size_t next = 0;
  run.line.onWrite = [&](const Bytes& w) {
    if ((w == Bytes{kC} || w == Bytes{NAK}) && next < headers.size()) run.line.Deliver(headers[next++]);
  };
  Options o = run.Defaults();
  o.timeoutSec = 3;
  run.Run(o);
  const Bytes sent = run.line.Sent();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), NAK), 5);
  EXPECT_EQ(std::count(sent.begin(), sent.end(), ACK), 0);
  EXPECT_EQ(run.outcome.kind, Kind::kFailed) << "no good header in time";
  EXPECT_TRUE(std::filesystem::is_empty(run.dir.Path()));
  EXPECT_FALSE(std::filesystem::exists(run.dir.Path().parent_path() / "evil"));
}

TEST(BhtsimReceive, AsksEverySecondUntilTheTimeout) {
  ReceiveRun run;
  Options o = run.Defaults();
  o.timeoutSec = 4;
  run.Run(o);
  EXPECT_EQ(run.outcome.kind, Kind::kFailed);
  ASSERT_EQ(run.line.writes.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(run.line.writes[i].bytes, Bytes{kC});
    EXPECT_EQ(run.line.writes[i].at - run.line.writes[0].at, 1000u * i);
  }
}

TEST(BhtsimReceive, AFileCutShortMakesTheRunFail) {
  ReceiveRun run;
  PcSender pc(run.line, {{{"S", Counting(2000)}}});
  // The PC claims more than it sends.
  Bytes h(kSmallBlock);
  BuildHeaderBlock(h.data(), "S", 5000);
  run.line.onWrite = [&](const Bytes& w) {
    if (w == Bytes{kC} && pc.state == PcSender::State::kHeader) {
      pc.state = PcSender::State::kHeaderAck;
      pc.Send(h);
      return;
    }
    for (std::uint8_t b : w) pc.Answer(b);
  };
  run.Run(run.Defaults());
  EXPECT_EQ(run.outcome.kind, Kind::kFailed);
  EXPECT_NE(run.outcome.message.find("2048 of 5000"), std::string::npos) << run.outcome.message;
  EXPECT_EQ(run.Stored("S").size(), 2048u) << "kept as it came";
}

// ---------------------------------------------------------------------------
// Requesting a file

// The PC idles with 'C'; the request block is answered by `answer`, and
// then, if it serves the request, the PC sends the batch.
struct PcRequested {
  ScriptedLine& line;
  PcSender pc;
  Bytes request;
  std::function<void()> answer;
  bool serves = true;

  PcRequested(ScriptedLine& l, Files batch) : line(l), pc(l, {std::move(batch)}) {
    answer = [this] { line.Deliver({ACK}); };
    line.Deliver({kC});
    line.onWrite = [this](const Bytes& w) {
      if (request.empty() && w.size() == kSmallBlock) {
        request = w;
        answer();
      } else if (!request.empty() && serves) {
        for (std::uint8_t b : w) pc.Answer(b);
      }
    };
  }
};

TEST(BhtsimRequest, SendsTheRequestThenTakesTheBatchItBrings) {
  ReceiveRun run;
  const std::string fldText = "* created by BHT\r\nfile\tMASTER.DAT\r\n";
  const Bytes data = Counting(1500);
  PcRequested pc(run.line, {{"MASTER.FLD", Bytes(fldText.begin(), fldText.end())}, {"MASTER.DAT", data}});
  Options o = run.Defaults();
  o.mode = Mode::kRequest;
  o.request = "MASTER.DAT";
  run.Run(o);
  EXPECT_EQ(run.outcome.kind, Kind::kDone) << run.outcome.message;
  EXPECT_EQ(ExitCode(run.outcome, false), 0);
  EXPECT_EQ(pc.request, RequestBlock("MASTER.DAT"));
  EXPECT_EQ(pc.pc.state, PcSender::State::kDone);
  EXPECT_EQ(run.report, "stored MASTER.FLD 35\nstored MASTER.DAT 1500\n");
  EXPECT_EQ(run.Stored("MASTER.DAT"), data);
  const auto& w = run.line.writes;
  ASSERT_GE(w.size(), 2u);
  EXPECT_EQ(w[1].bytes, Bytes{kC}) << "the batch is asked for with 'C' as a receiver does";
}

TEST(BhtsimRequest, ARefusalIsReportedAsSuch) {
  // The PC cancels at once behind its ACK, or after the terminal's first 'C'.
  for (const std::uint64_t after : {5u, 300u}) {
    ReceiveRun run;
    PcRequested pc(run.line, {{"X", Counting(10)}});
    pc.serves = false;
    pc.answer = [&] {
      run.line.Deliver({ACK});
      run.line.Deliver({CAN}, after);
      run.line.Deliver({CAN}, after + 100);
    };
    Options o = run.Defaults();
    o.mode = Mode::kRequest;
    o.request = "NONE.DAT";
    run.Run(o);
    EXPECT_EQ(run.outcome.kind, Kind::kPeerCancelled);
    EXPECT_EQ(run.outcome.cans, 2);
    EXPECT_EQ(run.outcome.message, "request NONE.DAT refused: cancelled by peer");
    EXPECT_EQ(ExitCode(run.outcome, false), 1);
    EXPECT_EQ(ExitCode(run.outcome, true), 0);
    EXPECT_EQ(run.line.writes.size(), after < 100 ? 1u : 2u) << "the request, then 'C' only if the CAN was late";
    EXPECT_TRUE(std::filesystem::is_empty(run.dir.Path()));
  }
}

}  // namespace
}  // namespace pw::bhtsim
