// How a program's main thread waits for the end of a transfer without using
// the processor. It wakes for the worker's end, for a stop from another
// thread, and for the system's requests to stop the program: SIGINT and
// SIGTERM on Linux, Ctrl+C and Ctrl+Break on a Windows console. On Windows it
// dispatches the thread's window messages while it waits, so the program's
// windows stay alive.
//
// It listens from its construction to its destruction, on the thread that
// made it (the main thread); one at a time per program. The destructor gives
// the signals back their earlier disposition.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace pw {

class EndWait {
 public:
  EndWait();
  ~EndWait();
  EndWait(const EndWait&) = delete;
  EndWait& operator=(const EndWait&) = delete;

  /// Runs \p start (which starts the worker's thread) so that the threads it
  /// starts never take SIGINT or SIGTERM: on Linux with both blocked on this
  /// thread meanwhile, as a new thread inherits that.
  void Shelter(const std::function<void()>& start);

  /// Any thread: the worker has ended.
  void Ended();
  /// Any thread: a stop, as the stop button asks for it.
  void Stop();

  struct Woken {
    bool ended = false;
    int stops = 0;  ///< stops and signals since the last wake
  };
  /// On the making thread: waits up to \p timeoutMs (negative: no limit) for
  /// an end or a stop. Nothing in it when the time has passed.
  Woken Wait(std::int64_t timeoutMs);

  struct System;  ///< the system's part, in posix/ or win32/

 private:
  std::unique_ptr<System> system_;
};

}  // namespace pw
