// Time as the engine sees it: a 32-bit millisecond tick counter that wraps,
// sleeping, and the local calendar time for names and log lines.
#pragma once

#include <cstdint>

namespace pw {

struct LocalTime {
  int year = 2000;   ///< four digits
  int month = 1;     ///< 1-12
  int day = 1;       ///< 1-31
  int hour = 0;      ///< 0-23
  int minute = 0;
  int second = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  /// Milliseconds since an arbitrary start, wrapping at 2^32.
  virtual std::uint32_t TickCount() = 0;
  /// Waits \p ms milliseconds.
  virtual void Sleep(std::uint32_t ms) = 0;
  /// The local date and time now.
  virtual LocalTime Now() = 0;
};

/// The system's clock (GetTickCount, Sleep and the local time on Windows;
/// the monotonic clock, nanosleep and localtime_r on POSIX).
Clock& SystemClock();

}  // namespace pw
