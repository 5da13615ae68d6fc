// POSIX only: a COM port is a tty device opened without blocking, in raw mode.
// Exclusive use is an advisory lock (flock, which also holds against root)
// plus TIOCEXCL against programs that do not lock.
#include "platform/serial_device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "platform/folders.h"

namespace pw {

namespace {

std::uint64_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

bool SpeedConstant(std::uint32_t speed, speed_t& out) {
  switch (speed) {
    case 4800: out = B4800; return true;
    case 9600: out = B9600; return true;
    case 19200: out = B19200; return true;
    case 38400: out = B38400; return true;
    case 57600: out = B57600; return true;
    case 115200: out = B115200; return true;
    case 230400: out = B230400; return true;
    case 460800: out = B460800; return true;
    default: return false;
  }
}

class PosixSerialDevice final : public SerialDevice {
 public:
  explicit PosixSerialDevice(int fd) : fd_(fd), wake_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  ~PosixSerialDevice() override {
    // Exclusive mode outlives this descriptor while anything else holds the
    // device open (a line simulator keeps its side open): end it, so the
    // next program can open the port.
    ioctl(fd_, TIOCNXCL);
    close(fd_);
    if (wake_ >= 0) close(wake_);
  }

  bool SetQueueSizes(std::uint32_t, std::uint32_t) override { return true; }  // the tty driver sizes its own queues
  bool SetEventMask(bool) override { return true; }                                // waiting is poll()
  bool SetTimeouts(std::uint32_t writeTimeoutMs) override {
    writeTimeoutMs_ = writeTimeoutMs;
    return true;
  }

  bool SetLine(std::uint32_t speed) override {
    speed_t code;
    if (!SpeedConstant(speed, code)) return false;
    termios t{};
    if (tcgetattr(fd_, &t) != 0) return false;
    cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | ISTRIP);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (cfsetispeed(&t, code) != 0 || cfsetospeed(&t, code) != 0) return false;
    if (tcsetattr(fd_, TCSANOW, &t) != 0) return false;
    // DTR and RTS held on. A pseudo-terminal has no modem lines, so a refusal is not an error.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd_, TIOCMBIS, &lines);
    return true;
  }

  bool Purge() override { return tcflush(fd_, TCIOFLUSH) == 0; }
  bool PurgeInput() override { return tcflush(fd_, TCIFLUSH) == 0; }

  std::int32_t BytesWaiting() override {
    int n = 0;
    if (ioctl(fd_, FIONREAD, &n) != 0) return -1;
    return n;
  }

  std::int32_t OutputQueued() override {
    int n = 0;
    if (ioctl(fd_, TIOCOUTQ, &n) != 0) return -1;
    return n;
  }

  std::int32_t Read(std::uint8_t* buffer, std::int32_t count) override {
    if (count <= 0) return 0;
    for (;;) {
      const ssize_t n = read(fd_, buffer, static_cast<std::size_t>(count));
      if (n >= 0) return static_cast<std::int32_t>(n);
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
      return -1;
    }
  }

  std::int32_t Write(const std::uint8_t* bytes, std::int32_t count) override {
    const bool limited = writeTimeoutMs_ != 0;  // 0: a write waits as long as it takes
    const std::uint64_t deadline = NowMs() + writeTimeoutMs_;
    std::int32_t done = 0;
    while (done < count) {
      const ssize_t n = write(fd_, bytes + done, static_cast<std::size_t>(count - done));
      if (n > 0) {
        done += static_cast<std::int32_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return -1;
      const std::uint64_t now = NowMs();
      if (limited && now >= deadline) break;  // the write timeout ran out: a short write
      pollfd p{fd_, POLLOUT, 0};
      if (poll(&p, 1, limited ? static_cast<int>(deadline - now) : -1) < 0 && errno != EINTR) return -1;
      if (p.revents & (POLLERR | POLLNVAL)) return -1;
    }
    return done;
  }

  void ClearError() override {}

  bool WaitForInput(std::uint32_t ms) override {
    pollfd p[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
    const std::uint64_t start = NowMs();
    int rc;
    do {
      rc = poll(p, 2, static_cast<int>(ms));
    } while (rc < 0 && errno == EINTR);
    if (rc > 0 && (p[0].revents & POLLIN)) return true;
    if (rc > 0 && (p[1].revents & POLLIN)) return Woken();
    if (rc > 0) {
      // Hung up (no peer on the other end of a pseudo-terminal): poll returns
      // at once, so wait out the time on the wake-up alone to keep the caller
      // from spinning.
      const std::uint64_t spent = NowMs() - start;
      if (spent < ms && poll(&p[1], 1, static_cast<int>(ms - spent)) > 0) return Woken();
    }
    return false;
  }

  std::intptr_t NativeHandle() const override { return fd_; }
  bool RenewHandle() override {
    // The lock and the exclusive mode belong to the open file, which the new
    // descriptor shares.
    const int fd = fcntl(fd_, F_DUPFD_CLOEXEC, fd_ + 1);
    if (fd < 0) return false;
    close(fd_);
    fd_ = fd;
    return true;
  }

  void Wake() override {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(wake_, &one, sizeof one);
  }

 private:
  // Takes the wake-up in; it has ended the wait, so no input waited.
  bool Woken() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = read(wake_, &count, sizeof count);
    return false;
  }

  int fd_;
  int wake_;  // an eventfd that Wake writes to
  std::uint32_t writeTimeoutMs_ = 20000;
};

// "COM<n>" (letters in any case) gives n, or 0.
unsigned PortNumber(std::string_view name) {
  if (name.size() < 4) return 0;
  for (int i = 0; i < 3; ++i)
    if ((name[i] & ~0x20) != "COM"[i]) return 0;
  unsigned n = 0;
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9' || n > 1000) return 0;
    n = n * 10 + static_cast<unsigned>(name[i] - '0');
  }
  return n;
}

}  // namespace

std::unique_ptr<SerialDevice> OpenSerialDevice(std::string_view name) {
  const unsigned n = PortNumber(name);
  if (n == 0) return nullptr;
  std::error_code ec;
  std::filesystem::path path = SystemDrive() / "dosdevices" / ("com" + std::to_string(n));
  if (!std::filesystem::exists(std::filesystem::symlink_status(path, ec))) path = "/dev/ttyS" + std::to_string(n - 1);
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
    close(fd);
    return nullptr;
  }
  return std::make_unique<PosixSerialDevice>(fd);
}

}  // namespace pw
