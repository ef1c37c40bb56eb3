// The real benchmark under mpirun, then the tool on the results file it
// wrote: every figure the benchmark printed must come back unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "chart_check.h"
#include "report_figures.h"
#include "sample_report.h"
#include "support/files.h"
#include "support/job.h"
#include "support/process.h"

namespace quenda::results {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::ProcessResult;
using testing::read_file;
using testing::run_process;

const std::string kTool = QUENDA_RESULTS_TOOL;
constexpr const char kResultsPrefix[] = "results_quenda_lite_windows_clusters @ ";
const std::vector<std::string> kTests{"stream_handling", "descriptor_handling", "bytewise_write",
                                      "bytewise_read",   "block_read",          "block_write"};

struct BenchmarkRun {
  e2e::JobResult job;
  fs::path results_file;  // empty when the run failed or left no file or several
};

// Runs the small benchmark on `processes` processes in `folder`, with
// `launcher_extra` among mpirun's options.
BenchmarkRun run_benchmark(int processes, const fs::path& folder,
                           const std::string& launcher_extra = "") {
  BenchmarkRun run{
      e2e::run_job({.processes = processes, .directory = folder, .launcher_extra = launcher_extra}),
      {}};
  const std::vector<fs::path> results = e2e::results_files(folder);
  EXPECT_EQ(run.job.exit_code, 0) << run.job.errors;
  EXPECT_EQ(results.size(), 1u);
  if (run.job.exit_code == 0 && results.size() == 1) run.results_file = results[0];
  return run;
}

// "2026-12-07" and "21:14:07" as the file name spells them.
std::string dotted(std::string text) {
  for (char& c : text) {
    if (c == '-' || c == ':') c = '.';
  }
  return text;
}

class RoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(RoundTrip, TheToolReadsBackEveryFigureTheBenchmarkPrinted) {
  const int processes = GetParam();
  testing::TemporaryFolder folder;
  const BenchmarkRun run = run_benchmark(processes, folder.path());
  ASSERT_FALSE(run.results_file.empty());

  const ProcessResult converted = run_process({kTool, run.results_file.string()}, folder.path());
  ASSERT_EQ(converted.exit_code, 0) << converted.err;
  EXPECT_EQ(converted.err, "");
  const json document =
      json::parse(read_file(fs::path(run.results_file).replace_extension(".json")));

  // Metadata: the file name rebuilt from the JSON is the file's name.
  EXPECT_EQ(document["partial"], false);
  EXPECT_EQ(document["threads"], processes);
  EXPECT_EQ(document["worker_count"], processes - 1);
  EXPECT_EQ(kResultsPrefix + document["processor_name"].get<std::string>() + " @ local date " +
                dotted(document["local_date"]) + " time " + dotted(document["local_time"]) + ".txt",
            run.results_file.filename().string());

  // Figures and verdicts: the results file and the console print the same
  // ones in the same order, and the JSON holds exactly those.
  const std::string report = read_file(run.results_file);
  const auto figures = samples::json_figures_in_report_order(document);
  EXPECT_EQ(samples::printed_figures(report), figures);
  EXPECT_EQ(samples::printed_figures(run.job.console), figures);
  // Single-process groups alone are 2 * 2 + 4 * 3 figures.
  EXPECT_GT(figures.size(), 16u);
  const auto verdicts = samples::json_verdicts_in_report_order(document);
  EXPECT_EQ(samples::printed_verdicts(report), verdicts);
  EXPECT_EQ(samples::printed_verdicts(run.job.console), verdicts);
  EXPECT_EQ(verdicts.size(), processes > 1 ? 6u : 4u);

  // Compared with itself, the run is no worse and every ratio is 1.
  const std::string file = run.results_file.string();
  const ProcessResult compared =
      run_process({kTool, "compare", "--json", file, file}, folder.path());
  ASSERT_EQ(compared.exit_code, 0) << compared.err;
  const json comparison = json::parse(compared.out);
  EXPECT_EQ(comparison["worse"], false);
  EXPECT_EQ(comparison["world_sizes_differ"], false);
  for (const std::string& test : kTests) {
    const json& entry = comparison["tests"][test];
    for (const char* figure : {"single", "total", "mean"}) {
      // An infinite rate (a timer that saw no time pass) or a total of no
      // workers has no ratio.
      if (entry[figure]["base"].is_number() && entry[figure]["base"] != 0) {
        EXPECT_EQ(entry[figure]["ratio"], 1.0) << test;
      }
    }
    EXPECT_EQ(entry["verdict"], entry["p_value"].is_null() ? "untested" : "not significant");
  }
}

INSTANTIATE_TEST_SUITE_P(Processes, RoundTrip, ::testing::Values(1, 2, 4),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::to_string(info.param) + "Processes";
                         });

TEST(RoundTripHistory, TrendChartsRealRunsInTimeOrder) {
  const std::string clock = QUENDA_FIXED_LOCAL_TIME_LIBRARY;
  if (clock.empty()) GTEST_SKIP() << "the fixed-clock preload is built for Open MPI on Linux";
  testing::TemporaryFolder folder;
  struct Dated {
    std::string at;
    int processes;
  };
  // Out of time order on purpose.
  const std::vector<Dated> runs{
      {"2031-02-03T04:05:07", 4}, {"2030-12-31T23:59:59", 2}, {"2031-02-03T04:05:06", 3}};
  std::vector<std::string> trend{kTool, "trend", "-o", "charts"};
  std::vector<json> converted;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const fs::path run_folder = folder.path() / ("run" + std::to_string(i));
    fs::create_directory(run_folder);
    const BenchmarkRun run =
        run_benchmark(runs[i].processes, run_folder,
                      "-x LD_PRELOAD=" + clock + " -x QUENDA_FIXED_LOCAL_TIME=" + runs[i].at);
    ASSERT_FALSE(run.results_file.empty());
    ASSERT_EQ(run_process({kTool, run.results_file.string()}, run_folder).exit_code, 0);
    converted.push_back(
        json::parse(read_file(fs::path(run.results_file).replace_extension(".json"))));
    trend.push_back(i == 0 ? run_folder.string() : run.results_file.string());
    if (i == 0) fs::copy_file(run.results_file, folder.path() / "renamed.txt");
  }
  trend.push_back("renamed.txt");
  const ProcessResult charted = run_process(trend, folder.path());
  EXPECT_EQ(charted.exit_code, 1);
  EXPECT_TRUE(charted.err.starts_with("renamed.txt: error: its name gives no date and time"))
      << charted.err;
  EXPECT_EQ(std::count(charted.err.begin(), charted.err.end(), '\n'), 1) << charted.err;
  EXPECT_EQ(charted.out,
            "3 runs, 2030-12-31 23:59:59 to 2031-02-03 04:05:07 -> charts/trend.csv, .svg\n"
            "order: 3 by the local time in their file's name\n"
            "changed at 2031-02-03 04:05:06: workers 1->2\n"
            "changed at 2031-02-03 04:05:07: workers 2->3\n"
            "newest run not judged against its history: 5 earlier runs with a mean per worker "
            "are needed, 2 given\n");

  // One row per run and test in time order, with the figures the full
  // conversion read from the same file.
  const auto rows = samples::csv_rows(read_file(folder.path() / "charts" / "trend.csv"));
  ASSERT_EQ(rows.size(), 1 + runs.size() * kTests.size());
  EXPECT_EQ(rows[0], samples::csv_rows("local_date,local_time,processor_name,workers,test,unit,"
                                       "single,total,mean,verdict,cluster,start_utc,time_source,"
                                       "changes")[0]);
  std::size_t row = 0;
  std::map<std::string, int> significant_runs;
  for (const std::size_t run : {1, 2, 0}) {
    const json& document = converted[run];
    for (const std::string& test : kTests) {
      const std::vector<std::string>& cells = rows[++row];
      ASSERT_EQ(cells.size(), 14u);
      const json& figures = document["tests"][test];
      const std::string rate = figures["measure"] == "files" ? "files_per_sec" : "mb_per_sec";
      const auto figure = [&](int cell) { return std::strtod(cells[cell].c_str(), nullptr); };
      EXPECT_EQ(cells[0] + " " + cells[1] + " " + cells[3] + " " + cells[4],
                document["local_date"].get<std::string>() + " " +
                    document["local_time"].get<std::string>() + " " +
                    std::to_string(runs[run].processes - 1) + " " + test);
      EXPECT_EQ(cells[2], document["processor_name"]);
      // No record beside these runs; each has another worker count than the one before.
      EXPECT_EQ(cells[10] + cells[11] + "," + cells[12] + "," + cells[13],
                ",name," + std::string(run == 1   ? ""
                                       : run == 2 ? "workers 1->2"
                                                  : "workers 2->3"));
      EXPECT_EQ(figure(6), samples::json_figure(figures["single"], rate));
      EXPECT_EQ(figure(7), samples::json_figure(figures["total"], rate));
      if (figures["mean"].is_null()) {
        EXPECT_EQ(cells[8] + cells[9], "");
        continue;
      }
      EXPECT_EQ(figure(8), samples::json_figure(figures["mean"], rate));
      EXPECT_EQ(cells[9], figures["significant"] == true ? "significant" : "not significant");
      significant_runs[test] += figures["significant"] == true;
    }
  }

  // The chart: each panel's two lines, a mark per significant run, drawn
  // by a viewer and a browser alike.
  const fs::path svg = folder.path() / "charts" / "trend.svg";
  EXPECT_EQ(samples::xml_problems({svg}), "");
  for (const std::string& test : kTests) {
    const std::string panel = "//*[local-name()='g'][@data-test='" + test + "']/*";
    EXPECT_EQ(samples::xpath_count(svg, panel + "[local-name()='path'][@class='total']"), 1);
    EXPECT_EQ(samples::xpath_count(svg, panel + "[local-name()='path'][@class='mean']"), 1);
    EXPECT_EQ(samples::xpath_count(svg, panel + "[@class='significant']"), significant_runs[test])
        << test;
    EXPECT_EQ(samples::xpath_count(svg, panel + "[local-name()='line'][@class='change']"), 2);
  }
  EXPECT_EQ(samples::render_problems(svg), "");
}

}  // namespace
}  // namespace quenda::results
