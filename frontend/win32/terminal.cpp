// Windows only: whether standard error and standard input are consoles.
#include <io.h>

#include <cstdio>

#include "frontend/terminal_bar.h"

namespace pw {

bool StandardErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }
bool StandardInputIsTerminal() { return _isatty(_fileno(stdin)) != 0; }

}  // namespace pw
