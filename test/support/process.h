// Starting a program from a test and waiting for it, the POSIX way: in a
// working folder of its choice, with variables added to its environment,
// under a time limit, its standard streams captured, and the most memory it
// held at once measured.
#ifndef QUENDA_TEST_SUPPORT_PROCESS_H_
#define QUENDA_TEST_SUPPORT_PROCESS_H_

#include <filesystem>
#include <string>
#include <vector>

namespace quenda::testing {

struct ProcessOptions {
  // Where its standard output goes instead of being captured ("/dev/full").
  std::string out_path = {};
  std::string in_path = "/dev/null";
  // "NAME=value" entries added to the test's own environment.
  std::vector<std::string> environment = {};
  // When it has run this long, its process group is asked to end (SIGTERM),
  // and ten seconds later made to (SIGKILL). 0: no limit.
  int time_limit_seconds = 0;
  // Run as the user "nobody" when started as root, so that permissions
  // apply to it.
  bool unprivileged = false;
};

struct ProcessResult {
  int exit_code = -1;  // 128 + the signal when a signal ended it
  std::string out;
  std::string err;
  long peak_kilobytes = 0;  // the most memory it, or a process it waited for, held at once
  double seconds = 0;
  bool timed_out = false;
};

// Runs `argv` (argv[0] found on PATH if it has no slash) in `folder` and
// waits for it.
ProcessResult run_process(const std::vector<std::string>& argv, const std::filesystem::path& folder,
                          const ProcessOptions& options = {});

// Runs a shell command line, as run_process does.
ProcessResult run_shell(const std::string& command, const std::filesystem::path& folder,
                        const ProcessOptions& options = {});

// Text quoted for the shell.
std::string quoted(const std::string& text);

}  // namespace quenda::testing

#endif  // QUENDA_TEST_SUPPORT_PROCESS_H_
