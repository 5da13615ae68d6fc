// POSIX only: whether standard error and standard input are terminals.
#include <unistd.h>

#include "frontend/terminal_bar.h"

namespace pw {

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) != 0; }
bool StandardInputIsTerminal() { return isatty(STDIN_FILENO) != 0; }

}  // namespace pw
