#include "analyse/rates.h"

namespace quenda::results {

Figure headline_rate(const Figures& figures, Measure measure) {
  return measure == Measure::kFiles ? figures.files_per_sec : figures.mb_per_sec;
}

const char* rate_unit(TestId test) {
  return measure_of(test) == Measure::kFiles ? "files/sec" : "MB/sec";
}

}  // namespace quenda::results
