// POSIX only: the peer holds the master side of a pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>

#include "tests/integration/pty_peer.h"
#include "tests/support/temp_drive.h"

namespace pw::test {

namespace {

class PosixPtyPeer final : public PtyPeer {
 public:
  PosixPtyPeer() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
    std::filesystem::create_directories(drive_.Path() / "dosdevices");
    std::filesystem::create_symlink(name, drive_.Path() / "dosdevices" / "com1");
  }
  ~PosixPtyPeer() override {
    close(slave_);
    close(master_);
  }

  void Send(const std::vector<std::uint8_t>& bytes) override {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) throw std::runtime_error("write to the pty master failed");
      done += static_cast<std::size_t>(n);
    }
  }

  std::vector<std::uint8_t> Receive(std::size_t count, std::uint32_t timeoutMs) override {
    std::vector<std::uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < count) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      std::uint8_t buf[4096];
      const ssize_t n = read(master_, buf, std::min(sizeof buf, count - out.size()));
      if (n > 0) out.insert(out.end(), buf, buf + n);
    }
    return out;
  }

  bool EnforcesExclusiveOpen() const override { return true; }

 private:
  TempDrive drive_;
  int master_ = -1;
  int slave_ = -1;  // kept open so the pty stays up between opens of COM1
};

}  // namespace

std::unique_ptr<PtyPeer> PtyPeer::Create() { return std::make_unique<PosixPtyPeer>(); }

}  // namespace pw::test
