// A working directory where nothing can be created (a read-only tmpfs; root
// ignores permission bits, a read-only mount it cannot): every test still
// runs, the console report is complete, and each process that takes part
// says once, on its own console, that it could not open its file to read.
// On standard error every process that takes part names each of its six
// tests as failed, the collector its results file too, and the job ends
// with a non-zero status.
#include <gtest/gtest.h>

#include <algorithm>

#include "hostile_support.h"
#include "small_plan.h"

namespace quenda::hostile {
namespace {

// What a process none of whose files can be created says on standard error:
// the tests that create fail for the read-only file system, the two reads
// find nothing to read.
Lines nothing_created(int rank, const std::string& host, const std::string& file,
                      const std::string& copy) {
  const std::string read_only = "Read-only file system";
  const std::string missing = "No such file or directory";
  return {failure_line(rank, host, "stream handling", file, read_only),
          failure_line(rank, host, "descriptor handling", file, read_only),
          failure_line(rank, host, "byte-wise write", file, read_only),
          failure_line(rank, host, "byte-wise read", file, missing),
          failure_line(rank, host, "block read", file, missing),
          failure_line(rank, host, "block write", copy, read_only)};
}

// Every process's lines on standard error, for ranks 0 .. world_size - 1.
std::map<int, Lines> nothing_created_anywhere(int world_size, const std::string& host,
                                              const std::string& results_path) {
  std::map<int, Lines> expected;
  expected[0] = nothing_created(0, host, "data64-windows-cluster.tmp", "data64-windows-cluster");
  expected[0].push_back(results_file_failure(host, results_path, "Read-only file system", false));
  for (int rank = 1; rank < world_size; ++rank) {
    expected[rank] = nothing_created(rank, host, worker_file(rank, host), worker_copy(rank, host));
  }
  return expected;
}

TEST(UnwritableDirectoryTest, OnlyTheProcessesThatTakePartSayItEachOnItsOwnConsole) {
  const std::string mounts = namespace_prefix("--mount --propagation private");
  if (mounts.empty()) QUENDA_SCENE_UNAVAILABLE(kNoNamespaces);
  // Six processes against a cap of four: ranks 4 and 5 run no test, so they
  // have no file to fail on and say nothing.
  constexpr int kProcesses = 6;
  constexpr int kWorldSize = testing::kSmallPlan.world_size_cap;
  const TemporaryFolder folder;
  const JobResult result = run_on_tmpfs(
      {.processes = kProcesses, .directory = folder.path(), .launcher_extra = "--tag-output"},
      Tmpfs{.size = "64k", .read_only = true}, mounts);
  // It fails and creates nothing, neither results file nor scratch file.
  EXPECT_NE(result.exit_code, 0) << result.errors << result.console;
  EXPECT_TRUE(directory_entries(folder.path()).empty());
  EXPECT_EQ(result.errors.find(kUnableToOpen), std::string::npos) << result.errors;
  auto by_rank = lines_by_rank(result.console);
  EXPECT_TRUE(by_rank[-1].empty()) << "untagged line: " << by_rank[-1].front();
  for (int rank = 1; rank < kWorldSize; ++rank) {
    EXPECT_EQ(by_rank[rank], Lines{kUnableToOpen}) << "rank " << rank;
  }
  for (int rank = kWorldSize; rank < kProcesses; ++rank) {
    EXPECT_TRUE(by_rank[rank].empty()) << "rank " << rank << " wrote " << by_rank[rank].front();
  }
  const Lines& collector = by_rank[0];
  // The closing line names the file that could not be written, as always.
  const std::string closing = "Results have been saved in a file and you can find it at: ";
  const auto closing_line =
      std::find_if(collector.begin(), collector.end(),
                   [&](const std::string& l) { return l.starts_with(closing); });
  ASSERT_NE(closing_line, collector.end());
  const std::filesystem::path path = closing_line->substr(closing.size());
  EXPECT_EQ(path.parent_path(), folder.path());
  EXPECT_TRUE(is_results_name(path.filename().string(), e2e::host_name())) << path;
  // Its own "Unable to open file" line comes right before its single-process
  // read lines, the first to name the figure "br.t".
  std::vector<Pattern> expected =
      e2e::expected_report({kWorldSize, e2e::host_name(), path.string()}, Sink::kConsole);
  expected.insert(std::find_if(expected.begin(), expected.end(),
                               [](const Pattern& p) { return p.names == Lines{"br.t"}; }),
                  e2e::literal(kUnableToOpen));
  EXPECT_EQ(match_report(collector, expected), "");
  EXPECT_EQ(failures_by_rank(result.errors),
            nothing_created_anywhere(kWorldSize, e2e::host_name(), path.string()))
      << result.errors;
}

}  // namespace
}  // namespace quenda::hostile
