// A cluster's history, one point per run in time order.
#ifndef QUENDA_TOOLS_RESULTS_ANALYSE_HISTORY_H_
#define QUENDA_TOOLS_RESULTS_ANALYSE_HISTORY_H_

#include <array>
#include <optional>

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

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_ANALYSE_HISTORY_H_
