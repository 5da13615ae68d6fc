// Conversion between UTF-8 and UTF-16, the two Unicode forms the system meets:
// UTF-8 in source files and on a Linux terminal, UTF-16 in Win32 windows.
#pragma once

#include <string>
#include <string_view>

namespace pw {

/// UTF-8 to UTF-16. Invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);

/// Appends the UTF-8 bytes of the scalar value \p cp to \p out.
void AppendUtf8(char32_t cp, std::string& out);

/// UTF-16 to UTF-8. Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

}  // namespace pw
