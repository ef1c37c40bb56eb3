// More processes than the plan's cap, seen from inside MPI: the preloaded
// MPI probe records every barrier, send and receive of each process. Processes
// beyond the cap enter the three barriers and nothing else; each worker sends
// its two tables per test, capped-world-size doubles each, to the collector,
// which receives exactly those. (e2e's CapTest covers the report and the
// files; this covers the messages, which no report shows.)
#include <gtest/gtest.h>

#include <sstream>

#include "hostile_support.h"
#include "small_plan.h"

namespace quenda::hostile {
namespace {

constexpr int kProcesses = 6;
constexpr int kWorldSize = testing::kSmallPlan.world_size_cap;
constexpr int kTests = 6;  // two file-handling, two byte-wise, two block

// A process's barriers and messages from its probe file, as "barrier",
// "send <destination> <count> <tag>" and "recv <source> <count> <tag>".
Lines messages(const std::filesystem::path& probe_file) {
  Lines events;
  for (const std::string& line : e2e::split_lines(e2e::read_file(probe_file))) {
    std::istringstream fields(line);
    std::string event, wall, cpu, peer, count, tag;
    fields >> event >> wall >> cpu >> peer >> count >> tag;
    if (event == "barrier_enter") events.push_back("barrier");
    if (event == "send" || event == "recv_enter")
      events.push_back(event.substr(0, 4) + " " + peer + " " + count + " " + tag);
  }
  return events;
}

TEST(CapMessagesTest, ProcessesBeyondTheCapOnlyPassTheBarriers) {
  TemporaryFolder directory;
  TemporaryFolder traces;
  const JobResult result = e2e::run_job(
      {.processes = kProcesses,
       .directory = directory.path(),
       .launcher_extra = preloading(QUENDA_MPI_PROBE_LIBRARY,
                                    {"QUENDA_PROBE_OUT=" + (traces.path() / "probe").string()})});
  ASSERT_EQ(result.exit_code, 0) << result.errors << result.console;
  EXPECT_EQ(result.errors, "") << "a clean run says nothing on standard error";

  std::map<int, Lines> trace;
  for (int rank = 0; rank < kProcesses; ++rank) {
    const auto file = traces.path() / ("probe." + std::to_string(rank));
    ASSERT_TRUE(std::filesystem::exists(file)) << "rank " << rank << " left no trace";
    trace[rank] = messages(file);
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
    EXPECT_EQ(trace[rank], (Lines{"barrier", "barrier", "barrier"})) << "rank " << rank;
  }
}

}  // namespace
}  // namespace quenda::hostile
