// Field lists, field-file texts and ".fld" files.
#include "content/field_file.h"

#include <algorithm>
#include <fstream>
#include <string>
#include <system_error>

namespace pw {

namespace {

constexpr std::size_t kSBufKeep = 10000;       // GetFldValue keeps this much after a key
constexpr std::size_t kMaxFldLine = 64 * 1024;  // first line of a ".fld" file

enum class Number { Ok, NotANumber, TooBig };

// A token of a received field file: ASCII digits only, 32-bit signed range.
Number ReadNumber(std::string_view s, std::int32_t& out) {
  out = 0;
  if (s.empty() || !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return Number::NotANumber;
  return ParseDecimal(s, out) ? Number::Ok : Number::TooBig;
}

bool ContainsAny(std::string_view s, std::initializer_list<std::string_view> parts) {
  return std::any_of(parts.begin(), parts.end(), [&](std::string_view p) { return s.find(p) != s.npos; });
}

}  // namespace

AnsiString CommasToBlanks(std::string_view list) {
  AnsiString out(list);
  std::replace(out.begin(), out.end(), ',', ' ');
  return out;
}

AnsiString BlanksToCommas(std::string_view list) {
  AnsiString out(list);
  std::replace(out.begin(), out.end(), ' ', ',');
  return out;
}

std::int32_t ParseFieldList(std::string_view list, FieldLayout& layout) {
  layout.iNFields = 0;
  if (list.empty()) return 0;
  const AnsiString trimmed = TrimB(list);
  std::string_view rest = trimmed;
  std::int32_t total = 0;
  bool valid = true;
  while (true) {
    // A blank first (two blanks in a row) gives an empty token, width 0.
    const std::size_t blank = rest.find(' ');
    std::int32_t width = 0;
    ParseDecimal(rest.substr(0, blank), width);
    if (width < 1 || width > kMaxFieldWidth || layout.iNFields >= kMaxFields) {
      valid = false;
      break;
    }
    layout.Field[layout.iNFields] = FieldEntry{total, width};
    total += width;  // at most 256 x 8192: no overflow
    ++layout.iNFields;
    if (blank == rest.npos) break;
    rest.remove_prefix(blank + 1);
  }
  if (!valid || total > kMaxRecordLength) total = 0;
  if (total == 0) layout.iNFields = 0;
  return total;
}

AnsiString FieldHeader(std::string_view bhtFName, std::int32_t fSize, std::int32_t iRecords,
                       std::int32_t iNFields, std::string_view fieldsDat) {
  AnsiString text = "* created by BHT\r\n";
  text += "file\t";
  text += bhtFName;
  text += "\r\nsize\t" + std::to_string(fSize);
  text += "\r\nrecords\t" + std::to_string(iRecords);
  text += iNFields == 1 ? "\r\nfield\t" : "\r\nfields\t";
  text += fieldsDat;
  text += "\r\n";
  return text;
}

AnsiString GetFldValue(AnsiString& sBuf, std::string_view key) {
  const std::size_t p = sBuf.find(key);
  if (p == sBuf.npos) return {};
  const std::size_t from = std::min(sBuf.size(), p + key.size() + 1);
  sBuf = sBuf.substr(from, kSBufKeep);
  const std::size_t q = sBuf.find("\r\n");
  if (q == sBuf.npos) return {};
  AnsiString value = sBuf.substr(0, q);
  sBuf = sBuf.substr(q + 2, kSBufKeep);
  return value;
}

bool ParseFieldFile(std::string_view received, FieldLayout& layout) {
  AnsiString sBuf(received);
  FieldLayout l;
  bool valid = [&] {
    l.ChkFName = GetFldValue(sBuf, "file");
    if (l.ChkFName.empty()) return false;

    AnsiString v = GetFldValue(sBuf, "size");
    if (v.empty() || ReadNumber(v, l.ChkSize) != Number::Ok || l.ChkSize == 0) return false;

    v = GetFldValue(sBuf, "records");
    if (v.empty()) v = GetFldValue(sBuf, "record");
    if (v.empty() || ReadNumber(v, l.iRecords) != Number::Ok || l.iRecords == 0) return false;

    v = GetFldValue(sBuf, "fields");
    if (v.empty()) v = GetFldValue(sBuf, "field");
    if (v.empty()) return false;
    l.FieldsDat = v;

    // Widths are not held to the send-side limits; a token that is not a
    // number still makes an entry of width 0, an empty token makes none.
    std::string_view rest = v;
    std::int64_t recSize = 0;
    while (!rest.empty()) {
      const std::size_t blank = rest.find(' ');
      const std::string_view token = rest.substr(0, blank);
      if (!token.empty()) {
        std::int32_t width = 0;
        if (ReadNumber(token, width) == Number::TooBig) return false;
        if (l.iNFields >= kMaxFields) return false;
        l.Field[l.iNFields] = FieldEntry{static_cast<std::int32_t>(recSize), width};
        ++l.iNFields;
        recSize += width;
        if (recSize > kMaxRecordUnit) return false;
      }
      if (blank == rest.npos) break;
      rest.remove_prefix(blank + 1);
    }
    l.iRecSize = static_cast<std::int32_t>(recSize);

    if (ContainsAny(l.ChkFName, {".LCS", ".BMP", ".JPG", ".WAV", ".ZIP"})) {
      l.iRecSize0 = l.iRecSize;
      return true;
    }
    if (l.ChkSize % l.iRecords != 0) return false;
    l.iRecSize0 = l.ChkSize / l.iRecords;
    return l.iRecSize <= l.iRecSize0 && l.iRecSize0 <= l.iRecSize + 2 && l.iRecSize0 <= kMaxRecordUnit;
  }();
  // An invalid field file leaves nothing behind that a data file could be
  // accepted with.
  if (valid)
    layout = l;
  else
    layout.Clear();
  return valid;
}

AnsiString ReadFldFile(const std::filesystem::path& sendFile) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path fld = sendFile;
  fld.replace_extension(".fld");
  if (!fs::is_regular_file(fld, ec)) {
    // Names compare without regard to case, as on Windows.
    const AnsiString wanted = LowerAscii(fld.filename().string());
    fld.clear();
    const fs::path dir = sendFile.has_parent_path() ? sendFile.parent_path() : fs::path(".");
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      if (LowerAscii(it->path().filename().string()) == wanted && it->is_regular_file(ec)) {
        fld = it->path();
        break;
      }
    }
    if (fld.empty()) return {};
  }
  std::ifstream in(fld, std::ios::binary);
  if (!in) return {};
  AnsiString line;
  char c;
  while (in.get(c) && c != '\n') {
    if (line.size() >= kMaxFldLine) return {};
    line.push_back(c);
  }
  if (in.bad()) return {};
  if (!line.empty() && line.back() == '\r') line.pop_back();

  line = LowerAscii(line);
  if (const std::size_t p = line.find("fields"); p != line.npos)
    line.erase(0, p + 6);
  else if (const std::size_t q = line.find("field"); q != line.npos)
    line.erase(0, q + 5);
  return TrimB(line);
}

}  // namespace pw
