// A command's options as one table, from which both its parsing and its
// help text are made, so that the two cannot drift; and what every command
// shares: how a wrong command line is reported, how a share is written, and
// how the results files of a folder are found.
#ifndef QUENDA_TOOLS_RESULTS_COMMANDS_ARGUMENTS_H_
#define QUENDA_TOOLS_RESULTS_COMMANDS_ARGUMENTS_H_

#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quenda::results {

inline constexpr int kExitUsage = 2;  // the command line itself is wrong

// One row of a command's table.
struct Option {
  std::string_view names;  // "-o, --output-dir": the last is the long name
  std::string_view value;  // what the help calls its value ("DIR"); empty for a flag
  std::string_view help;   // one sentence, wrapped when shown
  bool repeated = false;   // may be given more than once
  // What is wrong with a value ("" where nothing is); no check where null.
  std::string (*check)(const std::string& value) = nullptr;
};

struct Command {
  std::string_view name;          // empty for the conversion, which has no command word
  std::string_view operands;      // "PATH..."
  std::string_view operand_help;  // what the operands are
  std::string_view about;         // what the command does
  std::vector<Option> options;
  std::string_view exit_status;  // what each exit status means
};

// A command line read against a command's table.
struct Arguments {
  std::vector<std::string> operands;
  std::map<std::string, std::vector<std::string>, std::less<>> values;  // by long name
  bool help = false;     // -h/--help met; reading stopped there
  bool version = false;  // --version met; reading stopped there

  bool has(std::string_view long_name) const { return values.contains(long_name); }
  // The option's value, where it was given.
  std::optional<std::string> value(std::string_view long_name) const;
  // Every value of a repeated option, in the order given.
  std::vector<std::string> all(std::string_view long_name) const;
  // A share's value as a fraction (0.05 for "5%"), or `fallback`.
  double fraction(std::string_view long_name, double fallback) const;
};

// Reads `args`: options (by any of their names, a long name also as
// --name=VALUE) anywhere before "--"; operands are "-", what does not start
// with '-', and all that follows "--". Returns the first thing wrong.
std::variant<Arguments, std::string> read_arguments(const Command& command,
                                                    std::span<const std::string> args);

// The help text of `commands`: a usage line each, then each command's
// options, then the options every command takes.
std::string help_text(std::span<const Command* const> commands);

// Writes "quenda-lite-results: <problem>" and where to find help to `err`;
// returns kExitUsage.
int usage_error(std::ostream& err, const std::string& problem);

// `status`, once everything written to `out` has reached it; a listing or a
// help text cut short by a full disk or a closed pipe is `failed`.
int flushed(std::ostream& out, std::ostream& err, int status, int failed = 1);

// A share written as a percentage or a fraction alike ("10%" or "0.1"), in
// percent: 10 for both. Nothing where `text` is neither.
std::optional<double> percent_of(const std::string& text);

// The checks of the shares the commands take alike: --outlier-fraction
// above 0 and at most 100 %, --threshold from 0 to 100 %, and --alpha, the
// chance of any false alarm among everything a command judges together,
// above 0 and below 1, as 0.05 or 5% alike.
std::string outlier_share(const std::string& value);
std::string threshold_share(const std::string& value);
std::string alpha_level(const std::string& value);

// The check of an output folder's value: a command that writes several
// files cannot write them to standard output.
std::string several_outputs(const std::string& value);

// The results files in `folder`, in name order (other files are left
// alone), or the reason there are none to take.
std::variant<std::vector<std::filesystem::path>, std::string> results_files_in(
    const std::filesystem::path& folder);

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_COMMANDS_ARGUMENTS_H_
