// Converting results files: each file's JSON, CSV and SVG chart, written
// next to it or into one folder, all three or none.
#ifndef QUENDA_TOOLS_RESULTS_COMMANDS_CONVERT_H_
#define QUENDA_TOOLS_RESULTS_COMMANDS_CONVERT_H_

#include <ostream>

#include "commands/arguments.h"

namespace quenda::results {

inline constexpr int kExitConverted = 0;  // every file converted
// A file not converted, or with --fail-on-flag a node flagged.
inline constexpr int kExitFailed = 1;

// The conversion's arguments, which take no command word.
const Command& convert_command();

// Converts every results file named (files, or folders whose results files
// are all taken). Errors go to `err` as "<file>:<line>: error: <reason>";
// one line per converted file goes to `out`. Returns kExitConverted,
// kExitFailed or kExitUsage.
int run_convert(const Arguments& arguments, std::ostream& out, std::ostream& err);

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_COMMANDS_CONVERT_H_
