// The calls of the host program that are running now. On Windows a worker
// thread keeps the library loaded until no call of the host is left inside it,
// so a FreeLibrary during a transfer never unmaps code that a thread still runs.
#pragma once

#include <atomic>

namespace pw {

/// Calls of the host inside the library.
std::atomic<int>& CallsInLibrary();

/// Marks one call of the host for its duration.
class HostCall {
 public:
  HostCall() { ++CallsInLibrary(); }
  ~HostCall() { --CallsInLibrary(); }
  HostCall(const HostCall&) = delete;
  HostCall& operator=(const HostCall&) = delete;
};

}  // namespace pw
