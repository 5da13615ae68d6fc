// Received files: names, raw bytes, field-file text, storing.
#include "content/received_file.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <system_error>
#include <vector>

#include "content/file_error.h"
#include "platform/codepage.h"

namespace pw {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxFieldFileText = 64 * 1024;

bool IsDeviceName(std::string_view name) {
  // Windows reserves these names with any extension, and ignores blanks
  // after them ("CON .PD3" is the console).
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  const AnsiString base = UpperAscii(stem);
  static constexpr std::string_view kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  if (std::find(std::begin(kDevices), std::end(kDevices), base) != std::end(kDevices)) return true;
  return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) && base[3] >= '1' &&
         base[3] <= '9';
}

// Copies the whole of \p from to the end of \p to.
bool CopyInto(const fs::path& from, std::ofstream& to) {
  std::ifstream in(from, std::ios::binary);
  if (!in) return false;
  std::vector<char> buf(256 * 1024);
  while (in) {
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    const std::streamsize n = in.gcount();
    if (n > 0 && !to.write(buf.data(), n)) return false;
  }
  return !in.bad();
}

// Writes the staging file beside the target: the target's old bytes first
// when appending, then the received ones.
bool WriteStaging(const fs::path& staging, const fs::path& tmp, const fs::path& target, bool withOld) {
  std::ofstream out(staging, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  std::error_code ec;
  if (withOld && fs::exists(target, ec) && !CopyInto(target, out)) return false;
  if (ec || !CopyInto(tmp, out)) return false;
  out.close();
  return !out.fail();
}

}  // namespace

bool IsPlainFileName(std::string_view ansiName) {
  // Windows drops a trailing blank or dot: "A.PD3." would be stored as
  // "A.PD3". This also refuses "." and "..".
  if (ansiName.empty() || ansiName.back() == ' ' || ansiName.back() == '.') return false;
  // Checked on the converted name: the second byte of a double-byte
  // character may be 0x5C, which is not a separator.
  const std::string utf8 = FromAnsi(ansiName);
  for (unsigned char c : utf8)
    if (c < 0x20 || c == 0x7F || std::strchr("/\\:<>\"|?*", c) != nullptr) return false;
  // Bytes that are not text in the code page would name another file.
  if (ToAnsi(utf8) != ansiName) return false;
  return !IsDeviceName(ansiName);
}

std::optional<fs::path> ReceivedFilePath(const fs::path& rxFolder, std::string_view ansiName) {
  if (!IsPlainFileName(ansiName)) return std::nullopt;
  const std::string utf8 = FromAnsi(ansiName);
  return rxFolder / fs::path(std::u8string(utf8.begin(), utf8.end()));
}

AnsiString ExpandDatePlaceholder(std::string_view name, const LocalTime& today) {
  const AnsiString date = ZeroPad(today.year % 100, 2) + ZeroPad(today.month, 2) + ZeroPad(today.day, 2);
  AnsiString out(name);
  for (std::size_t p = out.find("YYMMDD"); p != out.npos; p = out.find("YYMMDD", p + date.size()))
    out.replace(p, 6, date);
  return out;
}

bool StoreReceivedFile(const fs::path& tmp, const fs::path& rxFolder, std::string_view ansiName, StoreMode mode) {
  const std::optional<fs::path> target = ReceivedFilePath(rxFolder, ansiName);
  if (!target) return false;
  std::error_code ec;
  if (fs::is_directory(*target, ec)) return false;

  if (mode == StoreMode::Replace) {
    fs::rename(tmp, *target, ec);  // replaces the target in one step
    if (!ec) return true;
  }
  // Appending, or the temporary file lies on another volume: the new contents
  // are written beside the target first, then renamed over it.
  fs::path staging = *target;
  staging += ".~pw";
  bool ok = WriteStaging(staging, tmp, *target, mode == StoreMode::Append);
  if (ok) {
    fs::rename(staging, *target, ec);
    ok = !ec;
  }
  if (!ok) {
    fs::remove(staging, ec);
    return false;
  }
  if (mode == StoreMode::Replace) fs::remove(tmp, ec);
  return true;
}

bool RawReceiver::Open(const fs::path& tmp2, std::int32_t fSize) {
  if (ftmp2_.is_open()) ftmp2_.close();
  ftmp2_.clear();
  ftmp2_.open(tmp2, std::ios::binary | std::ios::trunc);
  fSize_ = fSize;
  written_ = 0;
  return ftmp2_.is_open();
}

void RawReceiver::AddBlock(std::span<const std::uint8_t> data) {
  const std::int64_t n = std::min<std::int64_t>(static_cast<std::int64_t>(data.size()), fSize_ - written_);
  if (n <= 0) return;
  if (!ftmp2_.write(reinterpret_cast<const char*>(data.data()), n)) throw FileError("temporary file 2 cannot be written");
  written_ += n;
}

void RawReceiver::Close() {
  if (!ftmp2_.is_open()) return;
  ftmp2_.close();
  if (ftmp2_.fail()) throw FileError("temporary file 2 cannot be written");
}

void FieldFileCollector::Begin() {
  sBuf_.clear();
  overflow_ = false;
}

void FieldFileCollector::AddBlock(std::span<const std::uint8_t> data) {
  if (overflow_ || sBuf_.size() + data.size() > kMaxFieldFileText) {
    overflow_ = true;
    return;
  }
  sBuf_.append(reinterpret_cast<const char*>(data.data()), data.size());
}

bool FieldFileCollector::Finish(FieldLayout& layout) {
  const bool valid = !overflow_ && ParseFieldFile(sBuf_, layout);
  if (!valid) layout.Clear();
  sBuf_.clear();
  return valid;
}

}  // namespace pw
