// The simulated terminal's receive and send sequences.
#include "tools/bhtsim/terminal.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "engine/ymodem_block.h"

namespace pw::bhtsim {

using namespace ymodem;

namespace {

// Waits of the terminal. While no header starts it repeats 'C' every
// kHeaderRepeatMs, as the PC does; a sender waits kAnswerMs for each answer.
// A receiver waits longer than the PC's 3 s for the next block, so that a
// block whose ACK was lost comes again before the terminal says NAK.
constexpr std::uint32_t kSecondCanMs = 1000;     // how long a first CAN waits for its partner
constexpr std::uint32_t kBlockWaitMs = 5000;     // receive: next data block
constexpr std::uint32_t kInsideBlockMs = 1000;   // receive: between two bytes of a block
constexpr std::uint32_t kAckWaitMs = kAnswerMs;  // send: ACK, or 'C' within the batch
constexpr std::uint32_t kAfterAckMs = 100;       // receive: ACK of a header or EOT, then 'C'
constexpr int kTries = kMaxRetries;              // the tenth failure in a row ends the run

Outcome Failed(std::string message) { return {Outcome::Kind::kFailed, 0, std::move(message)}; }

// The end of a run that went through: a failure when --can-at asked for a
// cancel at a block that never came.
Outcome Through(const Options& o, const std::string& problem) {
  if (!problem.empty()) return Failed(problem);
  if (o.canAt != 0) return Failed("no data block " + std::to_string(o.canAt) + ", so no cancel was sent");
  return {};
}

// A CAN arrived where the terminal waited: the PC sends a second one 100 ms
// later. Counts it, so that --expect-cancel can tell the whole sequence.
Outcome PeerCancelled(Link& link) {
  link.LogReceived(CAN);
  Outcome out{Outcome::Kind::kPeerCancelled, 1, "cancelled by peer"};
  const std::uint64_t deadline = link.Now() + kSecondCanMs;
  while (const auto b = link.Get(deadline)) {
    if (*b == CAN) {
      link.LogReceived(CAN);
      out.cans = 2;
      return out;
    }
    link.LogReceived(*b, "skipped");
  }
  out.message += " (one CAN only)";
  return out;
}

// --silent: listen, never answer.
Outcome SilentRun(Link& link, std::uint32_t timeoutSec) {
  link.Log("silent for " + std::to_string(timeoutSec) + " s");
  const std::uint64_t deadline = link.Now() + std::uint64_t{timeoutSec} * 1000;
  while (const auto b = link.Get(deadline)) {
    if (*b == CAN) return PeerCancelled(link);
    link.LogReceived(*b);
  }
  return Failed("silent: time is up after " + std::to_string(timeoutSec) + " s");
}

std::string BlockText(std::uint8_t number, std::size_t dataSize) {
  return "block " + std::to_string(number) + " (" + std::to_string(dataSize) + " bytes)";
}

}  // namespace

int ExitCode(const Outcome& outcome, bool expectCancel) {
  if (expectCancel) return outcome.kind == Outcome::Kind::kPeerCancelled && outcome.cans >= 2 ? 0 : 1;
  return outcome.kind == Outcome::Kind::kDone || outcome.kind == Outcome::Kind::kCancelSent ? 0 : 1;
}

std::string ByteName(std::uint8_t byte) {
  switch (byte) {
    case SOH:
      return "SOH";
    case STX:
      return "STX";
    case EOT:
      return "EOT";
    case ACK:
      return "ACK";
    case NAK:
      return "NAK";
    case CAN:
      return "CAN";
    case kC:
      return "C";
    default:
      break;
  }
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", byte);
  return text;
}

Bytes NoiseBytes(std::uint32_t count) {
  Bytes out;
  out.reserve(count);
  std::uint32_t x = 0x2545F491;  // xorshift32, a fixed sequence for repeatable runs
  while (out.size() < count) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    const auto b = static_cast<std::uint8_t>(x >> 24);
    if (b == SOH || b == STX || b == EOT || b == ACK || b == NAK || b == CAN || b == kC || b == kEotAlt) continue;
    out.push_back(b);
  }
  return out;
}

// ---------------------------------------------------------------------------
// Link

Link::Link(Channel& channel, std::FILE* log, std::uint32_t noise)
    : channel_(channel), log_(log), noise_(noise), start_(channel.NowMs()) {}

std::optional<std::uint8_t> Link::Get(std::uint64_t deadline) {
  while (inPos_ == in_.size()) {
    const std::uint64_t now = Now();
    if (now >= deadline) return std::nullopt;
    std::uint8_t buf[4096];
    const std::size_t n =
        channel_.Read(buf, sizeof buf, static_cast<std::uint32_t>(std::min<std::uint64_t>(deadline - now, 60000)));
    in_.assign(buf, buf + n);
    inPos_ = 0;
  }
  return in_[inPos_++];
}

void Link::Discard() {
  std::size_t dropped = in_.size() - inPos_;
  in_.clear();
  inPos_ = 0;
  std::uint8_t buf[4096];
  while (const std::size_t n = channel_.Read(buf, sizeof buf, 0)) dropped += n;
  if (dropped > 0) Log("discarded " + std::to_string(dropped) + " pending bytes");
}

void Link::Write(const std::uint8_t* bytes, std::size_t count) {
  if (noise_ > 0) {
    const Bytes noise = NoiseBytes(noise_);
    noise_ = 0;
    channel_.Write(noise.data(), noise.size());
    Log("sent noise (" + std::to_string(noise.size()) + " bytes)");
  }
  channel_.Write(bytes, count);
}

void Link::Send(const std::uint8_t* bytes, std::size_t count, const std::string& what) {
  Discard();
  Write(bytes, count);
  Log("sent " + what);
}

void Link::SendByte(std::uint8_t byte) { Send(&byte, 1, ByteName(byte)); }

void Link::SendRest(const std::uint8_t* bytes, std::size_t count, const std::string& what) {
  Write(bytes, count);
  Log("sent " + what);
}

void Link::SendCancel() {
  SendByte(CAN);
  Sleep(kCancelPauseMs);
  SendRest(&CAN, 1, "CAN");
}

void Link::Log(const std::string& line) {
  if (!log_) return;
  const std::uint64_t ms = Now() - start_;
  std::fprintf(log_, "%6llu.%03llu %s\n", static_cast<unsigned long long>(ms / 1000),
               static_cast<unsigned long long>(ms % 1000), line.c_str());
  std::fflush(log_);
}

void Link::LogReceived(std::uint8_t byte, const char* note) {
  if (!log_) return;
  Log("recv " + ByteName(byte) + (note ? std::string(" ") + note : std::string()));
}

// ---------------------------------------------------------------------------
// Receiver

struct Receiver::Block {
  std::uint8_t start = 0;
  std::uint8_t number = 0;
  std::uint8_t complement = 0;
  Bytes data;
  bool complete = false;
  bool crcOk = false;

  std::string Text() const { return BlockText(number, data.size()); }
};

struct Receiver::Header {
  bool endOfBatch = false;
  std::string name;
  std::optional<std::uint64_t> size;  // none: the header gave no size
};

Receiver::Receiver(Link& link, const Options& options, std::FILE* report)
    : link_(link), o_(options), report_(report), naksLeft_(options.nakTimes) {}

Receiver::Got Receiver::Next(std::uint64_t deadline, Block& block, bool b0IsEot) {
  for (;;) {
    const auto b = link_.Get(deadline);
    if (!b) return Got::kNothing;
    if (*b == CAN) return Got::kCan;
    if (*b == EOT || (b0IsEot && *b == kEotAlt)) {
      link_.LogReceived(*b);
      return Got::kEot;
    }
    if (*b != SOH && *b != STX) {
      link_.LogReceived(*b, "skipped");
      continue;
    }
    // A block: number, complement, data, CRC; a gap of a second ends it short.
    block = Block{};
    block.start = *b;
    const std::size_t size = *b == SOH ? kSmallData : kLargeData;
    std::uint8_t head[2], crc[2];
    std::size_t got = 0;
    while (got < 2 + size + 2) {
      const auto x = link_.Get(link_.Now() + kInsideBlockMs);
      if (!x) break;
      if (got < 2) {
        head[got] = *x;
      } else if (got < 2 + size) {
        block.data.push_back(*x);
      } else {
        crc[got - 2 - size] = *x;
      }
      ++got;
    }
    block.number = got > 0 ? head[0] : 0;
    block.complement = got > 1 ? head[1] : 0;
    block.complete = got == 2 + size + 2;
    if (block.complete) {
      const auto received = static_cast<std::uint16_t>((crc[0] << 8) | crc[1]);
      block.crcOk = CalcCrc16(block.data.data(), block.data.size()) == received;
    }
    return Got::kBlock;
  }
}

std::optional<Outcome> Receiver::ReceiveHeader(Header& header) {
  const std::uint64_t deadline = link_.Now() + std::uint64_t{o_.timeoutSec} * 1000;
  std::uint64_t nextC = link_.Now();
  int failures = 0;
  for (;;) {
    const std::uint64_t now = link_.Now();
    if (now >= deadline) return Failed("no header within " + std::to_string(o_.timeoutSec) + " s");
    if (now >= nextC) {
      link_.SendByte(kC);
      nextC = now + kHeaderRepeatMs;
    }
    Block block;
    switch (Next(std::min(nextC, deadline), block, false)) {
      case Got::kNothing:
        continue;
      case Got::kCan:
        return PeerCancelled(link_);
      case Got::kEot:
        // The last file's EOT again: our ACK was lost.
        link_.SendByte(ACK);
        continue;
      case Got::kBlock:
        break;
    }
    const bool good =
        block.complete && CheckBlock(block.number, block.complement, 0, block.crcOk, false) == BlockVerdict::Accept;
    std::string name;
    std::optional<std::uint64_t> size;
    if (good && block.data[0] == 0) {
      link_.Log("recv " + block.Text() + ": end of batch");
      link_.SendByte(ACK);
      header = Header{true, {}, {}};
      return std::nullopt;
    }
    if (good) {
      const auto zero = std::find(block.data.begin(), block.data.end(), 0);
      name.assign(block.data.begin(), zero);
      std::uint64_t digits = 0, value = 0;
      for (auto p = zero == block.data.end() ? zero : zero + 1; p != block.data.end() && *p >= '0' && *p <= '9'; ++p) {
        if (++digits > 15) break;
        value = value * 10 + (*p - '0');
      }
      if (digits > 0 && digits <= 15) size = value;
    }
    const bool safeName = !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
    if (!good || !safeName) {
      link_.Log("recv " + block.Text() + ": refused" + (good ? " (name)" : ""));
      if (++failures >= kTries) {
        link_.SendCancel();
        return Failed("ten bad headers in a row");
      }
      link_.SendByte(NAK);
      continue;
    }
    link_.Log("recv " + block.Text() + ": header " + name + " " + (size ? std::to_string(*size) : "(no size)"));
    link_.SendByte(ACK);
    header = Header{false, name, size};
    return std::nullopt;
  }
}

std::optional<Outcome> Receiver::ReceiveData(const Header& header) {
  link_.Sleep(kAfterAckMs);
  link_.SendByte(kC);
  Bytes data;
  std::uint8_t expected = 1;
  bool first = true;  // no data block of this file accepted yet
  int failures = 0;
  for (;;) {
    // Like the PC, take 0xB0 for EOT once all announced data are here.
    const bool complete = header.size && data.size() >= *header.size;
    Block block;
    switch (Next(link_.Now() + kBlockWaitMs, block, complete)) {
      case Got::kNothing:
        link_.Log("no block for " + std::to_string(kBlockWaitMs) + " ms");
        if (++failures >= kTries) {
          link_.SendCancel();
          return Failed("no data for " + header.name);
        }
        link_.SendByte(first ? kC : NAK);
        continue;
      case Got::kCan:
        return PeerCancelled(link_);
      case Got::kEot:
        link_.SendByte(ACK);
        Store(header, data);
        link_.Sleep(kAfterAckMs);
        return std::nullopt;
      case Got::kBlock:
        break;
    }
    const BlockVerdict verdict =
        block.complete ? CheckBlock(block.number, block.complement, expected, block.crcOk, true) : BlockVerdict::Refuse;
    if (verdict == BlockVerdict::Refuse) {
      link_.Log("recv " + block.Text() + ": refused" + (block.complete ? "" : " (short)"));
      if (++failures >= kTries) {
        link_.SendCancel();
        return Failed("ten bad blocks in a row in " + header.name);
      }
      link_.SendByte(NAK);
      continue;
    }
    if (verdict == BlockVerdict::Repeat) {
      link_.Log("recv " + block.Text() + ": repeated");
      link_.SendByte(ACK);
      if (first) {  // the header again: answer it as a header
        link_.Sleep(kAfterAckMs);
        link_.SendByte(kC);
      }
      continue;
    }
    const BlockCount count = accepted_ + 1;
    if (count == o_.nakBlock && naksLeft_ > 0) {
      --naksLeft_;
      link_.Log("recv " + block.Text() + ": data block " + std::to_string(count) + ", NAK as asked");
      link_.SendByte(NAK);
      continue;
    }
    if (count == o_.canAt) {
      link_.Log("recv " + block.Text() + ": data block " + std::to_string(count) + ", cancel as asked");
      link_.SendCancel();
      return Outcome{Outcome::Kind::kCancelSent, 0, "sent CAN CAN at data block " + std::to_string(count)};
    }
    link_.Log("recv " + block.Text() + ": data block " + std::to_string(count));
    data.insert(data.end(), block.data.begin(), block.data.end());
    accepted_ = count;
    ++expected;
    first = false;
    failures = 0;
    if (count == o_.dropAck) {
      link_.Log("ACK withheld as asked");
      continue;
    }
    link_.SendByte(ACK);
  }
}

void Receiver::Store(const Header& header, const Bytes& data) {
  std::size_t keep = data.size();
  if (header.size) {
    if (data.size() < *header.size) {
      if (problem_.empty())
        problem_ =
            header.name + ": " + std::to_string(data.size()) + " of " + std::to_string(*header.size) + " bytes arrived";
    } else {
      keep = static_cast<std::size_t>(*header.size);
    }
  }
  const std::filesystem::path path = std::filesystem::path(o_.dir) / header.name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(keep));
  out.close();
  if (!out) {
    if (problem_.empty()) problem_ = "cannot write " + path.string();
    return;
  }
  link_.Log("stored " + header.name + " " + std::to_string(keep));
  std::fprintf(report_, "stored %s %zu\n", header.name.c_str(), keep);
  std::fflush(report_);
}

Outcome Receiver::Run() {
  if (o_.silent) return SilentRun(link_, o_.timeoutSec);
  for (std::uint32_t batch = 0; batch < o_.batches; ++batch) {
    for (;;) {
      Header header;
      if (auto end = ReceiveHeader(header)) return *end;
      if (header.endOfBatch) break;
      if (auto end = ReceiveData(header)) return *end;
    }
  }
  return Through(o_, problem_);
}

// ---------------------------------------------------------------------------
// Sender

Sender::Sender(Link& link, const Options& options, const std::vector<BatchFile>& batch)
    : link_(link), o_(options), batch_(batch) {}

std::optional<Outcome> Sender::WaitForC(std::uint32_t waitMs, int tries, const std::string& what) {
  for (int t = 0; t < tries; ++t) {
    const std::uint64_t deadline = link_.Now() + waitMs;
    while (const auto b = link_.Get(deadline)) {
      if (*b == kC) {
        link_.LogReceived(*b);
        return std::nullopt;
      }
      if (*b == CAN) return PeerCancelled(link_);
      link_.LogReceived(*b, "skipped");
    }
    link_.Log("no C for " + std::to_string(waitMs) + " ms");
  }
  if (tries > 1) link_.SendCancel();
  return Failed("no 'C' " + what);
}

std::optional<Outcome> Sender::SendUntilAck(const Bytes& block, BlockCount count, const std::string& what) {
  for (int failures = 0;;) {
    const bool first = failures == 0;
    if (first && count != 0 && count == o_.corruptBlock) {
      Bytes bad = block;
      bad[3] ^= 0xFF;
      link_.Send(bad.data(), bad.size(), what + ", corrupted");
    } else if (first && count != 0 && count == o_.stretchBlock) {
      link_.Send(block.data(), 1, ByteName(block[0]) + " of " + what);
      link_.Sleep(o_.stretchMs);
      link_.SendRest(block.data() + 1, block.size() - 1, "rest of " + what);
    } else {
      link_.Send(block.data(), block.size(), what);
    }
    const std::uint64_t deadline = link_.Now() + kAckWaitMs;
    bool nak = false;
    while (!nak) {
      const auto b = link_.Get(deadline);
      if (!b) break;
      if (*b == ACK) {
        link_.LogReceived(*b);
        return std::nullopt;
      }
      if (*b == CAN) return PeerCancelled(link_);
      nak = *b == NAK;
      link_.LogReceived(*b, nak ? nullptr : "skipped");
    }
    if (!nak) link_.Log("no ACK for " + std::to_string(kAckWaitMs) + " ms");
    if (++failures >= kTries) {
      link_.SendCancel();
      return Failed("no ACK for " + what + " after " + std::to_string(kTries) + " tries");
    }
  }
}

std::optional<Outcome> Sender::SendHeader(const Bytes& block, const std::string& what) {
  if (auto end = WaitForC(o_.timeoutSec * 1000, 1, "within " + std::to_string(o_.timeoutSec) + " s")) return end;
  return SendUntilAck(block, 0, what);
}

Outcome Sender::Run() {
  if (o_.silent) return SilentRun(link_, o_.timeoutSec);
  BlockCount count = 0;  // data blocks of the batch so far
  Bytes block(kLargeBlock);
  for (std::size_t i = 0; i < batch_.size(); ++i) {
    const BatchFile& file = batch_[i];
    if (i > 0)
      if (auto end = WaitForC(kAckWaitMs, kTries, "for the header of " + file.name)) return *end;

    block.resize(kSmallBlock);
    BuildHeaderBlock(block.data(), file.name, static_cast<std::int32_t>(file.bytes.size()));
    const std::string what = "header " + file.name + " " + std::to_string(file.bytes.size());
    // The first header waits for the PC's first 'C', as a request does.
    if (auto end = i == 0 ? SendHeader(block, what) : SendUntilAck(block, 0, what)) return *end;
    if (auto end = WaitForC(kAckWaitMs, kTries, "for the data of " + file.name)) return *end;

    std::uint8_t data[kLargeData];
    for (std::size_t offset = 0, number = 1; offset < file.bytes.size(); offset += kLargeData, ++number) {
      ++count;
      const std::size_t n = std::min(kLargeData, file.bytes.size() - offset);
      std::memcpy(data, file.bytes.data() + offset, n);
      std::memset(data + n, o_.fill, kLargeData - n);
      block.resize(kLargeBlock);
      BuildBlock(block.data(), STX, static_cast<std::uint8_t>(number & 0xFF), data, kLargeData);
      if (count == o_.canAt) {
        link_.Log("data block " + std::to_string(count) + ": cancel as asked");
        link_.SendCancel();
        return Outcome{Outcome::Kind::kCancelSent, 0, "sent CAN CAN at data block " + std::to_string(count)};
      }
      if (auto end = SendUntilAck(block, count, BlockText(block[1], kLargeData))) return *end;
    }
    const bool last = i + 1 == batch_.size();
    const Bytes eot{last && o_.eotB0 ? kEotAlt : EOT};
    if (auto end = SendUntilAck(eot, 0, ByteName(eot[0]))) return *end;
  }
  if (auto end = WaitForC(kAckWaitMs, kTries, "for the end of the batch")) return *end;
  block.resize(kSmallBlock);
  BuildEndOfBatchBlock(block.data());
  if (auto end = SendUntilAck(block, 0, "end of batch")) return *end;
  return Through(o_, {});
}

// ---------------------------------------------------------------------------
// Request

Outcome RunRequest(Link& link, const Options& o, std::FILE* report) {
  if (o.silent) return SilentRun(link, o.timeoutSec);
  const auto refused = [&o](Outcome out) {
    if (out.kind == Outcome::Kind::kPeerCancelled) out.message = "request " + o.request + " refused: " + out.message;
    return out;
  };
  const std::vector<BatchFile> none;
  Sender sender(link, o, none);
  if (auto end = sender.SendHeader(RequestBlock(o.request), "request " + o.request)) return refused(*end);
  // A refusal comes right behind the ACK: listen for it before the 'C' that
  // would discard it as pending input.
  const std::uint64_t deadline = link.Now() + kAfterAckMs;
  while (const auto b = link.Get(deadline)) {
    if (*b == CAN) return refused(PeerCancelled(link));
    link.LogReceived(*b, "skipped");
  }
  Options one = o;
  one.batches = 1;
  Receiver receiver(link, one, report);
  const Outcome out = receiver.Run();
  return receiver.DataBlocks() == 0 ? refused(out) : out;
}

}  // namespace pw::bhtsim
