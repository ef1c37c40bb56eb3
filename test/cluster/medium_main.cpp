// The benchmark with a plan between the small and the full one, for the runs
// with one node slowed: each test lasts long enough (tenths of a second
// unslowed) for a CPU quota to tell, and a whole run stays within a minute or
// two on a busy two-core machine.
#include "plan.h"
#include "run/driver.h"

namespace {
constexpr quenda::Plan kMediumPlan{4, 4096, 131072};
quenda::ProcessState g_state;
}  // namespace

int main(int argc, char** argv) {
  return quenda::run_benchmark(&argc, &argv, kMediumPlan, g_state);
}
