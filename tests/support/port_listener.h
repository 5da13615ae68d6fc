// A port listener that records what the port reports.
#pragma once

#include <atomic>
#include <vector>

#include "engine/com_port.h"

namespace pw::test {

struct RecordingListener : ComPortListener {
  void OnPortWrite(std::uint32_t tick) override {
    lastWriteTick = tick;
    ++writes;
  }
  void OnPortFailure(std::int32_t code) override { failures.push_back(code); }

  std::atomic<std::uint32_t> lastWriteTick{0};  // a port may be written from two threads
  std::atomic<int> writes{0};
  std::vector<std::int32_t> failures;
};

}  // namespace pw::test
