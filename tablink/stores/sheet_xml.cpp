// The scanner over a part's XML and the text of cells.
#include "tablink/stores/sheet_xml.h"

#include <cstring>

#include "common/utf.h"

namespace pw::tablink::xlsx {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A character XML 1.0 allows.
bool IsXmlChar(std::uint32_t cp) {
  return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) || (cp >= 0xE000 && cp <= 0xFFFD) ||
         (cp >= 0x10000 && cp <= 0x10FFFF);
}

// Raw text with its line ends normalised as an XML reader does.
void AppendText(std::string_view raw, std::string& out) {
  for (std::size_t i = 0; i < raw.size();) {
    const std::size_t cr = raw.find('\r', i);
    if (cr == std::string_view::npos) {
      out.append(raw.substr(i));
      return;
    }
    out.append(raw.substr(i, cr - i));
    out += '\n';
    i = cr + 1;
    if (i < raw.size() && raw[i] == '\n') ++i;
  }
}

// The code point of a reference's body ("amp", "#65", "#x41"), or 0.
std::uint32_t Reference(std::string_view body) {
  if (body == "lt") return '<';
  if (body == "gt") return '>';
  if (body == "amp") return '&';
  if (body == "quot") return '"';
  if (body == "apos") return '\'';
  if (body.size() < 2 || body[0] != '#') return 0;
  std::uint32_t cp = 0;
  const bool hex = body[1] == 'x';
  const std::string_view digits = body.substr(hex ? 2 : 1);
  if (digits.empty() || digits.size() > 8) return 0;
  for (const char c : digits) {
    const int d = hex ? HexDigit(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
    if (d < 0) return 0;
    cp = cp * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
  }
  return IsXmlChar(cp) ? cp : 0;
}

// "_xHHHH_" at \p i of \p s: its code point, or -1.
long EscapeAt(std::string_view s, std::size_t i) {
  if (i + 7 > s.size() || s[i] != '_' || s[i + 1] != 'x' || s[i + 6] != '_') return -1;
  long cp = 0;
  for (std::size_t k = i + 2; k < i + 6; ++k) {
    const int d = HexDigit(s[k]);
    if (d < 0) return -1;
    cp = cp * 16 + d;
  }
  return cp;
}

// The length of the well-formed UTF-8 sequence at \p i that XML allows, or 0.
std::size_t Utf8Length(std::string_view s, std::size_t i) {
  const auto at = [&](std::size_t k) { return k < s.size() ? static_cast<unsigned char>(s[k]) : 0u; };
  const unsigned b = at(i);
  std::size_t len;
  std::uint32_t cp;
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2, cp = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3, cp = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4, cp = b & 0x07;
  } else {
    return 0;
  }
  for (std::size_t k = 1; k < len; ++k) {
    const unsigned c = at(i + k);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  const std::uint32_t least = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
  return cp >= least && IsXmlChar(cp) ? len : 0;
}

}  // namespace

Token Scanner::Next(std::string* text) {
  const std::size_t size = doc_.size();
  const auto fail = [&] {
    pos_ = size;
    Token t;
    t.kind = Token::Error;
    return t;
  };
  for (;;) {
    const std::size_t lt = doc_.find('<', pos_);
    const std::size_t stop = lt == std::string_view::npos ? size : lt;
    if (text && stop > pos_) AppendDecoded(doc_.substr(pos_, stop - pos_), *text);
    if (lt == std::string_view::npos) {
      pos_ = size;
      return Token{};
    }
    const std::string_view rest = doc_.substr(lt);
    if (rest.starts_with("<!--") || rest.starts_with("<?")) {
      const bool comment = rest[1] == '!';
      const std::size_t e = doc_.find(comment ? "-->" : "?>", lt + 2);
      if (e == std::string_view::npos) return fail();
      pos_ = e + (comment ? 3 : 2);
      continue;
    }
    if (rest.starts_with("<![CDATA[")) {
      const std::size_t e = doc_.find("]]>", lt + 9);
      if (e == std::string_view::npos) return fail();
      if (text) text->append(doc_.substr(lt + 9, e - lt - 9));
      pos_ = e + 3;
      continue;
    }
    if (rest.starts_with("<!")) return fail();

    Token t;
    t.begin = lt;
    std::size_t p = lt + 1;
    const bool close = p < size && doc_[p] == '/';
    if (close) ++p;
    const std::size_t nameBegin = p;
    while (p < size && !IsSpace(doc_[p]) && doc_[p] != '>' && doc_[p] != '/' && doc_[p] != '<') ++p;
    if (p == nameBegin) return fail();
    t.qname = doc_.substr(nameBegin, p - nameBegin);
    const std::size_t colon = t.qname.rfind(':');
    t.name = colon == std::string_view::npos ? t.qname : t.qname.substr(colon + 1);
    const std::size_t attrsBegin = p;
    char quote = 0;
    for (; p < size; ++p) {
      const char c = doc_[p];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>') {
        break;
      } else if (c == '<') {
        return fail();
      }
    }
    if (p >= size) return fail();
    std::size_t attrsEnd = p;
    if (close) {
      t.kind = Token::Close;
    } else if (attrsEnd > attrsBegin && doc_[attrsEnd - 1] == '/') {
      t.kind = Token::Empty;
      --attrsEnd;
    } else {
      t.kind = Token::Open;
    }
    t.attrs = doc_.substr(attrsBegin, attrsEnd - attrsBegin);
    t.end = p + 1;
    pos_ = t.end;
    return t;
  }
}

bool Scanner::Skip(const Token& open) {
  if (open.kind != Token::Open) return open.kind == Token::Empty;
  for (int depth = 1;;) {
    const Token t = Next();
    if (t.kind == Token::Open) ++depth;
    if (t.kind == Token::Close && --depth == 0) return true;
    if (t.kind == Token::End || t.kind == Token::Error) return false;
  }
}

bool Scanner::ReadText(const Token& open, std::string& text) {
  if (open.kind != Token::Open) return open.kind == Token::Empty;
  for (int depth = 1;;) {
    const Token t = Next(depth == 1 ? &text : nullptr);
    if (t.kind == Token::Open) ++depth;
    if (t.kind == Token::Close && --depth == 0) return true;
    if (t.kind == Token::End || t.kind == Token::Error) return false;
  }
}

namespace {

// Calls \p f(name, value) for each attribute until it returns true; false
// when none did.
template <typename F>
bool FindAttrWhere(std::string_view attrs, std::string_view& value, F&& f) {
  const std::size_t n = attrs.size();
  std::size_t p = 0;
  for (;;) {
    while (p < n && IsSpace(attrs[p])) ++p;
    if (p >= n) return false;
    const std::size_t nameBegin = p;
    while (p < n && !IsSpace(attrs[p]) && attrs[p] != '=') ++p;
    const std::string_view name = attrs.substr(nameBegin, p - nameBegin);
    while (p < n && IsSpace(attrs[p])) ++p;
    if (p >= n || attrs[p] != '=') return false;
    ++p;
    while (p < n && IsSpace(attrs[p])) ++p;
    if (p >= n || (attrs[p] != '"' && attrs[p] != '\'')) return false;
    const std::size_t e = attrs.find(attrs[p], p + 1);
    if (e == std::string_view::npos) return false;
    if (f(name)) {
      value = attrs.substr(p + 1, e - p - 1);
      return true;
    }
    p = e + 1;
  }
}

}  // namespace

bool FindAttr(std::string_view attrs, std::string_view qname, std::string_view& value) {
  return FindAttrWhere(attrs, value, [&](std::string_view name) { return name == qname; });
}

bool FindPrefixedAttr(std::string_view attrs, std::string_view local, std::string_view& value) {
  return FindAttrWhere(attrs, value, [&](std::string_view name) {
    const std::size_t colon = name.find(':');
    return colon != std::string_view::npos && colon > 0 && name.substr(0, colon) != "xmlns" &&
           name.substr(colon + 1) == local;
  });
}

std::string Attr(std::string_view attrs, std::string_view qname) {
  std::string out;
  std::string_view raw;
  if (FindAttr(attrs, qname, raw)) AppendDecoded(raw, out);
  return out;
}

void AppendDecoded(std::string_view raw, std::string& out) {
  for (std::size_t i = 0; i < raw.size();) {
    const std::size_t amp = raw.find('&', i);
    if (amp == std::string_view::npos) {
      AppendText(raw.substr(i), out);
      return;
    }
    AppendText(raw.substr(i, amp - i), out);
    // A reference is short: looking further would make text full of '&'
    // cost its length squared.
    const std::size_t semi = raw.substr(amp + 1, 11).find(';');
    const std::uint32_t cp = semi != std::string_view::npos ? Reference(raw.substr(amp + 1, semi)) : 0;
    if (cp == 0) {
      out += '&';
      i = amp + 1;
    } else {
      AppendUtf8(cp, out);
      i = amp + semi + 2;
    }
  }
}

void DecodeEscapes(std::string& text) {
  std::size_t u = text.find("_x");
  if (u == std::string::npos) return;
  std::string out(text, 0, u);
  for (std::size_t i = u; i < text.size();) {
    const long cp = text[i] == '_' ? EscapeAt(text, i) : -1;
    if (cp < 0 || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out += text[i++];
      continue;
    }
    if (cp != 0) AppendUtf8(static_cast<std::uint32_t>(cp), out);
    i += 7;
  }
  text = std::move(out);
}

void AppendEscaped(std::string_view text, std::string& out) {
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const std::size_t len = Utf8Length(text, i);
      if (len == 0) {
        ++i;  // a broken sequence or a character XML forbids
        continue;
      }
      out.append(text.substr(i, len));
      i += len;
      continue;
    }
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '\r':
        out += "&#13;";
        break;
      case '\t':
      case '\n':
        out += static_cast<char>(c);
        break;
      case '_':
        out += EscapeAt(text, i) >= 0 ? "_x005F_" : "_";
        break;
      default:
        if (c >= 0x20) out += static_cast<char>(c);
    }
    ++i;
  }
}

bool NeedsPreserve(std::string_view text) { return !text.empty() && (IsSpace(text.front()) || IsSpace(text.back())); }

std::uint32_t ColumnOf(std::string_view ref) {
  std::uint32_t col = 0;
  std::size_t i = 0;
  for (; i < ref.size() && i < 4; ++i) {
    const char c = ref[i];
    if (c >= 'A' && c <= 'Z') {
      col = col * 26 + static_cast<std::uint32_t>(c - 'A' + 1);
    } else if (c >= 'a' && c <= 'z') {
      col = col * 26 + static_cast<std::uint32_t>(c - 'a' + 1);
    } else {
      break;
    }
  }
  return col <= kMaxColumns && (i == ref.size() || (ref[i] >= '0' && ref[i] <= '9')) ? col : 0;
}

std::uint32_t RowOf(std::string_view ref) {
  std::size_t i = 0;
  while (i < ref.size() && !(ref[i] >= '0' && ref[i] <= '9')) ++i;
  std::uint32_t row = 0;
  return ParseNumber(ref.substr(i), row) && row <= kMaxRows ? row : 0;
}

std::string ColumnName(std::uint32_t col) {
  std::string name;
  for (; col > 0; col = (col - 1) / 26) name.insert(name.begin(), static_cast<char>('A' + (col - 1) % 26));
  return name;
}

bool ParseNumber(std::string_view s, std::uint32_t& n) {
  if (s.empty() || s.size() > 9) return false;
  n = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<std::uint32_t>(c - '0');
  }
  return true;
}

}  // namespace pw::tablink::xlsx
