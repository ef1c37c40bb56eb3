// Files an earlier run (or anything else) left in the working directory:
// every scratch file is rewritten to exactly what a normal run leaves, and a
// results file of the same name is replaced, not appended to or patched. A
// working directory deeper than 2048 bytes is shown whole in the closing
// line (under the sanitizer build, a fixed-size path buffer would show).
#include <gtest/gtest.h>

#include <thread>

#include "hostile_support.h"
#include "small_plan.h"

namespace quenda::hostile {
namespace {

using testing::write_file;

constexpr std::int64_t kLength = testing::kSmallPlan.file_length;

// Launcher arguments for a run that reads one fixed local time, as runs
// started within one second do, and the results file it names on `host`.
std::string at_fixed_time() {
  return preloading(QUENDA_FIXED_LOCAL_TIME_LIBRARY,
                    {"QUENDA_FIXED_LOCAL_TIME=2031-02-03T04:05:06"});
}
std::string fixed_time_name(const std::string& host) {
  return "results_quenda_lite_windows_clusters @ " + host +
         " @ local date 2031.02.03 time 04.05.06.txt";
}

TEST(LeftoverFilesTest, StaleScratchFilesInADeepDirectoryEndAsANormalRunLeavesThem) {
  TemporaryFolder folder;
  std::filesystem::path directory = folder.path();
  for (int level = 0; level < 11; ++level) {
    directory /= std::string(200, static_cast<char>('a' + level));
  }
  std::filesystem::create_directories(directory);
  ASSERT_GT(directory.string().size(), 2048u);
  const std::string host = e2e::host_name();
  constexpr int kProcesses = 3;
  // Longer, shorter, and different in content from what the run writes.
  write_file(directory / "data64-windows-cluster.tmp", std::string(3 * 4096 + 5, 'T'));
  write_file(directory / "data64-windows-cluster", std::string(10000, 'C'));
  write_file(directory / worker_file(1, host), std::string(8000, 'A'));
  write_file(directory / worker_copy(1, host), std::string(9000, '\0'));
  write_file(directory / worker_file(2, host), std::string(100, '\x0B'));
  write_file(directory / worker_copy(2, host), "short");

  const JobResult result = e2e::run_job({.processes = kProcesses, .directory = directory});

  ASSERT_EQ(result.exit_code, 0) << result.errors << result.console;
  EXPECT_EQ(result.errors, "") << "a clean run says nothing on standard error";
  EXPECT_EQ(scratch_entries(directory), normal_scratch(kProcesses, host, kLength));
  e2e::expect_complete_run(e2e::split_lines(result.console), directory, kProcesses, host);
}

TEST(LeftoverFilesTest, TwoRunsInTheSameSecondLeaveOneResultsFileTheLaterOnes) {
  TemporaryFolder folder;
  const std::filesystem::path& directory = folder.path();
  const std::string host = e2e::host_name();
  // Both runs read the same local time. The later run is the smaller one,
  // so its report is shorter and any remainder of the earlier one would show.
  const std::string name = fixed_time_name(host);
  const JobResult first =
      e2e::run_job({.processes = 3, .directory = directory, .launcher_extra = at_fixed_time()});
  ASSERT_EQ(first.exit_code, 0) << first.errors << first.console;
  EXPECT_EQ(first.errors, "") << "a clean run says nothing on standard error";
  // The earlier run's results file is there, with its three-process report.
  ASSERT_EQ(e2e::expect_complete_run(e2e::split_lines(first.console), directory, 3, host)
                .results_file.filename(),
            name);

  const JobResult second =
      e2e::run_job({.processes = 2, .directory = directory, .launcher_extra = at_fixed_time()});
  ASSERT_EQ(second.exit_code, 0) << second.errors << second.console;
  EXPECT_EQ(second.errors, "") << "a clean run says nothing on standard error";

  const auto run = e2e::expect_complete_run(e2e::split_lines(second.console), directory, 2, host);
  EXPECT_EQ(run.results_file.filename().string(), name);
  // The earlier run's worker 2 files stay; every file is a normal run's.
  EXPECT_EQ(scratch_entries(directory), normal_scratch(3, host, kLength));
}

// Only the results file fails: its name is taken before the run, or the file
// is removed or replaced during it (while the collector is held before its
// block write). Every scratch file is whole, but the report is nowhere, so
// the collector says so and the job does not end 0.
TEST(LeftoverFilesTest, ARunWhoseReportIsNowhereEndsNonZero) {
  const std::string host = e2e::host_name();
  const std::string name = fixed_time_name(host);
  for (const std::string reason :
       {"Is a directory", "No such file or directory", "another file has taken its name"}) {
    TemporaryFolder folder;
    const std::filesystem::path& directory = folder.path();
    const std::filesystem::path results = directory / name;
    const bool taken = reason == "Is a directory";
    if (taken) std::filesystem::create_directory(results);
    HeldFiles collector_block_write(directory, {"data64-windows-cluster"});
    if (taken) collector_block_write.release();
    std::thread remover([&] {
      while (collector_block_write.held() && !std::filesystem::exists(results)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      // Replaced as an editor saves: a new file renamed over it.
      if (collector_block_write.held() && reason.starts_with("another")) {
        write_file(directory / "new", "");
        std::filesystem::rename(directory / "new", results);
      } else if (collector_block_write.held()) {
        std::filesystem::remove(results);
      }
      collector_block_write.release();
    });
    const JobResult result =
        e2e::run_job({.processes = 3, .directory = directory, .launcher_extra = at_fixed_time()});
    remover.join();

    EXPECT_NE(result.exit_code, 0) << reason;
    const std::map<int, Lines> said = {
        {0, {results_file_failure(host, directory.string() + "/" + name, reason, false)}}};
    EXPECT_EQ(failures_by_rank(result.errors), said) << result.errors;
    EXPECT_EQ(scratch_entries(directory), normal_scratch(3, host, kLength));
  }
}

}  // namespace
}  // namespace quenda::hostile
