// A results file read back into figures: the run's metadata from the file
// name, the collector's single-process figures and, per test, every worker's
// figures with the totals, improvements, means and verdicts.
//
// Figures keep the value as printed (six significant digits); a figure the
// file never reached (a run that was stopped) stays empty.
#ifndef QUENDA_TOOLS_RESULTS_READ_RESULTS_FILE_H_
#define QUENDA_TOOLS_RESULTS_READ_RESULTS_FILE_H_

#include <array>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "test_table.h"

namespace quenda::results {

// The six tests and their names come from the benchmark's own table.
using quenda::kTestCount;
using quenda::Measure;
using quenda::TestId;
inline constexpr Measure measure_of(TestId test) { return test_info(test).measure; }
inline constexpr std::string_view test_key(TestId test) { return test_info(test).key; }
inline constexpr std::string_view test_label(TestId test) { return test_info(test).label; }

using Figure = std::optional<double>;

// One line group of figures. Which members a group carries depends on the
// test's measure and on the group: a total has no time, a mean of an access
// test is printed in MB/sec only.
struct Figures {
  Figure seconds;
  Figure files_per_sec;
  Figure million_accesses_per_sec;
  Figure mb_per_sec;
};

struct WorkerFigures {
  std::uint64_t rank = 0;
  Figures figures;
  // From a rank map, where one is given: the node the worker ran on, and
  // false where the job log says this test failed on it, so that its
  // figures are not measurements.
  std::string node;
  bool measurement = true;
};

struct TestResults {
  TestId id = TestId::kStreamHandling;
  Figures single;  // the collector's run alone
  std::vector<WorkerFigures> workers;
  Figures total;  // sum of the workers' rates
  Figure improvement;
  Figures mean;  // not printed for file handling when there is no worker
  std::optional<bool> significant;
};

// What a results-file name says about its run.
struct NameMetadata {
  std::string processor_name;
  std::string local_date;  // "YYYY-MM-DD"
  std::string local_time;  // "HH:MM:SS"
};

struct RunResults {
  std::string source_file;               // the file name, without its folder
  std::optional<NameMetadata> metadata;  // empty when the file was renamed
  std::string benchmark;                 // the report's title line
  int threads = 0;                       // as the "Thread(s): " line says
  std::array<TestResults, kTestCount> tests;
  bool partial = false;
  std::string partial_reason;  // where and how the file ends, when partial

  int worker_count() const { return threads - 1; }
  const TestResults& test(TestId id) const { return tests[static_cast<int>(id)]; }
};

// A file that cannot be read as a results file: the line and the reason.
// Line numbers count from 1.
class ParseError : public std::runtime_error {
 public:
  ParseError(int line, const std::string& reason) : std::runtime_error(reason), line_(line) {}
  int line() const { return line_; }
  std::string reason() const { return what(); }

 private:
  int line_;
};

struct ParseOptions {
  // Accept a file that ends early (a stopped run) and mark the run partial.
  // A file that says something else than the report would still fails.
  bool allow_partial = false;
  // Check every worker's lines but keep only the totals, improvements,
  // means and verdicts, for a reader that needs no worker's figures.
  bool keep_workers = true;
};

// Far above any real results file (some hundred bytes per worker and test),
// low enough that a wrong argument does not fill the memory.
inline constexpr std::uintmax_t kLargestResultsFile = 64u * 1024u * 1024u;

// The run in a results file's whole `text`; `file_name` (without folder)
// supplies the metadata. Throws ParseError.
RunResults parse_results(std::string_view text, std::string_view file_name,
                         const ParseOptions& options);

// The run in the file at `path`, read whole into `text` (its room reused
// from call to call) once its size is known to be that of a results file;
// or the message "<path>[:<line>]: error: <reason>" (without a line end)
// that refuses it.
using RunRead = std::variant<RunResults, std::string>;
RunRead read_run(const std::filesystem::path& path, const ParseOptions& options, std::string& text);

// The whole run in the results file at `path`, or nothing once the reason it
// is refused is on `err`.
std::optional<RunResults> run_in(const std::filesystem::path& path, std::ostream& err);

// True for "results_quenda_lite_windows_clusters @ ... .txt", the names the
// collector gives its results files.
bool is_results_file_name(std::string_view file_name);

// The processor name and local date and time of a results-file name, or
// nothing when the name is not of that form.
std::optional<NameMetadata> parse_results_file_name(std::string_view file_name);

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_READ_RESULTS_FILE_H_
