// A serial device that opens, takes every setting and write, and never has
// anything to read: a port for tests that only open and close ports.
#pragma once

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/serial_device.h"

namespace pw::test {

struct IdleDevice : SerialDevice {
  bool SetQueueSizes(std::uint32_t, std::uint32_t) override { return true; }
  bool SetEventMask(bool) override { return true; }
  bool SetTimeouts(std::uint32_t) override { return true; }
  bool SetLine(std::uint32_t) override { return true; }
  bool Purge() override { return true; }
  bool PurgeInput() override { return true; }
  std::int32_t BytesWaiting() override { return 0; }
  std::int32_t OutputQueued() override { return 0; }
  std::int32_t Read(std::uint8_t*, std::int32_t) override { return 0; }
  std::int32_t Write(const std::uint8_t*, std::int32_t count) override { return count; }
  void ClearError() override {}
  /// Waits as a real port with nothing to read would, at most 10 ms at a time.
  bool WaitForInput(std::uint32_t ms) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min<std::uint32_t>(ms, 10)));
    return false;
  }
};

}  // namespace pw::test
