// The simulator's channel on a serial device or pseudo-terminal: a
// non-blocking descriptor, waited on with poll.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tools/bhtsim/channel.h"

namespace pw::bhtsim {
namespace {

speed_t SpeedConstant(std::uint32_t speed) {
  switch (speed) {
    case 50:
      return B50;
    case 75:
      return B75;
    case 110:
      return B110;
    case 134:
      return B134;
    case 150:
      return B150;
    case 200:
      return B200;
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 1800:
      return B1800;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    case 460800:
      return B460800;
    default:
      return B0;
  }
}

class TtyChannel final : public Channel {
 public:
  TtyChannel(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~TtyChannel() override { close(fd_); }

  void Write(const std::uint8_t* bytes, std::size_t count) override {
    while (count > 0) {
      const ssize_t n = write(fd_, bytes, count);
      if (n > 0) {
        bytes += n;
        count -= static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        // The output queue is full: wait until the line takes more.
        pollfd p{fd_, POLLOUT, 0};
        if (poll(&p, 1, 20000) == 0) throw ChannelError(path_ + ": the line takes no more output");
        continue;
      }
      throw ChannelError(path_ + ": write: " + std::strerror(errno));
    }
  }

  std::size_t Read(std::uint8_t* out, std::size_t max, std::uint32_t timeoutMs) override {
    const std::uint64_t deadline = NowMs() + timeoutMs;
    for (;;) {
      const ssize_t n = read(fd_, out, max);
      if (n > 0) return static_cast<std::size_t>(n);
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        throw ChannelError(path_ + ": read: " + std::strerror(errno));
      const std::uint64_t now = NowMs();
      if (now >= deadline) return 0;
      pollfd p{fd_, POLLIN, 0};
      const int rc = poll(&p, 1, static_cast<int>(deadline - now));
      if (rc < 0 && errno != EINTR) throw ChannelError(path_ + ": poll: " + std::strerror(errno));
      // A pseudo-terminal whose other side is closed reports a hang-up at
      // once, over and over; wait out the time rather than spin on it.
      if (rc > 0 && (p.revents & (POLLHUP | POLLERR)) && !(p.revents & POLLIN)) {
        const std::uint64_t later = NowMs();
        if (later < deadline) Sleep(static_cast<std::uint32_t>(std::min<std::uint64_t>(deadline - later, 50)));
      }
    }
  }

  void Sleep(std::uint32_t ms) override {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
  }

  std::uint64_t NowMs() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
  }

 private:
  int fd_;
  std::string path_;
};

}  // namespace

std::unique_ptr<Channel> OpenTty(const std::string& path, std::uint32_t speed, std::string& error) {
  const speed_t code = SpeedConstant(speed);
  if (code == B0) {
    error = "unsupported speed " + std::to_string(speed);
    return nullptr;
  }
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return nullptr;
  }
  termios t{};
  if (tcgetattr(fd, &t) != 0) {
    error = path + ": not a terminal: " + std::strerror(errno);
    close(fd);
    return nullptr;
  }
  cfmakeraw(&t);
  t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS | CSIZE);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, code);
  cfsetospeed(&t, code);
  if (tcsetattr(fd, TCSANOW, &t) != 0) {
    error = path + ": " + std::strerror(errno);
    close(fd);
    return nullptr;
  }
  return std::make_unique<TtyChannel>(fd, path);
}

}  // namespace pw::bhtsim
