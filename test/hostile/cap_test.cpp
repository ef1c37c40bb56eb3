// More processes than the plan's cap, seen from inside MPI: a preloaded
// library records every barrier, send and receive of each process. Processes
// beyond the cap enter the three barriers and nothing else; each worker sends
// its two tables per test, capped-world-size doubles each, to the collector,
// which receives exactly those. (e2e's CapTest covers the report and the
// files; this covers the messages, which no report shows.)
#include <gtest/gtest.h>

#include "hostile_support.h"
#include "small_plan.h"

namespace quenda::hostile {
namespace {

constexpr int kProcesses = 6;
constexpr int kWorldSize = testing::kSmallPlan.world_size_cap;
constexpr int kTests = 6;  // two file-handling, two byte-wise, two block

const Lines kBarriers = {"barrier", "barrier", "barrier"};

TEST(CapMessagesTest, ProcessesBeyondTheCapOnlyPassTheBarriers) {
  e2e::TempDir dir;
  e2e::TempDir traces;
  const std::filesystem::path directory = std::filesystem::canonical(dir.path());
  JobOptions options;
  options.binary = QUENDA_SMALL_BINARY;
  options.processes = kProcesses;
  options.directory = directory;
  options.timeout_seconds = 120;
  options.launcher_extra =
      preloading(QUENDA_MPI_TRACE_LIBRARY, {"QUENDA_TRACE_DIR=" + traces.path().string()});

  const JobResult result = e2e::run_job(options);
  ASSERT_EQ(result.exit_code, 0) << result.errors << result.console;
  EXPECT_EQ(result.errors, "") << "a clean run says nothing on standard error";

  std::map<int, Lines> trace;
  for (int rank = 0; rank < kProcesses; ++rank) {
    const auto file = traces.path() / ("rank-" + std::to_string(rank) + ".trace");
    ASSERT_TRUE(std::filesystem::exists(file)) << "rank " << rank << " left no trace";
    trace[rank] = e2e::split_lines(e2e::read_file(file));
  }

  // The collector: barrier, its own tests, then per phase every worker's
  // pair of tables for each test of the phase, in rank order.
  const std::string table = " " + std::to_string(kWorldSize) + " 0";
  Lines collector = {"barrier"};
  const auto receive_phase = [&](int tests) {
    for (int test = 0; test < tests; ++test) {
      for (int worker = 1; worker < kWorldSize; ++worker) {
        collector.push_back("recv " + std::to_string(worker) + table);
        collector.push_back("recv " + std::to_string(worker) + table);
      }
    }
  };
  receive_phase(1);  // stream handling
  collector.push_back("barrier");
  receive_phase(1);  // descriptor handling
  collector.push_back("barrier");
  receive_phase(4);  // byte-wise write and read, block read and write
  EXPECT_EQ(trace[0], collector);

  Lines worker = {"barrier"};
  for (int test = 0; test < kTests; ++test) {
    worker.push_back("send 0" + table);
    worker.push_back("send 0" + table);
    if (test < 2) worker.push_back("barrier");
  }
  for (int rank = 1; rank < kWorldSize; ++rank) EXPECT_EQ(trace[rank], worker) << "rank " << rank;
  for (int rank = kWorldSize; rank < kProcesses; ++rank) {
    EXPECT_EQ(trace[rank], kBarriers) << "rank " << rank;
  }
}

}  // namespace
}  // namespace quenda::hostile
