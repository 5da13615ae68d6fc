// The version of the operating system, for the programs' start-up checks.
#pragma once

#include <cstdint>
#include <optional>

namespace pw {

struct OsVersion {
  bool ntFamily = false;     ///< Windows NT family; Linux reports true (a supported system)
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
};

/// The running system's version, or nothing when it cannot be read.
std::optional<OsVersion> GetOsVersion();

/// True for an NT-family system of version major.minor or later.
inline bool IsNtAtLeast(const OsVersion& v, std::uint32_t major, std::uint32_t minor) {
  return v.ntFamily && (v.major > major || (v.major == major && v.minor >= minor));
}

}  // namespace pw
