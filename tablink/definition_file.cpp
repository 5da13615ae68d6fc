// The transfer definition file: record layouts, the reading rules, the old
// layout's conversion, where the file is, and record-wise access.
#include "tablink/definition_file.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "platform/folders.h"

namespace pw::tablink {
namespace {

namespace fs = std::filesystem;

// Header record.
constexpr std::size_t kVerStrAt = 0, kVerStrWidth = 13;
constexpr std::size_t kSaveTypeAt = 13;
constexpr std::size_t kDataSourceAt = 14, kDataSourceWidth = 256;
constexpr std::size_t kComPortAt = 272, kComSpeedAt = 276, kHideFormAt = 280, kWriteModeAt = 284, kSaveLogAt = 288,
                      kLogFileModeAt = 292;
constexpr std::size_t kLogFolderAt = 396, kLogFolderWidth = 256;

// Definition record.
constexpr std::size_t kBhtFileAt = 0, kBhtFileWidth = 13;
constexpr std::size_t kVectorAt = 13;
constexpr std::size_t kSaveNameAt = 14, kSaveNameWidth = 256;
constexpr std::size_t kFieldCountAt = 272, kFieldMapAt = 276;
constexpr std::size_t kFieldWidthsAt = 396, kFieldWidthsWidth = 256;
constexpr std::size_t kDelimiterAt = 652;
constexpr std::size_t kLastSpaceAt = 653, kLastSpaceWidth = 2;

constexpr std::int32_t kHighestComPort = 31;

// A text cut at width - 1 bytes; the zero-filled record supplies its end.
void PutText(Record& r, std::size_t at, std::size_t width, std::string_view text) {
  const std::size_t n = std::min(text.size(), width - 1);
  std::memcpy(r.data() + at, text.data(), n);
}

// The text up to its zero byte, at most the field's width.
AnsiString GetText(const Record& r, std::size_t at, std::size_t width) {
  const auto begin = r.begin() + static_cast<std::ptrdiff_t>(at);
  const auto end = begin + static_cast<std::ptrdiff_t>(width);
  return AnsiString(begin, std::find(begin, end, std::uint8_t{0}));
}

void PutInt(Record& r, std::size_t at, std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  for (std::size_t i = 0; i < 4; ++i) r[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::int32_t GetInt(const Record& r, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4; ++i) v |= std::uint32_t{r[at + i]} << (8 * i);
  return static_cast<std::int32_t>(v);
}

// The one-byte fields hold a signed value.
std::int32_t GetByte(const Record& r, std::size_t at) { return static_cast<std::int8_t>(r[at]); }
void PutByte(Record& r, std::size_t at, std::int32_t value) { r[at] = static_cast<std::uint8_t>(value); }

// The numeric fields of a header, current or old layout alike.
void DecodeNumbers(const Record& r, DefinitionHeader& h) {
  const std::int32_t saveType = GetByte(r, kSaveTypeAt);
  h.SaveType = saveType < kSaveText || saveType > kSaveTextFlag ? kSaveText : saveType;
  h.ComPort = std::clamp(GetInt(r, kComPortAt), 0, kHighestComPort);
  h.ComSpeed = GetInt(r, kComSpeedAt);
  h.HideForm = GetInt(r, kHideFormAt) != 0;
  h.WriteMode = GetInt(r, kWriteModeAt);
  h.SaveLog = GetInt(r, kSaveLogAt) != 0;
  h.LogFileMode = GetInt(r, kLogFileModeAt);
}

// A length byte and its characters, at most \p max of them.
AnsiString GetCounted(const Record& r, std::size_t at, std::size_t max) {
  const std::size_t n = std::min<std::size_t>(r[at], max);
  const auto begin = r.begin() + static_cast<std::ptrdiff_t>(at + 1);
  return AnsiString(begin, begin + static_cast<std::ptrdiff_t>(n));
}

// Moves the characters of a counted text one byte down and ends them with a
// zero, which lands on the old copy of the last character; the bytes behind
// stay as they were.
void CountedToZeroEnded(Record& r, std::size_t at, std::size_t max) {
  const std::size_t n = std::min<std::size_t>(r[at], max);
  std::memmove(r.data() + at, r.data() + at + 1, n);
  r[at + n] = 0;
}

fs::path PathFromUtf8(std::string_view utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

// The "Users\Public" folder of the drive that holds the file. On Windows the
// drive is the first three characters of WorkFolder, or of the program's own
// folder, and "Users\Public" is appended to them as text, as it has always
// been. On Linux there are no drive letters: a WorkFolder names the folder
// that plays the drive as a whole path, and without one the system drive
// (PORTWICK_DRIVE) plays it, as it does for the other programs' settings.
fs::path PublicFolder(Registry& registry) {
  const std::optional<std::string> work = registry.ReadString(RegistryRoot::LocalMachine, kMachineKey, "WorkFolder");
  const bool hasWork = work && !work->empty();
#ifdef _WIN32
  std::wstring drive = hasWork ? PathFromUtf8(*work).wstring() : ProgramFolder().wstring();
  drive.resize(std::min<std::size_t>(drive.size(), 3));
  return fs::path(drive + L"Users\\Public");
#else
  return (hasWork ? PathFromUtf8(*work) : SystemDrive()) / "Users" / "Public";
#endif
}

std::FILE* OpenFile(const fs::path& path, bool write) {
#ifdef _WIN32
  return _wfopen(path.c_str(), write ? L"r+b" : L"rb");
#else
  return std::fopen(path.c_str(), write ? "r+b" : "rb");
#endif
}

}  // namespace

Record EncodeHeader(const DefinitionHeader& h) {
  Record r{};
  PutText(r, kVerStrAt, kVerStrWidth, h.VerStr);
  PutByte(r, kSaveTypeAt, h.SaveType);
  PutText(r, kDataSourceAt, kDataSourceWidth, h.DataSource);
  PutInt(r, kComPortAt, h.ComPort);
  PutInt(r, kComSpeedAt, h.ComSpeed);
  PutInt(r, kHideFormAt, h.HideForm ? 1 : 0);
  PutInt(r, kWriteModeAt, h.WriteMode);
  PutInt(r, kSaveLogAt, h.SaveLog ? 1 : 0);
  PutInt(r, kLogFileModeAt, h.LogFileMode);
  PutText(r, kLogFolderAt, kLogFolderWidth, h.LogFolder);
  return r;
}

Record EncodeDefinition(const Definition& d) {
  Record r{};
  PutText(r, kBhtFileAt, kBhtFileWidth, d.BhtFile);
  PutByte(r, kVectorAt, d.Vector);
  PutText(r, kSaveNameAt, kSaveNameWidth, d.SaveName);
  PutInt(r, kFieldCountAt, d.FieldCount);
  for (std::size_t i = 0; i < d.FieldMap.size(); ++i) PutInt(r, kFieldMapAt + 4 * i, d.FieldMap[i]);
  PutText(r, kFieldWidthsAt, kFieldWidthsWidth, d.FieldWidths);
  PutByte(r, kDelimiterAt, d.Delimiter);
  PutText(r, kLastSpaceAt, kLastSpaceWidth, d.LastSpace);
  return r;
}

DefinitionHeader DecodeHeader(const Record& r, MarkerRule rule, bool& markerMatched) {
  DefinitionHeader h;
  h.VerStr = GetText(r, kVerStrAt, kVerStrWidth);
  // The server looks at the first seven characters only, so anything may
  // follow the marker; the editor compares up to twelve, so nothing may.
  const std::size_t compared = rule == MarkerRule::Server ? kVersionMarker.size() : 12;
  markerMatched = std::string_view(h.VerStr).substr(0, compared) == kVersionMarker;
  DecodeNumbers(r, h);
  if (markerMatched) {
    h.DataSource = GetText(r, kDataSourceAt, kDataSourceWidth);
    h.LogFolder = GetText(r, kLogFolderAt, kLogFolderWidth);
  }
  return h;
}

Definition DecodeDefinition(const Record& r) {
  Definition d;
  d.BhtFile = GetText(r, kBhtFileAt, kBhtFileWidth);
  d.Vector = GetByte(r, kVectorAt);
  d.SaveName = GetText(r, kSaveNameAt, kSaveNameWidth);
  d.FieldCount = GetInt(r, kFieldCountAt);
  for (std::size_t i = 0; i < d.FieldMap.size(); ++i) d.FieldMap[i] = GetInt(r, kFieldMapAt + 4 * i);
  d.FieldWidths = GetText(r, kFieldWidthsAt, kFieldWidthsWidth);
  d.Delimiter = GetByte(r, kDelimiterAt);
  d.LastSpace = GetText(r, kLastSpaceAt, kLastSpaceWidth);
  return d;
}

Record ConvertOldHeader(const Record& old) {
  // The numbers are read by the current rules, so the rewritten header holds
  // them as the programs would see them.
  DefinitionHeader h;
  DecodeNumbers(old, h);
  h.VerStr = kVersionMarker;
  h.DataSource = GetCounted(old, kDataSourceAt, kDataSourceWidth - 1);
  h.LogFolder = GetCounted(old, kLogFolderAt, kLogFolderWidth - 1);
  return EncodeHeader(h);
}

Record ConvertOldDefinition(const Record& old) {
  Record r = old;
  CountedToZeroEnded(r, kBhtFileAt, kBhtFileWidth - 1);
  CountedToZeroEnded(r, kSaveNameAt, kSaveNameWidth - 1);
  CountedToZeroEnded(r, kFieldWidthsAt, kFieldWidthsWidth - 1);
  CountedToZeroEnded(r, kLastSpaceAt, 255);  // the old layout gave this text 256 bytes
  return r;
}

std::filesystem::path LocateDefinitionFile(Registry& registry, std::filesystem::path* folder) {
  std::error_code ec;
  fs::path found = ProgramFolder();
  const fs::path pub = PublicFolder(registry);
  if (fs::is_directory(pub, ec)) {
    const fs::path tessaly = pub / "Tessaly";
    if (!fs::exists(tessaly, ec)) fs::create_directory(tessaly, ec);
    if (fs::is_directory(tessaly, ec)) found = tessaly;
  }
  if (folder) *folder = found;
  return found / kDefinitionFileName;
}

// ---------------------------------------------------------------------------
// DefinitionFile

bool DefinitionFile::OpenRead(const std::filesystem::path& path) {
  Close();
  f_ = OpenFile(path, false);
  path_ = path;
  writable_ = false;
  return f_ != nullptr;
}

bool DefinitionFile::OpenReadWrite(const std::filesystem::path& path) {
  Close();
  std::error_code ec;
  // An existing file that cannot be opened stays as it is: only a missing
  // one is created.
  if (fs::exists(path, ec)) {
    f_ = OpenFile(path, true);
  } else if (!ec) {
#ifdef _WIN32
    f_ = _wfopen(path.c_str(), L"w+b");
#else
    f_ = std::fopen(path.c_str(), "w+b");
#endif
  }
  path_ = path;
  writable_ = f_ != nullptr;
  return f_ != nullptr;
}

void DefinitionFile::Close() {
  if (f_) std::fclose(f_);
  f_ = nullptr;
  writable_ = false;
}

std::int32_t DefinitionFile::RecordCount() {
  if (!f_ || std::fseek(f_, 0, SEEK_END) != 0) return 0;
  const long size = std::ftell(f_);
  return size < 0 ? 0 : static_cast<std::int32_t>(size / static_cast<long>(kRecordSize));
}

bool DefinitionFile::ReadRecord(std::int32_t n, Record& r) {
  if (!f_ || n < 0 || std::fseek(f_, static_cast<long>(n) * static_cast<long>(kRecordSize), SEEK_SET) != 0)
    return false;
  return std::fread(r.data(), 1, r.size(), f_) == r.size();
}

bool DefinitionFile::WriteRecord(std::int32_t n, const Record& r) {
  // At most one past the last record: the file never has a gap.
  if (!writable_ || n < 0 || n > RecordCount() ||
      std::fseek(f_, static_cast<long>(n) * static_cast<long>(kRecordSize), SEEK_SET) != 0)
    return false;
  return std::fwrite(r.data(), 1, r.size(), f_) == r.size() && std::fflush(f_) == 0;
}

bool DefinitionFile::TruncateAfter(std::int32_t n) {
  if (!writable_ || n < 0) return false;
  if (n + 1 >= RecordCount()) return true;  // nothing behind record n
  if (std::fflush(f_) != 0) return false;
  std::error_code ec;
  fs::resize_file(path_, static_cast<std::uintmax_t>(n + 1) * kRecordSize, ec);
  // The stream's buffer and position are stale after the cut.
  std::rewind(f_);
  return !ec;
}

// ---------------------------------------------------------------------------
// Lookup

std::optional<Definition> FindForSend(DefinitionFile& file, std::int32_t entrySize, std::string_view bhtName,
                                      bool* found) {
  if (found) *found = false;
  Record r;
  for (std::int32_t n = 1; n <= entrySize && file.ReadRecord(n, r); ++n) {
    Definition d = DecodeDefinition(r);
    if (d.BhtFile != bhtName) continue;
    if (found) *found = true;
    if (d.Vector == kToBht || d.Vector == kBothWays) return d;
    return std::nullopt;
  }
  return std::nullopt;
}

std::optional<Definition> FindForReceive(DefinitionFile& file, std::int32_t entrySize, std::string_view bhtName) {
  Record r;
  for (std::int32_t n = 1; n <= entrySize && file.ReadRecord(n, r); ++n) {
    Definition d = DecodeDefinition(r);
    if (d.BhtFile == bhtName && (d.Vector == kToPc || d.Vector == kBothWays)) return d;
  }
  return std::nullopt;
}

}  // namespace pw::tablink
