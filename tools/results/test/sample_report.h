// Results files with chosen figures, written by the benchmark's own report
// code (the same line writers the collector calls), so that the parser is
// tested against the real wording without starting MPI.
#ifndef QUENDA_TOOLS_RESULTS_TEST_SAMPLE_REPORT_H_
#define QUENDA_TOOLS_RESULTS_TEST_SAMPLE_REPORT_H_

#include <array>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "read/results_file.h"

namespace quenda::results::samples {

// Seconds and a rate in files or accesses per second, as the benchmark holds
// them before printing.
struct SampleTiming {
  double seconds = 0.0;
  double rate = 0.0;
};

struct SampleTest {
  SampleTiming single;
  std::vector<SampleTiming> workers;  // ranks 1, 2, ...
};

struct SampleRun {
  int world_size = 1;
  std::string processor_name = "node-a";
  std::array<SampleTest, kTestCount> tests;  // in TestId order
};

// The map of a run of nine processes, two workers a node on node-a to node-d.
inline constexpr char kNineRankMap[] =
    "rank 0 on node-a\nrank 1 on node-a\nrank 2 on node-a\nrank 3 on node-b\nrank 4 on node-b\n"
    "rank 5 on node-c\nrank 6 on node-c\nrank 7 on node-d\nrank 8 on node-d\n";

// A run whose figures differ in every slot. With two workers or more, the
// workers of stream handling, byte-wise writing and block reading differ
// significantly and those of the other three tests are equal.
SampleRun sample_run(int world_size);

// The results file the collector writes for `run`, line by line.
std::string results_text(const SampleRun& run);

// The collector's name for a results file written on 2026-03-04 at 05:06:07.
std::string sample_file_name(const std::string& processor_name);

// The batch script's record of job `job_id` for `results_file`: two nodes,
// node-a and node-b, on ext4 (rw,relatime) with kernel 6.1.0-28-amd64.
nlohmann::json sample_record(const std::string& job_id, const std::string& results_file);

// The value a figure has once printed with the report's six digits.
double printed(double value);

// What the report prints for a test's total, computed with the benchmark's
// own statistics.
struct ExpectedSummary {
  double total = 0.0;  // files/sec or accesses/sec, unprinted
  double improvement = 0.0;
};
ExpectedSummary expected_summary(const SampleRun& run, TestId test);

// The benchmark's display scale of MB/sec.
double in_megabytes(double rate);

// Line numbers (from 1) of every line of `text` equal to `line`.
std::vector<int> line_numbers(const std::string& text, const std::string& line);

// The number of the `nth` line (from 1) that starts with `prefix`, or 0.
int nth_line_starting(const std::string& text, const std::string& prefix, int nth = 1);

// `text` with its first `from` replaced by `to`; a failure where it has none.
std::string replace_first(std::string text, const std::string& from, const std::string& to);

// The first `count` lines of `text`, each with its line end.
std::string first_lines(const std::string& text, int count);

}  // namespace quenda::results::samples

#endif  // QUENDA_TOOLS_RESULTS_TEST_SAMPLE_REPORT_H_
