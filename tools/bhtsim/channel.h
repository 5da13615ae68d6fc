// The byte channel the simulated terminal talks over: a serial device or a
// pseudo-terminal in the program, an in-memory peer with a virtual clock in
// tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace pw::bhtsim {

/// A failure of the channel itself (the device went away); ends the run.
class ChannelError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Channel {
 public:
  virtual ~Channel() = default;
  /// Writes all \p count bytes; throws ChannelError on failure.
  virtual void Write(const std::uint8_t* bytes, std::size_t count) = 0;
  /// Waits up to \p timeoutMs for input and reads what is there, at most
  /// \p max bytes. Returns 0 when nothing arrived in time; throws ChannelError
  /// on failure.
  virtual std::size_t Read(std::uint8_t* out, std::size_t max, std::uint32_t timeoutMs) = 0;
  virtual void Sleep(std::uint32_t ms) = 0;
  /// Milliseconds on a monotonic clock.
  virtual std::uint64_t NowMs() = 0;
};

/// Opens \p path as a serial line: raw, 8 data bits, no parity, one stop bit,
/// no flow control, \p speed bit/s. Nothing (and \p error set) on failure.
std::unique_ptr<Channel> OpenTty(const std::string& path, std::uint32_t speed, std::string& error);

}  // namespace pw::bhtsim
