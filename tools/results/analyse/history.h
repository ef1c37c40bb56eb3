// A cluster's history, one point per run in time order.
#ifndef QUENDA_TOOLS_RESULTS_ANALYSE_HISTORY_H_
#define QUENDA_TOOLS_RESULTS_ANALYSE_HISTORY_H_

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <vector>

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

// The newest run departs from its history in a test where its mean per
// worker is at least this much below the earlier runs' typical one, and
// significantly so.
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

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_ANALYSE_HISTORY_H_
