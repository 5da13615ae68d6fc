// The terminal bar redraws at most ten times a second however fast the worker
// writes, draws the latest state, and leaves the line cleared.
#include "frontend/terminal_bar.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace pw {
namespace {

TEST(TerminalBar, RedrawsAtMostTenTimesASecondAndClearsTheLineAtTheEnd) {
  std::FILE* out = std::tmpfile();
  ASSERT_TRUE(out);
  TransferProgress progress;
  const auto start = std::chrono::steady_clock::now();
  {
    TerminalBar bar(progress, out, true);
    std::thread worker([&] {
      progress.SetLabel("受信中");
      for (int i = 1; i <= 100; ++i) {
        progress.SetGaugeProgress(i);
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
      }
      std::this_thread::sleep_for(TerminalBar::kRedrawInterval * 2);  // the last state gets drawn
      progress.TransferEnded();
    });
    worker.join();
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  std::string text(static_cast<std::size_t>(std::ftell(out)), '\0');
  std::rewind(out);
  ASSERT_EQ(std::fread(text.data(), 1, text.size(), out), text.size());
  std::fclose(out);

  std::size_t draws = 0;
  for (std::size_t at = text.find("受信中 ["); at != std::string::npos; at = text.find("受信中 [", at + 1)) ++draws;
  EXPECT_GE(draws, 2u);
  EXPECT_LE(draws, 1 + static_cast<std::size_t>(elapsed / TerminalBar::kRedrawInterval)) << text;
  const std::string full = "\r\033[K受信中 [" + std::string(30, '#') + "] 100/100\r\033[K";
  EXPECT_EQ(text.substr(text.size() - full.size()), full) << "the last state, then the cleared line";
}

}  // namespace
}  // namespace pw
