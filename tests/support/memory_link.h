// Two serial devices joined by an in-memory line, on a virtual clock.
//
// What one end writes arrives at the other, after an optional delay and at an
// optional line rate (ten bit-times per byte). Each direction can drop,
// corrupt, double or inject bytes, and each end can fail its Nth read or write, so a
// sender and a receiver can run against each other in one thread, through any
// fault, with no real waiting.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/serial_device.h"
#include "tests/support/virtual_clock.h"

namespace pw::test {

class MemoryLink {
 public:
  /// The two ends: A is the PC's side, B the terminal's.
  enum End { A = 0, B = 1 };

  explicit MemoryLink(VirtualClock& clock);
  ~MemoryLink();

  /// The device of one end. It stays owned by the link.
  SerialDevice& Device(End end);

  /// Bytes written by \p from, counted from 0, are passed through \p filter
  /// before they travel: it may change the byte, and returns how many copies
  /// of it travel (false or 0 drops it, true or 1 passes it, 2 doubles it).
  using Filter = std::function<int(std::uint64_t index, std::uint8_t& byte)>;
  void SetFilter(End from, Filter filter);
  /// Drops the byte number \p index written by \p from.
  void DropByte(End from, std::uint64_t index);
  /// XORs the byte number \p index written by \p from with \p mask.
  void CorruptByte(End from, std::uint64_t index, std::uint8_t mask = 0xFF);
  /// Every byte written by \p from arrives \p ms later.
  void SetDelay(End from, std::uint32_t ms);
  /// Both directions carry \p bitsPerSecond (ten bits a byte); 0 is instant.
  void SetBitRate(std::uint32_t bitsPerSecond);
  /// Puts \p bytes into the input queue of \p to at once.
  void Inject(End to, const std::vector<std::uint8_t>& bytes);
  /// The \p n th read (1-based) or write of \p end fails.
  void FailRead(End end, int n);
  void FailWrite(End end, int n);

  /// Everything \p from has written so far, before any fault.
  std::vector<std::uint8_t> Written(End from) const;
  /// Bytes waiting at \p end that it has not read.
  std::size_t Pending(End end) const;

 private:
  struct Side;
  class EndDevice;
  friend class EndDevice;

  std::uint64_t Now() const { return clock_.Elapsed(); }
  void Deliver(End from, const std::uint8_t* bytes, std::size_t count);
  std::size_t Arrived(End end) const;

  VirtualClock& clock_;
  mutable std::recursive_mutex mutex_;
  std::unique_ptr<Side> sides_[2];
  std::uint32_t bitRate_ = 0;
};

}  // namespace pw::test
