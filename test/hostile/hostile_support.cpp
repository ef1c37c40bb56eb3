#include "hostile_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <system_error>

#include "small_plan.h"

namespace quenda::hostile {

std::string namespace_prefix(const std::string& kinds) {
  const std::string prefix =
      (::geteuid() == 0 ? "unshare " : "unshare --user --map-root-user ") + kinds;
  return testing::run_shell(prefix + " true", ".").exit_code == 0 ? prefix : "";
}

bool every_scene_must_run() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && *ci != '\0' && std::string(ci) != "false";
}

std::string preloading(const std::string& library, const std::vector<std::string>& variables) {
  const char* sanitizer = std::getenv("ASAN_OPTIONS");
  std::string sanitizer_options = sanitizer != nullptr ? sanitizer : "";
  if (!sanitizer_options.empty()) sanitizer_options += ':';
  sanitizer_options += "verify_asan_link_order=0";
  std::string arguments = "-x " + quoted("LD_PRELOAD=" + library) + " -x " +
                          quoted("ASAN_OPTIONS=" + sanitizer_options);
  for (const std::string& variable : variables) arguments += " -x " + quoted(variable);
  return arguments;
}

JobResult run_on_tmpfs(const JobOptions& options, const Tmpfs& tmpfs,
                       const std::string& mount_prefix) {
  const std::filesystem::path& directory = options.directory;
  const std::filesystem::path script =
      directory.parent_path() / (directory.filename().string() + ".scene.sh");
  {
    std::ofstream out(script);
    out << "set -e\n"
        << "directory=" << quoted(directory.string()) << "\n"
        << "seed=$(mktemp -d)\n"
        << "after=$(mktemp -d)\n"
        // The launcher's session directory: a private one, so that the
        // namespace's root never meets one the real root left behind.
        << "export OMPI_MCA_orte_tmpdir_base=$(mktemp -d)\n"
        << "cp -a \"$directory\"/. \"$seed\"/\n"
        << "mount -t tmpfs -o size=" << tmpfs.size << ",mode=0755 quenda-hostile \"$directory\"\n"
        << "cp -a \"$seed\"/. \"$directory\"/\n";
    // A bind remount changes only this mount's flag, which a user namespace
    // may do as well.
    if (tmpfs.read_only) out << "mount -o remount,bind,ro \"$directory\"\n";
    if (!tmpfs.host_name.empty()) out << "hostname " << quoted(tmpfs.host_name) << "\n";
    out << "set +e\n"
        << "( cd \"$directory\" && " << e2e::launcher_command(options) << " )\n"
        << "status=$?\n"
        // What the job left, copied out before the tmpfs goes.
        << "cp -a \"$directory\"/. \"$after\"/\n"
        << "umount \"$directory\"\n"
        << "find \"$directory\" -mindepth 1 -delete\n"
        << "cp -a \"$after\"/. \"$directory\"/\n"
        << "rm -rf \"$seed\" \"$after\" \"$OMPI_MCA_orte_tmpdir_base\"\n"
        << "exit $status\n";
  }
  JobResult result =
      e2e::run_command(mount_prefix + " sh " + quoted(script.string()), directory, options);
  std::filesystem::remove(script);
  return result;
}

std::map<int, Lines> failures_by_rank(const std::string& errors) {
  // With --tag-output the launcher puts its tag before each line.
  static const std::regex own(
      R"((?:\[[0-9]+,[0-9]+\]<stderr>:)?(quenda-lite: rank ([0-9]+) on .*))");
  std::map<int, Lines> by_rank;
  std::smatch match;
  for (const std::string& line : e2e::split_lines(errors)) {
    if (std::regex_match(line, match, own)) by_rank[std::stoi(match[2].str())].push_back(match[1]);
  }
  return by_rank;
}

std::string failure_line(int rank, const std::string& node, const std::string& test,
                         const std::string& file, const std::string& reason) {
  return "quenda-lite: rank " + std::to_string(rank) + " on " + node + ": " + test + ": " + file +
         ": " + reason + "; the figures of this test are not measurements";
}

std::string results_file_failure(const std::string& node, const std::string& path,
                                 const std::string& reason, bool created) {
  return "quenda-lite: rank 0 on " + node + ": results file: " + path + ": " + reason + "; " +
         (created ? "the report in it is cut short" : "the report was not saved");
}

std::string holds(std::int64_t size) {
  return "the file holds " + std::to_string(size) + " bytes, not " +
         std::to_string(testing::kSmallPlan.file_length);
}

std::map<int, Lines> lines_by_rank(const std::string& tagged_console) {
  static const std::regex tag(R"(\[[0-9]+,([0-9]+)\]<stdout>:)");
  std::map<int, Lines> by_rank;
  std::map<int, std::string> unfinished;
  for (const std::string& line : e2e::split_lines(tagged_console)) {
    // Every tag opens a piece of its rank's output; all but the last piece
    // of the line end within a line of their rank, the last ends it.
    int rank = -1;
    auto rest = line.cbegin();
    for (std::sregex_iterator it(line.begin(), line.end(), tag), end; it != end; ++it) {
      unfinished[rank].append(rest, line.cbegin() + it->position());
      rank = std::stoi((*it)[1].str());
      rest = line.cbegin() + it->position() + it->length();
    }
    unfinished[rank].append(rest, line.cend());
    by_rank[rank].push_back(unfinished[rank]);
    unfinished[rank].clear();
  }
  for (const auto& [rank, piece] : unfinished) {
    if (!piece.empty()) by_rank[rank].push_back(piece);
  }
  return by_rank;
}

HeldFiles::HeldFiles(const std::filesystem::path& directory,
                     const std::vector<std::string>& names) {
  // The holder is told of a breaking lease by SIGIO, which would end it.
  std::signal(SIGIO, SIG_IGN);
  for (const std::string& name : names) {
    std::ofstream(directory / name, std::ios::app).close();
    // O_CLOEXEC: the job must not hold it too.
    const int descriptor = ::open((directory / name).c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor >= 0) descriptors_.push_back(descriptor);
    if (descriptor < 0 || ::fcntl(descriptor, F_SETLEASE, F_RDLCK) != 0) {
      const std::system_error error(errno, std::generic_category(), name);
      release();
      throw error;
    }
  }
}

void HeldFiles::release() {
  for (const int descriptor : descriptors_) ::close(descriptor);
  descriptors_.clear();
}

std::vector<Started> processes_started_from(const std::string& program) {
  std::vector<Started> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string pid = entry.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string command_line = e2e::read_file(entry.path() / "cmdline");
    if (command_line.substr(0, command_line.find('\0')) != program) continue;
    int rank = -1;
    std::istringstream environment(e2e::read_file(entry.path() / "environ"));
    for (std::string variable; std::getline(environment, variable, '\0');) {
      const std::string key = "OMPI_COMM_WORLD_RANK=";
      if (variable.rfind(key, 0) == 0) rank = std::stoi(variable.substr(key.size()));
    }
    found.push_back(Started{static_cast<pid_t>(std::stol(pid)), rank});
  }
  return found;
}

std::string match_report(const Lines& lines, const std::vector<Pattern>& expected) {
  std::map<std::string, double> numbers;
  return e2e::match_lines(lines, expected, numbers);
}

}  // namespace quenda::hostile
