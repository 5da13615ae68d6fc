// POSIX only: the runner against a worker that ends by itself, outlives its
// time limit, or is stopped by another thread or by SIGINT / SIGTERM. The end
// comes back on the calling thread, every stop and forced end is made there,
// and the signals get their default disposition back.
#include "frontend/transfer_runner.h"

#include <pthread.h>
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frontend/transfer_progress.h"

namespace pw {
namespace {

using namespace std::chrono_literals;

// Waits on its thread for a stop or the forced end (or ends by itself after
// endsAfter), then reports its end through the progress model, as TYmThread.
struct FakeWorker : TransferWorker {
  explicit FakeWorker(TransferRunner& runner) {
    progress.OnEnd([&runner] { runner.Ended(); });
  }
  ~FakeWorker() override {
    Request(99);
    WaitFor();
  }
  void Start() override {
    thread = std::thread([this] {
      if (onStart) onStart();
      std::unique_lock lock(mutex);
      wake.wait_for(lock, endsAfter, [this] { return code >= 0; });
      code = std::max(code.load(), 0);
      lock.unlock();
      progress.TransferEnded();
    });
  }
  void WaitFor() override {
    if (thread.joinable()) thread.join();
  }
  void StopCom() override {
    Note("StopCom");
    if (!ignoreStop) Request(waiting ? 1 : 2);
  }
  void EndCom() override {
    Note("EndCom");
    Request(1);
  }
  bool ChkRcvWait() const override { return waiting; }
  bool Ended() const override { return false; }  // the runner does not ask
  std::int32_t ErrorNo() const override { return code; }

  void Note(const char* call) {
    std::lock_guard lock(mutex);
    calls.push_back(call);
    EXPECT_EQ(std::this_thread::get_id(), runnerThread) << call << " from another thread";
  }
  void Request(int c) {
    std::lock_guard lock(mutex);
    if (code < 0) code = c;
    wake.notify_all();
  }
  std::size_t CallCount() {
    std::lock_guard lock(mutex);
    return calls.size();
  }

  bool waiting = false, ignoreStop = false;
  std::chrono::milliseconds endsAfter = 1h;
  std::function<void()> onStart;  // on the worker's thread
  TransferProgress progress;
  std::thread thread;
  std::mutex mutex;
  std::condition_variable wake;
  std::atomic<int> code{-1};
  std::vector<std::string> calls;
  const std::thread::id runnerThread = std::this_thread::get_id();
};

TEST(TransferRunner, ReportsTheEndOnTheCallingThreadAndForcesItAfterTheLimit) {
  TransferRunner runner;
  FakeWorker byItself(runner);
  byItself.endsAfter = 30ms;
  RunOutcome out = runner.Run(byItself, 10s);
  EXPECT_FALSE(byItself.thread.joinable()) << "joined before Run returns";
  EXPECT_TRUE(byItself.progress.Snapshot().ended);
  EXPECT_EQ(out.errorNo, 0);
  EXPECT_FALSE(out.stopped || out.forced || out.timedOut);

  FakeWorker endless(runner);
  const auto start = std::chrono::steady_clock::now();
  out = runner.Run(endless, 50ms);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
  EXPECT_EQ(endless.calls, std::vector<std::string>{"EndCom"});
  EXPECT_EQ(out.errorNo, 1);
  EXPECT_TRUE(out.timedOut && out.forced && !out.stopped);
}

// A stop from another thread, SIGINT or SIGTERM acts as the stop button: a
// transfer under way is aborted, a receiver that waits is ended, a second
// stop forces the end.
TEST(TransferRunner, StopsAndSignalsActAsTheStopButton) {
  struct Case {
    int how;  // 0: Stop() from another thread, else the signal
    bool waiting, ignoreStop;
    std::vector<std::string> calls;
    std::int32_t code;
  };
  for (const Case& c :
       {Case{0, false, false, {"StopCom"}, 2}, Case{0, true, false, {"EndCom"}, 1},
        Case{0, false, true, {"StopCom", "EndCom"}, 1}, Case{SIGINT, false, false, {"StopCom"}, 2},
        Case{SIGINT, true, false, {"EndCom"}, 1}, Case{SIGTERM, false, true, {"StopCom", "EndCom"}, 1}}) {
    SCOPED_TRACE(testing::Message() << "how " << c.how << ", waiting " << c.waiting);
    {
      TransferRunner runner;
      FakeWorker worker(runner);
      worker.waiting = c.waiting;
      worker.ignoreStop = c.ignoreStop;
      const pthread_t runnerThread = pthread_self();
      worker.onStart = [&] {
        for (std::size_t i = 0; i < c.calls.size(); ++i) {
          // One signal while the same is pending would be lost: the next goes
          // once the last took effect.
          while (worker.CallCount() < i) std::this_thread::sleep_for(1ms);
          // Sent to the runner's thread: under ThreadSanitizer a signal to the
          // process may go to the sanitizer's own thread. (pw_demo's test
          // sends them to the process.)
          c.how ? void(pthread_kill(runnerThread, c.how)) : runner.Stop();
        }
      };
      const RunOutcome out = runner.Run(worker);
      EXPECT_EQ(worker.calls, c.calls);
      EXPECT_EQ(out.errorNo, c.code);
      EXPECT_TRUE(out.stopped);
    }
    struct sigaction now {};
    for (int sig : {SIGINT, SIGTERM}) EXPECT_EQ((sigaction(sig, nullptr, &now), now.sa_handler), SIG_DFL);
  }
}

TEST(TransferRunner, ASignalBeforeTheRunStopsTheWorkerAsSoonAsItRuns) {
  TransferRunner runner;
  raise(SIGINT);
  FakeWorker worker(runner);
  EXPECT_EQ(runner.Run(worker).errorNo, 2);
  EXPECT_EQ(worker.calls, std::vector<std::string>{"StopCom"});
}

}  // namespace
}  // namespace pw
