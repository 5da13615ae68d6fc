// POSIX only: two pseudo-terminals and a relay between their masters.
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "tests/integration/linked_ports.h"
#include "tests/support/temp_drive.h"

namespace pw::test {

namespace {

class PosixLinkedPorts final : public LinkedPorts {
 public:
  PosixLinkedPorts() {
    std::filesystem::create_directories(drive_.Path() / "dosdevices");
    for (int i = 0; i < 2; ++i) {
      char name[256] = {};
      if (openpty(&master_[i], &slave_[i], name, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
      std::filesystem::create_symlink(name, drive_.Path() / "dosdevices" / ("com" + std::to_string(i + 1)));
    }
    relay_ = std::thread([this] { Relay(); });
  }
  ~PosixLinkedPorts() override {
    stop_ = true;
    relay_.join();
    for (int i = 0; i < 2; ++i) {
      close(slave_[i]);
      close(master_[i]);
    }
  }

 private:
  void Relay() {
    while (!stop_) {
      pollfd p[2] = {{master_[0], POLLIN, 0}, {master_[1], POLLIN, 0}};
      if (poll(p, 2, 20) <= 0) continue;
      for (int i = 0; i < 2; ++i) {
        if (!(p[i].revents & POLLIN)) continue;
        unsigned char buf[4096];
        const ssize_t n = read(master_[i], buf, sizeof buf);
        for (ssize_t done = 0; n > 0 && done < n;) {
          const ssize_t w = write(master_[1 - i], buf + done, static_cast<std::size_t>(n - done));
          if (w <= 0) break;
          done += w;
        }
      }
    }
  }

  TempDrive drive_;
  int master_[2] = {-1, -1};
  int slave_[2] = {-1, -1};  // kept open so the ptys stay up between opens
  std::atomic<bool> stop_{false};
  std::thread relay_;
};

}  // namespace

std::unique_ptr<LinkedPorts> LinkedPorts::Create() { return std::make_unique<PosixLinkedPorts>(); }

}  // namespace pw::test
