// POSIX only: whether standard error is a terminal.
#include <unistd.h>

#include "frontend/terminal_bar.h"

namespace pw {

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) != 0; }

}  // namespace pw
