// Linux only: linesim, a serial line between two pseudo-terminals. Their slave
// sides are linked at the paths given, and the bytes between their master
// sides go through the line core, which says when each one is due.
//
// The simulator keeps each slave open itself, so a master never hangs up while
// no program has the link open (it would otherwise report POLLHUP and EIO at
// once, over and over), and a program can close and reopen its side. Waiting
// is one ppoll with the time to the next due byte, signals blocked outside it.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <signal.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "tools/linesim/line.h"

namespace {

using pw::linesim::Direction;
using pw::linesim::FaultEvent;
using pw::linesim::LineDirection;
using pw::linesim::Nanos;

volatile sig_atomic_t gStop = 0;
void OnSignal(int) { gStop = 1; }

Nanos MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<Nanos>(ts.tv_sec) * 1'000'000'000u + static_cast<Nanos>(ts.tv_nsec);
}

// One end of the line: a pseudo-terminal whose slave is linked at `link`.
struct Side {
  int master = -1;
  int slave = -1;  // held open for the simulator's whole life
  std::string slaveName;
  std::string link;
  bool linked = false;
};

bool OpenSide(Side& side, std::string& error) {
  char name[256] = {};
  if (openpty(&side.master, &side.slave, name, nullptr, nullptr) != 0) {
    error = std::string("openpty: ") + std::strerror(errno);
    return false;
  }
  side.slaveName = name;
  termios t{};
  if (tcgetattr(side.slave, &t) != 0) {
    error = side.slaveName + ": " + std::strerror(errno);
    return false;
  }
  cfmakeraw(&t);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (tcsetattr(side.slave, TCSANOW, &t) != 0) {
    error = side.slaveName + ": " + std::strerror(errno);
    return false;
  }
  fcntl(side.master, F_SETFL, fcntl(side.master, F_GETFL) | O_NONBLOCK);
  fcntl(side.master, F_SETFD, FD_CLOEXEC);
  fcntl(side.slave, F_SETFD, FD_CLOEXEC);
  // A link left by a simulator that was killed is replaced; anything else at
  // the path is not ours to remove.
  struct stat st {};
  if (lstat(side.link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      error = side.link + " exists and is not a symbolic link";
      return false;
    }
    unlink(side.link.c_str());
  }
  if (symlink(side.slaveName.c_str(), side.link.c_str()) != 0) {
    error = side.link + ": " + std::strerror(errno);
    return false;
  }
  side.linked = true;
  return true;
}

void CloseSide(Side& side) {
  if (side.linked) {
    // Only our own link: someone may have replaced it meanwhile.
    char target[256] = {};
    const ssize_t n = readlink(side.link.c_str(), target, sizeof target - 1);
    if (n > 0 && side.slaveName == std::string(target, static_cast<std::size_t>(n))) unlink(side.link.c_str());
  }
  if (side.slave >= 0) close(side.slave);
  if (side.master >= 0) close(side.master);
}

// One direction: from one master, through the line, into the other master.
struct Pump {
  int from;
  int to;
  LineDirection line;
  bool blocked = false;  // the receiving side's input is full; wait for POLLOUT
};

// Writes every byte that is due; false on a failure of the terminal.
bool Deliver(Pump& p, Nanos now) {
  p.blocked = false;
  std::uint8_t buf[4096];
  for (;;) {
    const std::size_t n = p.line.PeekDue(now, buf, sizeof buf);
    if (n == 0) return true;
    const ssize_t w = write(p.to, buf, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        p.blocked = true;
        return true;
      }
      return false;
    }
    p.line.Consume(static_cast<std::size_t>(w));
    if (static_cast<std::size_t>(w) < n) {
      p.blocked = true;
      return true;
    }
  }
}

// Reads what the line has room for; false on a failure of the terminal.
bool Take(Pump& p, Nanos now) {
  std::uint8_t buf[4096];
  const std::size_t room = std::min(p.line.Room(), sizeof buf);
  if (room == 0) return true;
  const ssize_t n = read(p.from, buf, room);
  if (n > 0) {
    p.line.Accept(buf, static_cast<std::size_t>(n), now);
    return true;
  }
  return n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK);
}

void LogEvents(std::FILE* log, Pump& p, Nanos now) {
  for (const FaultEvent& e : p.line.TakeEvents()) {
    if (!log) continue;
    const auto dir = pw::linesim::DirectionName(e.fault.direction);
    const auto number = static_cast<unsigned long long>(e.fault.byteNumber);
    const double ms = static_cast<double>(now) / 1e6;
    if (e.fault.kind == pw::linesim::Fault::Kind::kDrop)
      std::fprintf(log, "%.3f ms %.*s byte %llu dropped 0x%02x\n", ms, static_cast<int>(dir.size()), dir.data(),
                   number, e.before);
    else
      std::fprintf(log, "%.3f ms %.*s byte %llu flipped 0x%02x to 0x%02x\n", ms, static_cast<int>(dir.size()),
                   dir.data(), number, e.before, e.after);
    std::fflush(log);
  }
}

int Run(const pw::linesim::Options& o) {
  signal(SIGPIPE, SIG_IGN);
  sigset_t blocked, during;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  sigaddset(&blocked, SIGTERM);
  sigaddset(&blocked, SIGHUP);
  sigprocmask(SIG_BLOCK, &blocked, &during);
  sigdelset(&during, SIGINT);
  sigdelset(&during, SIGTERM);
  sigdelset(&during, SIGHUP);
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &sa, nullptr);

  std::FILE* log = nullptr;
  if (!o.logPath.empty() && !(log = std::fopen(o.logPath.c_str(), "w"))) {
    std::fprintf(stderr, "linesim: %s: %s\n", o.logPath.c_str(), std::strerror(errno));
    return 1;
  }

  Side a, b;
  a.link = o.linkA;
  b.link = o.linkB;
  std::string error;
  int status = 0;
  if (!OpenSide(a, error) || !OpenSide(b, error)) {
    std::fprintf(stderr, "linesim: %s\n", error.c_str());
    status = 1;
  } else {
    std::printf("ready\n");
    std::fflush(stdout);

    const Nanos start = MonotonicNs();
    Pump pumps[2] = {{a.master, b.master, LineDirection(Direction::kAToB, o.speed, o.faults)},
                     {b.master, a.master, LineDirection(Direction::kBToA, o.speed, o.faults)}};
    while (!gStop) {
      Nanos now = MonotonicNs() - start;
      bool ok = true;
      for (Pump& p : pumps) {
        ok = ok && Deliver(p, now);
        LogEvents(log, p, now);
      }
      if (!ok) {
        std::fprintf(stderr, "linesim: writing to a terminal: %s\n", std::strerror(errno));
        status = 1;
        break;
      }

      // pollfd i is the master that pump i reads from and pump 1-i writes to.
      pollfd fds[2];
      std::optional<Nanos> wake;
      for (int i = 0; i < 2; ++i) {
        fds[i] = {pumps[i].from, 0, 0};
        if (pumps[i].line.Room() > 0) fds[i].events |= POLLIN;
        const Pump& out = pumps[1 - i];
        if (out.blocked) {
          fds[i].events |= POLLOUT;
        } else if (const auto due = out.line.NextDue(); due && (!wake || *due < *wake)) {
          wake = due;
        }
      }
      timespec timeout{};
      if (wake) {
        const Nanos wait = *wake > now ? *wake - now : 0;
        timeout.tv_sec = static_cast<time_t>(wait / 1'000'000'000u);
        timeout.tv_nsec = static_cast<long>(wait % 1'000'000'000u);
      }
      const int rc = ppoll(fds, 2, wake ? &timeout : nullptr, &during);
      if (rc < 0) {
        if (errno == EINTR) continue;
        std::fprintf(stderr, "linesim: poll: %s\n", std::strerror(errno));
        status = 1;
        break;
      }
      now = MonotonicNs() - start;
      for (int i = 0; i < 2 && ok; ++i) {
        // We hold both slaves open, so a master never hangs up; if one does
        // anyway, stop rather than wake up for it again and again.
        if (fds[i].revents & (POLLHUP | POLLERR | POLLNVAL)) ok = false;
        if (ok && (fds[i].revents & POLLIN)) ok = Take(pumps[i], now);
      }
      if (!ok) {
        std::fprintf(stderr, "linesim: a terminal failed: %s\n", std::strerror(errno));
        status = 1;
        break;
      }
    }
  }
  CloseSide(a);
  CloseSide(b);
  if (log) std::fclose(log);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string_view> args(argv + 1, argv + argc);
  std::string error;
  const auto options = pw::linesim::ParseOptions(args, error);
  if (!options) {
    std::fprintf(stderr, "linesim: %s\n(see linesim --help)\n", error.c_str());
    return 2;
  }
  if (options->help) {
    const auto usage = pw::linesim::Usage();
    std::fwrite(usage.data(), 1, usage.size(), stdout);
    return 0;
  }
  return Run(*options);
}
