// POSIX only: a message box is one line "title: text" on standard error.
#include "platform/message_box.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace pw {

namespace {

class StderrMessageBoxes final : public MessageBoxes {
 public:
  int Show(std::string_view title, std::string_view text, unsigned flags) override {
    std::string line(title);
    line += ": ";
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
      line += (text[i] == '\r' || text[i] == '\n') ? ' ' : text[i];
    }
    line += '\n';
    {
      std::lock_guard lock(mutex_);
      std::fwrite(line.data(), 1, line.size(), stderr);
      std::fflush(stderr);
    }
    return (flags & 0xF) == kMbYesNo ? kIdYes : kIdOk;
  }

 private:
  std::mutex mutex_;
};

}  // namespace

MessageBoxes& SystemMessageBoxes() {
  static StderrMessageBoxes boxes;
  return boxes;
}

}  // namespace pw
