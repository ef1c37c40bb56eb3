// The real program under the real MPI launcher: the whole report on both
// sinks, line by line, the figures' arithmetic, and the files left behind.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>

#include "expected_report.h"
#include "plan.h"
#include "run_support.h"
#include "small_plan.h"

namespace quenda::e2e {
namespace {

using Numbers = std::map<std::string, double>;

// Printed figures carry six significant digits; a product or a ratio of two
// of them is good to about this relative error.
constexpr double kPrinted = 3e-5;

::testing::AssertionResult near(double actual, double expected, const std::string& what,
                                double tolerance = kPrinted) {
  const double scale = std::max(std::abs(expected), 1e-300);
  if (actual == expected || std::abs(actual - expected) / scale <= tolerance) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << what << ": got " << actual << ", expected " << expected;
}

double get(const Numbers& numbers, const std::string& name) {
  const auto found = numbers.find(name);
  if (found == numbers.end()) {
    ADD_FAILURE() << "no figure " << name;
    return std::nan("");
  }
  return found->second;
}

constexpr double kMega = 1048576.0;

// Time, rate and credited count agree for one single-process access test.
void check_access_single(const Numbers& n, const std::string& test, double credited) {
  const double t = get(n, test + ".t");
  const double m = get(n, test + ".m");
  EXPECT_TRUE(near(t * m * 1e6, credited, test + " time x rate"));
  EXPECT_TRUE(near(m * 1e6, get(n, test + ".mb") * kMega, test + " millions vs MB"));
}

// A cluster test of accesses: every worker's group and the totals.
void check_access_cluster(const Numbers& n, const std::string& test, int world_size,
                          const std::function<double(int)>& credited) {
  const std::string p = "C:" + test;
  double sum = 0;
  for (int i = 1; i < world_size; ++i) {
    const std::string k = figure_suffix(i);
    const double m = get(n, p + ".m" + k);
    EXPECT_TRUE(near(get(n, p + ".t" + k) * m * 1e6, credited(i), p + k + " time x rate"));
    EXPECT_TRUE(near(m * 1e6, get(n, p + ".mb" + k) * kMega, p + k + " millions vs MB"));
    sum += m;
  }
  const double total = get(n, p + ".total");
  EXPECT_TRUE(near(total, sum, p + " total"));
  EXPECT_TRUE(near(total * 1e6, get(n, p + ".totalmb") * kMega, p + " total in MB"));
  EXPECT_TRUE(near(get(n, p + ".gain"), total / get(n, test + ".m"), p + " improvement"));
  const double mean_mb = world_size > 1 ? total * 1e6 / kMega / (world_size - 1) : 0;
  EXPECT_TRUE(near(get(n, p + ".mean"), mean_mb, p + " mean"));
}

void check_figures(const Numbers& n, int world_size, const Plan& plan) {
  const double cycles = plan.handling_cycles;
  const double length = static_cast<double>(plan.file_length);
  for (const std::string test : {"hs", "hd"}) {
    EXPECT_TRUE(near(get(n, test + ".t") * get(n, test + ".r"), cycles, test + " time x rate"));
    const std::string p = "C:" + test;
    double sum = 0;
    for (int i = 1; i < world_size; ++i) {
      const std::string k = figure_suffix(i);
      const double r = get(n, p + ".r" + k);
      EXPECT_TRUE(near(get(n, p + ".t" + k) * r, cycles, p + k + " time x rate"));
      sum += r;
    }
    const double total = get(n, p + ".total");
    EXPECT_TRUE(near(total, sum, p + " total"));
    EXPECT_TRUE(near(get(n, p + ".gain"), total / get(n, test + ".r"), p + " improvement"));
    if (world_size > 1) {
      EXPECT_TRUE(near(get(n, p + ".mean"), total / (world_size - 1), p + " mean"));
    }
  }
  check_access_single(n, "bw", length + length / 2);
  check_access_single(n, "br", length + length / 2);
  check_access_single(n, "kr", length);
  check_access_single(n, "kw", length);
  const auto bytewise = [&](int rank) {
    return length + static_cast<double>(plan.file_length / (rank + 1));
  };
  check_access_cluster(n, "bw", world_size, bytewise);
  check_access_cluster(n, "br", world_size, bytewise);
  check_access_cluster(n, "kr", world_size, [&](int) { return length; });
  check_access_cluster(n, "kw", world_size, [&](int) { return length; });
}

// With two or more workers the verdicts follow from the printed rates,
// unless the deviation lies too close to the threshold to tell from six
// digits.
void check_verdicts(const Lines& lines, const Numbers& n, int world_size) {
  if (world_size < 3) return;
  std::vector<bool> significant;
  for (const std::string& line : lines) {
    if (line.find("tend to be") != std::string::npos) {
      significant.push_back(line.find("not significant") == std::string::npos);
    }
  }
  struct Verdict {
    std::string figure;
    double scale;
    double threshold;
  };
  // In the order the report gives them.
  const std::vector<Verdict> verdicts = {{"C:hs.r", 1, 1.5},  {"C:hd.r", 1, 1.5},
                                         {"C:bw.m", 1, 0.01}, {"C:br.m", 1, 1},
                                         {"C:kw.m", 1, 350},  {"C:kr.m", 1, 150}};
  ASSERT_EQ(significant.size(), verdicts.size());
  for (std::size_t v = 0; v < verdicts.size(); ++v) {
    const int workers = world_size - 1;
    double mean = 0;
    double largest = 0;
    for (int i = 1; i <= workers; ++i) {
      const double x = get(n, verdicts[v].figure + figure_suffix(i));
      mean += x / workers;
      largest = std::max(largest, std::abs(x));
    }
    double squares = 0;
    for (int i = 1; i <= workers; ++i) {
      const double d = get(n, verdicts[v].figure + figure_suffix(i)) - mean;
      squares += d * d;
    }
    const double s = std::sqrt(squares / workers);
    if (std::abs(s - verdicts[v].threshold) > largest * 1e-5 * 4) {
      EXPECT_EQ(significant[v], s > verdicts[v].threshold) << verdicts[v].figure << " s=" << s;
    }
  }
}

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
