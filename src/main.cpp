// Quenda Lite: disk and file-system speed of a cluster, measured as one MPI job.
#include "plan.h"
#include "run/driver.h"

namespace {
// Process-lifetime state, alive before main runs and until the process ends.
quenda::ProcessState g_state;
}  // namespace

int main(int argc, char** argv) {
  return quenda::run_benchmark(&argc, &argv, quenda::kFullPlan, g_state);
}
