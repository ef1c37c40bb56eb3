// The benchmark with one of the test plans (QUENDA_TEST_PLAN names it): the
// same driver and tests with a fraction of the counts.
#include "plan.h"
#include "run/driver.h"
#include "small_plan.h"

namespace {
quenda::ProcessState g_state;
}  // namespace

int main(int argc, char** argv) {
  return quenda::run_benchmark(&argc, &argv, quenda::testing::QUENDA_TEST_PLAN, g_state);
}
