// Received files: where a received name may be stored, the raw bytes and the
// field-file text as blocks arrive, and putting a completed file in place.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <span>
#include <string_view>

#include "common/ansi_string.h"
#include "content/field_file.h"
#include "platform/clock.h"

namespace pw {

/// True if \p ansiName (ANSI bytes) can only name a file directly inside a
/// folder: not empty, no path separator, drive colon, control byte or other
/// byte Windows refuses in names (<>"|?*), no blank or dot at its end (which
/// Windows drops; this covers "." and ".."), and not a Windows device name
/// (CON, NUL, COM1, ...) with any extension, blanks after it included.
bool IsPlainFileName(std::string_view ansiName);

/// \p rxFolder / \p ansiName, the name converted from the ANSI code page;
/// nothing if the name is not a plain file name.
std::optional<std::filesystem::path> ReceivedFilePath(const std::filesystem::path& rxFolder,
                                                      std::string_view ansiName);

/// \p name with every "YYMMDD" replaced by \p today as two-digit year, month
/// and day (8 January 2026: "260108").
AnsiString ExpandDatePlaceholder(std::string_view name, const LocalTime& today);

enum class StoreMode {
  Replace,  ///< the received file takes the place of an existing one
  Append,   ///< the received bytes follow those of an existing file
};

/// Puts the completed temporary file \p tmp in place as \p rxFolder /
/// \p ansiName. The target changes in one step (a rename over it), only once
/// the new contents are complete; if anything fails it stays as it was and
/// false is returned (result 12). Replace moves \p tmp; Append leaves it.
bool StoreReceivedFile(const std::filesystem::path& tmp, const std::filesystem::path& rxFolder,
                       std::string_view ansiName, StoreMode mode);

/// Receive side of a raw kind: the blocks' bytes go to temporary file 2, at
/// most the announced size in all (the fill of the last block is dropped).
class RawReceiver {
 public:
  /// Creates temporary file 2 empty. False if it cannot be created.
  bool Open(const std::filesystem::path& tmp2, std::int32_t fSize);
  /// Writes the bytes of one accepted block. Throws FileError.
  void AddBlock(std::span<const std::uint8_t> data);
  /// Closes temporary file 2. Throws FileError if it cannot be written.
  void Close();
  bool IsOpen() const { return ftmp2_.is_open(); }
  std::int64_t Written() const { return written_; }

 private:
  std::ofstream ftmp2_;
  std::int64_t fSize_ = 0, written_ = 0;
};

/// Receive side of a field file: its blocks are gathered as text and read at
/// EOT. Gathering stops at 64 KiB (a field file is a few lines); a longer one
/// is invalid.
class FieldFileCollector {
 public:
  void Begin();
  void AddBlock(std::span<const std::uint8_t> data);
  /// ParseFieldFile on what was gathered (into \p layout); false = result 15.
  bool Finish(FieldLayout& layout);

 private:
  AnsiString sBuf_;
  bool overflow_ = false;
};

}  // namespace pw
