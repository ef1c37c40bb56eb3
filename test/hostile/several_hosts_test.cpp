// A job whose processes see different host names, as on a cluster: each
// process of an MPMD launch runs in a namespace with a host name of its own.
// Worker files carry the worker's rank and own host name; every per-worker
// line and the results-file name carry the collector's.
#include <gtest/gtest.h>
#include <unistd.h>

#include "hostile_support.h"
#include "small_plan.h"

namespace quenda::hostile {
namespace {

// One application context of an MPMD launch line: the program started under
// the given host name, or under the machine's own when `host` is empty.
std::string on_host(const std::string& uts_prefix, const std::string& host) {
  const std::string program = QUENDA_SMALL_BINARY;
  if (host.empty()) return quoted(program);
  return uts_prefix + " sh -c " + quoted("hostname " + host + " && exec " + quoted(program));
}

TEST(SeveralHostsTest, WorkerFilesCarryTheirOwnHostAndTheReportTheCollectors) {
  // Each process needs a namespace of its own. Without root that takes a
  // user namespace per process, across which Open MPI's shared-memory
  // transport cannot reach, and the job hangs.
  if (::geteuid() != 0) QUENDA_SCENE_UNAVAILABLE("a host name per process needs root");
  const std::string uts = namespace_prefix("--uts");
  if (uts.empty()) QUENDA_SCENE_UNAVAILABLE(kNoNamespaces);
  TemporaryFolder folder;
  const std::filesystem::path& directory = folder.path();
  const std::string collector = "quenda-head";
  // Rank 2's name is as long as the kernel allows; rank 3 runs on the
  // machine's own.
  const std::vector<std::string> hosts = {
      collector, "quenda-node-1", "quenda-node-2-" + std::string(50, 'x'), e2e::host_name()};
  ASSERT_EQ(hosts[2].size(), 64u);
  const int world_size = static_cast<int>(hosts.size());

  // launcher_command starts the first context with "-np 1"; the others
  // follow it, each a context of one process.
  std::string contexts = on_host(uts, hosts[0]);
  for (int rank = 1; rank < world_size; ++rank) {
    contexts += " : -np 1 " + on_host(uts, rank + 1 < world_size ? hosts[rank] : "");
  }
  const JobResult result = e2e::run_job({.binary = contexts, .directory = directory});

  ASSERT_EQ(result.exit_code, 0) << result.errors << result.console;
  EXPECT_EQ(result.errors, "") << "a clean run says nothing on standard error";
  e2e::expect_complete_run(e2e::split_lines(result.console), directory, world_size, collector);

  const std::string fill = filled(testing::kSmallPlan.file_length);
  std::map<std::string, std::string> expected = {{"data64-windows-cluster.tmp", fill},
                                                 {"data64-windows-cluster", fill}};
  for (int rank = 1; rank < world_size; ++rank) {
    expected[worker_file(rank, hosts[rank])] = fill;
    expected[worker_copy(rank, hosts[rank])] = fill;
  }
  EXPECT_EQ(scratch_entries(directory), expected);
}

}  // namespace
}  // namespace quenda::hostile
