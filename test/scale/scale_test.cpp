// A world of 64 processes under the real launcher, with tiny counts: the job
// ends in time, the collector reports all 63 workers of every test in rank
// order, and every worker leaves its two files behind.
#include <gtest/gtest.h>

#include "plan.h"
#include "small_plan.h"
#include "support/job.h"

namespace quenda::e2e {
namespace {

constexpr int kProcesses = 64;
// Seconds the job may take. A run takes about 6 s on a loaded 2-core machine;
// one that needs 20 times as long is broken, not slow.
constexpr int kBoundSeconds = 120;

TEST(Scale, SixtyFourProcessesAreAllCollectedInRankOrder) {
  TemporaryFolder directory;
  const JobResult job = run_job({.binary = QUENDA_SCALE_BINARY,
                                 .processes = kProcesses,
                                 .directory = directory.path(),
                                 .timeout_seconds = kBoundSeconds});
  ASSERT_EQ(job.exit_code, 0) << job.errors;
  EXPECT_LT(job.seconds, kBoundSeconds);

  // The whole report on both sinks, every test's 63 workers in rank order.
  const std::string host = host_name();
  expect_complete_run(split_lines(job.console), directory.path(), kProcesses, host);

  // The files left behind: a ".tmp" and its block copy per worker and for the
  // collector, file_length bytes of the fill byte each, and nothing else.
  EXPECT_EQ(scratch_entries(directory.path()),
            normal_scratch(kProcesses, host, testing::kScalePlan.file_length));
}

}  // namespace
}  // namespace quenda::e2e
