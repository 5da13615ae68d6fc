// A clock whose time moves only when told to: Sleep advances it at once, so a
// test can jump over a 60-second wait without waiting.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/clock.h"

namespace pw::test {

class VirtualClock : public Clock {
 public:
  explicit VirtualClock(std::uint32_t startTick = 1000) : tick_(startTick) {}

  std::uint32_t TickCount() override { return tick_; }
  void Sleep(std::uint32_t ms) override {
    if (sleeper)
      sleeper(ms);
    else
      Advance(ms);
  }
  LocalTime Now() override { return now_; }

  /// Moves time forward by \p ms; the tick counter wraps at 2^32 as the
  /// system's does.
  void Advance(std::uint32_t ms) {
    tick_ += ms;
    elapsed_ += ms;
  }
  void SetTick(std::uint32_t tick) { tick_ = tick; }
  void SetNow(const LocalTime& t) { now_ = t; }
  /// Milliseconds advanced since construction, without wrapping.
  std::uint64_t Elapsed() const { return elapsed_; }

  /// When set, Sleep calls it instead of advancing: a bench that runs several
  /// parties on one thread lets the others take their turns while one sleeps.
  std::function<void(std::uint32_t)> sleeper;

 private:
  std::uint32_t tick_;
  std::uint64_t elapsed_ = 0;
  LocalTime now_{2026, 1, 8, 14, 5, 9};
};

}  // namespace pw::test
