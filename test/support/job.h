// Running the real benchmark under the real MPI launcher, reading what it
// leaves behind (the console, the results file, the scratch files), and
// matching its report line by line.
#ifndef QUENDA_TEST_SUPPORT_JOB_H_
#define QUENDA_TEST_SUPPORT_JOB_H_

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/process.h"

namespace quenda::e2e {

using testing::Lines;
using testing::quoted;
using testing::read_file;
using testing::split_lines;
using testing::TemporaryFolder;

struct JobResult {
  int exit_code = -1;
  std::string console;  // the launcher's standard output: every rank's console
  std::string errors;   // the launcher's standard error
  double seconds = 0;
};

struct JobOptions {
  std::string binary = QUENDA_SMALL_BINARY;
  int processes = 1;
  std::filesystem::path directory = {};
  std::string stdin_from = "/dev/null";
  std::string launcher_extra = {};  // more launcher arguments
  int timeout_seconds = 120;
};

// Starts the launcher with the given options in options.directory and waits
// for it.
JobResult run_job(const JobOptions& options);

// Runs a shell command line that starts a job (launcher_command or a
// variation of it) in `directory` and waits for it, as run_job does.
JobResult run_command(const std::string& command, const std::filesystem::path& directory,
                      const JobOptions& options = {});

// The launcher's command line run_job runs (for tests that need a variation).
std::string launcher_command(const JobOptions& options);

// Results files ("results_quenda_lite_windows_clusters @ ...") in a directory.
std::vector<std::filesystem::path> results_files(const std::filesystem::path& directory);

// Whether `name` is a results-file name for the given host:
// "results_quenda_lite_windows_clusters @ <host> @ local date Y.m.d time H.M.S.txt".
bool is_results_name(const std::string& name, const std::string& host);

// What a directory holds: name -> "<dir>" for a directory, "<fifo>" for a
// named pipe, "<other>" for anything else but a regular file, which is
// described by described_file.
std::map<std::string, std::string> directory_entries(const std::filesystem::path& directory);

// The directory's entries, without the results files.
std::map<std::string, std::string> scratch_entries(const std::filesystem::path& directory);

// A regular file's contents in short: "empty", "<n> bytes of 0x0B" or
// "<n> bytes, not all 0x0B".
std::string described_file(const std::string& contents);

inline constexpr const char kEmptyFile[] = "empty";

// A normal run's scratch file, as described_file puts it: `length` bytes of
// 0x0B.
std::string filled(std::int64_t length);

// The names of the scratch files a normal run leaves: the collector's two,
// and for each worker 1 .. world_size - 1 its two, on the given host.
std::vector<std::string> scratch_names(int world_size, const std::string& host);

// A worker's byte-wise file and block copy.
std::string worker_file(int rank, const std::string& host);
std::string worker_copy(int rank, const std::string& host);

// The scratch files a normal run of `world_size` processes on `host` leaves,
// described, each `length` bytes of 0x0B.
std::map<std::string, std::string> normal_scratch(int world_size, const std::string& host,
                                                  std::int64_t length);

// This machine's host name, as MPI reports it for processes started here.
std::string host_name();

// ".<rank>", the suffix of a worker's figure names.
inline std::string figure_suffix(int rank) {
  std::string suffix(1, '.');
  suffix += std::to_string(rank);
  return suffix;
}

// One expected line: a regular expression plus the names of its numbers.
struct Pattern {
  std::string regex;
  std::vector<std::string> names;
};

// Builds a Pattern from pieces: literal text, numbers and alternatives.
class LineBuilder {
 public:
  LineBuilder& text(const std::string& literal);
  // A number printed in default stream notation, remembered under `name`
  // (an empty name matches without remembering).
  LineBuilder& number(const std::string& name = "");
  // Any one of the literals.
  LineBuilder& one_of(const std::vector<std::string>& literals);
  // Anything at all up to the end of the line.
  LineBuilder& rest();
  Pattern done() const { return pattern_; }

 private:
  Pattern pattern_;
};

inline Pattern literal(const std::string& text) { return LineBuilder().text(text).done(); }

// Matches lines against patterns one by one. Returns an empty string when
// all match, else a message naming the first difference. Numbers found are
// stored under their names.
std::string match_lines(const Lines& actual, const std::vector<Pattern>& expected,
                        std::map<std::string, double>& numbers);

// What a complete run shows: the results file and the figures of its report.
struct CompleteRun {
  std::filesystem::path results_file;  // empty when there was not exactly one
  std::map<std::string, double> figures;
  Lines file_lines;
};

// The run is complete: `directory` holds exactly one results file, named for
// `collector`, and both the console and that file hold the whole report of
// `world_size` processes, with the same figures. The report names the file
// under `shown_directory` (the working directory as the collector saw it;
// `directory` when empty). Each difference is a test failure.
CompleteRun expect_complete_run(const Lines& console, const std::filesystem::path& directory,
                                int world_size, const std::string& collector,
                                const std::filesystem::path& shown_directory = {});

}  // namespace quenda::e2e

#endif  // QUENDA_TEST_SUPPORT_JOB_H_
