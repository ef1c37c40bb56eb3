// The benchmark with a small plan: the same driver and tests, a fraction of
// the counts and a world-size cap of 4, so end-to-end runs take seconds and
// can exceed the cap with a handful of processes.
#include "plan.h"
#include "run/driver.h"
#include "small_plan.h"

namespace {
quenda::ProcessState g_state;
}  // namespace

int main(int argc, char** argv) {
  return quenda::run_benchmark(&argc, &argv, quenda::testing::kSmallPlan, g_state);
}
