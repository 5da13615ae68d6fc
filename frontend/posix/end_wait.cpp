// POSIX only: the main thread's wait is a poll on a self-pipe. Ended, Stop and
// the signal handler count what happened in atomics and write one byte to
// wake it; the handler uses nothing but lock-free atomics and write(). The
// byte stays in the pipe, so a signal just before the poll is not missed.
#include "frontend/end_wait.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <system_error>

namespace pw {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM};

}  // namespace

struct EndWait::System {
  int readFd = -1, writeFd = -1;
  std::atomic<bool> ended{false};
  std::atomic<int> stops{0};
  struct sigaction oldActions[std::size(kSignals)]{};

  void Wake() {
    const int saved = errno;
    const char byte = 1;
    while (write(writeFd, &byte, 1) < 0 && errno == EINTR) {
    }
    errno = saved;  // a full pipe already wakes the wait
  }
};

namespace {

std::atomic<EndWait::System*> gListening{nullptr};
static_assert(std::atomic<EndWait::System*>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

void OnSignal(int) {
  if (EndWait::System* s = gListening.load()) {
    s->stops.fetch_add(1);
    s->Wake();
  }
}

}  // namespace

EndWait::EndWait() : system_(std::make_unique<System>()) {
  System& s = *system_;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
  s.readFd = fds[0];
  s.writeFd = fds[1];
  System* none = nullptr;
  if (!gListening.compare_exchange_strong(none, &s)) {
    close(s.readFd);
    close(s.writeFd);
    throw std::logic_error("a program has one EndWait at a time");
  }
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &sa, &s.oldActions[i]);
}

EndWait::~EndWait() {
  System& s = *system_;
  for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &s.oldActions[i], nullptr);
  gListening.store(nullptr);
  close(s.readFd);
  close(s.writeFd);
}

void EndWait::Shelter(const std::function<void()>& start) {
  sigset_t blocked, old;
  sigemptyset(&blocked);
  for (int sig : kSignals) sigaddset(&blocked, sig);
  pthread_sigmask(SIG_BLOCK, &blocked, &old);
  try {
    start();
  } catch (...) {
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    throw;
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

void EndWait::Ended() {
  system_->ended.store(true);
  system_->Wake();
}

void EndWait::Stop() {
  system_->stops.fetch_add(1);
  system_->Wake();
}

EndWait::Woken EndWait::Wait(std::int64_t timeoutMs) {
  System& s = *system_;
  pollfd p{s.readFd, POLLIN, 0};
  const int ms = static_cast<int>(std::min<std::int64_t>(timeoutMs, std::numeric_limits<int>::max()));
  if (poll(&p, 1, timeoutMs < 0 ? -1 : ms) < 0 && errno != EINTR)
    throw std::system_error(errno, std::generic_category(), "poll");
  char bytes[64];
  for (;;) {
    const ssize_t n = read(s.readFd, bytes, sizeof bytes);
    if (n <= 0 && !(n < 0 && errno == EINTR)) break;
  }
  return {s.ended.exchange(false), s.stops.exchange(0)};
}

}  // namespace pw
