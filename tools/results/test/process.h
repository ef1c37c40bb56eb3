// Starting the real programs from the tests: the benchmark under mpirun and
// the results tool, each in a folder of its own, with nothing on stdin.
#ifndef QUENDA_TOOLS_RESULTS_TEST_PROCESS_H_
#define QUENDA_TOOLS_RESULTS_TEST_PROCESS_H_

#include <filesystem>
#include <string>
#include <vector>

namespace quenda::results::samples {

struct ProcessResult {
  int exit_code = -1;  // -1 when the process did not end normally
  std::string out;
  std::string err;
  long peak_kilobytes = 0;  // the most memory it held at once
};

struct ProcessOptions {
  // Where its standard output goes instead of being captured ("/dev/full").
  std::string out_path;
  // Run as the user "nobody" when started as root, so that permissions
  // apply to it.
  bool unprivileged = false;
};

// Runs `argv` (argv[0] found on PATH if it has no slash) in `folder` with
// stdin from /dev/null, and waits for it.
ProcessResult run_process(const std::vector<std::string>& argv, const std::filesystem::path& folder,
                          const ProcessOptions& options = {});

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TemporaryFolder {
 public:
  TemporaryFolder();
  ~TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& content);

// The names of the files in `folder`, sorted.
std::vector<std::string> file_names(const std::filesystem::path& folder);

// Splits a command-line fragment such as "--allow-run-as-root --oversubscribe"
// at its spaces.
std::vector<std::string> split_words(const std::string& words);

}  // namespace quenda::results::samples

#endif  // QUENDA_TOOLS_RESULTS_TEST_PROCESS_H_
