// A world of 64 processes under the real launcher, with tiny counts: the job
// ends in time, the collector reports all 63 workers of every test in rank
// order, and every worker leaves its two files behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "plan.h"
#include "small_plan.h"
#include "support/job.h"

namespace quenda::e2e {
namespace {

constexpr int kProcesses = 64;
constexpr int kWorkers = kProcesses - 1;
// Seconds the job may take. A run takes about 6 s on a loaded 2-core machine;
// one that needs 20 times as long is broken, not slow.
constexpr int kBoundSeconds = 120;

enum class Kind { kHandling, kWrite, kRead };

// The worker lines of one test, in rank order: "Thread:<i>@<host> ..." and,
// for the byte-wise and block tests, the MB line that follows them.
std::vector<Pattern> worker_lines(Kind kind, const std::string& host) {
  std::vector<Pattern> lines;
  for (int i = 1; i <= kWorkers; ++i) {
    const std::string thread = "Thread:" + std::to_string(i) + "@" + host;
    if (kind == Kind::kHandling) {
      lines.push_back(
          LineBuilder().text(thread + " The system spent: ").number().text(" Secs.").done());
      lines.push_back(LineBuilder()
                          .text(thread + " The system could process ")
                          .number()
                          .text(" Files/sec.")
                          .done());
      continue;
    }
    const std::string label = kind == Kind::kWrite ? " Secs. to Write." : " Secs. to Read.";
    lines.push_back(LineBuilder().text(thread + " The system spent: ").number().text(label).done());
    lines.push_back(
        LineBuilder().text(thread + " It was: ").number().text(" Millions Access/sec.").done());
    lines.push_back(
        LineBuilder().text("Conventionally, it was: ").number().text(" MB/sec.").done());
  }
  return lines;
}

TEST(Scale, SixtyFourProcessesAreAllCollectedInRankOrder) {
  TemporaryFolder directory;
  const JobResult job = run_job({.binary = QUENDA_SCALE_BINARY,
                                 .processes = kProcesses,
                                 .directory = directory.path(),
                                 .timeout_seconds = kBoundSeconds});
  ASSERT_EQ(job.exit_code, 0) << job.errors;
  EXPECT_LT(job.seconds, kBoundSeconds);

  const Lines console = split_lines(job.console);
  EXPECT_NE(std::find(console.begin(), console.end(), "Thread(s): 64"), console.end());

  // Every worker line of the cluster phases, in the order written: each
  // test's 63 groups, tests in the program's order.
  const auto cluster = std::find(console.begin(), console.end(), "Multi-Thread Enabled:");
  ASSERT_NE(cluster, console.end());
  Lines worker_groups;
  std::copy_if(cluster, console.end(), std::back_inserter(worker_groups), [](const auto& line) {
    return line.rfind("Thread:", 0) == 0 || line.rfind("Conventionally, it was: ", 0) == 0;
  });
  const std::string host = host_name();
  std::vector<Pattern> expected;
  for (const Kind kind :
       {Kind::kHandling, Kind::kHandling, Kind::kWrite, Kind::kRead, Kind::kRead, Kind::kWrite}) {
    const auto lines = worker_lines(kind, host);
    expected.insert(expected.end(), lines.begin(), lines.end());
  }
  std::map<std::string, double> unused;
  EXPECT_EQ(match_lines(worker_groups, expected, unused), "");

  // The files left behind: a ".tmp" and its block copy per worker and for the
  // collector, file_length bytes of the fill byte each, and nothing else.
  EXPECT_EQ(scratch_entries(directory.path()),
            normal_scratch(kProcesses, host, testing::kScalePlan.file_length));
  EXPECT_EQ(results_files(directory.path()).size(), 1u);
}

}  // namespace
}  // namespace quenda::e2e
