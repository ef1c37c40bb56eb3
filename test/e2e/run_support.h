// Running the real benchmark under the real MPI launcher, and reading what it
// leaves behind: the console, the results file and the scratch files.
#ifndef QUENDA_TEST_E2E_RUN_SUPPORT_H_
#define QUENDA_TEST_E2E_RUN_SUPPORT_H_

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quenda::e2e {

using Lines = std::vector<std::string>;

// A fresh directory under the system's temporary directory, deleted at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

struct JobResult {
  int exit_code = -1;
  std::string console;  // the launcher's standard output: every rank's console
  std::string errors;   // the launcher's standard error
  double seconds = 0;
};

struct JobOptions {
  std::string binary;
  int processes = 1;
  std::filesystem::path directory;
  std::string stdin_from = "/dev/null";  // a path, or a shell command ending in '|'
  std::string launcher_extra;           // more launcher arguments
  int timeout_seconds = 600;
};

// Starts the launcher with the given options and waits for it.
JobResult run_job(const JobOptions& options);

// Runs a shell command line that starts a job (launcher_command or a
// variation of it) and waits for it, capturing it as run_job does. The
// capture files are made next to `directory`, never inside it.
JobResult run_command(const std::string& command, const std::filesystem::path& directory);

// The command line run_job would use (for tests that need a variation).
std::string launcher_command(const JobOptions& options);

// Runs a shell command; returns its exit status.
int shell(const std::string& command);

// Splits text into lines; a trailing newline does not make an empty last line.
Lines split_lines(const std::string& text);

std::string read_file(const std::filesystem::path& path);

// Results files ("results_quenda_lite_windows_clusters @ ...") in a directory.
std::vector<std::filesystem::path> results_files(const std::filesystem::path& directory);

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

}  // namespace quenda::e2e

#endif  // QUENDA_TEST_E2E_RUN_SUPPORT_H_
