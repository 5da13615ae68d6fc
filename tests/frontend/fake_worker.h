// A transfer worker that only waits on its thread for a stop, the forced end
// or its own end, then reports the end to its view last, as TYmThread does.
// It notes each call of the program and the thread the call came from.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/transfer_view.h"
#include "engine/transfer_worker.h"

namespace pw::test {

class FakeWorker : public TransferWorker {
 public:
  explicit FakeWorker(TransferView& view) : view_(view) {}
  ~FakeWorker() override {
    Request(99);
    WaitFor();
  }

  // The script, set before Start.
  std::atomic<bool> waitingForTerminal{false};         ///< what ChkRcvWait says
  bool ignoreStop = false;                             ///< StopCom is noted, nothing else
  std::optional<std::chrono::milliseconds> endsAfter;  ///< ends by itself, with 0
  std::function<void()> onStart;                       ///< on the worker's thread, first

  struct Call {
    std::string name;
    std::thread::id thread;
  };
  std::vector<Call> Calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  bool joined = false;

  void Start() override {
    thread_ = std::thread([this] { Body(); });
  }
  void WaitFor() override {
    if (thread_.joinable()) thread_.join();
    joined = true;
  }
  void StopCom() override {
    Note("StopCom");
    if (!ignoreStop) Request(waitingForTerminal ? 1 : 2);
  }
  void EndCom() override {
    Note("EndCom");
    Request(1);
  }
  bool ChkRcvWait() const override { return waitingForTerminal; }
  bool Ended() const override { return ended_; }
  std::int32_t ErrorNo() const override { return code_; }

 private:
  void Note(std::string name) {
    std::lock_guard lock(mutex_);
    calls_.push_back({std::move(name), std::this_thread::get_id()});
  }
  void Request(std::int32_t code) {
    {
      std::lock_guard lock(mutex_);
      if (!requested_) requested_ = code;
    }
    wake_.notify_all();
  }
  void Body() {
    if (onStart) onStart();
    std::unique_lock lock(mutex_);
    const auto requested = [this] { return requested_.has_value(); };
    if (endsAfter)
      wake_.wait_for(lock, *endsAfter, requested);
    else
      wake_.wait(lock, requested);
    code_ = requested_.value_or(0);
    ended_ = true;
    lock.unlock();
    view_.TransferEnded();
  }

  TransferView& view_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::optional<std::int32_t> requested_;
  std::vector<Call> calls_;
  std::atomic<bool> ended_{false};
  std::atomic<std::int32_t> code_{0};
};

}  // namespace pw::test
