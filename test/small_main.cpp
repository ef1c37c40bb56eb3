// The benchmark with one of the test plans (QUENDA_TEST_PLAN names it): the
// same driver and tests with a fraction of the counts. It answers --help
// and --version alone as the installed program does, since the batch script
// asks the program its version; other arguments reach the driver, which
// ignores them.
#include <iostream>
#include <string_view>

#include "plan.h"
#include "run/command_line.h"
#include "run/driver.h"
#include "small_plan.h"

namespace {
quenda::ProcessState g_state;
}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 &&
      (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "--version")) {
    return quenda::answer_command_line(argc, argv, std::cout, std::cerr);
  }
  return quenda::run_benchmark(&argc, &argv, quenda::testing::QUENDA_TEST_PLAN, g_state);
}
