// The progress of one transfer as a model: the worker writes it through the
// TransferView calls, a view reads a snapshot of it on its own thread. The
// view learns of a change through a notice that is cheap for the worker and
// coalesced: after one notice, further changes send none until the view has
// read the snapshot. A Win32 window posts itself a message from the notice, a
// terminal bar wakes its drawing thread.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "engine/transfer_view.h"

namespace pw {

/// What a view shows, copied out of the model in one piece.
struct ProgressSnapshot {
  std::string label;  ///< UTF-8
  std::int32_t gaugeMax = 100;
  std::int32_t gaugeProgress = 0;
  std::string buttonCaption;  ///< UTF-8: "中断" or "終了"
  bool ended = false;         ///< the worker has ended; nothing changes any more
  std::uint64_t changes = 0;  ///< counts every call of the worker
};

class TransferProgress final : public TransferView {
 public:
  using Notice = std::function<void()>;

  // Both notices are set before the worker starts and called on the worker's
  // thread, outside the model's lock; they must not block.
  /// \p changed: something changed since the view last read the snapshot.
  void OnChange(Notice changed) { changed_ = std::move(changed); }
  /// \p ended: once, after the end is in the snapshot (the runner's Ended).
  void OnEnd(Notice ended) { ended_ = std::move(ended); }

  /// The current state. Reading it also re-arms the change notice.
  ProgressSnapshot Snapshot();

  // TransferView, from the worker.
  void SetLabel(std::string_view text) override;
  void SetGaugeMax(std::int32_t max) override;
  void SetGaugeProgress(std::int32_t progress) override;
  void SetButtonCaption(std::string_view caption) override;
  void TransferEnded() override;

 private:
  template <class Change>
  void Update(Change change);

  std::mutex mutex_;
  ProgressSnapshot state_;
  bool noticePending_ = false;
  Notice changed_, ended_;
};

}  // namespace pw
