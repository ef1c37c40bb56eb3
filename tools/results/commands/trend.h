// Many runs of a cluster in time order: a CSV of one row per run and test
// and a chart of each test's total and mean per worker over time, so that a
// slow drift shows as clearly as a sudden drop.
#ifndef QUENDA_TOOLS_RESULTS_COMMANDS_TREND_H_
#define QUENDA_TOOLS_RESULTS_COMMANDS_TREND_H_

#include <array>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "commands/arguments.h"
#include "read/results_file.h"

namespace quenda::results {

// What a history keeps of one run: the run-level figures of each test in
// its headline unit (files/sec, or MB/sec for the access tests), so that a
// history of thousands of runs costs little more memory than one run.
struct TrendPoint {
  NameMetadata when;  // from the file name
  int workers = 0;
  struct Test {
    Figure single;
    Figure total;
    Figure mean;                      // missing where the report prints none
    std::optional<bool> significant;  // likewise
  };
  std::array<Test, kTestCount> tests;
};

// The CSV header and the six rows of one run, in test order:
// local_date,local_time,processor_name,workers,test,unit,single,total,mean,verdict
// where the verdict is "significant", "not significant" or empty.
std::string trend_csv_header();
std::string trend_csv_rows(const TrendPoint& point);

// One panel per test (<g class="panel" data-test="<key>">), the runs along a
// time axis, the total (<path class="total">) above the mean per worker
// (<path class="mean">); a run whose verdict is significant gets a
// <circle class="significant" data-run="<index from 0>"> on its mean.
// `points` are in time order.
std::string trend_svg(const std::vector<TrendPoint>& points);

const Command& trend_command();

// Writes trend.csv and trend.svg into the output folder (the current folder
// by default). Returns 0 when every file was taken, 1 when one was skipped
// (or none was left), 2 for a wrong command line.
int run_trend(const Arguments& arguments, std::ostream& out, std::ostream& err);

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_COMMANDS_TREND_H_
