// Quenda Lite: disk and file-system speed of a cluster, measured as one MPI job.
#include <iostream>

#include "plan.h"
#include "run/command_line.h"
#include "run/driver.h"

namespace {
// Process-lifetime state, alive before main runs and until the process ends.
quenda::ProcessState g_state;
}  // namespace

int main(int argc, char** argv) {
  // Answered before MPI starts and before any file is opened.
  if (argc > 1) return quenda::answer_command_line(argc, argv, std::cout, std::cerr);
  return quenda::run_benchmark(&argc, &argv, quenda::kFullPlan, g_state);
}
