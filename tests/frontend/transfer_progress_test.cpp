// The progress model: a burst of changes costs the worker one notice until the
// view has read, and a view on another thread reads whole states.
#include "frontend/transfer_progress.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace pw {
namespace {

TEST(TransferProgress, ChangesBeforeTheViewReadsMakeOneNotice) {
  TransferProgress progress;
  int notices = 0, ends = 0;
  progress.OnChange([&] { ++notices; });
  progress.OnEnd([&] { ends += progress.Snapshot().ended ? 1 : 100; });
  progress.SetLabel("受信待ち");
  for (int i = 1; i <= 500; ++i) progress.SetGaugeProgress(i);
  EXPECT_EQ(notices, 1);
  const ProgressSnapshot s = progress.Snapshot();
  EXPECT_EQ(s.label, "受信待ち");
  EXPECT_EQ(s.gaugeProgress, 500);
  EXPECT_EQ(s.changes, 501u);

  progress.SetButtonCaption("終了");
  EXPECT_EQ(notices, 2) << "reading re-arms the notice";
  progress.TransferEnded();
  EXPECT_EQ(notices, 2) << "one is still pending";
  EXPECT_EQ(ends, 1) << "the end is told once, after it is in the snapshot";
}

// The worker sets the gauge, then the label to the same number; every
// snapshot must be a state between two of its calls.
TEST(TransferProgress, AViewOnAnotherThreadReadsWholeStates) {
  constexpr int kSteps = 20000;
  TransferProgress progress;
  std::atomic<int> notices{0};
  progress.OnChange([&] { ++notices; });
  std::thread worker([&] {
    for (int i = 1; i <= kSteps; ++i) {
      progress.SetGaugeProgress(i);
      progress.SetLabel(std::to_string(i));
    }
    progress.TransferEnded();
  });
  ProgressSnapshot last;
  for (int reads = 1; !last.ended; ++reads) {
    const int noticesBefore = notices.load();
    const ProgressSnapshot s = progress.Snapshot();
    ASSERT_GE(s.changes, last.changes);
    const int p = s.gaugeProgress;
    ASSERT_TRUE(s.label == std::to_string(p) || s.label == (p > 1 ? std::to_string(p - 1) : "")) << s.label;
    ASSERT_LE(noticesBefore, reads) << "a notice only after a read";
    last = s;
  }
  worker.join();
  EXPECT_EQ(last.label, std::to_string(kSteps));
  EXPECT_EQ(last.changes, 2u * kSteps + 1);
}

}  // namespace
}  // namespace pw
