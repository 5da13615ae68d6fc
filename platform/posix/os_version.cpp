// POSIX only: the kernel's release numbers. Linux is a supported system, so it
// reports itself as of the NT family.
#include "platform/os_version.h"

#include <sys/utsname.h>

#include <cstdio>

namespace pw {

std::optional<OsVersion> GetOsVersion() {
  utsname u{};
  if (uname(&u) != 0) return std::nullopt;
  unsigned major = 0, minor = 0;
  if (std::sscanf(u.release, "%u.%u", &major, &minor) < 1) return std::nullopt;
  return OsVersion{true, major, minor};
}

}  // namespace pw
