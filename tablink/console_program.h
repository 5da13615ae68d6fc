// tablink: the table transfer server on Linux, headless.
#pragma once

namespace pw::tablink {

/// Runs the server as the command line says; the exit code.
int RunConsoleTablink(int argc, char** argv);

}  // namespace pw::tablink
