// The serial-port layer.
#include "engine/com_port.h"

#include <algorithm>

#include "common/ansi_string.h"
#include "content/result_codes.h"

namespace pw {

namespace {

std::string_view ReadWriteText(int kind) {
  if (kind == 1) return port_text::kReadError;
  if (kind == 2) return port_text::kWriteError;
  return {};
}

constexpr std::uint32_t kSpeeds[] = {9600, 19200, 38400, 57600, 115200, 460800};

}  // namespace

ECommReadWriteError::ECommReadWriteError(int kind) : ECommError(std::string(ReadWriteText(kind))), kind_(kind) {}

bool CheckPortSettings(std::string_view name, std::uint32_t speed, const Alerts& alerts, std::string& normalized) {
  const std::string upper = UpperAscii(name);
  if (upper.size() != 4 || !upper.starts_with("COM") || upper[3] < '1' || upper[3] > '9') {
    alerts.Error(port_text::kBadPortName);
    return false;
  }
  if (std::find(std::begin(kSpeeds), std::end(kSpeeds), speed) == std::end(kSpeeds)) {
    alerts.Error(port_text::kBadSpeed);
    return false;
  }
  normalized = upper;
  return true;
}

std::unique_ptr<SerialDevice> OpenPortDevice(std::string_view name, std::uint32_t speed, const Alerts& alerts,
                                             const SerialOpener& open) {
  std::unique_ptr<SerialDevice> device = open(name);
  if (!device) {
    alerts.Error(std::string(name) + std::string(port_text::kInUse));
    return nullptr;
  }
  std::string_view failure;
  if (!device->SetQueueSizes(kInputQueueSize, kOutputQueueSize)) failure = port_text::kQueueSizes;
  else if (!device->SetEventMask()) failure = port_text::kEventMask;
  else if (!device->SetTimeouts(kWriteTimeoutMs)) failure = port_text::kTimeouts;
  else if (!device->SetLine(speed)) failure = port_text::kLineSettings;
  if (!failure.empty()) {
    device.reset();  // closed before the box is shown, so nothing stays open behind it
    alerts.Error(failure);
    return nullptr;
  }
  device->Purge();
  return device;
}

bool ChkComPort(int number, const Alerts& alerts, const SerialOpener& open) {
  const std::string name = "COM" + std::to_string(number);
  if (open(name)) return true;
  alerts.Error(name + std::string(port_text::kInUse));
  return false;
}

std::int32_t ComPort::ReadCom(std::uint8_t* buffer) {
  const std::int32_t waiting = device_.BytesWaiting();
  if (waiting == 0) return 0;
  const std::int32_t n = waiting < 0 ? -1 : device_.Read(buffer, std::min(waiting, kMaxRead));
  if (n < 0) Fail(result::RcvBufReadError, 1);
  return n;
}

void ComPort::WriteCom(const std::uint8_t* bytes, std::int32_t count) { Write(bytes, count, count); }

void ComPort::WriteComByte(std::uint8_t byte) { Write(&byte, 1, 1); }

void ComPort::Purge() { device_.Purge(); }

void ComPort::PurgeInput() { device_.PurgeInput(); }

void ComPort::Write(const std::uint8_t* bytes, std::int32_t count, std::int32_t roomNeeded) {
  // Room in the output queue. The driver empties it at the line's pace; a
  // queue that stays full as long as the write timeout is a failed write.
  const std::uint32_t start = clock_.TickCount();
  for (;;) {
    const std::int32_t queued = device_.OutputQueued();
    if (queued < 0) break;
    if (static_cast<std::int32_t>(kOutputQueueSize) - queued >= roomNeeded) break;
    if (clock_.TickCount() - start >= kWriteTimeoutMs) Fail(result::SendBufWriteError, 2);
    clock_.Sleep(1);
  }
  // What the terminal sent before this write is stale now.
  const std::int32_t stale = ReadCom(discard_);
  if (stale > 0) listener_.OnInputDiscarded(std::span<const std::uint8_t>(discard_, static_cast<std::size_t>(stale)));
  clock_.Sleep(kTurnaroundMs);
  const std::int32_t written = device_.Write(bytes, count);
  if (written != count) Fail(result::SendBufWriteError, 2);
  listener_.OnPortWrite(clock_.TickCount());
}

void ComPort::Fail(std::int32_t code, int kind) {
  device_.ClearError();
  listener_.OnPortFailure(code);
  throw ECommReadWriteError(kind);
}

}  // namespace pw
