// The transfer definition file TablinkCdf.Def: the only link between the
// definition editor, which writes it, and the table transfer server, which
// reads it. A plain run of 912-byte records: the header (record 0, the
// communication settings and where data go) and up to 20 definitions, each
// binding one terminal file name to a text file, sheet or table. Every text
// field is ANSI bytes, zero-terminated inside its width and zero-filled.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "common/ansi_string.h"
#include "platform/registry.h"

namespace pw::tablink {

inline constexpr std::size_t kRecordSize = 912;
inline constexpr std::int32_t kMaxDefinitions = 20;
inline constexpr std::int32_t kMaxMapFields = 24;
inline constexpr std::string_view kVersionMarker = "Ver2.00";
inline constexpr std::string_view kDefinitionFileName = "TablinkCdf.Def";
/// The machine-wide key whose WorkFolder value names the drive of the file.
inline constexpr std::string_view kMachineKey = "SOFTWARE\\Orvale\\Lindra";

using Record = std::array<std::uint8_t, kRecordSize>;

/// Kind of data store (SaveType).
enum SaveKind : std::int32_t { kSaveText = 0, kSaveExcel = 1, kSaveAccess = 2, kSaveTextFlag = 3 };
/// Direction of a definition (Vector).
enum Direction : std::int32_t { kToPc = 0, kToBht = 1, kBothWays = 2 };

/// Record 0. Texts are ANSI bytes.
struct DefinitionHeader {
  AnsiString VerStr;
  std::int32_t SaveType = kSaveText;
  AnsiString DataSource;
  std::int32_t ComPort = 0;  ///< 0 is COM1
  std::int32_t ComSpeed = 460800;
  bool HideForm = false;
  std::int32_t WriteMode = 1;  ///< 0 overwrite, 1 append
  bool SaveLog = false;
  std::int32_t LogFileMode = 0;
  AnsiString LogFolder;
};

/// Records 1 to N.
struct Definition {
  AnsiString BhtFile;
  std::int32_t Vector = kToPc;
  AnsiString SaveName;
  std::int32_t FieldCount = 0;
  std::array<std::int32_t, kMaxMapFields> FieldMap{};
  AnsiString FieldWidths;  ///< decimal widths separated by single blanks
  std::int32_t Delimiter = 0;  ///< 0 fixed length, 1 comma, 2 tab
  AnsiString LastSpace = "0";  ///< "1": trailing blanks of received fields are data

  bool KeepsTrailingBlanks() const { return LastSpace == "1"; }
};

/// The header's fields as stored (a text cut at its width - 1 bytes).
Record EncodeHeader(const DefinitionHeader& h);
Record EncodeDefinition(const Definition& d);

/// Which program reads a header: the server compares the marker on its first
/// seven characters, the editor on up to twelve.
enum class MarkerRule { Server, Editor };

/// Reads a header record by the reading rules: the marker compared by
/// \p rule (its result in \p markerMatched), ComPort clamped to 0..31, a
/// SaveType outside 0..3 (the byte read as signed) taken as 0, HideForm and
/// SaveLog true when non-zero, DataSource and LogFolder taken only when the
/// marker matched.
DefinitionHeader DecodeHeader(const Record& r, MarkerRule rule, bool& markerMatched);
Definition DecodeDefinition(const Record& r);

/// The old layout: the same offsets, every text a length byte followed by
/// its characters. ConvertOldHeader gives the header in the current layout
/// with the marker "Ver2.00"; ConvertOldDefinition turns the texts at 0 (up
/// to 12 bytes), 14, 396 and 653 (up to 255) into zero-terminated ones in
/// place.
Record ConvertOldHeader(const Record& old);
Record ConvertOldDefinition(const Record& old);

/// Where the working file is: the drive (WorkFolder of the machine key, its
/// first three characters, or the program folder's drive) + "Users\Public";
/// without that folder, the program folder; else + "\Tessaly", made when
/// missing (the program folder if that fails). \p folder gets the folder
/// found, the editor's default folder. On Linux, which has no drive letters,
/// WorkFolder names the folder that plays the drive as a whole, and without
/// it the system drive (SystemDrive()) plays it.
std::filesystem::path LocateDefinitionFile(Registry& registry, std::filesystem::path* folder = nullptr);

/// The file, record by record.
class DefinitionFile {
 public:
  DefinitionFile() = default;
  ~DefinitionFile() { Close(); }
  DefinitionFile(const DefinitionFile&) = delete;
  DefinitionFile& operator=(const DefinitionFile&) = delete;

  /// Opens an existing file for reading only (the server).
  bool OpenRead(const std::filesystem::path& path);
  /// Opens for reading and writing, creating the file empty when missing
  /// (the editor).
  bool OpenReadWrite(const std::filesystem::path& path);
  void Close();
  bool IsOpen() const { return f_ != nullptr; }

  /// File size / 912.
  std::int32_t RecordCount();
  bool ReadRecord(std::int32_t n, Record& r);
  /// Writes record \p n, at most one past the last (an append); false on a
  /// file opened for reading only.
  bool WriteRecord(std::int32_t n, const Record& r);
  bool AppendRecord(const Record& r) { return WriteRecord(RecordCount(), r); }
  /// Keeps records 0..n.
  bool TruncateAfter(std::int32_t n);

 private:
  std::FILE* f_ = nullptr;
  std::filesystem::path path_;
  bool writable_ = false;  ///< opened by OpenReadWrite
};

/// The definition a transfer of \p bhtName uses, searched in records 1 to
/// \p entrySize in order with an exact comparison. A send takes the first
/// record of the name and fails if it does not send (Vector 0); a receive
/// skips records of the name that do not receive. Nothing when none fits;
/// \p found tells whether a record of the name was seen at all.
std::optional<Definition> FindForSend(DefinitionFile& file, std::int32_t entrySize, std::string_view bhtName,
                                      bool* found = nullptr);
std::optional<Definition> FindForReceive(DefinitionFile& file, std::int32_t entrySize, std::string_view bhtName);

}  // namespace pw::tablink
