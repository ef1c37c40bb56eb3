// A working directory whose path is longer than 2048 bytes: the closing line
// shows the whole path, and the run is otherwise a normal one. (Under the
// sanitizer build this is also where a fixed-size path buffer would show.)
#include <gtest/gtest.h>

#include "hostile_support.h"
#include "small_plan.h"

namespace quenda::hostile {
namespace {

TEST(DeepDirectoryTest, ClosingLineShowsTheWholePath) {
  TemporaryFolder folder;
  std::filesystem::path directory = folder.path();
  for (int level = 0; level < 11; ++level) {
    directory /= std::string(200, static_cast<char>('a' + level));
  }
  std::filesystem::create_directories(directory);
  ASSERT_GT(directory.string().size(), 2048u);
  const std::string host = e2e::host_name();
  constexpr int kProcesses = 3;

  const JobResult result = e2e::run_job({.processes = kProcesses, .directory = directory});

  ASSERT_EQ(result.exit_code, 0) << result.errors << result.console;
  EXPECT_EQ(result.errors, "") << "a clean run says nothing on standard error";
  const Lines console = e2e::split_lines(result.console);
  const auto run = e2e::expect_complete_run(console, directory, kProcesses, host);
  EXPECT_EQ(saved_path_shown(console), run.results_file.string());
  EXPECT_EQ(scratch_entries(directory),
            normal_scratch(kProcesses, host, testing::kSmallPlan.file_length));
}

}  // namespace
}  // namespace quenda::hostile
