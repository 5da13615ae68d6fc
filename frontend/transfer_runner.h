// Runs a transfer worker from a program's main thread and reports its end
// there: Run starts the worker and returns on the calling thread once the
// worker has ended. While it waits, a stop (from another thread, SIGINT or
// SIGTERM on Linux, Ctrl+C on a Windows console) acts as the stop button: the
// forced end while the receiver still waits for the terminal, otherwise the
// user's stop; a second stop while the first is pending forces the end. The
// worker tells of its end through TransferView::TransferEnded; the progress
// model forwards it to Ended.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "engine/transfer_worker.h"
#include "frontend/end_wait.h"

namespace pw {

struct RunOutcome {
  std::int32_t errorNo = 0;  ///< the worker's result code
  bool stopped = false;      ///< a stop asked the worker to end
  bool forced = false;       ///< the worker was ended by force (EndCom)
  bool timedOut = false;     ///< the time limit passed first
};

class TransferRunner {
 public:
  /// Listens for stops from now on, on this thread (see EndWait): a signal
  /// that comes before Run stops the worker as soon as it runs.
  TransferRunner() = default;

  /// Any thread: the worker has ended.
  void Ended() { wait_.Ended(); }
  /// Any thread: the stop button.
  void Stop() { wait_.Stop(); }

  /// Starts \p worker and waits, costing no processor time, until it has
  /// ended; then joins it. After \p limit the worker is ended by force.
  RunOutcome Run(TransferWorker& worker, std::optional<std::chrono::milliseconds> limit = std::nullopt);

 private:
  EndWait wait_;
};

}  // namespace pw
