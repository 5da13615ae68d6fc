// Windows only: a COM port through the Windows communications functions,
// opened exclusively and without overlapped I/O. Reads return at once (the
// read timeouts say so); a write gives up after the write timeout.
#include "platform/serial_device.h"

#include <windows.h>
#include <mmsystem.h>

#include <optional>
#include <string>

namespace pw {

namespace {

class Win32SerialDevice final : public SerialDevice {
 public:
  explicit Win32SerialDevice(HANDLE h) : h_(h), wake_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    // A 1 ms wait is a real millisecond only at the finest timer period; the
    // idle wait below relies on it.
    timeBeginPeriod(1);
  }
  ~Win32SerialDevice() override {
    CloseHandle(h_);
    CloseHandle(wake_);
    timeEndPeriod(1);
  }

  std::intptr_t NativeHandle() const override { return reinterpret_cast<std::intptr_t>(h_); }
  bool RenewHandle() override {
    HANDLE process = GetCurrentProcess(), copy = nullptr;
    if (!DuplicateHandle(process, h_, process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) return false;
    CloseHandle(h_);
    h_ = copy;
    return true;
  }

  bool SetQueueSizes(std::uint32_t input, std::uint32_t output) override {
    return SetupComm(h_, input, output) != 0;
  }

  bool SetEventMask(bool rxChar) override { return SetCommMask(h_, rxChar ? EV_RXCHAR : 0) != 0; }

  bool SetTimeouts(std::uint32_t writeTimeoutMs) override {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = 0;
    t.ReadTotalTimeoutConstant = 0;
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = writeTimeoutMs;
    return SetCommTimeouts(h_, &t) != 0;
  }

  bool SetLine(std::uint32_t speed) override {
    // Read what the driver has and change only the fields the engine fixes;
    // the rest (abort-on-error among them) stays as the driver reported it.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h_, &dcb)) return false;
    dcb.BaudRate = speed;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = 1;
    dcb.fParity = 1;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDsrSensitivity = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fTXContinueOnXoff = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.XonLim = 100;
    dcb.XoffLim = 1000;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.ErrorChar = '?';
    dcb.EofChar = 0x1A;
    dcb.EvtChar = 0x00;
    return SetCommState(h_, &dcb) != 0;
  }

  bool PurgeInput() override { return PurgeComm(h_, PURGE_RXABORT | PURGE_RXCLEAR) != 0; }
  bool Purge() override {
    return PurgeComm(h_, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR) != 0;
  }

  std::int32_t BytesWaiting() override {
    const auto stat = Status();
    return stat ? static_cast<std::int32_t>(stat->cbInQue) : -1;
  }

  std::int32_t OutputQueued() override {
    const auto stat = Status();
    return stat ? static_cast<std::int32_t>(stat->cbOutQue) : -1;
  }

  std::int32_t Read(std::uint8_t* buffer, std::int32_t count) override {
    DWORD n = 0;
    if (!ReadFile(h_, buffer, static_cast<DWORD>(count), &n, nullptr)) return -1;
    return static_cast<std::int32_t>(n);
  }

  std::int32_t Write(const std::uint8_t* bytes, std::int32_t count) override {
    DWORD n = 0;
    if (!WriteFile(h_, bytes, static_cast<DWORD>(count), &n, nullptr)) return -1;
    return static_cast<std::int32_t>(n);
  }

  void ClearError() override { Status(); }

  bool WaitForInput(std::uint32_t ms) override {
    // WaitCommEvent cannot serve here: some drivers (and Wine) return from it
    // at once with no event. A short wait on the wake-up between looks costs
    // no processor.
    const DWORD start = GetTickCount();
    for (;;) {
      const std::int32_t waiting = BytesWaiting();
      if (waiting != 0) return true;  // a failure is for the next read to report
      if (GetTickCount() - start >= ms) return false;
      if (WaitForSingleObject(wake_, 1) == WAIT_OBJECT_0) return false;
    }
  }

  void Wake() override { SetEvent(wake_); }

 private:
  // The queue fill levels; asking also clears the driver's error state.
  std::optional<COMSTAT> Status() {
    COMSTAT stat{};
    DWORD errors = 0;
    if (!ClearCommError(h_, &errors, &stat)) return std::nullopt;
    return stat;
  }

  HANDLE h_;
  HANDLE wake_;  // an auto-reset event that Wake sets
};

}  // namespace

std::unique_ptr<SerialDevice> OpenSerialDevice(std::string_view name) {
  const std::wstring path(name.begin(), name.end());
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32SerialDevice>(h);
}

}  // namespace pw
