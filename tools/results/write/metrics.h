// A run in the Prometheus text exposition format, for node_exporter's
// textfile collector: gauges in base units (files per second, bytes per
// second, seconds, plain ratios), labelled by test and, where a rank map
// names them, by node; by rank only where asked for, since a rank label
// multiplies the series by the workers.
#ifndef QUENDA_TOOLS_RESULTS_WRITE_METRICS_H_
#define QUENDA_TOOLS_RESULTS_WRITE_METRICS_H_

#include <array>
#include <optional>
#include <string>

#include "analyse/node_figures.h"
#include "read/results_file.h"

namespace quenda::results {

// Per test, whether the run is worse than the previous one; nothing where
// there was none or the comparison could not judge.
using WorseTests = std::array<std::optional<bool>, kTestCount>;

struct MetricsInput {
  const RunResults* run = nullptr;
  double run_time = 0.0;              // seconds since the epoch
  const RunNodes* nodes = nullptr;    // with a rank map
  const WorseTests* worse = nullptr;  // with a previous run
  bool by_rank = false;               // a family per figure of each worker
};

// Every family with its HELP and TYPE lines, and a sample per figure the
// run holds. Names start with "quenda_lite_"; the run's time is the gauge
// quenda_lite_run_timestamp_seconds, as the textfile collector refuses
// samples that carry a timestamp.
std::string to_metrics(const MetricsInput& input);

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_WRITE_METRICS_H_
