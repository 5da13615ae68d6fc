// A port listener that records what the port reports.
#pragma once

#include <vector>

#include "engine/com_port.h"

namespace pw::test {

struct RecordingListener : ComPortListener {
  void OnPortWrite(std::uint32_t tick) override {
    lastWriteTick = tick;
    ++writes;
  }
  void OnPortFailure(std::int32_t code) override { failures.push_back(code); }

  std::uint32_t lastWriteTick = 0;
  int writes = 0;
  std::vector<std::int32_t> failures;
};

}  // namespace pw::test
