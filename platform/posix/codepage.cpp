// POSIX only: the ANSI code page is CP932, converted with iconv. CP932 rather
// than SHIFT_JIS because only CP932 maps every byte as Windows does.
#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace pw {

namespace {

// Converts with iconv, replacing what cannot be converted by \p replacement
// and skipping one input byte (or one UTF-8 sequence) for it.
std::string Convert(const char* to, const char* from, std::string_view in, std::string_view replacement,
                    bool inputIsUtf8) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error(std::string("iconv cannot convert from ") + from);
  std::string out;
  out.reserve(in.size() * 2 + 8);
  char* src = const_cast<char*>(in.data());
  std::size_t srcLeft = in.size();
  char chunk[1024];
  while (srcLeft > 0) {
    char* dst = chunk;
    std::size_t dstLeft = sizeof chunk;
    const std::size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.append(chunk, static_cast<std::size_t>(dst - chunk));
    if (rc != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL (a truncated sequence at the end): replace and move on.
    out.append(replacement);
    std::size_t skip = 1;
    if (inputIsUtf8) {
      const auto b = static_cast<unsigned char>(*src);
      skip = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
      while (skip > 1 && skip > srcLeft) --skip;
      if (skip == 4) out.append(replacement);  // as Windows: one '?' per UTF-16 unit
    }
    src += skip;
    srcLeft -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  return out;
}

}  // namespace

AnsiString ToAnsi(std::string_view utf8) { return Convert("CP932", "UTF-8", utf8, "?", true); }

std::string FromAnsi(std::string_view ansi) { return Convert("UTF-8", "CP932", ansi, "\xEF\xBF\xBD", false); }

}  // namespace pw
