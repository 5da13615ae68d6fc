// The XML of a workbook's parts, read by a small scanner rather than a
// document tree: a sheet part is walked once to find its rows, and a row's
// cells are read only when the row is visited, so reading a sheet costs the
// part itself and a few bytes per row. Also the cell text written into a
// sheet: escaped, and kept free of what XML 1.0 forbids.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pw::tablink::xlsx {

/// One tag of a document, or its end, or malformed markup.
struct Token {
  enum Kind { End, Open, Close, Empty, Error } kind = End;
  std::string_view qname;  ///< the name as written, with any prefix
  std::string_view name;   ///< the local name
  std::string_view attrs;  ///< the attribute text of an open or empty tag
  std::size_t begin = 0;   ///< offset of its '<'
  std::size_t end = 0;     ///< offset just past its '>'
};

/// Walks the tags of a document. Comments and processing instructions are
/// skipped; a document type declaration is refused (the parts of a workbook
/// have none, and its entities are not wanted).
class Scanner {
 public:
  explicit Scanner(std::string_view doc, std::size_t pos = 0) : doc_(doc), pos_(pos) {}

  /// The next tag. The text before it (entities replaced, CDATA taken as
  /// is) is appended to \p text when given.
  Token Next(std::string* text = nullptr);
  /// Moves past the element \p open has opened (nothing for an empty tag);
  /// false at malformed markup or the document's end.
  bool Skip(const Token& open);
  /// The text of the element \p open has opened, appended to \p text, its
  /// child elements' text left out; positioned after its end tag.
  bool ReadText(const Token& open, std::string& text);
  std::size_t Pos() const { return pos_; }

 private:
  std::string_view doc_;
  std::size_t pos_;
};

/// The value of attribute \p qname in \p attrs, undecoded and pointing into
/// the document; false when it is absent.
bool FindAttr(std::string_view attrs, std::string_view qname, std::string_view& value);
/// As FindAttr, for an attribute with any prefix and the local name \p local
/// ("r:id", "rel:id" ...).
bool FindPrefixedAttr(std::string_view attrs, std::string_view local, std::string_view& value);
/// The decoded value of attribute \p qname, empty when absent.
std::string Attr(std::string_view attrs, std::string_view qname);

/// Appends \p raw with its entity and character references replaced.
void AppendDecoded(std::string_view raw, std::string& out);

/// Replaces the "_xHHHH_" escapes by which workbooks carry characters XML
/// cannot (control characters) in string cells.
void DecodeEscapes(std::string& text);

/// Appends the UTF-8 \p text as the content of an element: markup and the
/// workbook's own "_xHHHH_" pattern escaped, a carriage return kept as a
/// reference, characters XML 1.0 forbids and broken sequences left out.
void AppendEscaped(std::string_view text, std::string& out);
/// True when \p text starts or ends with white space, which a reader
/// drops unless the element says xml:space="preserve".
bool NeedsPreserve(std::string_view text);

/// The column of a cell reference ("C7" gives 3, "XFD1" 16384), 0 when
/// \p ref does not start with one.
std::uint32_t ColumnOf(std::string_view ref);
/// The row of a cell reference ("C7" gives 7), 0 when there is none.
std::uint32_t RowOf(std::string_view ref);
/// The letters of column \p col from 1.
std::string ColumnName(std::uint32_t col);
/// A decimal number of at most 9 digits; false for anything else.
bool ParseNumber(std::string_view s, std::uint32_t& n);

constexpr std::uint32_t kMaxRows = 1048576;
constexpr std::uint32_t kMaxColumns = 16384;

}  // namespace pw::tablink::xlsx
