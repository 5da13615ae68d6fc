// The progress model: a view reads whole states while the worker writes, and
// a burst of changes costs the worker one notice until the view has read.
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
  progress.OnEnd([&] {
    ++ends;
    EXPECT_TRUE(progress.Snapshot().ended) << "the end is in the snapshot before it is told";
  });
  progress.SetLabel("受信待ち");
  progress.SetButtonCaption("中断");
  progress.SetGaugeMax(500);
  for (int i = 1; i <= 500; ++i) progress.SetGaugeProgress(i);
  EXPECT_EQ(notices, 1);

  const ProgressSnapshot s = progress.Snapshot();
  EXPECT_EQ(s.label, "受信待ち");
  EXPECT_EQ(s.buttonCaption, "中断");
  EXPECT_EQ(s.gaugeMax, 500);
  EXPECT_EQ(s.gaugeProgress, 500);
  EXPECT_EQ(s.changes, 503u);
  EXPECT_FALSE(s.ended);

  progress.SetButtonCaption("終了");
  EXPECT_EQ(notices, 2) << "reading re-arms the notice";
  progress.TransferEnded();
  EXPECT_EQ(notices, 2) << "a notice is still pending";
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(progress.Snapshot().buttonCaption, "終了");
}

// The worker sets the gauge, then the label to the same number; a view on
// another thread must see each snapshot as a state between two calls.
TEST(TransferProgress, AViewOnAnotherThreadReadsWholeStates) {
  constexpr int kSteps = 20000;
  TransferProgress progress;
  std::atomic<int> notices{0};
  progress.OnChange([&] { ++notices; });
  int reads = 0;
  std::thread worker([&] {
    progress.SetGaugeMax(kSteps);
    for (int i = 1; i <= kSteps; ++i) {
      progress.SetGaugeProgress(i);
      progress.SetLabel("block " + std::to_string(i));
    }
    progress.TransferEnded();
  });
  ProgressSnapshot last;
  for (;;) {
    const int noticesBefore = notices.load();
    const ProgressSnapshot s = progress.Snapshot();
    ++reads;
    ASSERT_GE(s.changes, last.changes);
    ASSERT_GE(s.gaugeProgress, last.gaugeProgress);
    if (s.gaugeProgress > 0) {
      const std::string before = s.gaugeProgress > 1 ? "block " + std::to_string(s.gaugeProgress - 1) : "";
      ASSERT_TRUE(s.label == "block " + std::to_string(s.gaugeProgress) || s.label == before)
          << s.label << " with " << s.gaugeProgress;
    }
    ASSERT_LE(noticesBefore, reads) << "a notice only after the view read";
    last = s;
    if (s.ended) break;
  }
  worker.join();
  EXPECT_EQ(last.gaugeProgress, kSteps);
  EXPECT_EQ(last.label, "block " + std::to_string(kSteps));
  EXPECT_EQ(last.changes, 2u * kSteps + 2);
}

}  // namespace
}  // namespace pw
