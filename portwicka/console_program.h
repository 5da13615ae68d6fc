// PortwickA without windows (Linux): the same command line and start-up
// checks; messages as lines on standard error, the progress as a bar there
// when it is a terminal, questions asked on the terminal, SIGINT and SIGTERM
// as the stop button. The result is printed on standard output.
#pragma once

namespace pw {

/// Exit codes of the program without windows.
inline constexpr int kExitTransferred = 0;  ///< the transfer ended normally (or -SET wrote the settings)
inline constexpr int kExitRefused = 1;      ///< refused before the transfer started
inline constexpr int kExitFailed = 2;       ///< the transfer ended with a result other than 0

/// The whole program: main's arguments in, the exit code out.
int RunConsolePortwickA(int argc, char** argv);

}  // namespace pw
