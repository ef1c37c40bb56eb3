#include "commands/metrics.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <variant>

#include "analyse/node_figures.h"
#include "commands/compare.h"
#include "commands/convert.h"
#include "read/rank_map.h"
#include "read/results_file.h"
#include "write/metrics.h"
#include "write/replace_file.h"
#include "write/text_escape.h"

namespace quenda::results {
namespace {

namespace fs = std::filesystem;

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

const Command& metrics_command() {
  static const Command command{
      "metrics",
      "RESULTS",
      "the results file of the run",
      "writes the figures of a run as Prometheus gauges into DIR/quenda-lite.prom, replaced "
      "whole, for node_exporter's textfile collector.",
      {
          {"-o, --output-dir", "DIR", "the collector's folder (default: the current folder)", false,
           several_outputs},
          {"--rank-map", "MAP",
           "as for a conversion: adds each node's median rate and whether it is flagged as slow"},
          {"--outlier-fraction", "SHARE",
           "with --rank-map, flag a node whose median rate is at most SHARE of the other nodes' "
           "typical rate (default 80%) and significantly below it, as a conversion does",
           false, outlier_share},
          {"--by-rank", "", "also every worker's figures, labelled by rank"},
          {"--previous", "BASE",
           "the results file of the previous run: adds whether each test got worse, as compare "
           "judges it"},
          {"--threshold", "SHARE", "with --previous, the fall that counts as worse (default 10%)",
           false, threshold_share},
          {"--alpha", "A",
           "the chance of any false call among the run's nodes, and among its tests against the "
           "previous run, above 0 and below 1: 0.05 (the default) or 5%",
           false, alpha_level},
      },
      "Exit status: 0 the file is in place, 1 a file refused or not written, 2 a wrong command "
      "line."};
  return command;
}

int run_metrics(const Arguments& arguments, std::ostream& out, std::ostream& err) {
  if (arguments.operands.size() != 1) return usage_error(err, "metrics takes one results file");
  const auto rank_map = arguments.value("--rank-map");
  const auto previous = arguments.value("--previous");
  if (arguments.has("--outlier-fraction") && !rank_map) {
    return usage_error(err, "--outlier-fraction needs --rank-map");
  }
  if (arguments.has("--threshold") && !previous) {
    return usage_error(err, "--threshold needs --previous");
  }
  if (arguments.has("--alpha") && !rank_map && !previous) {
    return usage_error(err, "--alpha needs --rank-map or --previous");
  }
  const double alpha = arguments.fraction("--alpha", kDefaultAlpha);

  const fs::path input = arguments.operands[0];
  std::optional<RunResults> read = run_in(input, err);
  if (!read) return kExitFailed;
  RunResults& run = *read;
  MetricsInput metrics{
      .run = &run, .run_time = run_time(run, input), .by_rank = arguments.has("--by-rank")};

  RunNodes nodes;
  if (rank_map) {
    auto map = read_rank_map(*rank_map);
    if (const auto* reason = std::get_if<std::string>(&map)) {
      err << printable(*rank_map) << ": error: " << *reason << '\n';
      return kExitFailed;
    }
    const std::string disagreement = apply_rank_map(std::get<RankMap>(map), run);
    if (!disagreement.empty()) {
      err << printable(input.string()) << ": error: the rank map " << printable(*rank_map)
          << " is not of this run: " << disagreement << '\n';
      return kExitFailed;
    }
    nodes =
        node_figures(run, arguments.fraction("--outlier-fraction", kDefaultOutlierFraction), alpha);
    metrics.nodes = &nodes;
  }

  WorseTests worse;
  if (previous) {
    const std::optional<RunResults> base = run_in(*previous, err);
    if (!base) return kExitFailed;
    worse = worse_tests(*base, run,
                        percent_of(arguments.value("--threshold").value_or("10%")).value(), alpha);
    metrics.worse = &worse;
  }

  const fs::path folder = arguments.value("--output-dir").value_or(".");
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
