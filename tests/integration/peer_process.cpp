// POSIX only: starting, waiting for and ending a peer program.
#include "tests/integration/peer_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <thread>

namespace pw::test {

namespace {

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds Ms(std::uint32_t ms) { return std::chrono::milliseconds(ms); }

// In the child, before exec: only async-signal-safe calls.
[[noreturn]] void ExecChild(const PeerOptions& o, const std::vector<char*>& argv) {
  setpgid(0, 0);
  if (!o.cwd.empty() && chdir(o.cwd.c_str()) != 0) _exit(126);
  const int io = o.stdio.empty() ? open("/dev/null", O_RDWR) : open(o.stdio.c_str(), O_RDWR | O_NOCTTY);
  const int err = o.stderrFile.empty() ? open("/dev/null", O_WRONLY)
                                       : open(o.stderrFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (io < 0 || err < 0) _exit(126);
  dup2(io, STDIN_FILENO);
  dup2(io, STDOUT_FILENO);
  dup2(err, STDERR_FILENO);
  if (io > STDERR_FILENO) close(io);
  if (err > STDERR_FILENO) close(err);
  execvp(argv[0], argv.data());
  _exit(127);
}

// Parent of every process, from /proc/<pid>/stat ("pid (comm) state ppid ...").
std::map<pid_t, std::pair<pid_t, std::string>> ProcessTable() {
  std::map<pid_t, std::pair<pid_t, std::string>> table;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(entry.path() / "stat");
    const std::string stat((std::istreambuf_iterator<char>(in)), {});
    const std::size_t open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close + 4 > stat.size()) continue;
    const pid_t ppid = static_cast<pid_t>(std::atoi(stat.c_str() + close + 4));
    table[static_cast<pid_t>(std::atoi(name.c_str()))] = {ppid, stat.substr(open + 1, close - open - 1)};
  }
  return table;
}

}  // namespace

PeerProcess::PeerProcess(const PeerOptions& options) {
  std::vector<char*> argv;
  for (const std::string& a : options.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  if (argv.size() < 2) return;
  const pid_t pid = fork();
  if (pid == 0) ExecChild(options, argv);
  if (pid < 0) return;
  setpgid(pid, pid);  // also here, so that Kill never races the child's own call
  pid_ = pid;
  reaped_ = false;
}

PeerProcess::~PeerProcess() { Kill(); }

void PeerProcess::Reaped(int status) {
  reaped_ = true;
  exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool PeerProcess::Running() {
  if (reaped_) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) Reaped(status);
  return !reaped_;
}

bool PeerProcess::WaitExit(std::uint32_t ms) {
  const auto deadline = Clock::now() + Ms(ms);
  while (Running()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(Ms(5));
  }
  return true;
}

bool PeerProcess::Kill(std::uint32_t graceMs) {
  if (pid_ <= 0 || groupEnded_) return false;
  const bool wasRunning = Running();
  if (wasRunning) {
    kill(-pid_, SIGTERM);
    if (!WaitExit(graceMs)) {
      kill(-pid_, SIGKILL);
      int status = 0;
      waitpid(pid_, &status, 0);
      reaped_ = true;
    }
    exitCode_ = -1;
  }
  // Helpers it left behind (a shell's child) go with its group; the group's
  // id cannot be taken by another process while any member lives.
  kill(-pid_, SIGKILL);
  groupEnded_ = true;
  return wasRunning;
}

bool WaitForPath(const std::filesystem::path& path, std::uint32_t ms) {
  const auto deadline = Clock::now() + Ms(ms);
  std::error_code ec;
  while (!std::filesystem::exists(path, ec)) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(Ms(5));
  }
  return true;
}

bool WaitForDescendant(pid_t ancestor, std::string_view comm, std::uint32_t ms) {
  const auto deadline = Clock::now() + Ms(ms);
  for (;;) {
    const auto table = ProcessTable();
    for (const auto& [pid, info] : table) {
      if (info.second != comm) continue;
      // Walk up the parents, a bounded number of steps.
      pid_t p = info.first;
      for (int i = 0; i < 16 && p > 1; ++i) {
        if (p == ancestor) return true;
        const auto up = table.find(p);
        if (up == table.end()) break;
        p = up->second.first;
      }
    }
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(Ms(5));
  }
}

bool OnPath(std::string_view program) {
  const char* path = std::getenv("PATH");
  std::string_view rest = path ? path : "/usr/bin:/bin";
  while (!rest.empty()) {
    const std::size_t colon = rest.find(':');
    const std::filesystem::path candidate = std::filesystem::path(rest.substr(0, colon)) / program;
    if (access(candidate.c_str(), X_OK) == 0) return true;
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return false;
}

std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

void WriteWholeFile(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace pw::test
