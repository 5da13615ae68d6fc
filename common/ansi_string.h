// Byte-wise text in the ANSI code page: every width, cut and fill counts bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pw {

/// Text as bytes of the ANSI code page (CP932 on Japanese systems). Never
/// assumed to be UTF-8: a cut may split a double-byte character.
using AnsiString = std::string;

/// The first \p n bytes of \p s (all of it when shorter).
AnsiString LeftB(std::string_view s, std::size_t n);

/// \p n bytes of \p s from the 1-based byte position \p start; empty when
/// \p start is 0 or past the end, shorter when the text ends first.
AnsiString MidB(std::string_view s, std::size_t start, std::size_t n);

/// The last \p n bytes of \p s (all of it when shorter).
AnsiString RightB(std::string_view s, std::size_t n);

/// \p s filled with blanks (0x20) to at least \p n bytes, then cut to exactly
/// \p n bytes: the fixed-width columns of log lines and records.
AnsiString FitB(std::string_view s, std::size_t n);

/// \p value in decimal, prefixed with \p width zeros and cut to its last
/// \p width bytes, so a value wider than its field loses its high digits.
/// A negative value keeps its sign where the width leaves room for it.
AnsiString ZeroPad(std::int64_t value, std::size_t width);

/// \p s with the ASCII letters a-z turned to A-Z; every other byte, including
/// both bytes of a double-byte character, is unchanged.
AnsiString UpperAscii(std::string_view s);

/// \p s with the ASCII letters A-Z turned to a-z.
AnsiString LowerAscii(std::string_view s);

/// \p s without leading and trailing bytes up to 0x20 (blanks and control
/// characters), as the system trims field lists and values.
AnsiString TrimB(std::string_view s);

/// \p s without trailing bytes up to 0x20.
AnsiString TrimRightB(std::string_view s);

/// Reads \p s as a non-negative decimal number of ASCII digits only (no sign,
/// no blanks). Returns false when \p s is empty, holds another byte, or does
/// not fit a 32-bit signed integer; \p out is then 0.
bool ParseDecimal(std::string_view s, std::int32_t& out);

/// The same for a 64-bit unsigned number: false when \p s is empty, holds
/// another byte, or exceeds 2^64 - 1; \p out is then 0.
bool ParseDecimal(std::string_view s, std::uint64_t& out);

}  // namespace pw
