#include "frontend/transfer_progress.h"

namespace pw {

template <class Change>
void TransferProgress::Update(Change change) {
  bool notify = false;
  {
    std::lock_guard lock(mutex_);
    change(state_);
    ++state_.changes;
    notify = !noticePending_;
    noticePending_ = true;
  }
  if (notify && changed_) changed_();
}

ProgressSnapshot TransferProgress::Snapshot() {
  std::lock_guard lock(mutex_);
  noticePending_ = false;
  return state_;
}

void TransferProgress::SetLabel(std::string_view text) {
  Update([&](ProgressSnapshot& s) { s.label = text; });
}

void TransferProgress::SetGaugeMax(std::int32_t max) {
  Update([&](ProgressSnapshot& s) { s.gaugeMax = max; });
}

void TransferProgress::SetGaugeProgress(std::int32_t progress) {
  Update([&](ProgressSnapshot& s) { s.gaugeProgress = progress; });
}

void TransferProgress::SetButtonCaption(std::string_view caption) {
  Update([&](ProgressSnapshot& s) { s.buttonCaption = caption; });
}

void TransferProgress::TransferEnded() {
  Update([](ProgressSnapshot& s) { s.ended = true; });
  if (ended_) ended_();
}

}  // namespace pw
