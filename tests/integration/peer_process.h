// POSIX only: another program at the far end of a line, for the interop tests
// and the line benchmark (lrzsz through socat, the line simulator, the
// terminal simulator). It runs in a process group of its own, so that a peer
// that starts helpers (socat's shell and rb) is ended as a whole, and it is
// always ended: a peer that hangs at the very end is killed, never waited for
// without a limit.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace pw::test {

struct PeerOptions {
  std::vector<std::string> argv;     ///< the program (looked up on PATH) and its arguments
  std::filesystem::path cwd;         ///< working folder; empty: ours
  std::filesystem::path stdio;       ///< opened read-write as its stdin and stdout; empty: /dev/null
  std::filesystem::path stderrFile;  ///< its stderr, appended; empty: /dev/null
};

class PeerProcess {
 public:
  /// Starts the program; Running() tells whether that worked.
  explicit PeerProcess(const PeerOptions& options);
  /// Kill() if it still runs.
  ~PeerProcess();
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  pid_t Pid() const { return pid_; }
  bool Running();
  /// Waits up to \p ms for it to exit; true when it has.
  bool WaitExit(std::uint32_t ms);
  /// Its exit code once it has exited by itself, else -1 (killed, or running).
  int ExitCode() const { return exitCode_; }
  /// SIGTERM to its process group, SIGKILL after \p graceMs, and reaps it.
  /// True when it had to be killed (it was still running).
  bool Kill(std::uint32_t graceMs = 1000);

 private:
  void Reaped(int status);

  pid_t pid_ = -1;
  bool reaped_ = true;
  bool groupEnded_ = false;
  int exitCode_ = -1;
};

/// Waits up to \p ms until \p path exists (a link made by socat or linesim).
bool WaitForPath(const std::filesystem::path& path, std::uint32_t ms);

/// Waits up to \p ms until a process named \p comm runs below \p ancestor
/// (rb or sb started by socat through a shell).
bool WaitForDescendant(pid_t ancestor, std::string_view comm, std::uint32_t ms);

/// True if \p program is found on PATH.
bool OnPath(std::string_view program);

/// The whole contents of a file as bytes; empty when it cannot be read.
std::string ReadWholeFile(const std::filesystem::path& path);

/// Writes \p bytes as the whole contents of \p path.
void WriteWholeFile(const std::filesystem::path& path, std::string_view bytes);

}  // namespace pw::test
