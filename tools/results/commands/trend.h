// The history of many runs of a cluster in time order, as a CSV of one row
// per run and test and a chart of each test's total and mean per worker
// over time, so that a slow drift shows as clearly as a sudden drop.
#ifndef QUENDA_TOOLS_RESULTS_COMMANDS_TREND_H_
#define QUENDA_TOOLS_RESULTS_COMMANDS_TREND_H_

#include <ostream>

#include "commands/arguments.h"

namespace quenda::results {

const Command& trend_command();

// Writes trend.csv and trend.svg into the output folder (the current folder
// by default) and judges the newest run against the runs before it. Returns
// 0 when every file was taken, 1 when one was skipped (or none was left) or,
// with --fail-on-flag, the newest run departs, 2 for a wrong command line.
int run_trend(const Arguments& arguments, std::ostream& out, std::ostream& err);

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_COMMANDS_TREND_H_
