// The benchmark with the medium plan, for the cluster runs with one node
// slowed.
#include "medium_plan.h"
#include "plan.h"
#include "run/driver.h"

namespace {
quenda::ProcessState g_state;
}  // namespace

int main(int argc, char** argv) {
  return quenda::run_benchmark(&argc, &argv, quenda::testing::kMediumPlan, g_state);
}
