// The real program under the real MPI launcher: the whole report on both
// sinks, line by line, the figures' arithmetic, and the files left behind.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <string>

#include "expected_report.h"
#include "figure_checks.h"
#include "plan.h"
#include "run_support.h"
#include "small_plan.h"

namespace quenda::e2e {
namespace {

// Every scratch file of a normal run: the collector's two and each worker's
// two, all file_length bytes of 0x0B, and nothing else but the results file.
void check_files_left(const std::filesystem::path& directory, int world_size,
                      const std::string& host, const Plan& plan) {
  std::set<std::string> expected = {"data64-windows-cluster.tmp", "data64-windows-cluster"};
  for (int i = 1; i < world_size; ++i) {
    expected.insert("data64-windows-" + std::to_string(i) + "@" + host + ".tmp");
    expected.insert("data64-windows-" + std::to_string(i) + "@" + host);
  }
  std::set<std::string> found;
  const std::string fill(static_cast<std::size_t>(plan.file_length), '\x0B');
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("results_quenda_lite_windows_clusters @ ", 0) == 0) continue;
    found.insert(name);
    EXPECT_TRUE(read_file(entry.path()) == fill)
        << name << " is not " << plan.file_length << " bytes of 0x0B";
  }
  EXPECT_EQ(found, expected);
}

// Runs the program and checks everything a complete run must show.
void check_complete_run(const std::string& binary, int processes, int world_size, const Plan& plan,
                        const std::string& arguments = "") {
  TempDir dir;
  const std::filesystem::path directory = std::filesystem::canonical(dir.path());
  JobOptions options;
  options.binary = binary + arguments;
  options.processes = processes;
  options.directory = directory;
  const JobResult result = run_job(options);
  ASSERT_EQ(result.exit_code, 0) << result.errors << result.console;
  EXPECT_EQ(result.errors, "") << "a complete run says nothing on standard error";

  const auto results = results_files(directory);
  ASSERT_EQ(results.size(), 1u);
  const std::string host = host_name();
  const std::string results_name = results[0].filename().string();
  EXPECT_TRUE(
      std::regex_match(results_name, std::regex("results_quenda_lite_windows_clusters @ " + host +
                                                " @ local date 20[0-9]{2}\\.[01][0-9]\\.[0-3][0-9] "
                                                "time [0-2][0-9]\\.[0-5][0-9]\\.[0-6][0-9]\\.txt")))
      << results_name;

  const ReportShape shape{world_size, host, directory.string() + "/" + results_name};
  Numbers console_numbers;
  EXPECT_EQ(match_lines(split_lines(result.console), expected_report(shape, Sink::kConsole),
                        console_numbers),
            "");
  Numbers file_numbers;
  const Lines file_lines = split_lines(read_file(results[0]));
  EXPECT_EQ(match_lines(file_lines, expected_report(shape, Sink::kFile), file_numbers), "");
  // Both sinks show the same figures.
  EXPECT_EQ(console_numbers, file_numbers);

  check_figures(file_numbers, world_size, plan);
  check_verdicts(file_lines, file_numbers, world_size);
  check_files_left(directory, world_size, host, plan);
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
