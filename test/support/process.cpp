#include "support/process.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "support/files.h"

namespace quenda::testing {

namespace fs = std::filesystem;

namespace {

// In the child, between fork and exec: only async-signal-safe calls, and
// _exit(127) when the scene cannot be set.
[[noreturn]] void become(char* const* argv, const fs::path& folder, const fs::path& in_path,
                         const fs::path& out_path, const fs::path& err_path,
                         char* const* environment, bool unprivileged) {
  // A process group of its own, so that the time limit reaches whatever it
  // starts (a launcher's daemons, a shell's children).
  setpgid(0, 0);
  const int in = open(in_path.c_str(), O_RDONLY);
  const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
      chdir(folder.c_str()) != 0) {
    _exit(127);
  }
  constexpr uid_t kNobody = 65534;
  if (unprivileged && getuid() == 0 &&
      (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
    _exit(127);
  }
  execvpe(argv[0], argv, environment);
  _exit(127);
}

// The test's own environment with `added` ("NAME=value") in place of any
// variable of the same name. Made before the fork: a test may run threads, and
// the child may then call nothing that allocates.
std::vector<std::string> environment_with(const std::vector<std::string>& added) {
  std::vector<std::string> variables;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string entry = *variable;
    const std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const std::string& addition : added) replaced |= addition.rfind(name + "=", 0) == 0;
    if (!replaced) variables.push_back(entry);
  }
  variables.insert(variables.end(), added.begin(), added.end());
  return variables;
}

}  // namespace

ProcessResult run_process(const std::vector<std::string>& argv, const fs::path& folder,
                          const ProcessOptions& options) {
  TemporaryFolder capture;
  const fs::path out_path =
      options.out_path.empty() ? capture.path() / "stdout" : fs::path(options.out_path);
  const fs::path err_path = capture.path() / "stderr";
  std::vector<char*> arguments;
  for (const std::string& arg : argv) arguments.push_back(const_cast<char*>(arg.c_str()));
  arguments.push_back(nullptr);
  std::vector<std::string> variables = environment_with(options.environment);
  std::vector<char*> environment;
  for (std::string& variable : variables) environment.push_back(variable.data());
  environment.push_back(nullptr);

  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    become(arguments.data(), folder, options.in_path, out_path, err_path, environment.data(),
           options.unprivileged);
  }
  // Set here as well, so that no signal can come before the child has done it.
  setpgid(child, child);

  ProcessResult result;
  const auto limit = std::chrono::seconds(options.time_limit_seconds);
  int status = 0;
  rusage usage{};
  for (bool killed = false;;) {
    const pid_t ended = wait4(child, &status, options.time_limit_seconds > 0 ? WNOHANG : 0, &usage);
    if (ended == child) break;
    if (ended < 0 && errno != EINTR) throw std::runtime_error("wait4 failed");
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (!result.timed_out && elapsed > limit) {
      result.timed_out = true;
      kill(-child, SIGTERM);
    } else if (result.timed_out && !killed && elapsed > limit + std::chrono::seconds(10)) {
      killed = true;
      kill(-child, SIGKILL);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (result.timed_out) kill(-child, SIGKILL);  // its group too, such as a stuck launcher
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.peak_kilobytes = usage.ru_maxrss;
  if (options.out_path.empty()) result.out = read_file(out_path);
  result.err = read_file(err_path);
  return result;
}

ProcessResult run_shell(const std::string& command, const fs::path& folder,
                        const ProcessOptions& options) {
  return run_process({"/bin/sh", "-c", command}, folder, options);
}

std::string quoted(const std::string& text) {
  std::string result = "'";
  for (const char c : text) {
    if (c == '\'') {
      result += "'\\''";
    } else {
      result += c;
    }
  }
  return result + "'";
}

}  // namespace quenda::testing
