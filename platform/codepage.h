// Conversion between the system's fixed texts (UTF-8 in the sources) and the
// ANSI code page that files, the line and the log use: the system code page
// on Windows, CP932 on Linux.
#pragma once

#include <string>
#include <string_view>

#include "common/ansi_string.h"

namespace pw {

/// UTF-8 text to ANSI bytes; a character the code page lacks becomes '?'.
AnsiString ToAnsi(std::string_view utf8);

/// ANSI bytes to UTF-8; a byte sequence that is not valid in the code page
/// becomes U+FFFD.
std::string FromAnsi(std::string_view ansi);

}  // namespace pw
