// A run's figures for Prometheus: the text exposition written into a folder
// that node_exporter's textfile collector reads, replaced whole, so that a
// scrape never sees half a file.
#ifndef QUENDA_TOOLS_RESULTS_COMMANDS_METRICS_H_
#define QUENDA_TOOLS_RESULTS_COMMANDS_METRICS_H_

#include <ostream>

#include "commands/arguments.h"

namespace quenda::results {

// The file the exposition goes to, in the chosen folder.
inline constexpr char kMetricsFileName[] = "quenda-lite.prom";

const Command& metrics_command();

// Writes the exposition of one run: returns 0 once the file is in place, 1
// when a file is refused or cannot be written, 2 for a wrong command line.
int run_metrics(const Arguments& arguments, std::ostream& out, std::ostream& err);

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_COMMANDS_METRICS_H_
