// The line simulator's core: when each byte crossing a serial line is due at
// the far end, which bytes are dropped or flipped, and its command line.
//
// Theory of operation. Each direction of the line is a LineDirection, a
// bounded queue of bytes in flight. A byte takes ten bit-times (start, eight
// data, stop) and arrives at the far end when its last bit has. While the line
// is busy, the bytes of one busy spell are scheduled against the time the spell
// began, so rounding never accumulates; a byte that finds the line idle starts
// a new spell at its own arrival. A dropped byte still occupies the line for
// its ten bit-times, as a byte lost to noise would. Nothing here reads a clock
// or touches a descriptor: the caller passes the time, so every case can be
// checked exactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pw::linesim {

/// Nanoseconds since the simulator started.
using Nanos = std::uint64_t;

enum class Direction { kAToB = 0, kBToA = 1 };

/// "a2b" or "b2a".
std::string_view DirectionName(Direction d);

struct Fault {
  enum class Kind { kFlip, kDrop };
  Kind kind = Kind::kFlip;
  Direction direction = Direction::kAToB;
  std::uint64_t byteNumber = 0;  ///< counted from 1 per direction
  std::uint8_t mask = 0xFF;      ///< XORed into a flipped byte
};

/// What a fault did, for the log.
struct FaultEvent {
  Fault fault;
  std::uint8_t before = 0;
  std::uint8_t after = 0;  ///< meaningless for a drop
};

/// Time for \p bytes bytes to cross at \p speed bit/s, in nanoseconds,
/// rounded up. Exact for any count a run can reach (no 64-bit overflow for
/// speeds up to kMaxSpeed).
Nanos LineTime(std::uint64_t bytes, std::uint32_t speed);

inline constexpr std::uint32_t kMaxSpeed = 100'000'000;
inline constexpr std::size_t kDefaultCapacity = 64 * 1024;

/// One direction of the line.
class LineDirection {
 public:
  /// \p speed 0 means no rate limit: a byte is due when it arrives. Faults
  /// for the other direction are ignored.
  LineDirection(Direction direction, std::uint32_t speed, const std::vector<Fault>& faults,
                std::size_t capacity = kDefaultCapacity);

  /// Bytes that Accept will still take.
  std::size_t Room() const { return capacity_ - queue_.size(); }
  /// Takes up to Room() of \p count bytes that were read from the sending side
  /// at \p now (not earlier than any earlier call's \p now); returns how many
  /// it took. Only taken bytes are counted for the fault numbers.
  std::size_t Accept(const std::uint8_t* bytes, std::size_t count, Nanos now);

  /// When the first byte in flight is due, or nothing when none is in flight.
  std::optional<Nanos> NextDue() const;
  /// Copies up to \p max bytes that are due at \p now, in order, into \p out;
  /// returns the count. They stay in flight until Consume.
  std::size_t PeekDue(Nanos now, std::uint8_t* out, std::size_t max) const;
  /// Removes the first \p count bytes (at most those in flight): they were
  /// delivered.
  void Consume(std::size_t count);

  /// Faults applied since the last call, oldest first.
  std::vector<FaultEvent> TakeEvents();

  std::uint64_t BytesAccepted() const { return accepted_; }

 private:
  struct InFlight {
    Nanos due;
    std::uint8_t byte;
  };

  Direction direction_;
  std::uint32_t speed_;
  std::size_t capacity_;
  std::vector<Fault> faults_;  // this direction's, by byte number
  std::size_t nextFault_ = 0;
  std::deque<InFlight> queue_;
  std::vector<FaultEvent> events_;
  std::uint64_t accepted_ = 0;
  Nanos spellStart_ = 0;          // when the current busy spell began
  std::uint64_t spellBytes_ = 0;  // bytes sent in it so far, dropped ones included
  Nanos lineFree_ = 0;            // when the last byte of the spell has crossed
};

struct Options {
  std::uint32_t speed = 115200;
  std::string linkA;
  std::string linkB;
  std::vector<Fault> faults;
  std::string logPath;  ///< empty: no log
  bool help = false;
};

/// Parses "a2b:N" (a drop) or "a2b:N[:MASK]" (a flip; MASK in decimal or 0x
/// hex, not 0). Nothing when malformed.
std::optional<Fault> ParseFault(Fault::Kind kind, std::string_view text);

/// Parses the command line (without the program name). On failure returns
/// nothing and sets \p error to a one-line reason. --help needs nothing else.
std::optional<Options> ParseOptions(const std::vector<std::string_view>& args, std::string& error);

/// The --help text.
std::string_view Usage();

}  // namespace pw::linesim
