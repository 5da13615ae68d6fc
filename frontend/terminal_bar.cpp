#include "frontend/terminal_bar.h"

#include <algorithm>

namespace pw {

namespace {

constexpr int kWidth = 30;
constexpr const char* kClear = "\r\033[K";

}  // namespace

TerminalBar::TerminalBar(TransferProgress& progress) : TerminalBar(progress, stderr, StandardErrorIsTerminal()) {}

TerminalBar::TerminalBar(TransferProgress& progress, std::FILE* out, bool show) : progress_(progress), out_(out) {
  if (!show) return;
  progress_.OnChange([this] {
    {
      std::lock_guard lock(mutex_);
      changed_ = true;
    }
    wake_.notify_one();
  });
  drawer_ = std::thread([this] { Draw(); });
}

TerminalBar::~TerminalBar() {
  if (!drawer_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  drawer_.join();
}

std::string TerminalBar::Line(const ProgressSnapshot& s) {
  const int filled =
      s.gaugeMax > 0
          ? static_cast<int>(std::clamp<std::int64_t>(std::int64_t{s.gaugeProgress} * kWidth / s.gaugeMax, 0, kWidth))
          : 0;
  return s.label + " [" + std::string(filled, '#') + std::string(kWidth - filled, ' ') + "] " +
         std::to_string(s.gaugeProgress) + "/" + std::to_string(s.gaugeMax);
}

void TerminalBar::Draw() {
  bool drawn = false;
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return changed_ || stop_; });
    if (stop_) break;
    changed_ = false;
    lock.unlock();
    const ProgressSnapshot s = progress_.Snapshot();
    if (!s.ended) {
      const std::string line = kClear + Line(s);
      std::fputs(line.c_str(), out_);
      std::fflush(out_);
      drawn = true;
    }
    lock.lock();
    if (s.ended) break;
    // Changes meanwhile are drawn together, once the interval is over.
    if (wake_.wait_for(lock, kRedrawInterval, [this] { return stop_; })) break;
  }
  lock.unlock();
  if (drawn) {
    std::fputs(kClear, out_);
    std::fflush(out_);
  }
}

}  // namespace pw
