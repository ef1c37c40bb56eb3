// The rate a test is judged and drawn by: files/sec for file handling,
// MB/sec (2^20 bytes) for the others, the unit the report gives their
// means in.
#ifndef QUENDA_TOOLS_RESULTS_ANALYSE_RATES_H_
#define QUENDA_TOOLS_RESULTS_ANALYSE_RATES_H_

#include "read/results_file.h"

namespace quenda::results {

inline Figure headline_rate(const Figures& figures, Measure measure) {
  return measure == Measure::kFiles ? figures.files_per_sec : figures.mb_per_sec;
}

// That rate's unit, "files/sec" or "MB/sec".
inline const char* rate_unit(TestId test) {
  return measure_of(test) == Measure::kFiles ? "files/sec" : "MB/sec";
}

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_ANALYSE_RATES_H_
