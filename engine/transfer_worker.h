// What a program holds of a running transfer worker: start it, stop it, end
// it by force, ask whether it still waits for the terminal, wait for its end
// and read its result. The library's and PortwickA's worker (TYmThread) and
// Tablink's server loop both are one.
#pragma once

#include <cstdint>

namespace pw {

class TransferWorker {
 public:
  virtual ~TransferWorker() = default;
  /// Runs the worker on a thread of its own.
  virtual void Start() = 0;
  /// Waits until that thread has ended.
  virtual void WaitFor() = 0;
  /// The user's stop (the stop button). Only asks; the worker acts on its next pass.
  virtual void StopCom() = 0;
  /// The forced end (the port is being closed). Only asks, like StopCom.
  virtual void EndCom() = 0;
  /// True while the worker still waits for the terminal's first block.
  virtual bool ChkRcvWait() const = 0;
  /// True once the worker has ended and closed its files and log.
  virtual bool Ended() const = 0;
  /// The result code; final once Ended.
  virtual std::int32_t ErrorNo() const = 0;
};

}  // namespace pw
