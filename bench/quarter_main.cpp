// The benchmark with a quarter of the full counts and the full world-size cap.
// Rates are per file or per access, so they compare with the full program's;
// a run with workers takes about a quarter of the time.
#include "plan.h"
#include "run/driver.h"

namespace {

constexpr quenda::Plan kQuarterPlan{quenda::kFullPlan.world_size_cap,
                                    quenda::kFullPlan.handling_cycles / 4,
                                    quenda::kFullPlan.file_length / 4};

quenda::ProcessState g_state;

}  // namespace

int main(int argc, char** argv) {
  return quenda::run_benchmark(&argc, &argv, kQuarterPlan, g_state);
}
