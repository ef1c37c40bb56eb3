// A cluster's history, one point per run in time order, one series per
// cluster.
#ifndef QUENDA_TOOLS_RESULTS_ANALYSE_HISTORY_H_
#define QUENDA_TOOLS_RESULTS_ANALYSE_HISTORY_H_

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "read/results_file.h"

namespace quenda::results {

// How a run was placed in time.
enum class TimeSource {
  kRecord,     // the UTC start its run record gives
  kName,       // the collector's local date and time in the file's name
  kNameMtime,  // likewise, put in order with a name within an hour of it
               // by the files' modification times (a clock set back)
};
const char* time_source_key(TimeSource source);  // "record", "name", "name+mtime"

// What a run ran on, as its record says, each field the distinct values of
// its nodes joined by " | ".
struct RunSetup {
  std::string fstype;
  std::string mount_options;
  std::string kernel;
};

// One node's median rate per test (headline unit), from its measurements.
struct NodePoint {
  std::string name;
  std::array<Figure, kTestCount> median;
};

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
  std::string cluster;            // from the run's record; empty without one
  std::string start_utc;          // likewise, "YYYY-MM-DDTHH:MM:SSZ"
  std::optional<RunSetup> setup;  // likewise
  double instant = 0.0;  // seconds since 1970: UTC from a record, else the local time as if UTC
  TimeSource source = TimeSource::kName;
  std::vector<NodePoint> nodes;  // with a rank map; empty without
  std::string changes;           // against the run before it in its series
};

// Seconds since 1970 of a name's local date and time read as if UTC.
double local_instant(const NameMetadata& when);
// Seconds since 1970 of "YYYY-MM-DDTHH:MM:SSZ"; nothing for other text.
std::optional<double> utc_instant(const std::string& text);

// What changed from `before` to `after` that changes what a run measures:
// "workers 16->12; kernel 6.1.0-27->6.1.0-28"; empty where nothing did.
// The worker count is always compared, the rest where both have a record.
std::string changes_between(const TrendPoint& before, const TrendPoint& after);

// The newest run departs from its history in a test where its mean per
// worker is at least this much below the earlier runs' typical one, and
// significantly so. A node departs from its own history likewise.
inline constexpr double kHistoryMargin = 0.10;

// The newest run judged test by test against the runs before it: its mean
// per worker over their typical one, on log rates, the six tests held
// together as one family.
struct Departure {
  Figure share;       // empty where the test was not judged
  Figure p_adjusted;  // of the shortfall, for the family
  bool flagged = false;
};
struct Departures {
  std::size_t history = 0;  // the runs before the newest
  std::array<Departure, kTestCount> tests;
  bool any() const {
    return std::any_of(tests.begin(), tests.end(), [](const Departure& d) { return d.flagged; });
  }
};

// `points` in time order, judged at family level `alpha`.
Departures judge_newest(const std::vector<TrendPoint>& points, double alpha);

// The newest run's nodes, each judged test by test against that node's
// median rates in the runs before it, every node and test of the newest
// run held together as one family.
struct NodeDeparture {
  std::string node;
  int test = 0;  // index into kTests
  double share = 0.0;
  double p_adjusted = 1.0;
  bool flagged = false;
};
struct NodeDepartures {
  std::size_t nodes = 0;              // in the newest run
  std::vector<NodeDeparture> judged;  // the node and test pairs with history enough
  bool any() const {
    return std::any_of(judged.begin(), judged.end(),
                       [](const NodeDeparture& d) { return d.flagged; });
  }
};
NodeDepartures judge_newest_nodes(const std::vector<TrendPoint>& points, double alpha);

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_ANALYSE_HISTORY_H_
