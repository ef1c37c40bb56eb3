// quenda-lite-results: turns the benchmark's results files into JSON, CSV
// and SVG charts, compares two runs and charts the history of many. The
// first argument names the command; without a command word, files are
// converted.
#include <array>
#include <iostream>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "commands/arguments.h"
#include "commands/compare.h"
#include "commands/convert.h"
#include "commands/metrics.h"
#include "commands/trend.h"

namespace {

using namespace quenda::results;

struct Entry {
  const Command& (*command)();
  int (*run)(const Arguments&, std::ostream&, std::ostream&);
};

const std::array<Entry, 4> kCommands{{
    {convert_command, run_convert},
    {compare_command, run_compare},
    {trend_command, run_trend},
    {metrics_command, run_metrics},
}};

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> all(argv + 1, argv + argc);
  std::span<const std::string> args = all;
  const Entry* entry = &kCommands[0];
  for (const Entry& other : kCommands) {
    if (!args.empty() && !other.command().name.empty() && args[0] == other.command().name) {
      entry = &other;
      args = args.subspan(1);
    }
  }
  const auto read = read_arguments(entry->command(), args);
  if (const auto* problem = std::get_if<std::string>(&read)) {
    return usage_error(std::cerr, *problem);
  }
  const Arguments& arguments = std::get<Arguments>(read);
  if (arguments.version) {
    std::cout << "quenda-lite-results " << QUENDA_LITE_VERSION << '\n';
    return flushed(std::cout, std::cerr, 0);
  }
  if (arguments.help) {
    // The conversion's help is the whole tool's; a command's is its own.
    std::vector<const Command*> shown;
    for (const Entry& other : kCommands) {
      if (entry == &kCommands[0] || entry == &other) shown.push_back(&other.command());
    }
    std::cout << help_text(shown);
    return flushed(std::cout, std::cerr, 0);
  }
  return entry->run(arguments, std::cout, std::cerr);
}
