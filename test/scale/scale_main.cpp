// The benchmark with tiny counts and the full world-size cap of 512, so that
// a run with tens or hundreds of processes takes seconds and still goes
// through every phase, every exchange and every report line of the program.
#include "plan.h"
#include "run/driver.h"
#include "scale_plan.h"

namespace {
quenda::ProcessState g_state;
}  // namespace

int main(int argc, char** argv) {
  return quenda::run_benchmark(&argc, &argv, quenda::testing::kScalePlan, g_state);
}
