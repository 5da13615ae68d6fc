#include "frontend/transfer_runner.h"

#include <algorithm>

namespace pw {

RunOutcome TransferRunner::Run(TransferWorker& worker, std::optional<std::chrono::milliseconds> limit) {
  using Clock = std::chrono::steady_clock;
  std::optional<Clock::time_point> deadline;
  if (limit) deadline = Clock::now() + *limit;
  RunOutcome out;
  wait_.Shelter([&worker] { worker.Start(); });
  for (;;) {
    std::int64_t timeoutMs = -1;
    if (deadline && !out.forced) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
      timeoutMs = std::max<std::int64_t>(left.count(), 0);
    }
    const EndWait::Woken woken = wait_.Wait(timeoutMs);
    if (woken.ended) break;
    for (int i = 0; i < woken.stops && !out.forced; ++i) {
      // A receiver that still waits has nothing to abort: it is ended at once.
      if (!out.stopped && !worker.ChkRcvWait()) {
        worker.StopCom();
      } else {
        worker.EndCom();
        out.forced = true;
      }
      out.stopped = true;
    }
    if (deadline && !out.forced && Clock::now() >= *deadline) {
      worker.EndCom();
      out.forced = out.timedOut = true;
    }
  }
  worker.WaitFor();
  out.errorNo = worker.ErrorNo();
  return out;
}

}  // namespace pw
