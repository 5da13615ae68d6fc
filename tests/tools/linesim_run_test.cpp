// The line simulator as a program: two peers on its links, data both ways at
// once, the time it takes against the line's, faults, idle cost and exit.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_drive.h"

namespace pw {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// A running linesim; stopped with SIGTERM when the test has not done so.
class LineSimProcess {
 public:
  explicit LineSimProcess(const std::vector<std::string>& args) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      std::vector<char*> argv{const_cast<char*>(PW_LINESIM_PATH)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    // Wait for "ready".
    std::string said;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (said.find("ready\n") == std::string::npos && Clock::now() < deadline) {
      pollfd p{out[0], POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buf[64];
      const ssize_t n = read(out[0], buf, sizeof buf);
      if (n <= 0) break;
      said.append(buf, static_cast<std::size_t>(n));
    }
    close(out[0]);
    ready_ = said == "ready\n";
  }
  ~LineSimProcess() {
    if (pid_ > 0) Stop();
  }

  bool Ready() const { return ready_; }

  /// Processor time used so far, in clock ticks.
  long CpuTicks() const {
    std::ifstream in("/proc/" + std::to_string(pid_) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), {});
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string skip;
    for (int i = 3; i < 14; ++i) fields >> skip;  // fields 3..13
    long user = 0, system = 0;
    fields >> user >> system;
    return user + system;
  }

  /// SIGTERM, then the exit status (-1 when it did not exit normally).
  int Stop() {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  bool ready_ = false;
};

int OpenLink(const std::filesystem::path& link) {
  return open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

// What one direction delivered, and when its last byte came.
struct Arrival {
  Bytes bytes;
  double seconds = 0;
};

// Writes `aToB` into side A and `bToA` into side B at once and reads until
// each side has `expectAtB` / `expectAtA` bytes or `limit` has passed.
void Exchange(int a, int b, const Bytes& aToB, const Bytes& bToA, std::size_t expectAtB, std::size_t expectAtA,
              Arrival& atB, Arrival& atA, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  const auto start = Clock::now();
  const auto deadline = start + limit;
  std::size_t sentA = 0, sentB = 0;
  while ((atB.bytes.size() < expectAtB || atA.bytes.size() < expectAtA) && Clock::now() < deadline) {
    pollfd p[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
    if (sentA < aToB.size()) p[0].events |= POLLOUT;
    if (sentB < bToA.size()) p[1].events |= POLLOUT;
    if (poll(p, 2, 100) <= 0) continue;
    const auto now = Clock::now();
    std::uint8_t buf[4096];
    if (p[0].revents & POLLOUT) {
      const ssize_t n = write(a, aToB.data() + sentA, aToB.size() - sentA);
      if (n > 0) sentA += static_cast<std::size_t>(n);
    }
    if (p[1].revents & POLLOUT) {
      const ssize_t n = write(b, bToA.data() + sentB, bToA.size() - sentB);
      if (n > 0) sentB += static_cast<std::size_t>(n);
    }
    if (p[1].revents & POLLIN) {
      const ssize_t n = read(b, buf, sizeof buf);
      if (n > 0) {
        atB.bytes.insert(atB.bytes.end(), buf, buf + n);
        atB.seconds = std::chrono::duration<double>(now - start).count();
      }
    }
    if (p[0].revents & POLLIN) {
      const ssize_t n = read(a, buf, sizeof buf);
      if (n > 0) {
        atA.bytes.insert(atA.bytes.end(), buf, buf + n);
        atA.seconds = std::chrono::duration<double>(now - start).count();
      }
    }
  }
}

Bytes RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<std::uint8_t>(gen());
  return b;
}

TEST(LineSimProgram, CarriesBothWaysAtTheLineRateWithTheFaultsAsked) {
  test::TempDrive dir;
  const auto linkA = dir.Path() / "a";
  const auto linkB = dir.Path() / "b";
  const auto logPath = dir.Path() / "faults.log";
  constexpr std::uint32_t kSpeed = 115200;
  LineSimProcess sim({"--speed", std::to_string(kSpeed), "--link-a", linkA.string(), "--link-b", linkB.string(),
                      "--flip", "a2b:1500", "--drop", "b2a:3", "--log", logPath.string()});
  ASSERT_TRUE(sim.Ready());
  ASSERT_TRUE(std::filesystem::is_symlink(linkA));
  ASSERT_TRUE(std::filesystem::is_symlink(linkB));

  // Nobody on either side: waiting must cost (next to) nothing.
  const long idleBefore = sim.CpuTicks();
  usleep(500'000);
  EXPECT_LE(sim.CpuTicks() - idleBefore, 2) << "busy while no side is open";

  const int a = OpenLink(linkA);
  const int b = OpenLink(linkB);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  const Bytes aToB = RandomBytes(10 * 1024, 1);
  const Bytes bToA = RandomBytes(10 * 1024, 2);
  Arrival atB, atA;
  Exchange(a, b, aToB, bToA, aToB.size(), bToA.size() - 1, atB, atA);

  Bytes expectAtB = aToB;
  expectAtB[1499] ^= 0xFF;
  Bytes expectAtA = bToA;
  expectAtA.erase(expectAtA.begin() + 2);
  EXPECT_EQ(atB.bytes, expectAtB);
  EXPECT_EQ(atA.bytes, expectAtA);
  // Both directions at once: each takes its own line time, the dropped byte
  // included, and neither waits for the other.
  const double lineSeconds = 10.0 * static_cast<double>(aToB.size()) / kSpeed;
  EXPECT_GE(atB.seconds / lineSeconds, 0.95);
  EXPECT_LE(atB.seconds / lineSeconds, 1.3);
  EXPECT_GE(atA.seconds / lineSeconds, 0.95);
  EXPECT_LE(atA.seconds / lineSeconds, 1.3);

  // Nothing more arrives: no byte was delivered twice.
  Arrival extraB, extraA;
  Exchange(a, b, {}, {}, 1, 1, extraB, extraA, std::chrono::milliseconds(300));
  EXPECT_TRUE(extraB.bytes.empty());
  EXPECT_TRUE(extraA.bytes.empty());
  close(a);
  close(b);

  // Both sides closed again: still no spinning.
  const long idleAfter = sim.CpuTicks();
  usleep(500'000);
  EXPECT_LE(sim.CpuTicks() - idleAfter, 2) << "busy after the sides closed";

  // A side can come back, and the line still works.
  const int a2 = OpenLink(linkA);
  const int b2 = OpenLink(linkB);
  ASSERT_GE(a2, 0);
  ASSERT_GE(b2, 0);
  Arrival againB, againA;
  const Bytes hello = {'h', 'e', 'l', 'l', 'o'};
  Exchange(a2, b2, hello, {}, hello.size(), 0, againB, againA);
  EXPECT_EQ(againB.bytes, hello);
  close(a2);
  close(b2);

  EXPECT_EQ(sim.Stop(), 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(linkA)));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(linkB)));

  std::ifstream log(logPath);
  std::vector<std::string> lines;
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 2u);
  char flipped[32], dropped[32];
  std::snprintf(flipped, sizeof flipped, "a2b byte 1500 flipped 0x%02x", aToB[1499]);
  std::snprintf(dropped, sizeof dropped, "b2a byte 3 dropped 0x%02x", bToA[2]);
  const std::string all = lines[0] + "\n" + lines[1];
  EXPECT_NE(all.find(flipped), std::string::npos) << all;
  EXPECT_NE(all.find(dropped), std::string::npos) << all;
}

}  // namespace
}  // namespace pw
