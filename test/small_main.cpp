// The benchmark with one of the test plans (QUENDA_TEST_PLAN names it): the
// same driver and tests with a fraction of the counts, and the same answers
// to --help and --version, so that scripts that ask it find what they
// would find of the installed program.
#include <iostream>

#include "plan.h"
#include "run/command_line.h"
#include "run/driver.h"
#include "small_plan.h"

namespace {
quenda::ProcessState g_state;
}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) return quenda::answer_command_line(argc, argv, std::cout, std::cerr);
  return quenda::run_benchmark(&argc, &argv, quenda::testing::QUENDA_TEST_PLAN, g_state);
}
