#include "support/job.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <sstream>

#include "file_names.h"
#include "support/expected_report.h"

namespace quenda::e2e {

std::string launcher_command(const JobOptions& options) {
  std::ostringstream command;
  command << QUENDA_MPIRUN << ' ' << QUENDA_MPIRUN_FLAGS << ' ' << options.launcher_extra << " -np "
          << options.processes << ' ' << options.binary;
  return command.str();
}

JobResult run_job(const JobOptions& options) {
  return run_command(launcher_command(options), options.directory, options);
}

JobResult run_command(const std::string& command, const std::filesystem::path& directory,
                      const JobOptions& options) {
  const testing::ProcessResult ended = testing::run_shell(
      command, directory,
      {.in_path = options.stdin_from, .time_limit_seconds = options.timeout_seconds});
  return JobResult{ended.exit_code, ended.out, ended.err, ended.seconds};
}

std::vector<std::filesystem::path> results_files(const std::filesystem::path& directory) {
  std::vector<std::filesystem::path> found;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("results_quenda_lite_windows_clusters @ ", 0) == 0)
      found.push_back(entry.path());
  }
  return found;
}

bool is_results_name(const std::string& name, const std::string& host) {
  const auto parts = read_results_file_name(name);
  return parts && parts->processor_name == host;
}

std::map<std::string, std::string> directory_entries(const std::filesystem::path& directory) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    const auto status = entry.symlink_status();
    if (std::filesystem::is_directory(status)) {
      entries[name] = "<dir>";
    } else if (std::filesystem::is_fifo(status)) {
      entries[name] = "<fifo>";
    } else if (std::filesystem::is_regular_file(status)) {
      entries[name] = described_file(read_file(entry.path()));
    } else {
      entries[name] = "<other>";
    }
  }
  return entries;
}

std::map<std::string, std::string> scratch_entries(const std::filesystem::path& directory) {
  auto entries = directory_entries(directory);
  for (const auto& results : results_files(directory)) entries.erase(results.filename().string());
  return entries;
}

std::string described_file(const std::string& contents) {
  if (contents.empty()) return kEmptyFile;
  const bool fill_only = contents.find_first_not_of('\x0B') == std::string::npos;
  return std::to_string(contents.size()) + (fill_only ? " bytes of 0x0B" : " bytes, not all 0x0B");
}

std::string filled(std::int64_t length) {
  return described_file(std::string(static_cast<std::size_t>(length), '\x0B'));
}

std::string worker_file(int rank, const std::string& host) {
  return "data64-windows-" + std::to_string(rank) + "@" + host + ".tmp";
}

std::string worker_copy(int rank, const std::string& host) {
  return "data64-windows-" + std::to_string(rank) + "@" + host;
}

std::vector<std::string> scratch_names(int world_size, const std::string& host) {
  std::vector<std::string> names = {"data64-windows-cluster.tmp", "data64-windows-cluster"};
  for (int rank = 1; rank < world_size; ++rank) {
    names.push_back(worker_file(rank, host));
    names.push_back(worker_copy(rank, host));
  }
  return names;
}

std::map<std::string, std::string> normal_scratch(int world_size, const std::string& host,
                                                  std::int64_t length) {
  std::map<std::string, std::string> files;
  for (const std::string& name : scratch_names(world_size, host)) files[name] = filled(length);
  return files;
}

std::string host_name() {
  char name[256] = {};
  ::gethostname(name, sizeof name - 1);
  return name;
}

namespace {

std::string escape(const std::string& literal) {
  static const std::regex special(R"([\\^$.|?*+()[\]{}])");
  return std::regex_replace(literal, special, R"(\$&)");
}

}  // namespace

LineBuilder& LineBuilder::text(const std::string& literal) {
  pattern_.regex += escape(literal);
  return *this;
}

LineBuilder& LineBuilder::number(const std::string& name) {
  pattern_.regex += "(-?(?:inf|nan|[0-9]+(?:\\.[0-9]+)?(?:e[-+][0-9]+)?))";
  pattern_.names.push_back(name);
  return *this;
}

LineBuilder& LineBuilder::one_of(const std::vector<std::string>& literals) {
  pattern_.regex += "(?:";
  for (std::size_t i = 0; i < literals.size(); ++i) {
    if (i > 0) pattern_.regex += '|';
    pattern_.regex += escape(literals[i]);
  }
  pattern_.regex += ')';
  return *this;
}

LineBuilder& LineBuilder::rest() {
  pattern_.regex += ".*";
  return *this;
}

std::string match_lines(const Lines& actual, const std::vector<Pattern>& expected,
                        std::map<std::string, double>& numbers) {
  const std::size_t common = std::min(actual.size(), expected.size());
  for (std::size_t i = 0; i < common; ++i) {
    std::smatch match;
    if (!std::regex_match(actual[i], match, std::regex(expected[i].regex))) {
      return "line " + std::to_string(i + 1) + ": got \"" + actual[i] + "\", expected /" +
             expected[i].regex + "/";
    }
    for (std::size_t k = 0; k < expected[i].names.size(); ++k) {
      const std::string text = match[k + 1].str();
      const double value = std::strtod(text.c_str(), nullptr);
      // The pattern takes any decimal; only what a stream in its default
      // state prints (six significant digits, no trailing zeros) is right.
      std::ostringstream reprinted;
      reprinted << value;
      if (reprinted.str() != text) {
        return "line " + std::to_string(i + 1) + ": \"" + text + "\" in \"" + actual[i] +
               "\" is not in default stream notation (\"" + reprinted.str() + "\")";
      }
      if (!expected[i].names[k].empty()) numbers[expected[i].names[k]] = value;
    }
  }
  if (actual.size() != expected.size()) {
    return "got " + std::to_string(actual.size()) + " lines, expected " +
           std::to_string(expected.size()) +
           (actual.size() > common ? "; first extra: \"" + actual[common] + "\""
                                   : "; first missing: /" + expected[common].regex + "/");
  }
  return "";
}

CompleteRun expect_complete_run(const Lines& console, const std::filesystem::path& directory,
                                int world_size, const std::string& collector,
                                const std::filesystem::path& shown_directory) {
  CompleteRun run;
  const auto results = results_files(directory);
  if (results.size() != 1) {
    ADD_FAILURE() << results.size() << " results files in " << directory;
    return run;
  }
  run.results_file = results[0];
  const std::string name = results[0].filename().string();
  EXPECT_TRUE(is_results_name(name, collector)) << name;
  const std::filesystem::path shown = shown_directory.empty() ? directory : shown_directory;
  const ReportShape shape{world_size, collector, (shown / name).string()};
  std::map<std::string, double> console_figures;
  EXPECT_EQ(match_lines(console, expected_report(shape, Sink::kConsole), console_figures), "");
  run.file_lines = split_lines(read_file(results[0]));
  EXPECT_EQ(match_lines(run.file_lines, expected_report(shape, Sink::kFile), run.figures), "");
  EXPECT_EQ(console_figures, run.figures) << "the sinks show different figures";
  return run;
}

}  // namespace quenda::e2e
