// The terminal bar redraws at most ten times a second however fast the
// worker writes, shows the latest state, and leaves a cleared line.
#include "frontend/terminal_bar.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace pw {
namespace {

std::string Contents(std::FILE* f) {
  std::string out;
  std::rewind(f);
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
  return out;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(TerminalBar, RedrawsAtMostTenTimesASecondAndClearsTheLineAtTheEnd) {
  std::FILE* out = std::tmpfile();
  ASSERT_TRUE(out);
  TransferProgress progress;
  const auto start = std::chrono::steady_clock::now();
  {
    TerminalBar bar(progress, out, true);
    std::thread worker([&] {
      progress.SetLabel("受信中");
      progress.SetGaugeMax(400);
      for (int i = 1; i <= 400; ++i) {
        progress.SetGaugeProgress(i);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      std::this_thread::sleep_for(TerminalBar::kRedrawInterval * 2);  // the last state gets drawn
      progress.TransferEnded();
    });
    worker.join();
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  const std::string text = Contents(out);
  std::fclose(out);

  const std::size_t draws = Count(text, "受信中 [");
  EXPECT_GE(draws, 2u);
  EXPECT_LE(draws, 1 + static_cast<std::size_t>(elapsed / TerminalBar::kRedrawInterval)) << text;
  EXPECT_NE(text.find("\r\033[K受信中 [##############################] 400/400\r\033[K"), std::string::npos)
      << "the last state, then the cleared line: " << text;
  EXPECT_EQ(text.substr(text.size() - 4), "\r\033[K");

  // Where it may not draw, it writes nothing at all.
  std::FILE* quiet = std::tmpfile();
  TransferProgress other;
  {
    TerminalBar bar(other, quiet, false);
    other.SetLabel("x");
    other.TransferEnded();
  }
  EXPECT_TRUE(Contents(quiet).empty());
  std::fclose(quiet);
}

}  // namespace
}  // namespace pw
