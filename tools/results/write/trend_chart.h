// A cluster's history as trend.csv and trend.svg.
#ifndef QUENDA_TOOLS_RESULTS_WRITE_TREND_CHART_H_
#define QUENDA_TOOLS_RESULTS_WRITE_TREND_CHART_H_

#include <string>
#include <vector>

#include "analyse/history.h"

namespace quenda::results {

// The CSV header and the six rows of one run, in test order:
// local_date,local_time,processor_name,workers,test,unit,single,total,mean,verdict
// where the verdict is "significant", "not significant" or empty.
std::string trend_csv_header();
std::string trend_csv_rows(const TrendPoint& point);

// One panel per test (<g class="panel" data-test="<key>">), the runs along a
// time axis, the total (<path class="total">) above the mean per worker
// (<path class="mean">); a run whose report's verdict is significant gets a
// grey <circle class="significant" data-run="<index from 0>"> on its mean,
// and the newest run a red <circle class="departs"> where it departs from
// its history. `points` are in time order.
std::string trend_svg(const std::vector<TrendPoint>& points, const Departures& departures = {});

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_WRITE_TREND_CHART_H_
