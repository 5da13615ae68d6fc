// POSIX only: SIGINT and SIGTERM while the runner waits act as the stop
// button; one that comes before the worker runs is kept, not fatal; once the
// runner is gone the signals have their default disposition again.
#include <pthread.h>
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "frontend/transfer_progress.h"
#include "frontend/transfer_runner.h"
#include "tests/frontend/fake_worker.h"

namespace pw {
namespace {

bool DefaultDisposition(int sig) {
  struct sigaction now {};
  sigaction(sig, nullptr, &now);
  return now.sa_handler == SIG_DFL;
}

struct SignalCase {
  std::vector<int> signals;  // sent to the process once the worker runs
  bool waiting, ignoreStop;
  std::vector<std::string> calls;
  std::int32_t code;
};

TEST(TransferRunnerSignals, ActAsTheStopButtonOnTheRunnersThread) {
  for (const SignalCase& c :
       {SignalCase{{SIGINT}, false, false, {"StopCom"}, 2}, SignalCase{{SIGINT}, true, false, {"EndCom"}, 1},
        SignalCase{{SIGTERM, SIGTERM}, false, true, {"StopCom", "EndCom"}, 1}}) {
    SCOPED_TRACE(testing::Message() << "waiting " << c.waiting << ", signals " << c.signals.size());
    {
      TransferRunner runner;
      TransferProgress progress;
      progress.OnEnd([&] { runner.Ended(); });
      test::FakeWorker worker(progress);
      worker.waitingForTerminal = c.waiting;
      worker.ignoreStop = c.ignoreStop;
      // Sent from the worker's thread to the runner's. (A signal sent to the
      // process goes there as well, as the other threads block it; pw_demo's
      // test sends those. Under ThreadSanitizer its own thread may take them.)
      const pthread_t runnerThread = pthread_self();
      worker.onStart = [&] {
        for (std::size_t i = 0; i < c.signals.size(); ++i) {
          // A signal sent while the same one is pending is lost: the next one
          // goes once the last took effect.
          while (worker.Calls().size() < i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
          pthread_kill(runnerThread, c.signals[i]);
        }
      };
      const RunOutcome out = runner.Run(worker);
      std::vector<std::string> calls;
      for (const auto& call : worker.Calls()) {
        EXPECT_EQ(call.thread, std::this_thread::get_id());
        calls.push_back(call.name);
      }
      EXPECT_EQ(calls, c.calls);
      EXPECT_EQ(out.errorNo, c.code);
      EXPECT_TRUE(out.stopped);
    }
    EXPECT_TRUE(DefaultDisposition(SIGINT) && DefaultDisposition(SIGTERM));
  }
}

TEST(TransferRunnerSignals, ASignalBeforeTheRunStopsTheWorkerAsSoonAsItRuns) {
  TransferRunner runner;
  raise(SIGINT);  // counted at once, acted upon once the worker runs
  TransferProgress progress;
  progress.OnEnd([&] { runner.Ended(); });
  test::FakeWorker worker(progress);
  const RunOutcome out = runner.Run(worker);
  EXPECT_EQ(out.errorNo, 2);
  ASSERT_EQ(worker.Calls().size(), 1u);
  EXPECT_EQ(worker.Calls()[0].name, "StopCom");
}

}  // namespace
}  // namespace pw
