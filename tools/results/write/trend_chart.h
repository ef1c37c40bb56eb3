// A cluster's history as trend.csv and trend.svg.
#ifndef QUENDA_TOOLS_RESULTS_WRITE_TREND_CHART_H_
#define QUENDA_TOOLS_RESULTS_WRITE_TREND_CHART_H_

#include <string>
#include <vector>

#include "analyse/history.h"

namespace quenda::results {

// The runs of one cluster in time order, and the judgements of its newest.
struct TrendSeries {
  std::string cluster;  // empty: runs without a record
  std::vector<TrendPoint> points;
  Departures departures;
  NodeDepartures nodes;
};

// "cluster <name>: 3 runs, <first local date and time> to <last>", or
// "runs of no named cluster: ...", with the name as `cluster` gives it.
std::string series_heading(const TrendSeries& series, const std::string& cluster);
// "11 runs of 3 clusters", or of one series "2 runs, <span>".
std::string runs_charted(const std::vector<TrendSeries>& series);

// The CSV header and the six rows of one run, in test order:
// local_date,local_time,processor_name,workers,test,unit,single,total,mean,verdict,
// cluster,start_utc,time_source,changes
// where the verdict is "significant", "not significant" or empty, and
// time_source "record", "name" or "name+mtime".
std::string trend_csv_header();
std::string trend_csv_rows(const TrendPoint& point);

// With rank maps, the header and the rows of one run of trend-nodes.csv,
// a row per node and test: cluster,local_date,local_time,node,test,unit,median
// where the median is of the node's workers' measured rates.
std::string trend_node_csv_header();
std::string trend_node_csv_rows(const TrendPoint& point);

// Per series (<g class="series" data-cluster="<name>">, named above its
// panels where there are several or it has a name), one panel per test
// (<g class="panel" data-test="<key>">), the runs along a time axis, the
// total (<path class="total">) above the mean per worker (<path
// class="mean">); a run whose report's verdict is significant gets a grey
// <circle class="significant" data-run="<index from 0>"> on its mean, a run
// whose setup changed a labelled <line class="change" data-run="...">, and
// the newest run a red <circle class="departs"> where it departs from its
// history and a red <text class="node-departs"> per node that departs from
// its own.
std::string trend_svg(const std::vector<TrendSeries>& series);

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_WRITE_TREND_CHART_H_
