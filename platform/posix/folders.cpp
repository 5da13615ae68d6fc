// POSIX only: the folders that play the Windows system drive, the temporary
// folder and the program folder.
#include "platform/folders.h"

#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace pw {

std::filesystem::path SystemDrive() {
  if (const char* drive = std::getenv("PORTWICK_DRIVE"); drive != nullptr && *drive != '\0') return drive;
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home != nullptr && *home != '\0' ? home : "/tmp") / ".local/share/portwick";
}

std::filesystem::path TempFolder() {
  if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0') return tmp;
  return "/tmp";
}

std::filesystem::path ProgramFolder() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::filesystem::current_path(ec);
  return exe.parent_path();
}

}  // namespace pw
