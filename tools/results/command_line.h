// The tool's command line: which results files to read, where to write
// their JSON, CSV and SVG, and how to report what went wrong.
#ifndef QUENDA_TOOLS_RESULTS_COMMAND_LINE_H_
#define QUENDA_TOOLS_RESULTS_COMMAND_LINE_H_

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace quenda::results {

inline constexpr int kExitConverted = 0;  // every file converted
inline constexpr int kExitFailed = 1;     // at least one file not converted
inline constexpr int kExitUsage = 2;      // the command line itself is wrong

// Converts every results file named by `args` (files, or folders whose
// results files are all taken). Each file's outputs are written next to it
// or into --output-dir, all three or none. Errors go to `err` as
// "<file>:<line>: error: <reason>"; one line per converted file goes to
// `out`. Returns one of the exit statuses above.
int run_command_line(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The value of the option at args[i]: what follows its '=' where it has
// one, else the next argument, which `i` then moves to; nothing where no
// argument follows.
std::optional<std::string> option_value(const std::vector<std::string>& args, std::size_t& i);

// The finite number that is the whole of `text`, as an option's value.
std::optional<double> finite_number(const std::string& text);

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_COMMAND_LINE_H_
