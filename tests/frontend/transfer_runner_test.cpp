// The runner against a worker that ends by itself, is stopped from another
// thread, or outlives its time limit: the end comes back on the calling
// thread, every stop and forced end is made from there, the worker is joined.
#include "frontend/transfer_runner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "frontend/transfer_progress.h"
#include "tests/frontend/fake_worker.h"

namespace pw {
namespace {

using namespace std::chrono_literals;

struct Rig {
  Rig() {
    progress.OnEnd([this] { runner.Ended(); });
  }
  TransferRunner runner;
  TransferProgress progress;
  test::FakeWorker worker{progress};

  std::vector<std::string> CallsFromThisThread() {
    std::vector<std::string> names;
    for (const auto& c : worker.Calls()) {
      EXPECT_EQ(c.thread, std::this_thread::get_id()) << c.name << " came from another thread";
      names.push_back(c.name);
    }
    return names;
  }
};

TEST(TransferRunner, ReportsTheEndOnTheCallingThreadOnceTheWorkerIsJoined) {
  Rig r;
  r.worker.endsAfter = 30ms;
  const RunOutcome out = r.runner.Run(r.worker, 10s);
  EXPECT_TRUE(r.worker.joined);
  EXPECT_TRUE(r.progress.Snapshot().ended);
  EXPECT_EQ(out.errorNo, 0);
  EXPECT_FALSE(out.stopped || out.forced || out.timedOut);
  EXPECT_TRUE(r.CallsFromThisThread().empty());
}

TEST(TransferRunner, AWorkerPastItsTimeLimitIsEndedByForce) {
  Rig r;
  const auto start = std::chrono::steady_clock::now();
  const RunOutcome out = r.runner.Run(r.worker, 50ms);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
  EXPECT_EQ(out.errorNo, 1);
  EXPECT_TRUE(out.timedOut && out.forced);
  EXPECT_FALSE(out.stopped);
  EXPECT_EQ(r.CallsFromThisThread(), std::vector<std::string>{"EndCom"});
}

// Stops come from another thread, as a window's button or a server's
// shutdown would send them; the runner acts on them on its own thread.
TEST(TransferRunner, AStopFromAnotherThreadActsAsTheStopButton) {
  struct Case {
    bool waiting, ignoreStop;
    int stops;
    std::vector<std::string> calls;
    std::int32_t code;
    bool forced;
  };
  for (const Case& c : {Case{false, false, 1, {"StopCom"}, 2, false},             // a transfer under way is aborted
                        Case{true, false, 1, {"EndCom"}, 1, true},                // a receiver that waits is ended
                        Case{false, true, 2, {"StopCom", "EndCom"}, 1, true}}) {  // a second stop forces the end
    SCOPED_TRACE(testing::Message() << "waiting " << c.waiting << ", stops " << c.stops);
    Rig r;
    r.worker.waitingForTerminal = c.waiting;
    r.worker.ignoreStop = c.ignoreStop;
    std::thread stopper([&] {
      for (int i = 0; i < c.stops; ++i) {
        std::this_thread::sleep_for(20ms);
        r.runner.Stop();
      }
    });
    const RunOutcome out = r.runner.Run(r.worker);
    stopper.join();
    EXPECT_EQ(r.CallsFromThisThread(), c.calls);
    EXPECT_EQ(out.errorNo, c.code);
    EXPECT_TRUE(out.stopped);
    EXPECT_EQ(out.forced, c.forced);
    EXPECT_FALSE(out.timedOut);
  }
}

}  // namespace
}  // namespace pw
