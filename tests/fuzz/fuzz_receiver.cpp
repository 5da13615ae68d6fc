// The receive side of the transfer worker, driven on one thread and on
// virtual time (as the engine's tests drive it) by a script decoded from the
// input: chunks of bytes, blocks with good or bad CRCs (headers, field-file
// text, data, whole files), waits, stops and forced ends, in single or
// continuous mode. After every step the worker runs until it is idle.
//
// Checked: once the script is over the worker is back at rest (ended, or
// waiting for a header) within bounded virtual time, and a stop then ends it;
// no failure box; files appear only in the receive folder; and a stored raw
// file is the data of blocks numbered 1, 2, ... that were sent, in order.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/ansi_string.h"
#include "content/field_file.h"
#include "content/file_kind.h"
#include "content/received_file.h"
#include "content/result_codes.h"
#include "engine/transfer_request.h"
#include "engine/transfer_view.h"
#include "engine/ym_thread.h"
#include "engine/ymodem_block.h"
#include "platform/codepage.h"
#include "tests/support/memory_link.h"
#include "tests/support/recording_boxes.h"
#include "tests/support/virtual_clock.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

namespace fs = std::filesystem;
using namespace pw;
using namespace pw::ymodem;
using pw::test::MemoryLink;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kMaxOps = 200;
constexpr std::uint64_t kMaxScriptWaitMs = 5 * 60 * 1000;  // the script's waits, in all
constexpr std::uint64_t kRestWithinMs = 120 * 1000;        // back at rest once the script is over
constexpr int kMaxPasses = 100000;                         // passes without going idle
constexpr std::uint32_t kStepMs = 50;                      // virtual time per idle step, short
                                                           // against the 400 ms block deadline

using fuzz::Check;

// The script, read from the front; zeros once it is used up.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return pos_ >= size_; }
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint32_t Word() {
    const std::uint32_t high = Byte();
    return high << 8 | Byte();
  }
  Bytes Take(std::size_t n) {
    n = std::min(n, size_ - std::min(pos_, size_));
    Bytes out(data_ + pos_, data_ + pos_ + n);
    pos_ += n;
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_, pos_ = 0;
};

constexpr std::string_view kNames[] = {
    "ITEM.FLD",     "ITEM.DAT", "ITEM.CSV", "ITEM.TXT",     "PROG.PD3", "PROG.PD4", "LOGO.BMP",
    "VOICE.WAV",    "PACK.ZIP", "FONT.LCS", "LIB.FN3",      "LIB.EX3",  "SET.BNF",  "D_YYMMDD.DAT",
    "PHOTO.JPG",    "item.dat", "..",       "CON.DAT",      "A/B.DAT",  "A:B.DAT",  "LONGNAME.DAT1",
    "\x83\x5C.DAT", "NOEXT",    "X.FLD",    "ITEM.FLD.DAT", ".\\X.DAT",
};
constexpr std::string_view kRawNames[] = {"PROG.PD3", "PROG.PD4", "LOGO.BMP", "VOICE.WAV",
                                          "PACK.ZIP", "FONT.LCS", "LIB.FN3",  "PHOTO.JPG"};
constexpr std::string_view kBases[] = {"ITEM", "MAST", "D_YYMMDD", "ZAIKO"};
constexpr std::string_view kFieldLists[] = {"8 20 5", "1", "10 10", "3 3 3 3", "0", "4  4", "1000", "x", "2 7"};

template <typename T, std::size_t N>
const T& Pick(const T (&list)[N], std::uint8_t b) {
  return list[b % N];
}

bool IsRawName(std::string_view name) {
  const std::string_view ext = FileExtension(name);
  return std::any_of(std::begin(kRawNames), std::end(kRawNames),
                     [&](std::string_view raw) { return FileExtension(raw) == ext; }) ||
         ext == ".EX3";
}

/// The widths of a blank-separated list; a token that is not a number counts 0.
std::vector<std::int32_t> Widths(std::string_view list) {
  std::vector<std::int32_t> widths;
  while (!list.empty()) {
    const std::size_t blank = list.find(' ');
    std::int32_t w = 0;
    if (!ParseDecimal(list.substr(0, blank), w)) w = 0;
    widths.push_back(w);
    if (blank == list.npos) break;
    list.remove_prefix(blank + 1);
  }
  return widths;
}

Bytes Block(std::uint8_t start, std::uint8_t number, const Bytes& data, bool badCrc = false) {
  const std::size_t room = start == SOH ? kSmallData : kLargeData;
  Bytes out(kLargeBlock);
  out.resize(BuildBlock(out.data(), start, number, data.data(), std::min(data.size(), room)));
  if (badCrc) out.back() ^= 0x5A;
  return out;
}

Bytes HeaderData(std::string_view name, long long size) {
  Bytes data(name.begin(), name.end());
  data.push_back(0);
  const std::string digits = std::to_string(size);
  data.insert(data.end(), digits.begin(), digits.end());
  return data;
}

Bytes Pattern(std::uint8_t number, std::size_t n, std::uint8_t salt) {
  Bytes data(n);
  for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<std::uint8_t>(number * 37 + i * 7 + salt);
  return data;
}

struct Folders {
  Folders() : base(fs::temp_directory_path() / ("pw_fuzz_receiver_" + std::to_string(::getpid()))) {}
  ~Folders() {
    std::error_code ec;
    fs::remove_all(base, ec);
  }
  void Reset() {
    fs::remove_all(base);
    fs::create_directories(rx());
    fs::create_directories(tmp());
  }
  fs::path rx() const { return base / "rx"; }
  fs::path tmp() const { return base / "tmp"; }
  fs::path base;
};

/// Blocks with good CRCs anywhere in \p stream (a block the worker takes is
/// one run of the bytes it was sent).
struct Window {
  std::size_t pos, len;
  std::uint8_t number;
};
std::vector<Window> GoodBlocks(const Bytes& s) {
  std::vector<Window> out;
  for (std::size_t pos = 0; pos < s.size(); ++pos) {
    if (s[pos] != SOH && s[pos] != STX) continue;
    const std::size_t len = s[pos] == SOH ? kSmallData : kLargeData;
    if (pos + len + kFraming > s.size() || (s[pos + 1] ^ s[pos + 2]) != 0xFF) continue;
    const std::uint16_t crc = static_cast<std::uint16_t>(s[pos + 3 + len] << 8 | s[pos + 4 + len]);
    if (CalcCrc16(&s[pos + 3], len) == crc) out.push_back({pos, len, s[pos + 1]});
  }
  return out;
}

/// True if \p file is the start of the data of good blocks numbered 1, 2, ...
/// that follow one another in \p stream.
bool FromBlocks(const Bytes& file, const Bytes& stream) {
  if (file.empty()) return false;
  const std::vector<Window> blocks = GoodBlocks(stream);
  std::set<std::pair<std::size_t, std::size_t>> dead;  // (block, offset) that lead nowhere
  auto from = [&](auto& self, std::size_t after, std::uint8_t number, std::size_t off) -> bool {
    if (off >= file.size()) return true;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      const Window& b = blocks[i];
      if (b.pos < after || b.number != number || dead.count({i, off})) continue;
      const std::size_t n = std::min(b.len, file.size() - off);
      if (std::equal(file.begin() + static_cast<std::ptrdiff_t>(off),
                     file.begin() + static_cast<std::ptrdiff_t>(off + n),
                     stream.begin() + static_cast<std::ptrdiff_t>(b.pos + 3)) &&
          self(self, b.pos + b.len + kFraming, static_cast<std::uint8_t>(number + 1), off + n))
        return true;
      dead.insert({i, off});
    }
    return false;
  };
  return from(from, 0, 1, 0);
}

Bytes ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class Driver {
 public:
  Driver(Input& in, const Folders& folders) : in_(in), folders_(folders) {}

  void Run() {
    const std::uint8_t setup = in_.Byte(), setup2 = in_.Byte();
    static constexpr std::uint32_t kStartTicks[] = {1000, 0xFFFFFFFFu - 4000, 0x7FFFFFF0u, 0};
    clock_.SetTick(kStartTicks[setup2 % 4]);

    TransferRequest r;
    r.RxFolder = folders_.rx();
    r.Tmp1File = folders_.tmp() / "portwk1.tmp";
    r.Tmp2File = folders_.tmp() / "portwk2.tmp";
    r.LogFile = folders_.tmp() / "history.log";
    r.RcvMode = setup & 1;
    r.CsvFlg = setup & 2;
    r.WriteMode = setup & 4;
    r.LastSpFlg = setup & 8;
    r.DblQuotFlg = setup & 16;
    if (setup & 32) r.ChkRcvFName = UpperAscii(Pick(kNames, in_.Byte()));
    if (setup & 64) r.ChkFields = Pick(kFieldLists, in_.Byte());
    r.LogFlag = setup & 128;

    TYmThread worker(link_.Device(MemoryLink::B), clock_, view_, alerts_, r);
    w_ = &worker;
    if (!worker.Begin()) {
      worker.Finish();
      ended_ = true;
    }
    Settle();  // the first wait: purge, then 'C'
    for (std::size_t ops = 0; ops < kMaxOps && !in_.Empty() && !ended_; ++ops) Step();

    // Back at rest: ended, or waiting for a header with everything read.
    hold_ = false;
    const std::uint64_t over = clock_.Elapsed();
    while (!ended_ && !(worker.YmComStat() == TYmComStat::S00 && link_.Pending(MemoryLink::B) == 0)) {
      Check(clock_.Elapsed() - over <= kRestWithinMs, "back at rest within 120 s once the input stops");
      Advance(2 * kStepMs);
    }
    if (!ended_) {
      worker.StopCom();
      Settle();
      Check(ended_, "a stop ends a receive that waits for a header");
      Check(worker.ErrorNo() == result::Cancelled, "a stop while waiting for a header gives 1");
    }
    CheckResults();
    w_ = nullptr;
  }

 private:
  void Step() {
    const std::uint8_t op = in_.Byte();
    switch (op >> 4) {
      case 0x0:
      case 0x1:
      case 0x2:
      case 0x3:
        Send(in_.Take((op & 0x3F) + 1u));
        break;
      case 0x4:
        Wait(((op & 15) + 1u) * 50);
        break;
      case 0x5:
        Wait(((op & 15) + 1u) * 1000);
        break;
      case 0x6:
        Control(op & 15);
        break;
      case 0x7:
        Header(op & 7, op & 8 ? STX : SOH);
        break;
      case 0x8:
      case 0x9:
      case 0xA:
        Data(op);
        break;
      case 0xB:
        FieldText(op);
        break;
      case 0xC:
        RawFile(op);
        break;
      case 0xD:
        RecordFile(op);
        break;
      case 0xE:
        WaitForAnswer();
        break;
      default:
        hold_ = true;  // the next bytes arrive with those after them
        break;
    }
  }

  void Control(int what) {
    switch (what) {
      case 0:
        return Send({EOT});
      case 1:
        return Send({kEotAlt});
      case 2:
        return Send({CAN});
      case 3:
        return Send({CAN, CAN});
      case 4:
      case 5:
        return Send(Block(SOH, 0, {}, what == 5));
      case 6:
        w_->StopCom();
        return Settle();
      case 7:
        w_->EndCom();
        return Settle();
      case 8:
        return Send({ACK});
      case 9:
        return Send({NAK});
      case 10:
        return Send({kC});
      default:
        return WaitForAnswer();
    }
  }

  void Header(int mode, std::uint8_t start) {
    next_ = 1;
    const std::string_view name = Pick(kNames, in_.Byte());
    switch (mode) {
      case 0:
        return Send(Block(start, 0, HeaderData(name, in_.Byte() + 1)));
      case 1:
        return Send(Block(start, 0, HeaderData(name, in_.Word())));
      case 2: {
        const std::uint32_t high = in_.Word();
        return Send(Block(start, 0, HeaderData(name, static_cast<std::int32_t>(high << 16 | in_.Word()))));
      }
      case 3: {
        const Bytes literal = in_.Take(in_.Byte() % 20);
        return Send(Block(
            start, 0,
            HeaderData(std::string_view(reinterpret_cast<const char*>(literal.data()), literal.size()), in_.Word())));
      }
      case 4:
        return Send(Block(start, 0, in_.Take(in_.Byte())));
      case 5:
        return Send(Block(start, 0, HeaderData(name, in_.Word()), true));
      case 6:
        return Send(Block(start, 1, HeaderData(name, in_.Word())));
      default: {
        const Bytes block = Block(start, 0, HeaderData(name, in_.Word()));
        Send(block);
        return Send(block);
      }
    }
  }

  /// 0x8n, 0x9n: pattern data (0x9n: salted); 0xAn: data from the input.
  /// n: bits 0-1 the number (next, the last again, any, next with a bad
  /// CRC), bit 2 a 1024-byte block, bit 3 only the block's first bytes.
  void Data(std::uint8_t op) {
    const std::uint8_t start = op & 4 ? STX : SOH;
    std::uint8_t number = next_;
    switch (op & 3) {
      case 1:
        number = static_cast<std::uint8_t>(next_ - 1);
        break;
      case 2:
        number = in_.Byte();
        break;
      default:
        next_ = static_cast<std::uint8_t>(next_ + 1);
        break;
    }
    const std::size_t room = start == SOH ? kSmallData : kLargeData;
    Bytes data;
    if ((op >> 4) == 0xA)
      data = in_.Take(in_.Byte());
    else
      data = Pattern(number, room, (op >> 4) == 0x9 ? in_.Byte() : 0);
    Bytes block = Block(start, number, data, (op & 3) == 3);
    if (op & 8) block.resize(1 + in_.Byte() % (block.size() - 1));
    Send(block);
  }

  /// The text of a field file for a data file, in 128-byte blocks numbered on.
  void FieldText(std::uint8_t op) {
    const AnsiString name = AnsiString(kBases[op & 3]) + (op & 4 ? ".CSV" : ".DAT");
    const std::int32_t records = in_.Byte() % 50 + 1;
    const std::string_view list = Pick(kFieldLists, in_.Byte());
    const AnsiString text = FieldFileText(name, records, list, op & 8);
    for (std::size_t off = 0; off < text.size(); off += kSmallData) {
      const std::string part = text.substr(off, kSmallData);
      Send(Block(SOH, next_, Bytes(part.begin(), part.end())));
      next_ = static_cast<std::uint8_t>(next_ + 1);
    }
  }

  static AnsiString FieldFileText(std::string_view name, std::int32_t records, std::string_view list, bool crlf) {
    std::int32_t recSize = 0;
    const std::vector<std::int32_t> widths = Widths(list);
    for (std::int32_t w : widths) recSize += w;
    const std::int32_t size = records * (recSize + (crlf ? 2 : 0));
    return FieldHeader(name, size, records, static_cast<std::int32_t>(widths.size()), list);
  }

  /// A whole raw file: header, blocks, EOT, each answered before the next.
  void RawFile(std::uint8_t op) {
    const std::string_view name = kRawNames[op & 7];
    const std::uint8_t start = op & 8 ? SOH : STX;
    const std::size_t room = start == SOH ? kSmallData : kLargeData;
    const std::size_t size = in_.Word() % 16384 + 1;
    const std::uint8_t salt = in_.Byte();
    Send(Block(SOH, 0, HeaderData(name, static_cast<long long>(size))));
    std::uint8_t number = 1;
    for (std::size_t off = 0; off < size; off += room, ++number)
      Send(Block(start, number, Pattern(number, room, salt)));
    Send({EOT});
    next_ = 1;
  }

  /// A whole data file behind its field file: the field file's header, text
  /// and EOT, then the data file's header, its records in 1024-byte blocks and
  /// EOT, each answered before the next.
  void RecordFile(std::uint8_t op) {
    const AnsiString base(kBases[op & 3]);
    const AnsiString name = base + (op & 4 ? ".CSV" : ".DAT");
    const bool crlf = op & 8;
    const std::int32_t records = in_.Byte() % 20 + 1;
    const std::string_view list = Pick(kFieldLists, in_.Byte());
    const AnsiString text = FieldFileText(name, records, list, crlf);

    Send(Block(SOH, 0, HeaderData(base + ".FLD", static_cast<long long>(text.size()))));
    std::uint8_t number = 1;
    for (std::size_t off = 0; off < text.size(); off += kSmallData, ++number) {
      const std::string part = text.substr(off, kSmallData);
      Send(Block(SOH, number, Bytes(part.begin(), part.end())));
    }
    Send({EOT});

    Bytes data;
    const std::vector<std::int32_t> widths = Widths(list);
    for (std::int32_t r = 0; r < records; ++r) {
      for (std::size_t f = 0; f < widths.size(); ++f)
        data.insert(data.end(), static_cast<std::size_t>(widths[f]), static_cast<std::uint8_t>('A' + (r + f) % 26));
      if (crlf) data.insert(data.end(), {'\r', '\n'});
    }
    Send(Block(SOH, 0, HeaderData(name, static_cast<long long>(data.size()))));
    number = 1;
    for (std::size_t off = 0; off < data.size(); off += kLargeData, ++number) {
      const std::size_t n = std::min(kLargeData, data.size() - off);
      Send(Block(
          STX, number,
          Bytes(data.begin() + static_cast<std::ptrdiff_t>(off), data.begin() + static_cast<std::ptrdiff_t>(off + n))));
    }
    Send({EOT});
    next_ = 1;
  }

  void Send(const Bytes& bytes) {
    link_.Inject(MemoryLink::B, bytes);
    stream_.insert(stream_.end(), bytes.begin(), bytes.end());
    Settle();
  }

  /// Passes until the worker is idle (or has ended).
  void Settle() {
    if (hold_) {
      hold_ = false;
      return;
    }
    for (int i = 0; !ended_; ++i) {
      Check(i < kMaxPasses, "the worker goes idle once its input is read");
      const TYmThread::PassResult r = w_->Pass();
      if (r == TYmThread::PassResult::Ended) {
        w_->Finish();
        ended_ = true;
      } else if (r == TYmThread::PassResult::Idle) {
        break;
      }
    }
    // What the worker sent; the terminal's side reads it all.
    std::uint8_t buf[4096];
    for (std::int32_t n; (n = link_.Device(MemoryLink::A).Read(buf, sizeof buf)) > 0;) answered_ += n;
  }

  /// A wait of the script: all of them together last at most kMaxScriptWaitMs.
  void Wait(std::uint32_t ms) {
    ms =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(ms, kMaxScriptWaitMs - std::min(waited_, kMaxScriptWaitMs)));
    waited_ += ms;
    Advance(ms);
  }

  void Advance(std::uint32_t ms) {
    while (ms > 0 && !ended_) {
      const std::uint32_t step = std::min(ms, kStepMs);
      clock_.Advance(step);
      ms -= step;
      Settle();
    }
  }

  /// Time passes until the worker sends something, for up to 4 s.
  void WaitForAnswer() {
    const std::int64_t before = answered_;
    for (int i = 0; i < 80 && answered_ == before && !ended_; ++i) Wait(kStepMs);
  }

  void CheckResults() {
    for (const auto& box : boxes_.shown) {
      std::fprintf(stderr, "box: %s: %s\n", box.title.c_str(), box.text.c_str());
      Check(false, "no failure box");
    }
    static const std::set<std::int32_t> kCodes = {
        result::NormalEnd, result::Cancelled,         result::Aborted,      result::FileAccessError, result::TimeOut,
        result::CommError, result::RcvFieldDataError, result::RcvDataError, result::WrongRcvFile,
        result::FieldMismatch};  // RcvDataError: a file that ended before its announced size
    Check(kCodes.count(w_->ErrorNo()) == 1, "a receive's result code");

    // Nothing outside the receive folder but the temporary files and the log.
    for (const auto& e : fs::directory_iterator(folders_.base))
      Check(e.path() == folders_.rx() || e.path() == folders_.tmp(), "only rx/ and tmp/ in the base folder");
    for (const auto& e : fs::directory_iterator(folders_.tmp())) {
      const std::string n = e.path().filename().string();
      Check(n == "portwk1.tmp" || n == "portwk2.tmp" || n == "history.log", "only the temporary files and the log");
    }
    for (const auto& e : fs::directory_iterator(folders_.rx())) {
      Check(e.is_regular_file(), "only files in the receive folder");
      const AnsiString name = ToAnsi(e.path().filename().string());
      Check(IsPlainFileName(name), "a stored name is a plain file name");
      if (IsRawName(name) && !name.ends_with(".~pw"))
        Check(FromBlocks(ReadAll(e.path()), stream_), "a stored raw file is the data of blocks 1, 2, ... as sent");
    }
    const AnsiString stored = w_->RcvFile();
    if (!stored.empty()) {
      Check(w_->ErrorNo() == result::NormalEnd, "a stored file is named only after a normal end");
      const std::string utf8 = FromAnsi(stored);
      Check(fs::is_regular_file(folders_.rx() / fs::path(std::u8string(utf8.begin(), utf8.end()))),
            "the file named as stored is there");
    }
  }

  Input& in_;
  const Folders& folders_;
  test::VirtualClock clock_;
  MemoryLink link_{clock_};
  test::RecordingBoxes boxes_;
  const Alerts alerts_{boxes_, "fuzz"};
  NullTransferView view_;
  TYmThread* w_ = nullptr;
  bool ended_ = false, hold_ = false;
  std::uint8_t next_ = 1;
  std::uint64_t waited_ = 0;
  std::int64_t answered_ = 0;
  Bytes stream_;  // every byte sent to the worker
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Folders folders;
  folders.Reset();
  Input in(data, size);
  Driver(in, folders).Run();
  return 0;
}
