// The real program under the real MPI launcher: the whole report on both
// sinks, line by line, the figures' arithmetic, and the files left behind.
#include <gtest/gtest.h>

#include <string>

#include "plan.h"
#include "small_plan.h"
#include "support/figure_checks.h"
#include "support/job.h"

namespace quenda::e2e {
namespace {

// Runs the program and checks everything a complete run must show.
void check_complete_run(const std::string& binary, int processes, int world_size, const Plan& plan,
                        const std::string& arguments = "") {
  TemporaryFolder directory;
  const JobResult result = run_job(
      {.binary = binary + arguments, .processes = processes, .directory = directory.path(),
       .timeout_seconds = 600});
  ASSERT_EQ(result.exit_code, 0) << result.errors << result.console;
  EXPECT_EQ(result.errors, "") << "a complete run says nothing on standard error";

  const std::string host = host_name();
  const CompleteRun run =
      expect_complete_run(split_lines(result.console), directory.path(), world_size, host);
  check_figures(run.figures, world_size, plan);
  check_verdicts(run.file_lines, run.figures, world_size);
  // Every scratch file of a normal run, and nothing else but the results file.
  EXPECT_EQ(scratch_entries(directory.path()), normal_scratch(world_size, host, plan.file_length));
}

class SmallRunTest : public ::testing::TestWithParam<int> {};

TEST_P(SmallRunTest, CompleteReportFiguresAndFiles) {
  check_complete_run(QUENDA_SMALL_BINARY, GetParam(), GetParam(), testing::kSmallPlan);
}

INSTANTIATE_TEST_SUITE_P(Processes, SmallRunTest, ::testing::Values(1, 2, 3),
                         ::testing::PrintToStringParamName());

TEST(CapTest, ProcessesBeyondTheCapPassTheBarriersAndTakeNoPart) {
  // Six processes against a cap of four: ranks 4 and 5 run nothing, send
  // nothing and leave no file, and the job still ends normally. The
  // arguments are ignored.
  check_complete_run(QUENDA_SMALL_BINARY, 6, testing::kSmallPlan.world_size_cap,
                     testing::kSmallPlan, " --threads 9 ignored");
}

TEST(FullSizeRunTest, OneProcess) { check_complete_run(QUENDA_FULL_BINARY, 1, 1, kFullPlan); }

TEST(FullSizeRunTest, TwoProcesses) { check_complete_run(QUENDA_FULL_BINARY, 2, 2, kFullPlan); }

TEST(FullSizeRunTest, ThreeProcesses) { check_complete_run(QUENDA_FULL_BINARY, 3, 3, kFullPlan); }

}  // namespace
}  // namespace quenda::e2e
