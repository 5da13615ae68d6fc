// Windows only: whether standard error is a console.
#include <io.h>

#include <cstdio>

#include "frontend/terminal_bar.h"

namespace pw {

bool StandardErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

}  // namespace pw
