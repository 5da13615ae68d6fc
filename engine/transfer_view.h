// What a transfer shows while it runs: a label, a gauge and the caption of
// the stop button. A window implements it on Windows, a terminal line on
// Linux, a recorder in tests. The transfer calls it from its worker thread;
// an implementation that owns a window carries the update to the window's
// own thread.
#pragma once

#include <cstdint>
#include <string_view>

namespace pw {

class TransferView {
 public:
  virtual ~TransferView() = default;
  /// The label's text (UTF-8).
  virtual void SetLabel(std::string_view text) = 0;
  /// The gauge's maximum; the progress stays where it is.
  virtual void SetGaugeMax(std::int32_t max) = 0;
  /// The gauge's progress, from 0 to its maximum.
  virtual void SetGaugeProgress(std::int32_t progress) = 0;
  /// The stop button's caption (UTF-8): "中断" or "終了".
  virtual void SetButtonCaption(std::string_view caption) = 0;
  /// The transfer has ended and its results are final: hide the window and
  /// close it at the next tick. Called once, last, from the worker.
  virtual void TransferEnded() {}
};

/// A view that shows nothing.
class NullTransferView : public TransferView {
 public:
  void SetLabel(std::string_view) override {}
  void SetGaugeMax(std::int32_t) override {}
  void SetGaugeProgress(std::int32_t) override {}
  void SetButtonCaption(std::string_view) override {}
};

}  // namespace pw
