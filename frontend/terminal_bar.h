// The progress of a transfer as one line on a terminal: the label, a bar and
// the count ("受信中 [#########                     ] 30/100"). A thread of its
// own draws the line when the model tells of a change, at most ten times a
// second, and clears it when the transfer has ended or the bar goes. Where
// standard error is no terminal it draws nothing and starts no thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "frontend/transfer_progress.h"

namespace pw {

class TerminalBar {
 public:
  static constexpr std::chrono::milliseconds kRedrawInterval{100};

  /// Shows \p progress on standard error while it is a terminal. Made
  /// before the worker starts, as the model's change notice is set here.
  explicit TerminalBar(TransferProgress& progress);
  /// Shows \p progress on \p out when \p show.
  TerminalBar(TransferProgress& progress, std::FILE* out, bool show);
  /// Stops drawing and clears the line.
  ~TerminalBar();
  TerminalBar(const TerminalBar&) = delete;
  TerminalBar& operator=(const TerminalBar&) = delete;

  /// The text of the line for \p s.
  static std::string Line(const ProgressSnapshot& s);

 private:
  void Draw();

  TransferProgress& progress_;
  std::FILE* out_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool changed_ = false, stop_ = false;
  std::thread drawer_;
};

/// True when standard error is a terminal.
bool StandardErrorIsTerminal();
/// True when standard input is a terminal (someone can answer a question).
bool StandardInputIsTerminal();

}  // namespace pw
