// Registry values of the current user and of the machine. On Windows the real
// registry; on Linux one small text file per key under PORTWICK_DRIVE/registry,
// replaced atomically on every write.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pw {

enum class RegistryRoot { CurrentUser, LocalMachine };

class Registry {
 public:
  virtual ~Registry() = default;
  /// Key paths use backslashes ("Software\\Orvale\\Lindra\\PortwickDll").
  virtual bool KeyExists(RegistryRoot root, std::string_view key) = 0;
  /// Creates the key (and its parents) when missing; false on failure.
  virtual bool CreateKey(RegistryRoot root, std::string_view key) = 0;
  /// A string value (UTF-8), or nothing when missing or of another type.
  virtual std::optional<std::string> ReadString(RegistryRoot root, std::string_view key, std::string_view name) = 0;
  /// A DWORD value, or nothing when missing or of another type.
  virtual std::optional<std::uint32_t> ReadDword(RegistryRoot root, std::string_view key, std::string_view name) = 0;
  /// Writes a value, creating the key when missing; false on failure.
  virtual bool WriteString(RegistryRoot root, std::string_view key, std::string_view name, std::string_view value) = 0;
  virtual bool WriteDword(RegistryRoot root, std::string_view key, std::string_view name, std::uint32_t value) = 0;
};

/// True for a key path the system may use: parts separated by single
/// backslashes, none empty, ".", ".." or holding a slash or a zero byte.
inline bool ValidRegistryKey(std::string_view key) {
  if (key.empty()) return false;
  std::size_t begin = 0;
  for (;;) {
    std::size_t end = key.find('\\', begin);
    if (end == std::string_view::npos) end = key.size();
    const std::string_view part = key.substr(begin, end - begin);
    if (part.empty() || part == "." || part == ".." || part.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos)
      return false;
    if (end == key.size()) return true;
    begin = end + 1;
  }
}

/// The system's registry.
Registry& SystemRegistry();

}  // namespace pw
