// The tool's command line: which results files to read, where to write
// their JSON, CSV and SVG, and how to report what went wrong.
#ifndef QUENDA_TOOLS_RESULTS_COMMANDS_COMMAND_LINE_H_
#define QUENDA_TOOLS_RESULTS_COMMANDS_COMMAND_LINE_H_

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

namespace quenda::results {

inline constexpr int kExitConverted = 0;  // every file converted
inline constexpr int kExitFailed = 1;  // a file not converted, or with --fail-on-flag a node flagged
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

// A command's arguments: its paths in order, the folder of -o/--output-dir
// where the command takes one, and whether -h/--help was met (reading
// stops there).
struct Arguments {
  std::vector<std::string> paths;
  std::optional<std::string> output_dir;
  bool help = false;
};

// Handed each of a command's own options with its place, which moves past
// a value taken with option_value(). Returns what is wrong with the option
// ("" where nothing is), or nothing where the command has no such option.
using OptionReader =
    std::function<std::optional<std::string>(const std::string& arg, std::size_t& i)>;

// Reads `args`: paths are "-", what does not start with '-', and all that
// follows "--".
// Returns the arguments, or the first thing wrong with them.
std::variant<Arguments, std::string> read_arguments(const std::vector<std::string>& args,
                                                    bool takes_output_dir,
                                                    const OptionReader& option);

// Writes "quenda-lite-results: <problem>" and the command's usage to `err`;
// returns kExitUsage.
int usage_error(std::ostream& err, const std::string& problem, const char* usage);

// The results files in `folder`, in name order (other files are left
// alone), or the reason there are none to take.
std::variant<std::vector<std::filesystem::path>, std::string> results_files_in(
    const std::filesystem::path& folder);

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_COMMANDS_COMMAND_LINE_H_
