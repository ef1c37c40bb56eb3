#include "commands/arguments.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <system_error>

#include "read/results_file.h"
#include "reason.h"
#include "write/text_escape.h"

namespace quenda::results {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kTool = "quenda-lite-results";
constexpr std::size_t kWidth = 80;  // of the help text

// The options every command takes, read before its own.
const Option kCommon[]{
    {"--", "", "what follows are operands, even where they start with -"},
    {"-h, --help", "", "show this text"},
    {"--version", "", "show the version of Quenda Lite this tool belongs to"},
};

std::string_view long_name(const Option& option) {
  const std::size_t comma = option.names.rfind(", ");
  return comma == std::string_view::npos ? option.names : option.names.substr(comma + 2);
}

// `text` split into lines of at most `width` columns after `indent`
// blanks; the first line's indent is the caller's.
std::string wrapped(std::string_view text, std::size_t indent, std::size_t first_column) {
  std::string result;
  std::size_t column = first_column;
  while (!text.empty()) {
    const std::size_t blank = text.find(' ');
    const std::string_view word = text.substr(0, blank);
    text = blank == std::string_view::npos ? "" : text.substr(blank + 1);
    if (column > indent && column + 1 + word.size() > kWidth) {
      result.append(1, '\n').append(indent, ' ');
      column = indent;
    } else if (column > indent) {
      result += ' ';
      ++column;
    }
    result += word;
    column += word.size();
  }
  return result + "\n";
}

std::string usage_line(const Command& command, bool first) {
  std::string line = std::string(first ? "usage: " : "       ") + std::string(kTool);
  if (!command.name.empty()) line.append(1, ' ').append(command.name);
  line.append(1, ' ');
  std::string words;
  for (const Option& option : command.options) {
    words.append(1, '[').append(option.names.substr(0, option.names.find(',')));
    if (!option.value.empty()) words.append(1, ' ').append(option.value);
    words += option.repeated ? "]... " : "] ";
  }
  words.append("[--] ").append(command.operands);
  return line + wrapped(words, line.size(), line.size());
}

// Rows of names and their help, the help in a column of its own.
std::string table(std::span<const std::pair<std::string, std::string_view>> rows) {
  std::size_t column = 0;
  for (const auto& row : rows) column = std::max(column, row.first.size());
  column += 4;
  std::string text;
  for (const auto& [names, help] : rows) {
    text += "  " + names + std::string(column - 2 - names.size(), ' ');
    text += wrapped(help, column, column);
  }
  return text;
}

std::string command_help(const Command& command) {
  std::string text = "\n";
  text += wrapped(std::string(command.name.empty() ? "Converting" : command.name) + ": " +
                      std::string(command.about),
                  0, 0);
  std::vector<std::pair<std::string, std::string_view>> rows{
      {std::string(command.operands), command.operand_help}};
  for (const Option& option : command.options) {
    std::string names(option.names);
    if (!option.value.empty()) names.append(1, ' ').append(option.value);
    rows.emplace_back(std::move(names), option.help);
  }
  text += table(rows);
  if (!command.exit_status.empty()) text += wrapped(command.exit_status, 0, 0);
  return text;
}

}  // namespace

std::optional<std::string> Arguments::value(std::string_view long_name) const {
  const auto found = values.find(long_name);
  if (found == values.end()) return std::nullopt;
  return found->second.back();
}

std::vector<std::string> Arguments::all(std::string_view long_name) const {
  const auto found = values.find(long_name);
  return found == values.end() ? std::vector<std::string>() : found->second;
}

double Arguments::fraction(std::string_view long_name, double fallback) const {
  const auto given = value(long_name);
  return given ? *percent_of(*given) / 100 : fallback;
}

std::variant<Arguments, std::string> read_arguments(const Command& command,
                                                    std::span<const std::string> args) {
  Arguments arguments;
  bool only_operands = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (only_operands || arg.empty() || arg[0] != '-' || arg == "-") {
      arguments.operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      only_operands = true;
      continue;
    }
    if (arg == "-h" || arg == "--help" || arg == "--version") {
      (arg == "--version" ? arguments.version : arguments.help) = true;
      return arguments;
    }
    const std::size_t equals = arg.starts_with("--") ? arg.find('=') : std::string::npos;
    const std::string name = arg.substr(0, equals);
    const auto option =
        std::find_if(command.options.begin(), command.options.end(), [&](const Option& known) {
          return long_name(known) == name || known.names.substr(0, known.names.find(',')) == name;
        });
    if (option == command.options.end()) return "unknown option " + printable(name);
    std::string value;
    if (option->value.empty()) {
      if (equals != std::string::npos) return name + " takes no value";
    } else if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      return name + " needs a value, " + std::string(option->value);
    }
    if (!option->value.empty() && value.empty()) return name + " has an empty value";
    if (option->check != nullptr) {
      if (std::string problem = option->check(value); !problem.empty()) return problem;
    }
    auto& values = arguments.values[std::string(long_name(*option))];
    if (!values.empty() && !option->repeated) return name + " is given twice";
    values.push_back(std::move(value));
  }
  return arguments;
}

std::string help_text(std::span<const Command* const> commands) {
  std::string text;
  for (const Command* command : commands) text += usage_line(*command, text.empty());
  for (const Command* command : commands) text += command_help(*command);
  std::vector<std::pair<std::string, std::string_view>> rows;
  for (const Option& option : kCommon) rows.emplace_back(option.names, option.help);
  return text + "\nEvery command takes:\n" + table(rows) +
         wrapped(
             "A SHARE is a percentage or a fraction alike: 10% and 0.1 both mean ten percent. "
             "MB is 2^20 bytes wherever the tool shows it, as in the benchmark's report.",
             0, 0);
}

int usage_error(std::ostream& err, const std::string& problem) {
  err << kTool << ": " << problem << "\ntry '" << kTool << " --help'\n";
  return kExitUsage;
}

int flushed(std::ostream& out, std::ostream& err, int status, int failed) {
  // A text longer than the stream's buffer fails while it is written, and
  // errno then holds that write's reason: it is cleared only before a flush.
  if (out) {
    errno = 0;
    out.flush();
  }
  if (out) return status;
  err << kTool
      << ": error: cannot write to standard output: " << reason_for(errno, "the stream failed")
      << '\n';
  return failed;
}

std::optional<double> percent_of(const std::string& text) {
  const bool percent = text.ends_with('%');
  std::string number = text.substr(0, text.size() - (percent ? 1 : 0));
  // A fraction's decimal point is moved two places in its text, so that
  // 0.15 is 15 exactly, as 15% is.
  const bool shifted = !percent && number.find_first_of("eE") == std::string::npos;
  if (shifted) number += "e2";
  double value = 0.0;
  const char* end = number.data() + number.size();
  const auto [stop, error] = std::from_chars(number.data(), end, value);
  if (error != std::errc() || stop != end || !std::isfinite(value)) return {};
  return percent || shifted ? value : value * 100;
}

std::string outlier_share(const std::string& value) {
  const auto percent = percent_of(value);
  if (percent && *percent > 0.0 && *percent <= 100.0) return "";
  return "--outlier-fraction takes a share above 0 and at most 100%, such as 50% or 0.5";
}

std::string threshold_share(const std::string& value) {
  const auto percent = percent_of(value);
  if (percent && *percent >= 0.0 && *percent <= 100.0) return "";
  return "--threshold takes a share from 0 to 100%, such as 10% or 0.1";
}

std::string alpha_level(const std::string& value) {
  const auto percent = percent_of(value);
  if (percent && *percent > 0.0 && *percent < 100.0) return "";
  return "--alpha takes a chance above 0 and below 1, such as 0.05 or 5%";
}

std::string several_outputs(const std::string& value) {
  if (value != "-") return "";
  return "-o - would send several files to standard output: name a folder";
}

std::variant<std::vector<fs::path>, std::string> results_files_in(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::error_code ignored;
    if (it->is_regular_file(ignored) && is_results_file_name(it->path().filename().string())) {
      files.push_back(it->path());
    }
  }
  if (error) return "cannot list the folder: " + error.message();
  if (files.empty()) return "no results files in this folder";
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace quenda::results
