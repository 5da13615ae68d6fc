// A serial (COM) device, opened exclusively, read without blocking.
//
// The operations mirror the steps the port layer takes: the configuration
// steps are separate calls so that each one's failure can be reported with its
// own message, and the I/O calls never block except for a write, which gives
// up after its write timeout.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace pw {

class SerialDevice {
 public:
  virtual ~SerialDevice() = default;

  // Configuration, in the order the port layer applies it.
  /// Driver queue sizes (input, output).
  virtual bool SetQueueSizes(std::uint32_t input, std::uint32_t output) = 0;
  /// Report receive-character events only, or (\p rxChar false) no events.
  virtual bool SetEventMask(bool rxChar = true) = 0;
  /// Reads return at once with what is waiting; a write gives up after
  /// \p writeTimeoutMs milliseconds, or never with 0.
  virtual bool SetTimeouts(std::uint32_t writeTimeoutMs) = 0;
  /// Line speed in bit/s, 8 data bits, no parity, one stop bit, binary, no
  /// flow control of any kind, DTR and RTS held on.
  virtual bool SetLine(std::uint32_t speed) = 0;
  /// Aborts pending reads and writes and clears both queues.
  virtual bool Purge() = 0;
  /// Aborts a pending read and clears the input queue only.
  virtual bool PurgeInput() = 0;

  // I/O.
  /// Bytes waiting in the input queue, or -1 when the driver cannot tell.
  virtual std::int32_t BytesWaiting() = 0;
  /// Bytes not yet sent from the output queue, or -1.
  virtual std::int32_t OutputQueued() = 0;
  /// Reads up to \p count waiting bytes without blocking; -1 on failure.
  virtual std::int32_t Read(std::uint8_t* buffer, std::int32_t count) = 0;
  /// Writes \p count bytes; returns the count written, which is less than
  /// \p count when the write timeout ran out, or -1 on failure.
  virtual std::int32_t Write(const std::uint8_t* bytes, std::int32_t count) = 0;
  /// Clears the driver's error state after a failed read or write.
  virtual void ClearError() = 0;
  /// Waits until input is waiting or \p ms milliseconds have passed; true
  /// when input is waiting. The idle wait of the engine's polling loop.
  virtual bool WaitForInput(std::uint32_t ms) = 0;
  /// Makes a WaitForInput that runs now, or else the next one, return at
  /// once. Any thread may call it; the default, for devices nobody waits on,
  /// does nothing.
  virtual void Wake() {}
  /// The system's handle of the open device (its descriptor on Linux), or -1.
  virtual std::intptr_t NativeHandle() const { return -1; }
  /// Moves the open device to another handle value and closes the old one;
  /// the device stays open and configured. For a program that must hand out
  /// a handle that differs from one it gave before. False when it cannot.
  virtual bool RenewHandle() { return false; }
};

/// Opens the COM port \p name ("COM1" ... "COM9") for reading and writing,
/// exclusively. Nothing when the device does not exist or is held by another
/// program. On Linux COMn is the device that PORTWICK_DRIVE/dosdevices/comN
/// links to, or /dev/ttyS<n-1> without a link.
std::unique_ptr<SerialDevice> OpenSerialDevice(std::string_view name);

}  // namespace pw
