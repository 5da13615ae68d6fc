// Windows only: the peer is COM2, linked to COM1 by the test runner.
#include <windows.h>

#include <stdexcept>

#include "platform/serial_device.h"
#include "tests/integration/pty_peer.h"

namespace pw::test {

namespace {

class Win32PtyPeer final : public PtyPeer {
 public:
  Win32PtyPeer() : dev_(OpenSerialDevice("COM2")) {
    if (!dev_ || !dev_->SetTimeouts(20000) || !dev_->SetLine(115200))
      throw std::runtime_error("COM2 is not mapped: run the test through tests/wine/run");
  }

  void Send(const std::vector<std::uint8_t>& bytes) override {
    if (dev_->Write(bytes.data(), static_cast<std::int32_t>(bytes.size())) != static_cast<std::int32_t>(bytes.size()))
      throw std::runtime_error("write to COM2 failed");
  }

  std::vector<std::uint8_t> Receive(std::size_t count, std::uint32_t timeoutMs) override {
    std::vector<std::uint8_t> out;
    const DWORD start = GetTickCount();
    while (out.size() < count && GetTickCount() - start < timeoutMs) {
      std::uint8_t buf[4096];
      const std::int32_t want = static_cast<std::int32_t>(std::min(sizeof buf, count - out.size()));
      const std::int32_t n = dev_->WaitForInput(10) ? dev_->Read(buf, want) : 0;
      if (n > 0) out.insert(out.end(), buf, buf + n);
    }
    return out;
  }

  bool EnforcesExclusiveOpen() const override { return false; }  // Wine lets a second open through

 private:
  std::unique_ptr<SerialDevice> dev_;
};

}  // namespace

std::unique_ptr<PtyPeer> PtyPeer::Create() { return std::make_unique<Win32PtyPeer>(); }

}  // namespace pw::test
