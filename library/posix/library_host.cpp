// Linux: the library shows no window, because a host program's terminal is
// not ours. The progress window's life cycle runs all the same: its events
// (the worker's end, the timer) are queued and run on the thread that waits
// for the transfer, the timer at once. No dialog opens: the settings are read
// from the settings file again, and what is missing is told through the alerts.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

#include "library/portwick_library.h"

namespace pw {

namespace {

class HeadlessHost;

class HeadlessWindow final : public ComFormWindow {
 public:
  HeadlessWindow(HeadlessHost& host, std::weak_ptr<TComForm> form) : host_(host), form_(std::move(form)) {}
  void SetCaption(const std::string&) override {}
  void MoveTo(WindowPos pos) override { pos_ = pos; }
  WindowPos Position() const override { return pos_; }
  void Show(bool) override {}
  void EnableTimer1(bool enabled) override;
  void Close() override {
    if (auto form = form_.lock()) form->FormClose();
  }
  void PostProgress() override {}
  void PostEnded() override;

 private:
  HeadlessHost& host_;
  std::weak_ptr<TComForm> form_;
  WindowPos pos_;
};

class HeadlessHost final : public LibraryHost {
 public:
  enum class Event { Ended, Timer };

  void Post(std::weak_ptr<TComForm> form, Event event) {
    std::lock_guard lock(mutex_);
    events_.emplace_back(std::move(form), event);
    changed_.notify_all();
  }

  std::unique_ptr<ComFormWindow> MakeWindow(const std::shared_ptr<TComForm>& form, std::intptr_t) override {
    return std::make_unique<HeadlessWindow>(*this, form);
  }

  void WaitWhile(const std::function<bool()>& busy) override {
    while (busy()) RunEvents(kPollMs);
  }

  void Pump(std::uint32_t ms) override {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) RunEvents(kPollMs);
  }

  void SettingsDialog(SettingsStore& store, const Alerts& alerts, std::intptr_t, bool incomplete) override {
    if (!incomplete && store.LoadAndCheck()) return;
    alerts.Show("設定ファイル " + store.FilePath().string() + " を編集するか、portwicka -SET で設定してください。",
                kMbOk | kMbIconWarning);
  }

  std::optional<std::string> AskFileToSend(const std::string&, std::intptr_t) override { return std::nullopt; }

 private:
  static constexpr std::uint32_t kPollMs = 50;

  // Runs the events that are queued, or waits up to \p ms for one.
  void RunEvents(std::uint32_t ms) {
    std::unique_lock lock(mutex_);
    if (events_.empty()) changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return !events_.empty(); });
    while (!events_.empty()) {
      auto [weak, event] = std::move(events_.front());
      events_.pop_front();
      const std::shared_ptr<TComForm> form = weak.lock();
      if (!form) continue;
      lock.unlock();
      {
        // One thread at a time runs a form's events, in their order.
        std::lock_guard running(running_);
        if (event == Event::Ended) form->WorkerEnded();
        else form->Timer1Timer();
      }
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::pair<std::weak_ptr<TComForm>, Event>> events_;
  std::mutex running_;
};

void HeadlessWindow::EnableTimer1(bool enabled) {
  if (enabled) host_.Post(form_, HeadlessHost::Event::Timer);
}

void HeadlessWindow::PostEnded() { host_.Post(form_, HeadlessHost::Event::Ended); }

}  // namespace

LibraryHost& SystemLibraryHost() {
  static HeadlessHost* host = new HeadlessHost;  // outlives the library's unloading
  return *host;
}

}  // namespace pw
