// The benchmark's command line. The program takes no arguments: --help and
// --version answer and end the process before MPI starts, and anything else
// is refused, so that a mistyped command never starts a load on a shared
// file system.
#ifndef QUENDA_RUN_COMMAND_LINE_H_
#define QUENDA_RUN_COMMAND_LINE_H_

#include <ostream>

namespace quenda {

inline constexpr int kExitUsage = 2;  // an argument the program does not take

// Answers a command line that holds arguments: the help text or the version
// on `out` with status 0, or one line on `err` with kExitUsage. Touches no
// file.
int answer_command_line(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace quenda

#endif  // QUENDA_RUN_COMMAND_LINE_H_
