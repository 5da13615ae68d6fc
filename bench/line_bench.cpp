// line_bench: how close whole transfers come to what the line allows, the
// cost of a receive that waits, and the engine's own delay before a block.
//
// How to run (Linux; needs lrzsz and socat):
//   cmake --preset linux && cmake --build build/linux -j2 --target line_bench linesim bhtsim
//   build/linux/bench/line_bench            # everything, about 15 minutes
//   build/linux/bench/line_bench --quick    # 10 s idle wait, 256 KiB files
// Options: --quick, --size BYTES (the large file, a multiple of 1024),
// --speeds 115200,460800, --only throughput|idle|turnaround,
// --linesim PATH, --bhtsim PATH (default: beside linesim; rows without it
// are left out when it is missing).
//
// Throughput. Each transfer runs through linesim at the given speed, with our
// engine on one end (COM1) and a peer on the other: rb (behind socat, which
// keeps rb's last ACK), sb -k, or the terminal simulator; lrzsz against lrzsz
// runs through the same line for comparison. Each pair moves a 1 KiB file and
// a large file (1 MiB); the time the large one takes beyond the small one is
// the time of (large - 1 KiB) / 1024 data blocks alone, free of start-up
// waits (rb waits 1 s before its first 'C' and after each EOT). That rate is
// set against the engine's bound: 1024 bytes per 1030 byte-times (a block
// and its ACK) plus the 10 ms pause before every write.
//
// Idle. A receive waits for a first header that never comes; the process's
// CPU time over the wait is set against the wall time.
//
// Turnaround. Our sender sends to a receiver in this process over one
// pseudo-terminal pair; the receiver notes when its ACK went out and when the
// next block's first byte came in. What exceeds the 10 ms pause is the
// engine's own delay.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/com_port.h"
#include "engine/transfer_view.h"
#include "engine/ym_thread.h"
#include "engine/ymodem_block.h"
#include "frontend/command_line.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "tests/integration/peer_process.h"

namespace {

namespace fs = std::filesystem;
using pw::test::PeerOptions;
using pw::test::PeerProcess;
using SteadyClock = std::chrono::steady_clock;

constexpr const char* kTitle = "line_bench";

double Seconds(SteadyClock::duration d) { return std::chrono::duration<double>(d).count(); }

struct Options {
  bool quick = false;
  std::size_t size = 1 << 20;
  std::vector<std::uint32_t> speeds{115200, 460800};
  std::string only;
  fs::path linesim = fs::path(PW_TOOLS_DIR) / "linesim";
  fs::path bhtsim = fs::path(PW_TOOLS_DIR) / "bhtsim";
};

// Message boxes on stderr, as the Linux build shows them.
class StderrBoxes : public pw::MessageBoxes {
 public:
  int Show(std::string_view title, std::string_view text, unsigned) override {
    std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(title.size()), title.data(), static_cast<int>(text.size()),
                 text.data());
    return pw::kIdOk;
  }
};

// Notes the end of the transfer, which the worker reports last.
class EndView : public pw::NullTransferView {
 public:
  void TransferEnded() override { ended = true; }
  std::atomic<bool> ended{false};
};

// A fresh folder that plays the system drive: COM1 is linked below it.
class Scratch {
 public:
  Scratch() {
    char name[] = "/tmp/line_bench.XXXXXX";
    if (!mkdtemp(name)) {
      std::perror("mkdtemp");
      std::exit(1);
    }
    root_ = name;
    fs::create_directories(root_ / "dosdevices");
    setenv("PORTWICK_DRIVE", root_.c_str(), 1);
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  const fs::path& Root() const { return root_; }
  fs::path Com1() const { return root_ / "dosdevices" / "com1"; }
  // A fresh empty folder below the root.
  fs::path Folder(const std::string& name) const {
    std::error_code ec;
    fs::remove_all(root_ / name, ec);
    fs::create_directories(root_ / name);
    return root_ / name;
  }

 private:
  fs::path root_;
};

// ---------------------------------------------------------------------------
// Throughput

enum class Party { Ours, Rb, Sb, BhtsimReceive, BhtsimSend };

struct Pair {
  const char* sender;
  const char* receiver;
  Party a;  // on COM1's side of the line
  Party b;  // on the far side
  bool needsBhtsim;
};

const Pair kPairs[] = {
    {"ours", "rb", Party::Ours, Party::Rb, false},
    {"sb -k", "ours", Party::Ours, Party::Sb, false},
    {"ours", "bhtsim", Party::Ours, Party::BhtsimReceive, true},
    {"bhtsim", "ours", Party::Ours, Party::BhtsimSend, true},
    {"sb -k", "rb", Party::Sb, Party::Rb, false},
};

struct RunResult {
  bool ok = false;
  double seconds = 0;
  std::string why;  // when not ok
};

std::unique_ptr<PeerProcess> StartPeer(Party p, const fs::path& link, const fs::path& file, const fs::path& folder,
                                       std::uint32_t speed, const Options& o, const fs::path& log) {
  PeerOptions po;
  po.stderrFile = log;
  switch (p) {
    case Party::Rb:
      // rb on a pty of its own loses its last ACK; behind socat's pipes it does not.
      po.argv = {"socat", "FILE:" + link.string() + ",raw,echo=0", "SYSTEM:rb --ymodem -u -y,pipes"};
      po.cwd = folder;
      break;
    case Party::Sb:
      po.argv = {"sb", "--ymodem", "-k", file.filename().string()};
      po.cwd = file.parent_path();
      po.stdio = link;
      break;
    case Party::BhtsimReceive:
      po.argv = {o.bhtsim.string(), "receive", "--port", link.string(), "--dir", folder.string(), "--speed",
                 std::to_string(speed)};
      break;
    case Party::BhtsimSend:
      po.argv = {o.bhtsim.string(), "send", "--port", link.string(), "--file", file.string(), "--speed",
                 std::to_string(speed)};
      break;
    case Party::Ours:
      return nullptr;
  }
  return std::make_unique<PeerProcess>(po);
}

bool IsSender(Party p) { return p == Party::Sb || p == Party::BhtsimSend; }

// Waits for a started peer to be ready for the first byte: its program runs
// (not still socat's shell) and has had a moment to open and set its line.
void LetSettle(PeerProcess& peer, Party p) {
  if (p == Party::Rb) pw::test::WaitForDescendant(peer.Pid(), "rb", 5000);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

std::uint32_t LimitMs(std::size_t size, std::uint32_t speed) {
  // Three times the bare line time plus fixed waits.
  return static_cast<std::uint32_t>(static_cast<double>(size) * 10.0 / speed * 3000.0) + 30000;
}

// One file from the sender of \p pair to its receiver through linesim.
RunResult RunPair(const Pair& pair, std::uint32_t speed, const fs::path& file, const Options& o, Scratch& s) {
  RunResult r;
  const fs::path peerLink = s.Root() / "peer";
  const fs::path folder = s.Folder("received");
  const fs::path log = s.Root() / "peer.log";
  std::error_code ec;
  fs::remove(log, ec);
  PeerProcess line(PeerOptions{{o.linesim.string(), "--link-a", s.Com1().string(), "--link-b", peerLink.string(),
                                "--speed", std::to_string(speed)},
                               {},
                               {},
                               s.Root() / "linesim.log"});
  if (!pw::test::WaitForPath(peerLink, 5000)) {
    r.why = "linesim did not start";
    return r;
  }
  const std::uint32_t limit = LimitMs(fs::file_size(file), speed);
  SteadyClock::time_point start, end;

  if (pair.a == Party::Sb) {
    // lrzsz against lrzsz: sb waits on COM1's side, rb comes in on the other.
    auto sb = StartPeer(Party::Sb, s.Com1(), file, folder, speed, o, log);
    LetSettle(*sb, Party::Sb);
    start = SteadyClock::now();
    auto rb = StartPeer(Party::Rb, peerLink, file, folder, speed, o, log);
    const bool done = sb->WaitExit(limit);
    end = SteadyClock::now();
    rb->WaitExit(3000);
    if (!done || sb->ExitCode() != 0) r.why = "sb did not finish";
  } else {
    StderrBoxes boxes;
    const auto device = pw::OpenPortDevice("COM1", speed, pw::Alerts(boxes, kTitle));
    if (!device) {
      r.why = "COM1 did not open";
      return r;
    }
    EndView view;
    pw::TransferRequest q;
    q.LogFlag = false;
    q.TxFlag = !IsSender(pair.b);
    if (q.TxFlag) {
      q.TxFName = file;
      q.BhtFName = file.filename().string();
    } else {
      q.RxFolder = folder;
      q.Tmp1File = s.Root() / "portwk1.tmp";
      q.Tmp2File = s.Root() / "portwk2.tmp";
    }
    const pw::Alerts alerts(boxes, kTitle);
    pw::TYmThread t(*device, pw::SystemClock(), view, alerts, q);
    std::unique_ptr<PeerProcess> peer;
    if (!q.TxFlag) {
      // The peer waits for our first 'C'.
      peer = StartPeer(pair.b, peerLink, file, folder, speed, o, log);
      LetSettle(*peer, pair.b);
      start = SteadyClock::now();
      t.Start();
    } else {
      // We wait for the peer's first 'C', which it sends when it is ready.
      t.Start();
      start = SteadyClock::now();
      peer = StartPeer(pair.b, peerLink, file, folder, speed, o, log);
    }
    while (!view.ended && SteadyClock::now() - start < std::chrono::milliseconds(limit))
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    end = SteadyClock::now();
    if (!view.ended) {
      r.why = "stalled in " + std::string(pw::StateName(t.YmComStat())) + ", ended by force";
      t.EndCom();
    }
    t.WaitFor();
    if (r.why.empty() && t.ErrorNo() != 0) r.why = "ended with code " + std::to_string(t.ErrorNo());
    if (!peer->WaitExit(3000)) peer->Kill();
  }
  line.Kill();

  r.seconds = Seconds(end - start);
  if (r.why.empty()) {
    const std::string sent = pw::test::ReadWholeFile(file);
    const std::string got = pw::test::ReadWholeFile(folder / file.filename());
    if (got != sent) r.why = "stored file differs (" + std::to_string(got.size()) + " bytes)";
  }
  if (!r.why.empty()) {
    const std::string said = pw::test::ReadWholeFile(log);
    std::fprintf(stderr, "  %s: %s\n", r.why.c_str(), said.substr(said.size() > 600 ? said.size() - 600 : 0).c_str());
  }
  r.ok = r.why.empty();
  return r;
}

double BoundBytesPerSecond(std::uint32_t speed) {
  const double byteTime = 10.0 / speed;
  return 1024.0 / (1030.0 * byteTime + 0.010);
}

void Throughput(const Options& o, Scratch& s) {
  const fs::path files = s.Folder("files");
  const fs::path small = files / "small" / "DATA.PD3", large = files / "large" / "DATA.PD3";
  fs::create_directories(small.parent_path());
  fs::create_directories(large.parent_path());
  std::mt19937 rng(1);
  std::string bytes(o.size, '\0');
  for (char& c : bytes) c = static_cast<char>(rng());
  pw::test::WriteWholeFile(large, bytes);
  pw::test::WriteWholeFile(small, bytes.substr(0, 1024));
  const bool haveBhtsim = access(o.bhtsim.c_str(), X_OK) == 0;
  if (!haveBhtsim) std::fprintf(stderr, "no %s: its rows are left out\n", o.bhtsim.c_str());

  std::printf("\n### Throughput through linesim, %zu-byte file (DATA.PD3)\n\n", o.size);
  std::printf("Bound: 1024 bytes per 1030 byte-times (a block and its ACK) plus the 10 ms pause before every write.\n"
              "Per-block: (large - 1 KiB) over the time the large file took beyond the 1 KiB one. The bare line,\n"
              "without the pause, allows 1024 bytes per 1030 byte-times:");
  for (const std::uint32_t speed : o.speeds) std::printf(" %.0f B/s at %u", 1024.0 * speed / 10300.0, speed);
  std::printf(".\n\n");
  std::printf("| bit/s | sender | receiver | whole transfer s | whole B/s | per-block B/s | bound B/s | "
              "per-block / bound | whole / bound |\n");
  std::printf("|---:|---|---|---:|---:|---:|---:|---:|---:|\n");
  std::fflush(stdout);
  for (const std::uint32_t speed : o.speeds) {
    const double bound = BoundBytesPerSecond(speed);
    for (const Pair& pair : kPairs) {
      if (pair.needsBhtsim && !haveBhtsim) continue;
      std::fprintf(stderr, "%u bit/s, %s -> %s ...\n", speed, pair.sender, pair.receiver);
      const RunResult one = RunPair(pair, speed, small, o, s);
      const RunResult big = one.ok ? RunPair(pair, speed, large, o, s) : RunResult{false, 0, "skipped"};
      std::printf("| %u | %s | %s | ", speed, pair.sender, pair.receiver);
      if (!one.ok || !big.ok) {
        std::printf("failed: %s | | | %.0f | | |\n", (!one.ok ? "1 KiB: " + one.why : big.why).c_str(), bound);
      } else {
        const double whole = static_cast<double>(o.size) / big.seconds;
        const double perBlock = static_cast<double>(o.size - 1024) / (big.seconds - one.seconds);
        std::printf("%.2f | %.0f | %.0f | %.0f | %.3f | %.3f |\n", big.seconds, whole, perBlock, bound,
                    perBlock / bound, whole / bound);
      }
      std::fflush(stdout);
    }
  }
}

// ---------------------------------------------------------------------------
// A pseudo-terminal pair with COM1 linked to its slave; the bench holds the master.

class PtyPair {
 public:
  explicit PtyPair(const Scratch& s) {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
      std::perror("openpty");
      std::exit(1);
    }
    termios t{};
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    tcsetattr(slave_, TCSANOW, &t);
    std::error_code ec;
    fs::remove(s.Com1(), ec);
    fs::create_symlink(name, s.Com1());
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  }
  ~PtyPair() {
    close(slave_);
    close(master_);
  }
  int Master() const { return master_; }

 private:
  int master_ = -1, slave_ = -1;
};

// ---------------------------------------------------------------------------
// Idle cost

double CpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

void Idle(const Options& o, Scratch& s) {
  const int waitS = o.quick ? 10 : 60;
  PtyPair pty(s);
  StderrBoxes boxes;
  const auto device = pw::OpenPortDevice("COM1", 115200, pw::Alerts(boxes, kTitle));
  if (!device) return;
  EndView view;
  pw::TransferRequest q;
  q.RxFolder = s.Folder("idle");
  q.Tmp1File = s.Root() / "portwk1.tmp";
  q.Tmp2File = s.Root() / "portwk2.tmp";
  const pw::Alerts alerts(boxes, kTitle);
  pw::TYmThread t(*device, pw::SystemClock(), view, alerts, q);

  const double cpu0 = CpuSeconds();
  const auto start = SteadyClock::now();
  t.Start();
  // Take the 'C's as the line would, once a second.
  std::size_t cs = 0;
  while (SteadyClock::now() - start < std::chrono::seconds(waitS)) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    std::uint8_t buf[64];
    ssize_t n;
    while ((n = read(pty.Master(), buf, sizeof buf)) > 0) cs += static_cast<std::size_t>(std::count(buf, buf + n, 'C'));
  }
  const double wall = Seconds(SteadyClock::now() - start);
  const double cpu = CpuSeconds() - cpu0;
  t.StopCom();
  t.WaitFor();

  std::printf("\n### Idle receive (no sender)\n\n");
  std::printf("| wait s | CPU s | CPU / wall | 'C' sent | result | target |\n|---:|---:|---:|---:|---:|---|\n");
  std::printf("| %.1f | %.3f | %.3f %% | %zu | %d | <= 0.05 %% of one core |\n", wall, cpu, 100.0 * cpu / wall, cs,
              t.ErrorNo());
  std::fflush(stdout);
}

// ---------------------------------------------------------------------------
// Turnaround: the receiver's end of the line, in this process.

class TurnaroundPeer {
 public:
  explicit TurnaroundPeer(int fd) : fd_(fd) {}

  // Runs one batch of one raw file; false on anything unexpected.
  bool Run(std::vector<double>& delaysMs) {
    std::vector<std::uint8_t> block;
    // 'C' once a second until the header starts: the sender purges its
    // input when it starts, which may take the first one.
    for (int tries = 0;; ++tries) {
      if (tries == 10 || !Write(pw::ymodem::kC)) return false;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 1000) > 0) break;
    }
    if (!ReadBlock(block) || block[0] != pw::ymodem::SOH || block[1] != 0) return false;
    if (!Write(pw::ymodem::ACK)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!Write(pw::ymodem::kC)) return false;
    std::uint8_t expect = 1;
    std::optional<SteadyClock::time_point> ackAt;
    for (;;) {
      SteadyClock::time_point firstAt;
      if (!ReadBlock(block, &firstAt)) return false;
      if (ackAt) delaysMs.push_back(Seconds(firstAt - *ackAt) * 1000.0 - pw::kTurnaroundMs);
      if (block[0] == pw::ymodem::EOT) break;
      if (block[0] != pw::ymodem::STX || block[1] != expect ||
          pw::ymodem::CalcCrc16(block.data() + 3, 1024) != ((block[1027] << 8) | block[1028]))
        return false;
      ++expect;
      if (!Write(pw::ymodem::ACK)) return false;
      ackAt = SteadyClock::now();
    }
    // EOT, then the empty header; the terminal asks for it 100 ms after its ACK.
    if (!Write(pw::ymodem::ACK)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!Write(pw::ymodem::kC) || !ReadBlock(block) || block[3] != 0) return false;
    return Write(pw::ymodem::ACK);
  }

 private:
  bool Write(std::uint8_t b) { return write(fd_, &b, 1) == 1; }

  // One block (or EOT); \p firstAt is when its first byte was seen.
  bool ReadBlock(std::vector<std::uint8_t>& out, SteadyClock::time_point* firstAt = nullptr) {
    out.clear();
    std::size_t want = 1;
    while (out.size() < want) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 10000) <= 0) return false;
      if (out.empty() && firstAt) *firstAt = SteadyClock::now();
      std::uint8_t buf[2048];
      const ssize_t n = read(fd_, buf, std::min(sizeof buf, want - out.size()));
      if (n <= 0) return false;
      out.insert(out.end(), buf, buf + n);
      if (out.size() == 1 && out[0] != pw::ymodem::EOT) want = out[0] == pw::ymodem::STX ? 1029 : 133;
    }
    return true;
  }

  int fd_;
};

double Percentile(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  const std::size_t i = std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size() - 1) + 0.5));
  return v[i];
}

void Turnaround(const Options& o, Scratch& s) {
  const std::size_t blocks = o.quick ? 200 : 1000;
  const fs::path file = s.Folder("turn") / "DATA.PD3";
  std::mt19937 rng(2);
  std::string bytes(blocks * 1024, '\0');
  for (char& c : bytes) c = static_cast<char>(rng());
  pw::test::WriteWholeFile(file, bytes);

  PtyPair pty(s);
  StderrBoxes boxes;
  const auto device = pw::OpenPortDevice("COM1", 460800, pw::Alerts(boxes, kTitle));
  if (!device) return;
  EndView view;
  pw::TransferRequest q;
  q.TxFlag = true;
  q.TxFName = file;
  q.BhtFName = "DATA.PD3";
  const pw::Alerts alerts(boxes, kTitle);
  pw::TYmThread t(*device, pw::SystemClock(), view, alerts, q);
  std::vector<double> delays;
  bool peerOk = false;
  std::thread peer([&] { peerOk = TurnaroundPeer(pty.Master()).Run(delays); });
  t.Start();
  peer.join();
  if (!peerOk) t.EndCom();
  t.WaitFor();

  std::printf("\n### Sender turnaround on a pseudo-terminal (beyond the fixed %u ms pause)\n\n", pw::kTurnaroundMs);
  std::printf("| blocks | median ms | 90th percentile ms | max ms | result | target |\n|---:|---:|---:|---:|---:|---|\n");
  if (!peerOk || delays.empty()) {
    std::printf("| %zu | failed | | | %d | |\n", delays.size(), t.ErrorNo());
  } else {
    std::printf("| %zu | %.3f | %.3f | %.3f | %d | median < 1 ms |\n", delays.size(), Percentile(delays, 0.5),
                Percentile(delays, 0.9), *std::max_element(delays.begin(), delays.end()), t.ErrorNo());
  }
  std::fflush(stdout);
}

constexpr std::string_view kUsage =
    "usage: line_bench [--quick] [--size BYTES] [--speeds A,B] [--only throughput|idle|turnaround]\n"
    "                  [--linesim PATH] [--bhtsim PATH]\n";

// "115200,460800": line speeds in bit/s.
std::string ReadSpeeds(std::string_view list, std::vector<std::uint32_t>& speeds) {
  speeds.clear();
  for (std::size_t p = 0; p <= list.size();) {
    const std::size_t comma = std::min(list.find(',', p), list.size());
    std::int32_t speed = 0;
    if (!pw::ParseDecimal(list.substr(p, comma - p), speed) || speed == 0)
      return std::string(list) + " is not a list of speeds with commas between";
    speeds.push_back(static_cast<std::uint32_t>(speed));
    p = comma + 1;
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  using namespace pw::cli;
  Options o;
  OptionTable table;
  table.Add("--quick", Flag([&o] {
              o.quick = true;
              o.size = 256 * 1024;
            }));
  table.Add("--size",
            Number(
                o.size, [](std::uint64_t v) { return v >= 2048 && v % 1024 == 0; }, "a multiple of 1024 from 2048"));
  table.Add("--speeds", Value{true, [&o](std::string_view v) { return ReadSpeeds(v, o.speeds); }});
  table.Add("--only", Choice<std::string>(
                          o.only, {{"throughput", "throughput"}, {"idle", "idle"}, {"turnaround", "turnaround"}}));
  table.Add("--linesim", Path(o.linesim));
  table.Add("--bhtsim", Path(o.bhtsim));
  if (const auto status = ParseMain(table, argc, argv, "line_bench", kUsage, 2)) return *status;
  for (const char* program : {"sb", "rb", "socat"})
    if (!pw::test::OnPath(program)) {
      std::fprintf(stderr, "line_bench: %s is missing (Debian packages lrzsz and socat)\n", program);
      return 1;
    }
  Scratch s;
  std::printf("## line_bench%s\n", o.quick ? " --quick" : "");
  if (o.only.empty() || o.only == "turnaround") Turnaround(o, s);
  if (o.only.empty() || o.only == "idle") Idle(o, s);
  if (o.only.empty() || o.only == "throughput") Throughput(o, s);
  return 0;
}
