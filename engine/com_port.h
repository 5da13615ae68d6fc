// The serial-port layer: opening and configuring a COM port for the YMODEM
// engine, and the three primitives the engine uses on it (read what waits,
// write a block, write a control byte).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/serial_device.h"

namespace pw {

/// Fixed configuration of every port the engine uses.
inline constexpr std::uint32_t kInputQueueSize = 2080;
inline constexpr std::uint32_t kOutputQueueSize = 1040;
inline constexpr std::uint32_t kWriteTimeoutMs = 20000;
/// The most bytes one read takes from the driver (the receive buffer holds 2048).
inline constexpr std::int32_t kMaxRead = 2047;
inline constexpr std::size_t kRxBufSize = 2048;
/// The pause before every write, which gives the terminal time to turn the line around.
inline constexpr std::uint32_t kTurnaroundMs = 10;

/// Texts of the port layer (UTF-8).
namespace port_text {
inline constexpr std::string_view kInUse = " は既に使用されているか\r\n使用不可の状態です。";
inline constexpr std::string_view kQueueSizes = "メモリ獲得失敗";
inline constexpr std::string_view kEventMask = "通信マスク設定失敗";
inline constexpr std::string_view kTimeouts = "通信タイマー設定失敗";
inline constexpr std::string_view kLineSettings = "通信条件設定失敗";
inline constexpr std::string_view kBadPortName = "COMﾎﾟｰﾄ名が不良です。";
inline constexpr std::string_view kBadSpeed = "通信スピード設定に誤りがあります。";
inline constexpr std::string_view kReadError = "受信データ読取エラー";
inline constexpr std::string_view kWriteError = "送信データ書き込みエラー";
}  // namespace port_text

/// A failure of the serial link.
class ECommError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// A read (kind 1) or write (kind 2) that failed during a transfer. The
/// message is the system's text for the kind (UTF-8), empty for other kinds.
class ECommReadWriteError : public ECommError {
 public:
  explicit ECommReadWriteError(int kind);
  int Kind() const { return kind_; }

 private:
  int kind_;
};

/// Opens a device by name; the system's OpenSerialDevice, or a fake in tests.
using SerialOpener = std::function<std::unique_ptr<SerialDevice>(std::string_view name)>;

/// Checks the port name and speed as the library does before it opens a port.
/// The name is "COM1" to "COM9" in any letter case; the speed is one of 9600,
/// 19200, 38400, 57600, 115200 and 460800. On success returns true and sets
/// \p normalized to the upper-case name. On failure shows the error box for
/// the first bad value and returns false; nothing is touched.
bool CheckPortSettings(std::string_view name, std::uint32_t speed, const Alerts& alerts, std::string& normalized);

/// Opens \p name, sets the queue sizes, the event mask, the timeouts and the
/// line, and purges both directions. On any failure shows its message, leaves nothing open and returns nothing.
std::unique_ptr<SerialDevice> OpenPortDevice(std::string_view name, std::uint32_t speed, const Alerts& alerts,
                                             const SerialOpener& open = OpenSerialDevice);

/// Tries to open "COM<number>"; closes it again and returns true when that
/// works, otherwise shows the in-use message and returns false.
bool ChkComPort(int number, const Alerts& alerts, const SerialOpener& open = OpenSerialDevice);

/// What a transfer learns from its port: every write restarts its running
/// timeout, and a failed read or write ends it with a result code.
class ComPortListener {
 public:
  virtual ~ComPortListener() = default;
  /// A write has gone out at \p tick (the transfer's timeout reference).
  virtual void OnPortWrite(std::uint32_t tick) = 0;
  /// A read (code 17) or write (code 18) failed: record the code, write its
  /// log line and set the end flag. The port then raises ECommReadWriteError.
  virtual void OnPortFailure(std::int32_t code) = 0;
  /// Input that a write discarded unread (it answered something earlier).
  virtual void OnInputDiscarded(std::span<const std::uint8_t>) {}
};

/// The primitives the engine uses on an open port, borrowed for one transfer.
/// Only the transfer's worker reads and writes; other threads may only Wake it.
class ComPort {
 public:
  ComPort(SerialDevice& device, Clock& clock, ComPortListener& listener)
      : device_(device), clock_(clock), listener_(listener) {}

  /// Reads what waits in the input queue, at most 2047 bytes, into \p buffer
  /// (which holds at least 2048); returns the count, 0 at once when nothing
  /// waits. Raises ECommReadWriteError(1) after reporting code 17.
  std::int32_t ReadCom(std::uint8_t* buffer);

  /// Waits for room for \p count bytes in the output queue, discards waiting
  /// input, pauses 10 ms, writes, and reports the write's tick. Raises
  /// ECommReadWriteError(2) after reporting code 18.
  void WriteCom(const std::uint8_t* bytes, std::int32_t count);

  /// WriteCom for one control byte; it waits only for any room at all.
  void WriteComByte(std::uint8_t byte);

  /// Aborts pending I/O and clears both queues.
  void Purge();
  /// Clears what waits in the input queue and leaves the output alone: the
  /// last ACK of a batch, or a cancel, is still on its way out.
  void PurgeInput();

  /// The idle wait of a polling loop: returns when input waits, after \p ms,
  /// or when Wake is called.
  bool WaitForInput(std::uint32_t ms) { return device_.WaitForInput(ms); }
  /// Ends a running or the next idle wait at once; any thread may call it.
  void Wake() { device_.Wake(); }

  Clock& GetClock() { return clock_; }

 private:
  void Write(const std::uint8_t* bytes, std::int32_t count, std::int32_t roomNeeded);
  [[noreturn]] void Fail(std::int32_t code, int kind);

  SerialDevice& device_;
  Clock& clock_;
  ComPortListener& listener_;
  std::uint8_t discard_[kRxBufSize];
};

}  // namespace pw
