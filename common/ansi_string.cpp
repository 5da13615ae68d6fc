// Byte-wise text helpers.
#include "common/ansi_string.h"

#include <limits>

namespace pw {

AnsiString LeftB(std::string_view s, std::size_t n) {
  return AnsiString(s.substr(0, n));
}

AnsiString MidB(std::string_view s, std::size_t start, std::size_t n) {
  if (start == 0 || start > s.size()) return {};
  return AnsiString(s.substr(start - 1, n));
}

AnsiString RightB(std::string_view s, std::size_t n) {
  if (n >= s.size()) return AnsiString(s);
  return AnsiString(s.substr(s.size() - n));
}

AnsiString FitB(std::string_view s, std::size_t n) {
  AnsiString out(s.substr(0, n));
  out.resize(n, ' ');
  return out;
}

AnsiString ZeroPad(std::int64_t value, std::size_t width) {
  // Computed on the magnitude in unsigned arithmetic so INT64_MIN cannot overflow.
  const bool negative = value < 0;
  std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  AnsiString digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  AnsiString padded = AnsiString(width, '0') + digits;
  AnsiString out = RightB(padded, width);
  if (negative && width > 0) out[0] = '-';
  return out;
}

AnsiString UpperAscii(std::string_view s) {
  AnsiString out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

AnsiString LowerAscii(std::string_view s) {
  AnsiString out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

static bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 0x20; }

AnsiString TrimB(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && IsBlankOrControl(s[b])) ++b;
  while (e > b && IsBlankOrControl(s[e - 1])) --e;
  return AnsiString(s.substr(b, e - b));
}

AnsiString TrimRightB(std::string_view s) {
  std::size_t e = s.size();
  while (e > 0 && IsBlankOrControl(s[e - 1])) --e;
  return AnsiString(s.substr(0, e));
}

bool ParseDecimal(std::string_view s, std::int32_t& out) {
  out = 0;
  if (s.empty()) return false;
  std::int64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
    if (v > std::numeric_limits<std::int32_t>::max()) return false;
  }
  out = static_cast<std::int32_t>(v);
  return true;
}

bool ParseDecimal(std::string_view s, std::uint64_t& out) {
  out = 0;
  if (s.empty()) return false;
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (v > (kMax - digit) / 10) return false;
    v = v * 10 + digit;
  }
  out = v;
  return true;
}

}  // namespace pw
