// A world of 64 processes under the real launcher, with tiny counts: the job
// ends in time, the collector reports all 63 workers of every test in rank
// order, and every worker leaves its two files behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "plan.h"
#include "run_support.h"
#include "scale_plan.h"

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

bool holds_only_fill_bytes(const std::string& content) {
  return std::all_of(content.begin(), content.end(), [](char c) { return c == kFillByte; });
}

TEST(Scale, SixtyFourProcessesAreAllCollectedInRankOrder) {
  TempDir directory;
  JobOptions options;
  options.binary = QUENDA_SCALE_BINARY;
  options.processes = kProcesses;
  options.directory = directory.path();
  options.timeout_seconds = kBoundSeconds;
  const JobResult job = run_job(options);
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
  const auto length = static_cast<std::size_t>(testing::kScalePlan.file_length);
  std::vector<std::string> expected_files = {kCollectorFile, kCollectorBlockFile};
  for (int i = 1; i <= kWorkers; ++i) {
    const std::string name = kFilePrefix + std::to_string(i) + "@" + host;
    expected_files.push_back(name + kFileSuffix);
    expected_files.push_back(name);
  }
  for (const auto& name : expected_files) {
    const std::string content = read_file(directory.path() / name);
    EXPECT_EQ(content.size(), length) << name;
    EXPECT_TRUE(holds_only_fill_bytes(content)) << name;
  }
  std::vector<std::string> scratch_files;
  for (const auto& entry : std::filesystem::directory_iterator(directory.path())) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(kFilePrefix, 0) == 0) scratch_files.push_back(name);
  }
  std::sort(scratch_files.begin(), scratch_files.end());
  std::sort(expected_files.begin(), expected_files.end());
  EXPECT_EQ(scratch_files, expected_files);
  EXPECT_EQ(results_files(directory.path()).size(), 1u);
}

}  // namespace
}  // namespace quenda::e2e
