// A working directory whose path is longer than 2048 bytes: the closing line
// shows the whole path, and the run is otherwise a normal one. (Under the
// sanitizer build this is also where a fixed-size path buffer would show.)
#include <gtest/gtest.h>

#include "hostile_support.h"
#include "small_plan.h"

namespace quenda::hostile {
namespace {

using e2e::ReportShape;
using e2e::Sink;

TEST(DeepDirectoryTest, ClosingLineShowsTheWholePath) {
  e2e::TempDir dir;
  std::filesystem::path directory = std::filesystem::canonical(dir.path());
  for (int level = 0; level < 11; ++level) {
    directory /= std::string(200, static_cast<char>('a' + level));
  }
  std::filesystem::create_directories(directory);
  ASSERT_GT(directory.string().size(), 2048u);
  const std::string host = e2e::host_name();
  constexpr int kProcesses = 3;

  JobOptions options;
  options.binary = QUENDA_SMALL_BINARY;
  options.processes = kProcesses;
  options.directory = directory;
  options.timeout_seconds = 120;
  const JobResult result = e2e::run_job(options);

  ASSERT_EQ(result.exit_code, 0) << result.errors << result.console;
  EXPECT_EQ(result.errors, "") << "a clean run says nothing on standard error";
  const auto results = e2e::results_files(directory);
  ASSERT_EQ(results.size(), 1u);
  const std::string saved = directory.string() + "/" + results[0].filename().string();
  EXPECT_EQ(saved_path_shown(e2e::split_lines(result.console)), saved);
  const ReportShape shape{kProcesses, host, saved};
  EXPECT_EQ(
      match_report(e2e::split_lines(result.console), e2e::expected_report(shape, Sink::kConsole)),
      "");
  EXPECT_EQ(match_report(e2e::split_lines(e2e::read_file(results[0])),
                         e2e::expected_report(shape, Sink::kFile)),
            "");
  std::map<std::string, std::string> expected;
  for (const std::string& name : scratch_names(kProcesses, host)) {
    expected[name] = filled(testing::kSmallPlan.file_length);
  }
  EXPECT_EQ(scratch_entries(directory), expected);
}

}  // namespace
}  // namespace quenda::hostile
