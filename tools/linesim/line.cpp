// The line simulator's core: byte scheduling, faults and the command line.
#include "tools/linesim/line.h"

#include <algorithm>
#include <charconv>

#include "frontend/command_line.h"

namespace pw::linesim {

namespace {

constexpr std::uint64_t kBitTimesPerByteNs = 10'000'000'000;  // 10 bits, in ns per bit/s

// A whole number in decimal, or hex after "0x"; nothing on junk or overflow.
std::optional<std::uint64_t> ParseNumber(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::string_view DirectionName(Direction d) { return d == Direction::kAToB ? "a2b" : "b2a"; }

Nanos LineTime(std::uint64_t bytes, std::uint32_t speed) {
  if (speed == 0) return 0;
  // bytes * 1e10 / speed, split so that the product cannot overflow.
  const std::uint64_t whole = bytes / speed;
  const std::uint64_t rest = bytes % speed;
  return whole * kBitTimesPerByteNs + (rest * kBitTimesPerByteNs + speed - 1) / speed;
}

LineDirection::LineDirection(Direction direction, std::uint32_t speed, const std::vector<Fault>& faults,
                             std::size_t capacity)
    : direction_(direction), speed_(speed), capacity_(capacity) {
  for (const Fault& f : faults)
    if (f.direction == direction) faults_.push_back(f);
  std::stable_sort(faults_.begin(), faults_.end(),
                   [](const Fault& x, const Fault& y) { return x.byteNumber < y.byteNumber; });
}

std::size_t LineDirection::Accept(const std::uint8_t* bytes, std::size_t count, Nanos now) {
  const std::size_t taken = std::min(count, Room());
  for (std::size_t i = 0; i < taken; ++i) {
    ++accepted_;
    Nanos due = now;
    if (speed_ != 0) {
      if (now >= lineFree_) {  // the line was idle: this byte starts a new spell
        spellStart_ = now;
        spellBytes_ = 0;
      }
      ++spellBytes_;
      lineFree_ = spellStart_ + LineTime(spellBytes_, speed_);
      due = lineFree_;
    }
    std::uint8_t byte = bytes[i];
    bool dropped = false;
    while (nextFault_ < faults_.size() && faults_[nextFault_].byteNumber <= accepted_) {
      const Fault& f = faults_[nextFault_++];
      if (f.byteNumber != accepted_) continue;
      FaultEvent e{f, byte, byte};
      if (f.kind == Fault::Kind::kDrop) {
        dropped = true;
      } else if (!dropped) {
        byte = static_cast<std::uint8_t>(byte ^ f.mask);
        e.after = byte;
      }
      events_.push_back(e);
    }
    if (!dropped) queue_.push_back({due, byte});
  }
  return taken;
}

std::optional<Nanos> LineDirection::NextDue() const {
  if (queue_.empty()) return std::nullopt;
  return queue_.front().due;
}

std::size_t LineDirection::PeekDue(Nanos now, std::uint8_t* out, std::size_t max) const {
  std::size_t n = 0;
  for (auto it = queue_.begin(); n < max && it != queue_.end() && it->due <= now; ++it) out[n++] = it->byte;
  return n;
}

void LineDirection::Consume(std::size_t count) {
  queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(std::min(count, queue_.size())));
}

std::vector<FaultEvent> LineDirection::TakeEvents() {
  std::vector<FaultEvent> out;
  out.swap(events_);
  return out;
}

std::optional<Fault> ParseFault(Fault::Kind kind, std::string_view text) {
  Fault f;
  f.kind = kind;
  if (text.substr(0, 4) == "a2b:") {
    f.direction = Direction::kAToB;
  } else if (text.substr(0, 4) == "b2a:") {
    f.direction = Direction::kBToA;
  } else {
    return std::nullopt;
  }
  text.remove_prefix(4);
  const std::size_t colon = text.find(':');
  const auto number = ParseNumber(text.substr(0, colon));
  if (!number || *number == 0) return std::nullopt;
  f.byteNumber = *number;
  if (colon != std::string_view::npos) {
    if (kind != Fault::Kind::kFlip) return std::nullopt;
    const auto mask = ParseNumber(text.substr(colon + 1));
    if (!mask || *mask == 0 || *mask > 0xFF) return std::nullopt;
    f.mask = static_cast<std::uint8_t>(*mask);
  }
  return f;
}

std::optional<Options> ParseOptions(const std::vector<std::string_view>& args, std::string& error) {
  using namespace cli;
  Options o;
  const auto fault = [&o](Fault::Kind kind) {
    return Value{true, [&o, kind](std::string_view text) -> std::string {
                   const auto f = ParseFault(kind, text);
                   if (!f)
                     return std::string(text) + " is not " + (kind == Fault::Kind::kFlip ? "DIR:N[:MASK]" : "DIR:N");
                   for (const Fault& other : o.faults) {
                     if (other.direction == f->direction && other.byteNumber == f->byteNumber)
                       return "a second fault on byte " + std::string(text);
                   }
                   o.faults.push_back(*f);
                   return {};
                 }};
  };
  OptionTable t;
  t.Add("--speed", Number(o.speed, 0, kMaxSpeed));
  t.Add("--link-a", Text(o.linkA)).Required();
  t.Add("--link-b", Text(o.linkB)).Required();
  t.Add("--flip", fault(Fault::Kind::kFlip));
  t.Add("--drop", fault(Fault::Kind::kDrop));
  t.Add("--log", Text(o.logPath, true));
  switch (t.Parse(args, error)) {
    case OptionTable::Result::kHelp:
      o.help = true;
      return o;
    case OptionTable::Result::kError:
      return std::nullopt;
    case OptionTable::Result::kRun:
      break;
  }
  if (o.linkA == o.linkB) {
    error = "--link-a and --link-b must differ";
    return std::nullopt;
  }
  return o;
}

std::string_view Usage() {
  return R"(usage: linesim --link-a PATH --link-b PATH [options]

Relays bytes between two pseudo-terminals at the rate of a serial line, so
that two programs can talk over a slow, imperfect line. Each side opens its
link as it would open a serial device. Prints "ready" once both links exist.
Stops on SIGINT or SIGTERM and removes the links.

  --link-a PATH       symbolic link to create for side A's terminal
  --link-b PATH       symbolic link to create for side B's terminal
  --speed BITS        line rate in bit/s, 10 bit-times per byte, each direction
                      on its own (full duplex); 0 for no limit (default 115200)
  --flip DIR:N[:MASK] XOR the Nth byte sent in direction DIR (a2b or b2a,
                      counted from 1) with MASK (default 0xFF); repeatable
  --drop DIR:N        lose the Nth byte sent in direction DIR; it still takes
                      its time on the line; repeatable
  --log FILE          write one line per dropped or flipped byte to FILE
  --help              show this text

Each direction holds at most 64 KiB in flight; when a side does not read, the
simulator stops reading from the other until there is room again.
)";
}

}  // namespace pw::linesim
