// The workbook store: one sheet of an .xlsx workbook as a table.
//
// Libraries: libzip for the archive, and the small scanner of sheet_xml.h for
// the XML. libzip reads entries as streams, and rewriting an archive with one
// entry replaced copies every other entry's compressed bytes as they are; its
// zip_close writes the new archive to a temporary file beside the old one
// and renames it over the old one, so a failed write leaves the workbook as it
// was. A document tree (pugixml) would cost several times a large sheet's
// part; the scanner instead notes where each row lies in the part and reads a
// row's cells only when the row is visited. libxlsxwriter writes new
// workbooks only and could not keep the other parts of an existing one.
//
// A sheet: its first row holding a value is the header; its cells with text,
// in order, are the columns. The rows below it that hold a value are the data
// rows (rows of formatting only are none). Received rows go, as rendered XML,
// to a spill file beside the workbook, so memory does not grow with them; the
// commit streams the part anew into the archive: the part's text before the
// rows, the rows kept, the spilled rows, the text after them. Every cell is
// written as an inline string: codes keep their leading zeros, and the shared
// strings part stays as it is (shared strings would have to be rewritten and
// their index held in memory).
#include "tablink/stores/workbook_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "platform/codepage.h"
#include "tablink/stores/sheet_xml.h"

namespace pw::tablink {

namespace {

namespace fs = std::filesystem;
using xlsx::Scanner;
using xlsx::Token;

constexpr std::uint64_t kMaxPart = std::uint64_t{1} << 30;        // a sheet or the shared strings
constexpr std::uint64_t kMaxSmallPart = std::uint64_t{16} << 20;  // the workbook, relationships, content types
constexpr int kDeflateLevel = 1;

bool IsAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}
// Most cells are ASCII, which both code pages share.
AnsiString AnsiOf(std::string_view utf8) { return IsAscii(utf8) ? AnsiString(utf8) : ToAnsi(utf8); }
std::string Utf8Of(std::string_view ansi) { return IsAscii(ansi) ? std::string(ansi) : FromAnsi(ansi); }

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string PathText(const fs::path& p) {
  const std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

// ---------------------------------------------------------------------------
// The archive

struct ZipDiscard {
  void operator()(zip_t* z) const { zip_discard(z); }
};
using Zip = std::unique_ptr<zip_t, ZipDiscard>;

/// What tells that the workbook file is still the one read.
struct FileId {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  std::int64_t mtimeNs = 0;
  bool operator==(const FileId&) const = default;
};

bool StatFile(const fs::path& file, FileId& id, std::string& why) {
  struct stat st {};
  if (stat(file.c_str(), &st) != 0) {
    why = PathText(file) + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    why = PathText(file) + " is not a file";
    return false;
  }
  id = {st.st_dev, st.st_ino, st.st_size, std::int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec};
  return true;
}

Zip OpenArchive(const fs::path& file, int flags, std::string& why) {
  int code = 0;
  zip_t* z = zip_open(file.c_str(), flags | ZIP_CHECKCONS, &code);
  if (!z) {
    zip_error_t e;
    zip_error_init_with_code(&e, code);
    why = PathText(file) + " is no workbook: " + zip_error_strerror(&e);
    zip_error_fini(&e);
  }
  return Zip(z);
}

/// The entry of part \p name: as named, else ignoring case, as part names are.
bool Locate(zip_t* z, const std::string& name, zip_uint64_t& index) {
  zip_int64_t i = zip_name_locate(z, name.c_str(), ZIP_FL_ENC_RAW);
  if (i < 0) i = zip_name_locate(z, name.c_str(), ZIP_FL_ENC_RAW | ZIP_FL_NOCASE);
  if (i < 0) return false;
  index = static_cast<zip_uint64_t>(i);
  return true;
}

bool ReadEntry(zip_t* z, const std::string& name, std::uint64_t cap, std::string& out, std::string& why) {
  out.clear();
  zip_uint64_t index = 0;
  zip_stat_t st;
  if (!Locate(z, name, index) || zip_stat_index(z, index, 0, &st) != 0) {
    why = "the workbook has no part " + name;
    return false;
  }
  if ((st.valid & ZIP_STAT_SIZE) && st.size > cap) {
    why = "the part " + name + " is too large";
    return false;
  }
  zip_file_t* f = zip_fopen_index(z, index, 0);
  if (!f) {
    why = "the part " + name + " cannot be read: " + zip_strerror(z);
    return false;
  }
  // A size the entry only claims reserves no more than a modest start.
  if (st.valid & ZIP_STAT_SIZE) out.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(st.size, 64 << 20)));
  char buffer[65536];
  for (;;) {
    const zip_int64_t n = zip_fread(f, buffer, sizeof buffer);
    if (n < 0 || out.size() + static_cast<std::uint64_t>(n) > cap) {
      why = "the part " + name + (n < 0 ? std::string(" cannot be read: ") + zip_file_strerror(f) : " is too large");
      zip_fclose(f);
      out.clear();
      return false;
    }
    if (n == 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  zip_fclose(f);
  return true;
}

// ---------------------------------------------------------------------------
// The parts that name the sheets

std::string FolderOf(const std::string& part) {
  const std::size_t slash = part.rfind('/');
  return slash == std::string::npos ? std::string() : part.substr(0, slash + 1);
}

std::string RelsOf(const std::string& part) {
  const std::string folder = FolderOf(part);
  return folder + "_rels/" + part.substr(folder.size()) + ".rels";
}

/// The part a relationship's target names, relative to \p folder; false
/// for one that leaves the package.
bool Resolve(const std::string& folder, std::string_view target, std::string& part) {
  const std::string path = target.starts_with('/') ? std::string(target.substr(1)) : folder + std::string(target);
  std::vector<std::string> segments;
  for (std::size_t b = 0; b <= path.size();) {
    std::size_t e = path.find('/', b);
    if (e == std::string::npos) e = path.size();
    const std::string seg = path.substr(b, e - b);
    if (seg == "..") {
      if (segments.empty()) return false;
      segments.pop_back();
    } else if (!seg.empty() && seg != ".") {
      segments.push_back(seg);
    }
    b = e + 1;
  }
  part.clear();
  for (const auto& s : segments) part += (part.empty() ? "" : "/") + s;
  return !part.empty();
}

bool TypeIs(std::string_view type, std::string_view last) {
  return type.size() > last.size() && type.ends_with(last) && type[type.size() - last.size() - 1] == '/';
}

struct Relationship {
  std::string type, part;
};

// The internal relationships of \p part ("" for the package), by id.
bool ReadRelationships(zip_t* z, const std::string& part, std::map<std::string, Relationship>& rels, std::string& why) {
  std::string xml;
  if (!ReadEntry(z, RelsOf(part), kMaxSmallPart, xml, why)) return false;
  Scanner s(xml);
  for (Token t = s.Next(); t.kind != Token::End; t = s.Next()) {
    if (t.kind == Token::Error) {
      why = "the relationships of " + (part.empty() ? std::string("the workbook") : part) + " are damaged";
      return false;
    }
    if ((t.kind != Token::Open && t.kind != Token::Empty) || t.name != "Relationship") continue;
    if (xlsx::Attr(t.attrs, "TargetMode") == "External") continue;
    Relationship r{xlsx::Attr(t.attrs, "Type"), {}};
    if (Resolve(FolderOf(part), xlsx::Attr(t.attrs, "Target"), r.part)) rels[xlsx::Attr(t.attrs, "Id")] = r;
  }
  return true;
}

struct Book {
  struct SheetRef {
    std::string name;  // UTF-8
    std::string part;
  };
  std::string workbook;
  std::vector<SheetRef> sheets;  // worksheets only, in the workbook's order
  std::string sharedStrings, calcChain;
};

bool ReadBook(zip_t* z, Book& book, std::string& why) {
  std::map<std::string, Relationship> rels;
  if (!ReadRelationships(z, "", rels, why)) return false;
  for (const auto& [id, r] : rels)
    if (TypeIs(r.type, "officeDocument")) book.workbook = r.part;
  if (book.workbook.empty()) {
    why = "the workbook names no main part";
    return false;
  }
  std::string xml;
  std::map<std::string, Relationship> parts;
  if (!ReadEntry(z, book.workbook, kMaxSmallPart, xml, why) || !ReadRelationships(z, book.workbook, parts, why))
    return false;
  for (const auto& [id, r] : parts) {
    if (TypeIs(r.type, "sharedStrings")) book.sharedStrings = r.part;
    if (TypeIs(r.type, "calcChain")) book.calcChain = r.part;
  }
  Scanner s(xml);
  for (Token t = s.Next(); t.kind != Token::End; t = s.Next()) {
    if (t.kind == Token::Error) {
      why = "the part " + book.workbook + " is damaged";
      return false;
    }
    if ((t.kind != Token::Open && t.kind != Token::Empty) || t.name != "sheet") continue;
    std::string_view raw;
    std::string id;
    if (!xlsx::FindPrefixedAttr(t.attrs, "id", raw)) continue;
    xlsx::AppendDecoded(raw, id);
    const auto it = parts.find(id);
    if (it != parts.end() && TypeIs(it->second.type, "worksheet"))
      book.sheets.push_back({xlsx::Attr(t.attrs, "name"), it->second.part});
  }
  return true;
}

/// The sheet \p utf8Name names: as written, else ignoring ASCII case, else
/// in the form ADO gives Excel's sheets ("Sheet1$", "'My sheet$'").
const Book::SheetRef* FindSheet(const Book& book, std::string_view utf8Name) {
  std::string bare(utf8Name);
  if (bare.size() >= 2 && bare.front() == '\'' && bare.back() == '\'') bare = bare.substr(1, bare.size() - 2);
  if (bare.ends_with('$')) bare.pop_back();
  for (const std::string& want : {std::string(utf8Name), bare}) {
    for (const auto& s : book.sheets)
      if (s.name == want) return &s;
    for (const auto& s : book.sheets)
      if (Lower(s.name) == Lower(want)) return &s;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// Cells

/// The shared strings, as ANSI text.
struct SharedStrings {
  std::string text;
  std::vector<std::size_t> ends;
  bool Get(std::uint32_t i, std::string_view& s) const {
    if (i >= ends.size()) return false;
    const std::size_t b = i == 0 ? 0 : ends[i - 1];
    s = std::string_view(text).substr(b, ends[i] - b);
    return true;
  }
};

// The text of a rich text element (a shared string, an inline string): its
// runs' text, the phonetic guides left out.
bool ReadRich(Scanner& s, const Token& open, std::string& out) {
  if (open.kind != Token::Open) return open.kind == Token::Empty;
  for (int depth = 1;;) {
    const Token t = s.Next();
    if (t.kind == Token::End || t.kind == Token::Error) return false;
    if (t.kind == Token::Close && --depth == 0) return true;
    if (t.kind != Token::Open) continue;
    if (t.name == "t") {
      if (!s.ReadText(t, out)) return false;
    } else if (t.name == "r") {
      ++depth;
    } else if (!s.Skip(t)) {
      return false;
    }
  }
}

bool ReadSharedStrings(zip_t* z, const std::string& part, SharedStrings& strings, std::string& why) {
  std::string xml;
  if (!ReadEntry(z, part, kMaxPart, xml, why)) return false;
  Scanner s(xml);
  std::string one;
  for (Token t = s.Next(); t.kind != Token::End; t = s.Next()) {
    if (t.kind == Token::Error) {
      why = "the part " + part + " is damaged";
      return false;
    }
    if ((t.kind != Token::Open && t.kind != Token::Empty) || t.name != "si") continue;
    one.clear();
    if (!ReadRich(s, t, one)) {
      why = "the part " + part + " is damaged";
      return false;
    }
    xlsx::DecodeEscapes(one);
    strings.text += AnsiOf(one);
    strings.ends.push_back(strings.text.size());
  }
  return true;
}

/// Calls \p cell(column, text, isAnsi) for each cell of the row \p xml that
/// holds a value. Malformed markup ends the row.
template <typename F>
void ReadCells(std::string_view xml, const SharedStrings& strings, F&& cell) {
  Scanner s(xml);
  if (s.Next().kind != Token::Open) return;  // <row .../> has no cells
  std::uint32_t col = 0;
  std::string value;
  for (;;) {
    const Token c = s.Next();
    if (c.kind != Token::Open && c.kind != Token::Empty) return;  // </row>, or the end
    if (c.name != "c") {
      if (!s.Skip(c)) return;
      continue;
    }
    std::string_view ref;
    const std::uint32_t at = xlsx::FindAttr(c.attrs, "r", ref) ? xlsx::ColumnOf(ref) : 0;
    col = at != 0 ? at : col + 1;
    if (c.kind == Token::Empty) continue;
    std::string_view type = "n";
    xlsx::FindAttr(c.attrs, "t", type);
    value.clear();
    bool has = false;
    for (;;) {
      const Token t = s.Next();
      if (t.kind == Token::Close) break;
      if (t.kind == Token::End || t.kind == Token::Error) return;
      if (t.name == "v" && t.kind == Token::Open) {
        if (!s.ReadText(t, value)) return;
        has = true;
      } else if (t.name == "is" && t.kind == Token::Open) {
        if (!ReadRich(s, t, value)) return;
        has = true;
      } else if (!s.Skip(t)) {
        return;
      }
    }
    if (!has) continue;
    if (type == "s") {
      std::uint32_t i = 0;
      std::string_view text;
      const std::size_t b = value.find_first_not_of(" \t\r\n"), e = value.find_last_not_of(" \t\r\n");
      if (b != std::string::npos && xlsx::ParseNumber(std::string_view(value).substr(b, e - b + 1), i) &&
          strings.Get(i, text))
        cell(col, text, true);
    } else if (type == "b") {
      cell(col, value == "1" ? "TRUE" : value == "0" ? "FALSE" : std::string_view(value), false);
    } else {
      if (type == "inlineStr" || type == "str") xlsx::DecodeEscapes(value);
      cell(col, std::string_view(value), false);
    }
  }
}

// ---------------------------------------------------------------------------
// The spill file: rows received, as the part's XML, until the commit.

class Spill {
 public:
  Spill() = default;
  Spill(const Spill&) = delete;
  Spill& operator=(const Spill&) = delete;
  ~Spill() { Clear(); }

  std::uint64_t Size() const { return size_; }

  /// Appends \p bytes; the file is made on the first call, unnamed, in
  /// \p folder (the workbook's, which is on a disk rather than in memory).
  bool Append(const fs::path& folder, std::string_view bytes, std::string& why) {
    if (fd_ < 0 && !Create(folder, why)) return false;
    buffer_.append(bytes);
    size_ += bytes.size();
    return buffer_.size() < kBuffer || Flush(why);
  }
  /// Up to \p n bytes from \p offset.
  bool Read(std::uint64_t offset, char* out, std::size_t n, std::size_t& got, std::string& why) {
    got = 0;
    if (!Flush(why)) return false;
    n = static_cast<std::size_t>(std::min<std::uint64_t>(n, size_ > offset ? size_ - offset : 0));
    while (got < n) {
      const ssize_t r = pread(fd_, out + got, n - got, static_cast<off_t>(offset + got));
      if (r <= 0) {
        why = std::string("the rows received cannot be read back: ") + (r < 0 ? std::strerror(errno) : "short file");
        return false;
      }
      got += static_cast<std::size_t>(r);
    }
    return true;
  }
  bool Flush(std::string& why) {
    for (std::size_t done = 0; done < buffer_.size();) {
      const ssize_t w = write(fd_, buffer_.data() + done, buffer_.size() - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        why = std::string("the rows received cannot be kept: ") + std::strerror(w < 0 ? errno : ENOSPC);
        return false;
      }
      done += static_cast<std::size_t>(w);
    }
    buffer_.clear();
    return true;
  }
  void Clear() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    size_ = 0;
    buffer_.clear();
  }

 private:
  static constexpr std::size_t kBuffer = 1 << 16;

  bool Create(const fs::path& folder, std::string& why) {
    fd_ = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ < 0) {  // a file system without unnamed files
      std::string name = PathText(folder / ".tablink-rows-XXXXXX");
      fd_ = mkostemp(name.data(), O_CLOEXEC);
      if (fd_ >= 0) unlink(name.c_str());
    }
    if (fd_ < 0) why = "no file for the rows received in " + PathText(folder) + ": " + std::strerror(errno);
    return fd_ >= 0;
  }

  int fd_ = -1;
  std::uint64_t size_ = 0;
  std::string buffer_;
};

// ---------------------------------------------------------------------------
// A sheet read for a transfer, with the changes not yet written.

struct RowInfo {
  std::uint64_t begin = 0;  // offset of <row in the part
  std::uint32_t length = 0;
  std::uint32_t number = 0;
  bool data = false;     // holds a value
  bool formula = false;  // holds a formula
};

constexpr std::uint64_t kSpilledKey = std::uint64_t{1} << 62;  // + the offset of a spilled row

struct Sheet {
  std::string name, part;
  FileId file;
  bool writable = false;
  std::string xml;
  std::string prefix;                    // of the sheet's element names ("x:" ...), usually none
  std::size_t dataBegin = 0;             // the rows: after <sheetData> ...
  std::size_t dataEnd = 0;               // ... up to </sheetData>
  bool emptyData = false;                // <sheetData/>, which dataBegin..dataEnd spans
  std::size_t dimBegin = 0, dimEnd = 0;  // the dimension's reference, if dimEnd > 0
  std::vector<RowInfo> rows;
  std::size_t header = SIZE_MAX;  // in rows
  std::uint32_t lastNumber = 0;   // the highest row number
  std::vector<AnsiString> columns;
  std::vector<std::uint32_t> columnAt;  // the sheet column of each column
  std::vector<std::string> letters;     // and its letters
  std::vector<std::int32_t> byColumn;   // sheet column -> column, -1 for none
  SharedStrings strings;

  // Changes since it was read.
  bool dropData = false;                                        // every row after the header is gone
  std::map<std::uint64_t, std::optional<std::string>> changes;  // row key -> new XML, or deleted
  Spill spill;
  std::uint32_t nextNumber = 1;
  std::int64_t partRows = 0, spilledRows = 0;  // data rows left in the part, and spilled
  std::string escaped_, utf8_;                 // Render's, kept for their room

  bool Modified() const { return dropData || !changes.empty() || spill.Size() > 0; }
  std::uint32_t KeptLast() const { return dropData && header != SIZE_MAX ? rows[header].number : lastNumber; }
  bool Dropped(std::size_t i) const { return dropData && header != SIZE_MAX && i > header; }

  void Discard() {
    dropData = false;
    changes.clear();
    spill.Clear();
    nextNumber = lastNumber + 1;
    partRows = 0;
    for (std::size_t i = header == SIZE_MAX ? rows.size() : header + 1; i < rows.size(); ++i) partRows += rows[i].data;
    spilledRows = 0;
  }

  std::string_view RowXml(std::size_t i) const { return std::string_view(xml).substr(rows[i].begin, rows[i].length); }

  /// Renders into \p out a row of \p cells (ANSI, one per column) numbered
  /// \p number.
  void Render(std::uint32_t number, const std::vector<AnsiString>& cells, std::string& out) {
    const std::string& p = prefix;
    char digits[16];
    const std::string_view n(
        digits, static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, number).ptr - digits));
    out.clear();
    out.append("<").append(p).append("row r=\"").append(n).append("\">");
    for (std::size_t i = 0; i < cells.size() && i < letters.size(); ++i) {
      if (cells[i].empty()) continue;
      escaped_.clear();
      xlsx::AppendEscaped(IsAscii(cells[i]) ? std::string_view(cells[i]) : std::string_view(utf8_ = FromAnsi(cells[i])),
                          escaped_);
      if (escaped_.empty()) continue;
      out.append("<").append(p).append("c r=\"").append(letters[i]).append(n).append("\" t=\"inlineStr\"><");
      out.append(p).append("is><").append(p).append("t");
      if (xlsx::NeedsPreserve(escaped_)) out.append(" xml:space=\"preserve\"");
      out.append(">").append(escaped_).append("</").append(p).append("t></").append(p).append("is></");
      out.append(p).append("c>");
    }
    out.append("</").append(p).append("row>");
  }

  /// The cells of the row \p xml, one per column.
  void Cells(std::string_view rowXml, std::vector<AnsiString>& cells) const {
    cells.assign(columns.size(), AnsiString());
    ReadCells(rowXml, strings, [&](std::uint32_t col, std::string_view text, bool ansi) {
      if (col < byColumn.size() && byColumn[col] >= 0)
        cells[static_cast<std::size_t>(byColumn[col])] = ansi ? AnsiString(text) : AnsiOf(text);
    });
  }

  /// The spilled row at \p offset, read whole.
  bool ReadSpilled(std::uint64_t offset, std::string& out, std::string& why) {
    out.clear();
    const std::string end = "</" + prefix + "row>";
    char buffer[4096];
    for (;;) {
      std::size_t got = 0;
      if (!spill.Read(offset + out.size(), buffer, sizeof buffer, got, why)) return false;
      if (got == 0) {
        why = "the rows received are damaged";
        return false;
      }
      const std::size_t from = out.size() >= end.size() ? out.size() - end.size() + 1 : 0;
      out.append(buffer, got);
      const std::size_t at = out.find(end, from);
      if (at != std::string::npos) {
        out.resize(at + end.size());
        return true;
      }
    }
  }
};

/// Indexes the rows of \p sheet's part and reads its header.
bool IndexSheet(Sheet& sheet, std::string& why) {
  const auto damaged = [&](const char* what) {
    why = "the sheet " + sheet.name + " is damaged (" + what + ")";
    return false;
  };
  const std::string_view xml = sheet.xml;
  Scanner s(xml);
  for (;;) {
    const Token t = s.Next();
    if (t.kind == Token::End || t.kind == Token::Error) return damaged("no sheetData");
    if (t.kind == Token::Close) continue;
    if (t.name == "dimension") {
      std::string_view ref;
      if (xlsx::FindAttr(t.attrs, "ref", ref)) {
        sheet.dimBegin = static_cast<std::size_t>(ref.data() - xml.data());
        sheet.dimEnd = sheet.dimBegin + ref.size();
      }
    } else if (t.name == "sheetData") {
      sheet.prefix = std::string(t.qname.substr(0, t.qname.size() - t.name.size()));
      sheet.emptyData = t.kind == Token::Empty;
      sheet.dataBegin = sheet.emptyData ? t.begin : t.end;
      sheet.dataEnd = t.end;
      break;
    }
  }
  std::uint32_t number = 0;
  while (!sheet.emptyData) {
    const Token t = s.Next();
    if (t.kind == Token::End || t.kind == Token::Error) return damaged("unfinished sheetData");
    if (t.kind == Token::Close) {
      if (t.name != "sheetData") return damaged("unfinished sheetData");
      sheet.dataEnd = t.begin;
      break;
    }
    if (t.name != "row") {
      if (!s.Skip(t)) return damaged("unfinished sheetData");
      continue;
    }
    // Rows ascend, as Excel requires, which also bounds their count.
    std::string_view ref;
    std::uint32_t given = 0;
    if (!xlsx::FindAttr(t.attrs, "r", ref)) {
      given = number + 1;
    } else if (!xlsx::ParseNumber(ref, given)) {
      return damaged("row number");
    }
    if (given <= number || given > xlsx::kMaxRows) return damaged("row number");
    number = given;
    RowInfo row;
    row.begin = t.begin;
    row.number = number;
    for (int depth = t.kind == Token::Open ? 1 : 0; depth > 0;) {
      const Token c = s.Next();
      if (c.kind == Token::End || c.kind == Token::Error) return damaged("unfinished row");
      if (c.kind == Token::Close) --depth;
      if (c.kind == Token::Open) {
        ++depth;
        row.data |= c.name == "v" || c.name == "is";
      }
      row.formula |= c.name == "f";
    }
    row.length = static_cast<std::uint32_t>(s.Pos() - row.begin);
    sheet.lastNumber = number;
    if (row.data && sheet.header == SIZE_MAX) sheet.header = sheet.rows.size();
    sheet.rows.push_back(row);
  }
  if (sheet.header != SIZE_MAX) {
    ReadCells(sheet.RowXml(sheet.header), sheet.strings, [&](std::uint32_t col, std::string_view text, bool ansi) {
      if (text.empty() || (!sheet.columnAt.empty() && col <= sheet.columnAt.back())) return;
      sheet.columns.push_back(ansi ? AnsiString(text) : AnsiOf(text));
      sheet.columnAt.push_back(col);
      sheet.letters.push_back(xlsx::ColumnName(col));
    });
    sheet.byColumn.assign(sheet.columnAt.empty() ? 0 : sheet.columnAt.back() + 1, -1);
    for (std::size_t i = 0; i < sheet.columnAt.size(); ++i)
      sheet.byColumn[sheet.columnAt[i]] = static_cast<std::int32_t>(i);
  }
  sheet.Discard();
  return true;
}

// ---------------------------------------------------------------------------
// Writing: a sheet's new part as a stream for libzip.

class PartSource {
 public:
  PartSource(Sheet& sheet, std::string& why) : sheet_(sheet), why_(why) { zip_error_init(&error_); }
  ~PartSource() { zip_error_fini(&error_); }

  void Text(std::string_view s) { AddPiece({s, 0, 0, false}); }
  void Own(std::string s) { Text(owned_.emplace_back(std::move(s))); }
  void Spilled(std::uint64_t offset, std::uint64_t length) { AddPiece({{}, offset, length, true}); }

  static zip_int64_t Callback(void* self, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    return static_cast<PartSource*>(self)->Command(data, len, cmd);
  }

 private:
  struct Piece {
    std::string_view text;
    std::uint64_t offset, length;
    bool spilled;
    std::uint64_t Size() const { return spilled ? length : text.size(); }
  };
  void AddPiece(const Piece& p) {
    if (p.Size() == 0) return;
    pieces_.push_back(p);
    total_ += p.Size();
  }

  zip_int64_t Command(void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    switch (cmd) {
      case ZIP_SOURCE_OPEN:
        piece_ = 0;
        within_ = 0;
        return 0;
      case ZIP_SOURCE_READ:
        return Read(static_cast<char*>(data), len);
      case ZIP_SOURCE_CLOSE:
      case ZIP_SOURCE_FREE:
        return 0;
      case ZIP_SOURCE_STAT: {
        auto* st = static_cast<zip_stat_t*>(data);
        zip_stat_init(st);
        st->size = total_;
        st->mtime = std::time(nullptr);
        st->valid |= ZIP_STAT_SIZE | ZIP_STAT_MTIME;
        return sizeof(zip_stat_t);
      }
      case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&error_, data, len);
      case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SUPPORTS, -1);
      default:
        zip_error_set(&error_, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
  }

  zip_int64_t Read(char* out, zip_uint64_t len) {
    zip_uint64_t done = 0;
    while (done < len && piece_ < pieces_.size()) {
      const Piece& p = pieces_[piece_];
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(len - done, p.Size() - within_));
      if (p.spilled) {
        std::size_t got = 0;
        if (!sheet_.spill.Read(p.offset + within_, out + done, n, got, why_) || got != n) {
          zip_error_set(&error_, ZIP_ER_READ, EIO);
          return -1;
        }
      } else {
        std::memcpy(out + done, p.text.data() + within_, n);
      }
      done += n;
      within_ += n;
      if (within_ == p.Size()) ++piece_, within_ = 0;
    }
    return static_cast<zip_int64_t>(done);
  }

  Sheet& sheet_;
  std::string& why_;
  std::vector<Piece> pieces_;
  std::deque<std::string> owned_;
  std::uint64_t total_ = 0;
  std::size_t piece_ = 0;
  std::uint64_t within_ = 0;
  zip_error_t error_;
};

/// The dimension \p sheet's rows span once changed: its first cell as
/// before, its last one widened to the header's columns and the last row.
std::string NewDimension(const Sheet& sheet) {
  const std::string_view old = std::string_view(sheet.xml).substr(sheet.dimBegin, sheet.dimEnd - sheet.dimBegin);
  const std::size_t colon = old.find(':');
  std::string_view first = old.substr(0, colon), last = colon == std::string_view::npos ? old : old.substr(colon + 1);
  if (xlsx::ColumnOf(first) == 0 || xlsx::RowOf(first) == 0) first = "A1";
  std::uint32_t right = std::max<std::uint32_t>(xlsx::ColumnOf(last), 1);
  if (!sheet.columnAt.empty()) right = std::max(right, sheet.columnAt.back());
  const std::uint32_t bottom = std::max({sheet.KeptLast(), sheet.nextNumber - 1, xlsx::RowOf(first)});
  return std::string(first) + ":" + xlsx::ColumnName(right) + std::to_string(bottom);
}

/// Lays out \p sheet's new part in \p out; \p formulasGone tells whether
/// rows with formulas were dropped or replaced.
bool LayOut(Sheet& sheet, PartSource& out, bool& formulasGone, std::string& why) {
  const std::string_view xml = sheet.xml;
  const std::string& p = sheet.prefix;
  if (sheet.dimEnd > 0) {
    out.Text(xml.substr(0, sheet.dimBegin));
    out.Own(NewDimension(sheet));
    out.Text(xml.substr(sheet.dimEnd, sheet.dataBegin - sheet.dimEnd));
  } else {
    out.Text(xml.substr(0, sheet.dataBegin));
  }
  if (sheet.emptyData) out.Own("<" + p + "sheetData>");

  std::size_t kept = sheet.dataBegin;  // the part's rows are copied from here on
  for (std::size_t i = 0; i < sheet.rows.size() && !sheet.emptyData; ++i) {
    const auto change = sheet.changes.find(i);
    if (!sheet.Dropped(i) && change == sheet.changes.end()) continue;
    const RowInfo& row = sheet.rows[i];
    out.Text(xml.substr(kept, row.begin - kept));
    if (!sheet.Dropped(i) && change->second) out.Text(*change->second);
    kept = row.begin + row.length;
    formulasGone |= row.formula;
  }
  if (!sheet.emptyData) out.Text(xml.substr(kept, sheet.dataEnd - kept));

  // The spilled rows: one stretch, unless some were changed since.
  const auto firstSpilled = sheet.changes.lower_bound(kSpilledKey);
  if (firstSpilled == sheet.changes.end()) {
    out.Spilled(0, sheet.spill.Size());
  } else {
    std::string row;
    for (std::uint64_t at = 0; at < sheet.spill.Size(); at += row.size()) {
      if (!sheet.ReadSpilled(at, row, why)) return false;
      const auto change = sheet.changes.find(kSpilledKey + at);
      if (change == sheet.changes.end())
        out.Spilled(at, row.size());
      else if (change->second)
        out.Text(*change->second);
    }
  }

  if (sheet.emptyData) out.Own("</" + p + "sheetData>");
  out.Text(xml.substr(sheet.dataEnd));
  return true;
}

/// \p xml without the elements \p drop picks.
template <typename F>
std::string WithoutElements(std::string_view xml, F&& drop) {
  std::string out;
  std::size_t kept = 0;
  Scanner s(xml);
  for (Token t = s.Next(); t.kind != Token::End && t.kind != Token::Error; t = s.Next()) {
    if ((t.kind != Token::Open && t.kind != Token::Empty) || !drop(t)) continue;
    out.append(xml.substr(kept, t.begin - kept));
    if (!s.Skip(t)) break;
    kept = s.Pos();
  }
  return out.append(xml.substr(kept));
}

/// Takes the calculation chain out of the archive: once a formula is gone
/// it would name a cell without one, which Excel reports as damage. Excel
/// builds the chain anew.
bool DropCalcChain(zip_t* z, const Book& book, std::deque<std::string>& keep, std::string& why) {
  zip_uint64_t index = 0;
  if (book.calcChain.empty() || !Locate(z, book.calcChain, index)) return true;
  const auto replace = [&](const std::string& part, auto&& drop) {
    std::string xml;
    zip_uint64_t at = 0;
    if (!ReadEntry(z, part, kMaxSmallPart, xml, why) || !Locate(z, part, at)) return false;
    const std::string& text = keep.emplace_back(WithoutElements(xml, drop));
    zip_source_t* src = zip_source_buffer(z, text.data(), text.size(), 0);
    if (!src || zip_file_replace(z, at, src, 0) != 0) {
      if (src) zip_source_free(src);
      why = std::string("the workbook cannot be written: ") + zip_strerror(z);
      return false;
    }
    return true;
  };
  const std::string wanted = Lower("/" + book.calcChain);
  const std::string folder = FolderOf(book.workbook);
  return zip_delete(z, index) == 0 &&
         replace(RelsOf(book.workbook),
                 [&](const Token& t) {
                   std::string part;
                   return t.name == "Relationship" && Resolve(folder, xlsx::Attr(t.attrs, "Target"), part) &&
                          part == book.calcChain;
                 }) &&
         replace("[Content_Types].xml", [&](const Token& t) {
           return t.name == "Override" && Lower(xlsx::Attr(t.attrs, "PartName")) == wanted;
         });
}

// ---------------------------------------------------------------------------
// The connection and its table

class WorkbookConnection final : public TableConnection, private Table {
 public:
  explicit WorkbookConnection(fs::path file) : file_(std::move(file)) {}

  // TableConnection
  bool BeginTrans() override {
    if (inTrans_) return Fail("a transaction is already open");
    if (!WriteChanges()) return false;  // what an open table changed without one
    Settle();
    inTrans_ = true;
    return true;
  }
  bool CommitTrans() override {
    if (!inTrans_) return Fail("no transaction is open");
    if (!WriteChanges()) return false;  // still open, to be rolled back
    inTrans_ = false;
    Settle();
    return true;
  }
  bool RollbackTrans() override {
    if (!inTrans_) return Fail("no transaction is open");
    inTrans_ = false;
    for (auto& [part, sheet] : sheets_) sheet->Discard();
    Settle();
    if (open_) First();
    return true;
  }
  bool InTransaction() const override { return inTrans_; }
  Table& GetTable() override { return *this; }
  bool ListTables(std::vector<AnsiString>& names) override {
    names.clear();
    Book book;
    std::string why;
    const Zip z = OpenArchive(file_, ZIP_RDONLY, why);
    if (!z || !ReadBook(z.get(), book, why)) return Fail(why);
    for (const auto& s : book.sheets) names.push_back(AnsiOf(s.name));
    return true;
  }
  bool ListColumns(std::string_view table, std::vector<AnsiString>& names) override {
    names.clear();
    Sheet* sheet = Load(table);
    if (!sheet) return false;
    names = sheet->columns;
    if (sheet != sheet_ && !sheet->Modified()) sheets_.erase(sheet->part);
    return true;
  }
  std::string LastError() const override { return error_; }

 private:
  enum class Mode { Browse, Edit, Insert };
  struct Cursor {
    enum Where { Part, Spilled, End } where = End;
    std::size_t row = 0;       // Part: in the sheet's rows
    std::uint64_t offset = 0;  // Spilled: in the spill file
    std::string xml;           // Spilled: the row as it was spilled
    std::uint32_t number = 0;  // the row's number in the sheet
  };

  // Table
  bool Close() override {
    if (!open_) return true;
    open_ = false;
    mode_ = Mode::Browse;
    cursor_ = {};
    Sheet* sheet = std::exchange(sheet_, nullptr);
    if (inTrans_) return true;  // its changes wait for the commit
    // Without a transaction the changes are written as the table closes.
    const bool written = WriteChanges();
    sheets_.erase(sheet->part);
    stale_ = false;
    return written;
  }
  void SetTableName(std::string_view ansiName) override { name_ = ansiName; }
  bool Open() override {
    if (open_) return Fail("the table is already open");
    sheet_ = Load(name_);
    if (!sheet_) return false;
    open_ = true;
    mode_ = Mode::Browse;
    First();
    return true;
  }
  bool IsOpen() const override { return open_; }
  bool First() override {
    if (!open_) return Fail("the table is not open");
    return MoveTo(FirstPartRow(0));
  }
  bool Next() override {
    if (!open_ || Eof()) return Fail("there is no next row");
    const std::int64_t recNo = recNo_;
    if (!MoveTo(cursor_.where == Cursor::Part ? FirstPartRow(cursor_.row + 1) : After(cursor_))) return false;
    recNo_ = cursor_.where == Cursor::End ? 0 : recNo + 1;
    return true;
  }
  bool Eof() override { return !open_ || cursor_.where == Cursor::End; }
  std::int64_t RecordCount() override {
    if (!open_) {
      Fail("the table is not open");
      return -1;
    }
    return sheet_->partRows + sheet_->spilledRows;
  }
  std::int64_t RecNo() override { return Eof() ? 0 : recNo_; }
  bool Supports(TableAbility) override { return open_; }
  bool CanModify() override { return open_ && sheet_->writable; }
  bool Edit() override {
    if (!open_) return Fail("the table is not open");
    if (!sheet_->writable) return Fail("the workbook cannot be written");
    mode_ = Mode::Edit;
    if (!Eof() && !CurrentCells(row_)) return false;
    return true;
  }
  bool Append() override {
    if (!open_ || mode_ == Mode::Insert) return Fail("a row cannot be started now");
    if (!sheet_->writable) return Fail("the workbook cannot be written");
    mode_ = Mode::Insert;
    row_.assign(sheet_->columns.size(), AnsiString());
    return true;
  }
  bool Post() override {
    if (!open_ || mode_ == Mode::Browse) return Fail("no row is being appended or edited");
    Sheet& s = *sheet_;
    if (mode_ == Mode::Insert) {
      if (s.nextNumber > xlsx::kMaxRows) return Fail("the sheet has no more rows");
      s.Render(s.nextNumber, row_, rendered_);
      if (!s.spill.Append(Folder(), rendered_, error_)) return false;
      cursor_.where = Cursor::Spilled;
      cursor_.offset = s.spill.Size() - rendered_.size();
      cursor_.number = s.nextNumber++;
      std::swap(cursor_.xml, rendered_);  // each keeps its room for the next row
      ++s.spilledRows;
      recNo_ = s.partRows + s.spilledRows;
    } else if (!Eof()) {
      std::string xml;
      s.Render(cursor_.number, row_, xml);
      s.changes[Key(cursor_)] = std::move(xml);
    } else {
      mode_ = Mode::Browse;
      return true;
    }
    cells_ = row_;
    cellsRead_ = true;
    mode_ = Mode::Browse;
    return true;
  }
  bool Delete() override {
    if (!open_ || Eof()) return Fail("there is no row to delete");
    if (!sheet_->writable) return Fail("the workbook cannot be written");
    sheet_->changes[Key(cursor_)] = std::nullopt;
    --(cursor_.where == Cursor::Part ? sheet_->partRows : sheet_->spilledRows);
    const std::int64_t recNo = recNo_;
    if (!MoveTo(cursor_.where == Cursor::Part ? FirstPartRow(cursor_.row + 1) : After(cursor_))) return false;
    recNo_ = cursor_.where == Cursor::End ? 0 : recNo;
    return true;
  }
  bool DeleteAll() override {
    if (!open_) return Fail("the table is not open");
    if (!sheet_->writable) return Fail("the workbook cannot be written");
    Sheet& s = *sheet_;
    s.Discard();
    s.dropData = s.header != SIZE_MAX;
    s.nextNumber = s.KeptLast() + 1;
    s.partRows = 0;
    cursor_ = {};
    recNo_ = 0;
    cellsRead_ = false;
    return true;
  }
  bool GetField(std::int32_t index, AnsiString& value) override {
    value.clear();
    if (!open_ || Eof()) return Fail("there is no current row");
    if (index < 0 || static_cast<std::size_t>(index) >= sheet_->columns.size())
      return Fail("the sheet has no column " + std::to_string(index + 1));
    if (!cellsRead_ && !CurrentCells(cells_)) return false;
    cellsRead_ = true;
    value = cells_[static_cast<std::size_t>(index)];
    return true;
  }
  bool SetField(std::int32_t index, std::string_view value) override {
    if (!open_ || !(mode_ == Mode::Insert || (mode_ == Mode::Edit && !Eof())))
      return Fail("no row is being appended or edited");
    if (index < 0 || static_cast<std::size_t>(index) >= row_.size())
      return Fail("the sheet has no column " + std::to_string(index + 1));
    row_[static_cast<std::size_t>(index)] = value;
    return true;
  }

  bool Fail(std::string why) {
    error_ = std::move(why);
    return false;
  }
  fs::path Folder() const { return file_.has_parent_path() ? file_.parent_path() : fs::path("."); }

  /// The sheet \p ansiName names: the one this transaction has read, else
  /// read now from the file.
  Sheet* Load(std::string_view ansiName) {
    std::string why;
    const auto fail = [&](std::string reason) {
      error_ = std::move(reason);
      return nullptr;
    };
    Book book;
    FileId id;
    const Zip z = StatFile(file_, id, why) ? OpenArchive(file_, ZIP_RDONLY, why) : nullptr;
    if (!z || !ReadBook(z.get(), book, why)) return fail(why);
    const Book::SheetRef* ref = FindSheet(book, Utf8Of(ansiName));
    if (!ref) return fail("the workbook has no sheet " + Utf8Of(ansiName));
    if (const auto it = sheets_.find(ref->part); it != sheets_.end()) return it->second.get();

    auto sheet = std::make_unique<Sheet>();
    sheet->name = ref->name;
    sheet->part = ref->part;
    sheet->file = id;
    sheet->writable = access(file_.c_str(), W_OK) == 0 && access(Folder().c_str(), W_OK) == 0;
    if (!ReadEntry(z.get(), ref->part, kMaxPart, sheet->xml, why) ||
        (!book.sharedStrings.empty() && !ReadSharedStrings(z.get(), book.sharedStrings, sheet->strings, why)) ||
        !IndexSheet(*sheet, why))
      return fail(why);
    return sheets_.emplace(ref->part, std::move(sheet)).first->second.get();
  }

  /// Writes every sheet changed into a new workbook that replaces the file.
  bool WriteChanges() {
    std::vector<Sheet*> changed;
    for (auto& [part, sheet] : sheets_)
      if (sheet->Modified()) changed.push_back(sheet.get());
    if (changed.empty()) return true;

    std::string why;
    std::deque<PartSource> sources;  // declared before the archive, which uses them until it is gone
    std::deque<std::string> keep;
    FileId now;
    if (!StatFile(file_, now, why)) return Fail(why);
    for (const Sheet* s : changed)
      if (!(s->file == now)) return Fail("the workbook was changed by someone else since it was read");
    Zip z = OpenArchive(file_, 0, why);
    Book book;
    if (!z || !ReadBook(z.get(), book, why)) return Fail(why);
    bool formulasGone = false;
    for (Sheet* s : changed) {
      zip_uint64_t index = 0;
      if (!Locate(z.get(), s->part, index)) return Fail("the workbook has no part " + s->part);
      PartSource& src = sources.emplace_back(*s, why);
      if (!LayOut(*s, src, formulasGone, why)) return Fail(why);
      // Deleted and added rather than replaced: libzip keeps a replaced
      // entry's method at its slowest level, and the part is the bulk of a
      // commit's time. Only its place in the archive changes.
      const char* stored = zip_get_name(z.get(), index, ZIP_FL_ENC_RAW);
      const std::string name = stored ? stored : s->part;
      zip_source_t* zs = zip_source_function(z.get(), &PartSource::Callback, &src);
      zip_int64_t added = -1;
      if (!zs || zip_delete(z.get(), index) != 0 ||
          (added = zip_file_add(z.get(), name.c_str(), zs, ZIP_FL_ENC_RAW)) < 0 ||
          zip_set_file_compression(z.get(), static_cast<zip_uint64_t>(added), ZIP_CM_DEFLATE, kDeflateLevel) != 0) {
        if (zs && added < 0) zip_source_free(zs);
        return Fail(std::string("the workbook cannot be written: ") + zip_strerror(z.get()));
      }
    }
    if (formulasGone && !DropCalcChain(z.get(), book, keep, why)) return Fail(why);
    if (zip_close(z.get()) != 0) {
      const std::string reason = zip_strerror(z.get());
      return Fail("the workbook cannot be written: " + (why.empty() ? reason : why));
    }
    z.release();  // zip_close freed it
    for (Sheet* s : changed) s->Discard();
    stale_ = true;
    return true;
  }

  /// After a transaction: the sheets read for it are dropped, but the open
  /// table's, which is read anew when the workbook has been written.
  void Settle() {
    for (auto it = sheets_.begin(); it != sheets_.end();)
      it = it->second.get() == sheet_ ? std::next(it) : sheets_.erase(it);
    if (!std::exchange(stale_, false) || !open_) return;
    sheets_.clear();
    sheet_ = Load(name_);
    open_ = sheet_ != nullptr;
    mode_ = Mode::Browse;
    if (open_) First();
  }

  static std::uint64_t Key(const Cursor& c) { return c.where == Cursor::Part ? c.row : kSpilledKey + c.offset; }

  bool Deleted(std::uint64_t key) const {
    const auto it = sheet_->changes.find(key);
    return it != sheet_->changes.end() && !it->second;
  }

  /// The first data row from the part's row \p from on, or the first
  /// spilled one after the part's.
  Cursor FirstPartRow(std::size_t from) const {
    const Sheet& s = *sheet_;
    Cursor c;
    if (s.header != SIZE_MAX && !s.dropData) {
      for (std::size_t i = std::max(from, s.header + 1); i < s.rows.size(); ++i) {
        if (!s.rows[i].data || Deleted(i)) continue;
        c.where = Cursor::Part;
        c.row = i;
        c.number = s.rows[i].number;
        return c;
      }
    }
    c.where = Cursor::Spilled;
    c.offset = 0;
    c.number = 0;  // not yet read
    return c;
  }
  /// The spilled row after \p c.
  static Cursor After(const Cursor& c) {
    Cursor n;
    n.where = Cursor::Spilled;
    n.offset = c.offset + c.xml.size();
    return n;
  }

  /// Makes \p c current: a spilled row is read, and skipped when deleted.
  bool MoveTo(Cursor c) {
    cellsRead_ = false;
    while (c.where == Cursor::Spilled && c.number == 0) {
      if (c.offset >= sheet_->spill.Size()) {
        c = {};
        break;
      }
      if (!sheet_->ReadSpilled(c.offset, c.xml, error_)) {
        cursor_ = {};
        recNo_ = 0;
        return false;
      }
      if (Deleted(Key(c))) {
        c = After(c);
        continue;
      }
      std::string_view ref;
      const Token t = Scanner(c.xml).Next();
      if (!xlsx::FindAttr(t.attrs, "r", ref) || !xlsx::ParseNumber(ref, c.number) || c.number == 0)
        return Fail("the rows received are damaged");
    }
    cursor_ = std::move(c);
    recNo_ = cursor_.where == Cursor::End ? 0 : 1;
    return true;
  }

  bool CurrentCells(std::vector<AnsiString>& cells) {
    const auto change = sheet_->changes.find(Key(cursor_));
    if (change != sheet_->changes.end() && change->second)
      sheet_->Cells(*change->second, cells);
    else
      sheet_->Cells(cursor_.where == Cursor::Part ? sheet_->RowXml(cursor_.row) : cursor_.xml, cells);
    return true;
  }

  const fs::path file_;
  bool inTrans_ = false;
  bool stale_ = false;                                    // the workbook was written since its sheets were read
  std::map<std::string, std::unique_ptr<Sheet>> sheets_;  // by part: read for the transaction or the open table

  AnsiString name_;
  Sheet* sheet_ = nullptr;
  bool open_ = false;
  Mode mode_ = Mode::Browse;
  Cursor cursor_;
  std::int64_t recNo_ = 0;
  std::vector<AnsiString> cells_;  // the current row's, once read
  bool cellsRead_ = false;
  std::vector<AnsiString> row_;  // the row being appended or edited
  std::string rendered_;
  std::string error_;
};

}  // namespace

std::unique_ptr<TableConnection> OpenWorkbook(const std::filesystem::path& file, std::string& why) {
  FileId id;
  Book book;
  if (!StatFile(file, id, why)) return nullptr;
  const Zip z = OpenArchive(file, ZIP_RDONLY, why);
  if (!z || !ReadBook(z.get(), book, why)) return nullptr;
  return std::make_unique<WorkbookConnection>(file);
}

}  // namespace pw::tablink
