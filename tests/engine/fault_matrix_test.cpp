// A seeded fault matrix: the sender against the receiver over the in-memory
// line, for random files (raw programs and comma-separated text, 1 byte to
// 300 KB, half of them over an old file of the same name; half of them at
// 115200 bit/s, where bytes arrive a few at a time, the others at once),
// under one class of fault at a time, in single and in continuous receive
// mode.
//
// Every run checks that both sides end in bounded virtual time, that a
// success means the file is stored whole, and that a failure leaves no
// partial file under the final name and the old file as it was. The classes
// of exactly one fault also check that it is survived.
//
// A damaged block passes the CRC-16 about once in 65536: a long run of the
// 1e-3 classes (some 20000 damaged blocks) may show one such wrong success,
// which no receiver of this protocol can see.
//
// PW_FAULT_MATRIX_RUNS=n runs n transfers per class and mode (and prints a
// one-line summary of each); PW_FAULT_MATRIX_SEED=s changes the seeds;
// PW_FAULT_MATRIX_ONLY=seed runs again the one run whose trace shows that
// seed, and PW_FAULT_MATRIX_LINE=1 prints what each side wrote.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "content/field_file.h"
#include "content/result_codes.h"
#include "engine/ymodem_block.h"
#include "platform/codepage.h"
#include "tests/engine/transfer_rig.h"

namespace pw::test {
namespace {

using namespace ymodem;
namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// Seeds and random numbers (splitmix64: the same sequence everywhere).

struct Rng {
  std::uint64_t s;
  std::uint64_t Next() {
    std::uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::uint64_t Below(std::uint64_t n) { return n == 0 ? 0 : Next() % n; }
  std::int64_t Range(std::int64_t lo, std::int64_t hi) {
    return lo + static_cast<std::int64_t>(Below(static_cast<std::uint64_t>(hi - lo + 1)));
  }
  bool Chance(double p) { return static_cast<double>(Next() >> 11) * 0x1.0p-53 < p; }
  std::uint8_t Byte() { return static_cast<std::uint8_t>(Next()); }
};

std::uint64_t EnvNumber(const char* name, std::uint64_t fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::strtoull(v, nullptr, 10) : fallback;
}

// ---------------------------------------------------------------------------
// What a run sends.

struct Sample {
  bool csv = false;
  std::string name;                // the terminal's name
  std::string pcText;              // the PC file
  std::string fields;              // CSV: the field list, "8,20,5"
  std::string expected;            // what the receive folder holds after a success
  std::optional<std::string> old;  // a file of the name already in the receive folder
  std::size_t fieldBlockSize = 0;  // CSV: the field file's one block (133 or 1029 bytes)
  std::size_t dataBlocks = 0;
  std::uint32_t bitRate = 0;  // 0: every write arrives at once; else bytes trickle in, a few per read
  std::string Describe() const {
    std::ostringstream o;
    o << name << (csv ? " fields " + fields : "") << ", " << pcText.size() << " bytes, " << dataBlocks << " blocks"
      << (old ? ", over an old file" : "") << (bitRate ? ", " + std::to_string(bitRate) + " bit/s" : "");
    return o.str();
  }
};

std::size_t LineSize(Rng& rng) {
  // Boundaries now and then, otherwise spread evenly over the orders of size.
  static const std::size_t kEdges[] = {1,    127,  128,        129,        1023,           1024,
                                       1025, 2048, 255 * 1024, 256 * 1024, 256 * 1024 + 1, 300 * 1024};
  if (rng.Chance(0.25)) return kEdges[rng.Below(std::size(kEdges))];
  const double x = static_cast<double>(rng.Next() >> 11) * 0x1.0p-53;
  return std::max<std::size_t>(1, static_cast<std::size_t>(std::exp(x * std::log(300.0 * 1024))));
}

std::string Letters(Rng& rng, std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s += static_cast<char>('A' + rng.Below(26));
  return s;
}

Sample MakeSample(Rng& rng) {
  Sample s;
  s.csv = rng.Chance(0.5);
  s.name = Letters(rng, static_cast<std::size_t>(rng.Range(1, 8))) + (s.csv ? ".CSV" : ".PD3");
  const std::size_t target = LineSize(rng);
  if (!s.csv) {
    for (std::size_t i = 0; i < target; ++i) s.pcText += static_cast<char>(rng.Byte());
    s.expected = s.pcText;
    s.dataBlocks = (target + 1023) / 1024;
  } else {
    // Values that fit their widths and end in a printable byte come back as
    // they went: the receive side cuts only trailing blanks.
    std::vector<std::int64_t> widths(static_cast<std::size_t>(rng.Range(1, 6)));
    std::int64_t recLen = 0;
    for (auto& w : widths) {
      w = rng.Chance(0.1) ? rng.Range(25, 300) : rng.Range(1, 24);
      recLen += w;
      s.fields += (s.fields.empty() ? "" : ",") + std::to_string(w);
    }
    const std::size_t unit = static_cast<std::size_t>(recLen) + 2;
    const std::size_t lines = std::min((target + unit - 1) / unit, 300 * 1024 / unit);
    static const std::string kChars =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 .-_/+*#$%&()=~!?;:@[]{}<>|^'`\\";
    for (std::size_t l = 0; l < lines; ++l) {
      for (std::size_t f = 0; f < widths.size(); ++f) {
        if (f > 0) s.pcText += ',';
        const auto len = static_cast<std::size_t>(rng.Range(0, widths[f]));
        for (std::size_t i = 0; i < len; ++i) {
          char c = kChars[rng.Below(kChars.size())];
          if (i + 1 == len && c == ' ') c = 'z';
          s.pcText += c;
        }
      }
      s.pcText += "\r\n";
    }
    s.expected = s.pcText;
    const std::size_t size = lines * unit;
    s.dataBlocks = (size + 1023) / 1024;
    std::string blanks = s.fields;
    std::replace(blanks.begin(), blanks.end(), ',', ' ');
    const std::size_t fld = FieldHeader(s.name, static_cast<std::int32_t>(size), static_cast<std::int32_t>(lines),
                                        static_cast<std::int32_t>(widths.size()), blanks)
                                .size();
    s.fieldBlockSize = fld <= kSmallData ? kSmallBlock : kLargeBlock;
  }
  s.bitRate = rng.Chance(0.5) ? 115200 : 0;
  if (rng.Chance(0.5)) {
    s.old = "OLD " + s.name + "\r\n";
    for (std::int64_t i = rng.Range(0, 3000); i > 0; --i) s.old->push_back(static_cast<char>(rng.Byte()));
  }
  return s;
}

// ---------------------------------------------------------------------------
// The batch as it runs without a fault: the sender's units, and the bytes the
// receiver answers each of them with.

enum class UnitKind { Start, FieldHeader, FieldBlock, FieldEot, Header, Block, Eot, EndHeader };

struct Unit {
  UnitKind kind;
  std::size_t length;                  // bytes the sender writes
  Bytes reply;                         // bytes the receiver writes after it
  std::size_t aStart = 0, bStart = 0;  // where they begin in each direction
};

struct Script {
  std::vector<Unit> units;
  std::size_t aBytes = 0, bBytes = 0;

  explicit Script(const Sample& s) {
    units.push_back({UnitKind::Start, 0, {kC}});  // the receiver's first 'C'
    if (s.csv) {
      units.push_back({UnitKind::FieldHeader, kSmallBlock, {ACK, kC}});
      units.push_back({UnitKind::FieldBlock, s.fieldBlockSize, {ACK}});
      units.push_back({UnitKind::FieldEot, 1, {ACK, kC}});
    }
    units.push_back({UnitKind::Header, kSmallBlock, {ACK, kC}});
    for (std::size_t i = 0; i < s.dataBlocks; ++i) units.push_back({UnitKind::Block, kLargeBlock, {ACK}});
    units.push_back({UnitKind::Eot, 1, {ACK, kC}});
    units.push_back({UnitKind::EndHeader, kSmallBlock, {ACK}});
    for (Unit& u : units) {
      u.aStart = aBytes;
      u.bStart = bBytes;
      aBytes += u.length;
      bBytes += u.reply.size();
    }
  }
  /// Units of \p kinds, in order.
  std::vector<const Unit*> Of(std::initializer_list<UnitKind> kinds) const {
    std::vector<const Unit*> out;
    for (const Unit& u : units)
      if (std::find(kinds.begin(), kinds.end(), u.kind) != kinds.end()) out.push_back(&u);
    return out;
  }
};

// ---------------------------------------------------------------------------
// Fault classes.

enum class Expect {
  Invariants,      // only the invariants of every run
  Success,         // both sides end with 0
  SenderTimesOut,  // the receiver ends with 0 and stores the file; the sender cannot know (13)
  SenderFails,     // the sender ends with txCode: the damage made a byte that the protocol obeys
};

struct Plan {
  std::string what;
  MemoryLink::Filter a, b;  // on the sender's and on the receiver's bytes
  Bytes noise;              // at the sender's input before anything
  Expect expect = Expect::Invariants;
  std::int32_t txCode = 0;  // SenderFails
};

/// A class's fault for one run. \p run chooses among a class's kinds in turn,
/// so that a few runs see each of them.
using MakePlan = std::function<Plan(Rng&, const Script&, bool continuous, std::uint64_t run)>;

struct FaultClass {
  std::string name;
  MakePlan make;
};

enum class Damage { Flip, Drop, Double };

const char* DamageName(Damage d) { return d == Damage::Flip ? "flip" : d == Damage::Drop ? "drop" : "double"; }

/// Each byte, in either direction, is damaged with probability \p rate.
MakePlan AtRate(Damage damage, double rate) {
  return [=](Rng& rng, const Script&, bool, std::uint64_t) {
    Plan p;
    p.what = std::string(DamageName(damage)) + " at " + std::to_string(rate);
    for (MemoryLink::Filter* f : {&p.a, &p.b}) {
      *f = [r = Rng{rng.Next()}, damage, rate](std::uint64_t, std::uint8_t& b) mutable -> int {
        if (!r.Chance(rate)) return 1;
        if (damage == Damage::Flip) b ^= static_cast<std::uint8_t>(r.Range(1, 255));
        return damage == Damage::Drop ? 0 : damage == Damage::Double ? 2 : 1;
      };
    }
    return p;
  };
}

/// Exactly byte \p index of one direction is dropped (mask 0) or XORed with \p mask.
MemoryLink::Filter OneByte(std::uint64_t index, std::uint8_t mask) {
  return [=](std::uint64_t i, std::uint8_t& b) -> int {
    if (i != index) return 1;
    b ^= mask;
    return mask != 0;
  };
}

/// The receiver's answer byte \p r to unit \p u is lost.
Plan LoseAnswer(const Unit& u, std::size_t r, bool continuous, const std::string& what) {
  Plan p;
  p.what = what;
  p.b = OneByte(u.bStart + r, 0);
  // The ACK of the end-of-batch header is the one byte no protocol can do
  // without: a single receive has ended with its file stored, and the sender
  // cannot learn it. A continuous receive takes the header again.
  p.expect = u.kind == UnitKind::EndHeader && !continuous ? Expect::SenderTimesOut : Expect::Success;
  return p;
}

Plan LostAck(Rng& rng, const Script& s, bool continuous, std::uint64_t run) {
  static const std::initializer_list<UnitKind> kGroups[] = {{UnitKind::FieldHeader, UnitKind::Header},
                                                            {UnitKind::FieldBlock, UnitKind::Block},
                                                            {UnitKind::FieldEot, UnitKind::Eot},
                                                            {UnitKind::EndHeader}};
  static const char* kNames[] = {"header", "block", "EOT", "end-of-batch header"};
  const std::size_t g = run % std::size(kGroups);
  const auto units = s.Of(kGroups[g]);
  const std::size_t k = rng.Below(units.size());
  return LoseAnswer(
      *units[k], 0, continuous,
      std::string("lost ACK of ") + kNames[g] + " #" + std::to_string(k + 1) + " of " + std::to_string(units.size()));
}

Plan LostC(Rng& rng, const Script& s, bool continuous, std::uint64_t run) {
  // The first 'C', one that asks for a file's data, one that asks for the next header.
  static const std::initializer_list<UnitKind> kGroups[] = {
      {UnitKind::Start}, {UnitKind::FieldHeader, UnitKind::Header}, {UnitKind::FieldEot, UnitKind::Eot}};
  const auto units = s.Of(kGroups[run % std::size(kGroups)]);
  const Unit& u = *units[rng.Below(units.size())];
  const std::size_t r = u.kind == UnitKind::Start ? 0 : 1;
  return LoseAnswer(u, r, continuous, "lost 'C' after unit " + std::to_string(&u - s.units.data()));
}

/// One byte dropped or damaged, of the sender's (often at the edges of a
/// unit, where the framing is; always its first byte with \p unitStart) or
/// of the receiver's.
Plan DamageOneByte(Rng& rng, const Script& s, bool continuous, std::uint64_t run, bool unitStart) {
  Plan p;
  const bool drop = (unitStart ? run : run / 2) % 2 == 0;
  const std::uint8_t mask = drop ? 0 : static_cast<std::uint8_t>(rng.Range(1, 255));
  const char* how = drop ? "drop" : "flip";
  if (unitStart || run % 2 == 0) {
    const Unit& u = s.units[static_cast<std::size_t>(rng.Range(1, static_cast<std::int64_t>(s.units.size()) - 1))];
    std::size_t off = unitStart ? 0 : rng.Below(u.length);
    if (!unitStart && rng.Chance(0.5)) {
      const std::size_t edges[] = {0, 1, 2, u.length - 2, u.length - 1};
      off = std::min(edges[rng.Below(std::size(edges))], u.length - 1);
    }
    p.a = OneByte(u.aStart + off, mask);
    p.what = std::string(how) + " of sender byte " + std::to_string(u.aStart + off) + " (unit " +
             std::to_string(&u - s.units.data()) + " offset " + std::to_string(off) + ")";
    p.expect = Expect::Success;
    // An EOT damaged into a CAN is a CAN alone: the terminal's cancel, by
    // the protocol's rule (the receiver answers nothing, the sender times out).
    if (u.kind == UnitKind::Eot || u.kind == UnitKind::FieldEot) {
      if ((EOT ^ mask) == CAN) p.expect = Expect::Invariants;
    }
  } else {
    // The receiver's byte: which it is, and what the damage made of it.
    const std::uint64_t i = rng.Below(s.bBytes);
    const Unit* u = &s.units.back();
    for (const Unit& v : s.units)
      if (v.bStart <= i && i < v.bStart + v.reply.size()) u = &v;
    const std::uint8_t was = u->reply[i - u->bStart];
    const std::uint8_t made = was ^ mask;
    p.b = OneByte(i, mask);
    p.what = std::string(how) + " of receiver byte " + std::to_string(i);
    p.expect = Expect::Success;
    if (u->kind == UnitKind::EndHeader && !continuous) p.expect = Expect::SenderTimesOut;
    if (!drop && made == CAN) {
      // The sender obeys a CAN from the terminal at once.
      p.expect = Expect::SenderFails;
      p.txCode = result::Aborted;
    } else if (!drop && was == kC && made == NAK && (u->kind == UnitKind::FieldHeader || u->kind == UnitKind::Header)) {
      // A NAK where the 'C' for a file's data is awaited is a receive data error.
      p.expect = Expect::SenderFails;
      p.txCode = result::RcvDataError;
    }
  }
  if (!drop) p.what += " by mask " + std::to_string(mask);
  return p;
}

Plan OneDamagedByte(Rng& rng, const Script& s, bool continuous, std::uint64_t run) {
  return DamageOneByte(rng, s, continuous, run, false);
}
Plan UnitStartByte(Rng& rng, const Script& s, bool continuous, std::uint64_t run) {
  return DamageOneByte(rng, s, continuous, run, true);
}

Plan Noise(Rng& rng, const Script&, bool, std::uint64_t) {
  Plan p;
  static const std::uint8_t kProtocol[] = {kC, ACK, NAK, SOH, STX, EOT, kEotAlt};
  for (std::int64_t n = rng.Range(1, 48); n > 0; --n)
    p.noise.push_back(rng.Chance(0.5) ? kProtocol[rng.Below(std::size(kProtocol))] : rng.Byte());
  // The sender waits for its first 'C' and takes a CAN for the terminal's
  // cancel. The rest of the read behind the 'C' is passed over, but not two
  // CANs in a row.
  const auto first = std::find_if(p.noise.begin(), p.noise.end(), [](std::uint8_t b) { return b == kC || b == CAN; });
  bool cancel = first != p.noise.end() && *first == CAN;
  if (first != p.noise.end() && *first == kC)
    cancel = std::adjacent_find(first + 1, p.noise.end(),
                                [](std::uint8_t x, std::uint8_t y) { return x == CAN && y == CAN; }) != p.noise.end();
  p.expect = cancel ? Expect::SenderFails : Expect::Success;
  p.txCode = result::Aborted;
  p.what = std::to_string(p.noise.size()) + " noise bytes";
  return p;
}

Plan Silence(Rng& rng, const Script& s, bool, std::uint64_t run) {
  Plan p;
  const double at = static_cast<double>(rng.Next() >> 11) * 0x1.0p-53;
  const int which = static_cast<int>(run % 3);  // the sender's bytes, the receiver's, both
  const auto from = [](std::uint64_t first) {
    return [first](std::uint64_t i, std::uint8_t&) -> int { return i < first; };
  };
  const auto ai = static_cast<std::uint64_t>(at * static_cast<double>(s.aBytes));
  const auto bi = static_cast<std::uint64_t>(at * static_cast<double>(s.bBytes));
  if (which != 1) p.a = from(ai);
  if (which != 0) p.b = from(bi);
  p.what = std::string("silent ") +
           (which == 0   ? "sender"
            : which == 1 ? "receiver"
                         : "line") +
           " from " + (which == 1 ? "" : "sender byte " + std::to_string(ai) + " ") +
           (which == 0 ? "" : "receiver byte " + std::to_string(bi));
  return p;
}

// ---------------------------------------------------------------------------
// One run.

struct Outcome {
  std::int32_t tx = -1;             // the sender's result
  std::vector<std::int32_t> rxLog;  // the results in the receiver's history log, in order
};

/// The result codes of the history log's lines.
std::vector<std::int32_t> LoggedCodes(const std::string& log) {
  std::vector<std::int32_t> codes;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    std::int32_t code = -1;
    for (std::int32_t c = 0; c <= 20; ++c)
      if (ResultName(c) != "UnexpectedError" && line.find(ToAnsi(ResultLogText(c))) != std::string::npos) code = c;
    codes.push_back(code);
  }
  return codes;
}

/// The longest a send can take: a minute for the first 'C', then for each
/// unit at most ten tries of 3 s and the pauses around them.
std::uint64_t SendBound(const Script& s) { return 61'000 + (s.units.size() + 2) * 10 * 3'200; }

Outcome RunOne(const Sample& s, Plan& plan, bool continuous) {
  Outcome out;
  TransferRig rig;
  const std::string pcName = s.csv ? "send.csv" : "send.pd3";
  WriteFile(rig.dir / pcName, s.pcText);
  if (s.old) WriteFile(rig.Rx() / s.name, *s.old);
  auto tx = rig.Sender(pcName, s.name, s.fields);
  auto rx = rig.Receiver([&](TransferRequest& r) {
    r.RcvMode = continuous;
    r.LogFlag = true;
    r.LogFile = rig.dir / "receive.log";
  });
  rig.link.SetBitRate(s.bitRate);
  rig.link.SetFilter(MemoryLink::A, plan.a);
  rig.link.SetFilter(MemoryLink::B, plan.b);
  rig.Add(*tx);
  rig.Add(*rx);
  if (!plan.noise.empty()) rig.link.Inject(MemoryLink::A, plan.noise);

  const Script script(s);
  EXPECT_TRUE(rig.RunUntil([&] { return tx->Ended(); }, SendBound(script))) << "the sender hangs";
  out.tx = tx->ErrorNo();
  // The receiver ends by itself, or comes to wait for a header, which it does
  // without limit until it is stopped.
  const bool settled = rig.RunUntil(
      [&] { return rx->Ended() || (rx->YmComStat() == TYmComStat::S00 && rig.link.Pending(MemoryLink::B) == 0); },
      40'000);
  EXPECT_TRUE(settled) << "the receiver hangs in " << StateName(rx->YmComStat());
  EXPECT_TRUE(!continuous || !rx->Ended()) << "a continuous receive ended by itself with " << rx->ErrorNo();
  if (!rx->Ended()) {
    rx->StopCom();
    EXPECT_TRUE(rig.RunUntil([&] { return rx->Ended(); }, 1'000)) << "the receiver does not stop";
    EXPECT_EQ(rx->ErrorNo(), result::Cancelled);
  }
  out.rxLog = LoggedCodes(ReadFile(rig.dir / "receive.log"));
  if (std::getenv("PW_FAULT_MATRIX_LINE")) {
    // Debug: what each side wrote, the sender's as units.
    const Bytes a = rig.link.Written(MemoryLink::A), b = rig.link.Written(MemoryLink::B);
    std::string t = "sender:";
    for (std::size_t i = 0; i < a.size();) {
      const std::size_t len = a[i] == SOH ? kSmallBlock : a[i] == STX ? kLargeBlock : 1;
      t += a[i] == SOH || a[i] == STX ? (a[i] == SOH ? " S" : " X") + std::to_string(a[i + 1])
                                      : " b" + std::to_string(a[i]);
      i += len;
    }
    t += "\nreceiver:";
    for (std::uint8_t c : b) t += " " + std::to_string(c);
    std::printf("%s\n", t.c_str());
  }
  const bool rxStored = std::find(out.rxLog.begin(), out.rxLog.end(), result::NormalEnd) != out.rxLog.end();
  const bool rxSucceeded = !continuous && rx->ErrorNo() == result::NormalEnd;
  EXPECT_EQ(rx->RcvFile(), rxSucceeded ? s.name : "");

  // The receive folder: nothing but the file, and that whole, new or old.
  const fs::path target = rig.Rx() / s.name;
  for (const auto& e : fs::directory_iterator(rig.Rx())) EXPECT_EQ(e.path().filename().string(), s.name);
  std::string stored;
  const bool exists = fs::exists(target);
  if (exists) stored = ReadFile(target);
  const bool isNew = exists && stored == s.expected;
  const bool isOld = exists && s.old && stored == *s.old;
  EXPECT_TRUE(!exists || isNew || isOld) << "a partial or foreign file of " << stored.size() << " bytes";
  EXPECT_TRUE(exists || !s.old) << "the old file is lost";
  EXPECT_TRUE(isNew || out.tx != result::NormalEnd) << "the sender succeeded, the file is not there";
  EXPECT_TRUE(isNew || !rxSucceeded) << "the receiver succeeded, the file is not there";
  EXPECT_TRUE(isNew || !rxStored) << "the receiver logged a stored file that is not there";

  switch (plan.expect) {
    case Expect::Invariants:
      break;
    case Expect::Success:
      EXPECT_EQ(out.tx, result::NormalEnd);
      EXPECT_EQ(rx->ErrorNo(), continuous ? result::Cancelled : result::NormalEnd);
      EXPECT_EQ(out.rxLog, std::vector<std::int32_t>{result::NormalEnd});
      EXPECT_TRUE(isNew);
      break;
    case Expect::SenderTimesOut:
      EXPECT_EQ(out.tx, result::TimeOut);
      EXPECT_EQ(rx->ErrorNo(), result::NormalEnd);
      EXPECT_TRUE(isNew);
      break;
    case Expect::SenderFails:
      EXPECT_EQ(out.tx, plan.txCode);
      break;
  }
  if (plan.expect == Expect::Success && !continuous) {
    // Nothing but the lost byte's repair went on the line: a unit again, or
    // twice when both sides' timeouts answer the loss.
    EXPECT_LE(rig.link.Written(MemoryLink::A).size(), script.aBytes + 2 * kLargeBlock);
  }
  return out;
}

// ---------------------------------------------------------------------------
// The matrix.

const std::vector<FaultClass>& Classes() {
  static const std::vector<FaultClass> classes = {
      {"Clean",
       [](Rng&, const Script&, bool, std::uint64_t) {
         return Plan{"no fault", {}, {}, {}, Expect::Success};
       }},
      {"Flip1e4", AtRate(Damage::Flip, 1e-4)},
      {"Flip1e3", AtRate(Damage::Flip, 1e-3)},
      {"Drop1e4", AtRate(Damage::Drop, 1e-4)},
      {"Drop1e3", AtRate(Damage::Drop, 1e-3)},
      {"Double1e4", AtRate(Damage::Double, 1e-4)},
      {"Double1e3", AtRate(Damage::Double, 1e-3)},
      {"LostAck", LostAck},
      {"LostC", LostC},
      {"OneDamagedByte", OneDamagedByte},
      {"UnitStartByte", UnitStartByte},
      {"NoiseBeforeFirstC", Noise},
      {"SilentPeer", Silence},
  };
  return classes;
}

class FaultMatrix : public ::testing::TestWithParam<std::size_t> {};

TEST_P(FaultMatrix, EveryTransferEndsAndKeepsItsFilesWhole) {
  const FaultClass& fc = Classes()[GetParam()];
  const std::uint64_t runs = EnvNumber("PW_FAULT_MATRIX_RUNS", 6);
  const bool summary = std::getenv("PW_FAULT_MATRIX_RUNS") != nullptr;
  const std::uint64_t base = EnvNumber("PW_FAULT_MATRIX_SEED", 1);
  const std::uint64_t only = EnvNumber("PW_FAULT_MATRIX_ONLY", 0);  // one run again, by the seed its trace shows
  for (bool continuous : {false, true}) {
    std::map<std::int32_t, int> txCodes, rxCodes;
    int successes = 0, failedRuns = 0;
    auto* testResult = ::testing::UnitTest::GetInstance()->current_test_info()->result();
    for (std::uint64_t run = 0; run < runs; ++run) {
      const std::uint64_t seed = base * 1'000'003 + GetParam() * 10'007 + (continuous ? 5'003 : 0) + run;
      if (only != 0 && seed != only) continue;
      Rng rng{seed};
      const Sample s = MakeSample(rng);
      const Script script(s);
      Plan plan = fc.make(rng, script, continuous, run);
      const std::string trace = fc.name + (continuous ? " continuous" : " single") + " seed " + std::to_string(seed) +
                                ": " + s.Describe() + "; " + plan.what;
      SCOPED_TRACE(trace);
      const int failuresBefore = testResult->total_part_count();
      const Outcome o = RunOne(s, plan, continuous);
      ++txCodes[o.tx];
      for (std::int32_t c : o.rxLog) ++rxCodes[c];
      successes += o.tx == result::NormalEnd;
      failedRuns += testResult->total_part_count() > failuresBefore;
    }
    if (summary) {
      const auto codes = [](const std::map<std::int32_t, int>& m) {
        std::string t;
        for (const auto& [code, n] : m) t += (t.empty() ? "" : " ") + std::to_string(code) + ":" + std::to_string(n);
        return t;
      };
      std::printf("[fault matrix] %-17s %-10s runs %llu, sent: %d, failed checks: %d; sender {%s}; receiver log {%s}\n",
                  fc.name.c_str(), continuous ? "continuous" : "single", static_cast<unsigned long long>(runs),
                  successes, failedRuns, codes(txCodes).c_str(), codes(rxCodes).c_str());
      std::fflush(stdout);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Classes, FaultMatrix, ::testing::Range<std::size_t>(0, Classes().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& i) { return Classes()[i.param].name; });

}  // namespace
}  // namespace pw::test
