// Message boxes that record what they were asked to show.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/message_box.h"

namespace pw::test {

struct RecordingBoxes : MessageBoxes {
  struct Box {
    std::string title, text;
    unsigned flags;
  };
  int Show(std::string_view title, std::string_view text, unsigned flags) override {
    if (onShow) onShow();
    shown.push_back({std::string(title), std::string(text), flags});
    return answer;
  }
  std::vector<Box> shown;
  int answer = kIdOk;
  std::function<void()> onShow;
};

}  // namespace pw::test
