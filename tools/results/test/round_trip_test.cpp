// The real benchmark under mpirun, then the tool on the results file it
// wrote: every figure the benchmark printed must come back unchanged.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "chart_check.h"
#include "support/files.h"
#include "support/process.h"
#include "report_figures.h"

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
  ProcessResult process;
  fs::path results_file;  // empty when the run left none or several
};

// Runs the small benchmark on `processes` processes in `folder`.
BenchmarkRun run_benchmark(int processes, const fs::path& folder) {
  std::vector<std::string> argv{QUENDA_MPIRUN};
  for (const std::string& flag : testing::split_words(QUENDA_MPIRUN_FLAGS)) argv.push_back(flag);
  argv.insert(argv.end(), {"-np", std::to_string(processes), QUENDA_SMALL_BINARY});
  BenchmarkRun run{run_process(argv, folder), {}};
  std::vector<fs::path> results;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename().string().starts_with(kResultsPrefix)) {
      results.push_back(entry.path());
    }
  }
  EXPECT_EQ(results.size(), 1u);
  if (results.size() == 1) run.results_file = results[0];
  return run;
}

fs::path with_extension(const fs::path& results_file, const std::string& extension) {
  std::string name = results_file.filename().string();
  name.resize(name.size() - 4);  // ".txt"
  return results_file.parent_path() / (name + extension);
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
  ASSERT_EQ(run.process.exit_code, 0) << run.process.err;
  ASSERT_FALSE(run.results_file.empty());

  const ProcessResult converted = run_process({kTool, run.results_file.string()}, folder.path());
  ASSERT_EQ(converted.exit_code, 0) << converted.err;
  EXPECT_EQ(converted.err, "");
  const json document = json::parse(read_file(with_extension(run.results_file, ".json")));

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
  EXPECT_EQ(samples::printed_figures(run.process.out), figures);
  // Single-process groups alone are 2 * 2 + 4 * 3 figures.
  EXPECT_GT(figures.size(), 16u);
  const auto verdicts = samples::json_verdicts_in_report_order(document);
  EXPECT_EQ(samples::printed_verdicts(report), verdicts);
  EXPECT_EQ(samples::printed_verdicts(run.process.out), verdicts);
  EXPECT_EQ(verdicts.size(), processes > 1 ? 6u : 4u);

  for (const std::string& test : kTests) {
    const json& workers = document["tests"][test]["workers"];
    ASSERT_EQ(workers.size(), static_cast<std::size_t>(processes - 1)) << test;
    for (int rank = 1; rank < processes; ++rank) EXPECT_EQ(workers[rank - 1]["rank"], rank);
  }

  // The CSV: one row per test and worker, holding the JSON's figures.
  std::istringstream csv(read_file(with_extension(run.results_file, ".csv")));
  std::string line;
  std::getline(csv, line);
  EXPECT_EQ(line,
            "processor_name,local_date,local_time,test,rank,seconds,files_per_sec,"
            "million_accesses_per_sec,mb_per_sec,partial");
  std::size_t rows = 0;
  for (const std::string& test : kTests) {
    for (const json& worker : document["tests"][test]["workers"]) {
      ASSERT_TRUE(std::getline(csv, line));
      ++rows;
      std::vector<std::string> cells;
      std::istringstream split(line + ",");
      for (std::string cell; std::getline(split, cell, ',');) cells.push_back(cell);
      ASSERT_EQ(cells.size(), 10u) << line;
      EXPECT_EQ(cells[3], test);
      EXPECT_EQ(cells[4], std::to_string(worker["rank"].get<int>()));
      EXPECT_EQ(cells[9], "false");
      EXPECT_EQ(std::strtod(cells[5].c_str(), nullptr), samples::json_figure(worker["seconds"]));
      const std::string rate_cell = worker.contains("files_per_sec") ? cells[6] : cells[8];
      const json& rate =
          worker.contains("files_per_sec") ? worker["files_per_sec"] : worker["mb_per_sec"];
      EXPECT_EQ(std::strtod(rate_cell.c_str(), nullptr), samples::json_figure(rate));
    }
  }
  EXPECT_FALSE(std::getline(csv, line)) << "an extra row: " << line;
  EXPECT_EQ(rows, kTests.size() * static_cast<std::size_t>(processes - 1));

  // The chart: well-formed, one bar per worker in every panel.
  const fs::path svg = with_extension(run.results_file, ".svg");
  EXPECT_EQ(samples::xml_problems(svg), "");
  for (const std::string& test : kTests) {
    EXPECT_EQ(samples::bars_in_panel(svg, test), processes - 1) << test;
  }
}

INSTANTIATE_TEST_SUITE_P(Processes, RoundTrip, ::testing::Values(1, 2, 4),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::to_string(info.param) + "Processes";
                         });

TEST(RoundTripStopped, ARealResultsFileCutShortIsRefusedOrConvertedAsPartial) {
  testing::TemporaryFolder folder;
  const BenchmarkRun run = run_benchmark(3, folder.path());
  ASSERT_EQ(run.process.exit_code, 0) << run.process.err;
  ASSERT_FALSE(run.results_file.empty());
  const std::string report = read_file(run.results_file);

  // Stopped in the middle of the cluster block section, after its heading
  // and the first worker's three lines.
  std::istringstream lines(report);
  std::string kept;
  int kept_lines = 0;
  int headings = 0;
  for (std::string line; std::getline(lines, line);) {
    kept += line + "\n";
    ++kept_lines;
    if (line == "High writing and reading speeds:" && ++headings == 2) {
      for (int i = 0; i < 4 && std::getline(lines, line); ++i) {
        kept += line + "\n";
        ++kept_lines;
      }
      break;
    }
  }
  ASSERT_EQ(headings, 2);
  const fs::path stopped = folder.path() / "stopped";
  fs::create_directory(stopped);
  const fs::path cut = stopped / run.results_file.filename();
  testing::write_file(cut, kept);

  ProcessResult converted = run_process({kTool, cut.string()}, folder.path());
  EXPECT_EQ(converted.exit_code, 1);
  EXPECT_EQ(converted.err.rfind(cut.string() + ":" + std::to_string(kept_lines) +
                                    ": error: the file ends after this line, in the cluster "
                                    "block tests; expected",
                                0),
            0u)
      << converted.err;
  EXPECT_EQ(testing::file_names(stopped),
            std::vector<std::string>{run.results_file.filename().string()});

  converted = run_process({kTool, "--partial", cut.string()}, folder.path());
  ASSERT_EQ(converted.exit_code, 0) << converted.err;
  const json document = json::parse(read_file(with_extension(cut, ".json")));
  EXPECT_EQ(document["partial"], true);
  // Everything printed before the cut, and nothing else.
  EXPECT_EQ(samples::printed_figures(kept), samples::json_figures_in_report_order(document));
  EXPECT_EQ(document["tests"]["block_read"]["workers"].size(), 1u);
  EXPECT_TRUE(document["tests"]["block_write"]["workers"].empty());
}

}  // namespace
}  // namespace quenda::results
