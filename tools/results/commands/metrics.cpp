#include "commands/metrics.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <variant>

#include "analyse/node_figures.h"
#include "commands/command_line.h"
#include "commands/compare.h"
#include "read/rank_map.h"
#include "read/read_run.h"
#include "write/metrics.h"
#include "write/replace_file.h"
#include "write/text_escape.h"

namespace quenda::results {
namespace {

namespace fs = std::filesystem;

constexpr const char kUsage[] =
    "usage: quenda-lite-results metrics [--output-dir DIR] [--rank-map MAP\n"
    "                                   [--outlier-fraction F]] [--by-rank]\n"
    "                                   [--previous BASE [--threshold PERCENT]] [--] RESULTS\n"
    "Writes the figures of a run as Prometheus gauges into DIR/quenda-lite.prom,\n"
    "replaced whole, for node_exporter's textfile collector.\n"
    "  RESULTS               the results file of the run\n"
    "  -o, --output-dir DIR  the collector's folder (default: the current folder)\n"
    "  --rank-map MAP        as for a conversion: adds each node's median rate and\n"
    "                        whether it is flagged as slow\n"
    "  --outlier-fraction F  flag a node whose median rate is below F times the\n"
    "                        median over all nodes (default 0.5)\n"
    "  --by-rank             also every worker's figures, labelled by rank\n"
    "  --previous BASE       the results file of the previous run: adds whether each\n"
    "                        test got worse, as compare judges it\n"
    "  --threshold PERCENT   the drop that counts as worse (default 10)\n"
    "  -h, --help            show this text\n";

struct MetricsOptions {
  Arguments arguments;
  std::optional<std::string> rank_map;
  std::optional<double> outlier_fraction;
  bool by_rank = false;
  std::optional<std::string> previous;
  std::optional<double> threshold_percent;
};

// The options, or what is wrong with them.
std::variant<MetricsOptions, std::string> parse_metrics_arguments(
    const std::vector<std::string>& args) {
  MetricsOptions options;
  auto read = read_arguments(
      args, true, [&](const std::string& arg, std::size_t& i) -> std::optional<std::string> {
        if (arg == "--by-rank") {
          options.by_rank = true;
          return "";
        }
        const std::string name = arg.substr(0, arg.find('='));
        if (name != "--rank-map" && name != "--outlier-fraction" && name != "--previous" &&
            name != "--threshold") {
          return std::nullopt;
        }
        const auto value = option_value(args, i);
        if (!value || value->empty()) return name + " needs a value";
        if (name == "--rank-map" || name == "--previous") {
          auto& path = name == "--rank-map" ? options.rank_map : options.previous;
          if (path) return name + " is given twice";
          path = *value;
          return "";
        }
        const double number = finite_number(*value).value_or(-1.0);
        if (name == "--threshold") {
          if (number < 0.0) return "--threshold needs a percentage of at least 0, such as 10";
          options.threshold_percent = number;
        } else {
          if (number <= 0.0 || number > 1.0) {
            return "--outlier-fraction needs a number above 0, at most 1";
          }
          options.outlier_fraction = number;
        }
        return "";
      });
  if (read.index() == 1) return std::get<1>(read);
  options.arguments = std::move(std::get<0>(read));
  if (options.arguments.help) return options;
  if (options.arguments.paths.size() != 1) return "metrics takes one results file";
  if (options.outlier_fraction && !options.rank_map) return "--outlier-fraction needs --rank-map";
  if (options.threshold_percent && !options.previous) return "--threshold needs --previous";
  return options;
}

// When the run started: the local time its file name gives, read in this
// machine's time zone; for a renamed file, when the file was last written.
double run_time(const RunResults& run, const fs::path& path) {
  if (run.metadata) {
    std::tm local{};
    local.tm_isdst = -1;
    if (std::sscanf(run.metadata->local_date.c_str(), "%d-%d-%d", &local.tm_year, &local.tm_mon,
                    &local.tm_mday) == 3 &&
        std::sscanf(run.metadata->local_time.c_str(), "%d:%d:%d", &local.tm_hour, &local.tm_min,
                    &local.tm_sec) == 3) {
      local.tm_year -= 1900;
      local.tm_mon -= 1;
      return static_cast<double>(std::mktime(&local));
    }
  }
  std::error_code error;
  const auto written = fs::last_write_time(path, error);
  if (error) return 0.0;
  const auto since_epoch = std::chrono::file_clock::to_sys(written).time_since_epoch();
  return std::chrono::duration<double>(since_epoch).count();
}

}  // namespace

int run_metrics(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const auto parsed = parse_metrics_arguments(args);
  if (parsed.index() == 1) return usage_error(err, std::get<1>(parsed), kUsage);
  const MetricsOptions& options = std::get<0>(parsed);
  if (options.arguments.help) {
    out << kUsage;
    return out.flush() ? kExitConverted : kExitFailed;
  }

  const fs::path input = options.arguments.paths[0];
  auto read = read_run(input);
  if (const auto* message = std::get_if<std::string>(&read)) {
    err << *message << '\n';
    return kExitFailed;
  }
  RunResults& run = std::get<RunResults>(read);
  MetricsInput metrics{.run = &run, .run_time = run_time(run, input), .by_rank = options.by_rank};

  RunNodes nodes;
  if (options.rank_map) {
    auto map = read_rank_map(*options.rank_map);
    if (const auto* reason = std::get_if<std::string>(&map)) {
      err << printable(*options.rank_map) << ": error: " << *reason << '\n';
      return kExitFailed;
    }
    const std::string disagreement = apply_rank_map(std::get<RankMap>(map), run);
    if (!disagreement.empty()) {
      err << printable(input.string()) << ": error: the rank map " << printable(*options.rank_map)
          << " is not of this run: " << disagreement << '\n';
      return kExitFailed;
    }
    nodes = node_figures(run, options.outlier_fraction.value_or(kDefaultOutlierFraction));
    metrics.nodes = &nodes;
  }

  WorseTests worse;
  if (options.previous) {
    const auto previous = read_run(*options.previous);
    if (const auto* message = std::get_if<std::string>(&previous)) {
      err << *message << '\n';
      return kExitFailed;
    }
    worse =
        worse_tests(std::get<RunResults>(previous), run, options.threshold_percent.value_or(10.0));
    metrics.worse = &worse;
  }

  const fs::path folder = options.arguments.output_dir.value_or(".");
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) {
    err << printable(folder.string())
        << ": error: cannot create the output folder: " << error.message() << '\n';
    return kExitFailed;
  }
  const fs::path output = folder / kMetricsFileName;
  const std::string problem = write_outputs({{output, to_metrics(metrics)}});
  if (!problem.empty()) {
    err << printable(input.string()) << ": error: " << problem << '\n';
    return kExitFailed;
  }
  out << printable(input.string()) << " -> " << printable(output.string()) << '\n';
  return out.flush() ? kExitConverted : kExitFailed;
}

}  // namespace quenda::results
