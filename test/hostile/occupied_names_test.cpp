// Scratch-file names already taken by directories, which no test can open for
// writing and which read as nothing: the schedule completes, the report is
// whole, and the block read takes a directory for an empty file. Whether the
// file system reports a directory's length as huge (ext4) or as an error
// (tmpfs), the block copy made from it is empty. Standard error names every
// test that met a directory, and the job ends with a non-zero status.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "hostile_support.h"
#include "small_plan.h"

namespace quenda::hostile {
namespace {

// A directory with a file inside, so that the file-handling tests' removals
// cannot take it away.
void occupy(const std::filesystem::path& name) {
  std::filesystem::create_directory(name);
  testing::write_file(name / "keep", "kept");
}

enum class Place { kTestDirectory, kTmpfs };

const char* name_of(Place place) { return place == Place::kTmpfs ? "Tmpfs" : "TestDirectory"; }

void PrintTo(Place place, std::ostream* out) { *out << name_of(place); }

class OccupiedNamesTest : public ::testing::TestWithParam<Place> {};

TEST_P(OccupiedNamesTest, ScheduleCompletesAndABlockReadOfADirectoryIsEmpty) {
  std::string mounts;
  if (GetParam() == Place::kTmpfs) {
    mounts = namespace_prefix("--mount --propagation private");
    if (mounts.empty()) QUENDA_SCENE_UNAVAILABLE(kNoNamespaces);
  }
  TemporaryFolder folder;
  const std::filesystem::path& directory = folder.path();
  const std::string host = e2e::host_name();
  constexpr int kProcesses = testing::kSmallPlan.world_size_cap;
  // The collector and worker 1: both names taken. Worker 2: only its
  // byte-wise file, so its block copy shows what the block read got.
  // Worker 3 runs undisturbed.
  occupy(directory / "data64-windows-cluster.tmp");
  occupy(directory / "data64-windows-cluster");
  occupy(directory / worker_file(1, host));
  occupy(directory / worker_copy(1, host));
  occupy(directory / worker_file(2, host));

  const JobOptions options{.processes = kProcesses, .directory = directory};
  const JobResult result = GetParam() == Place::kTmpfs
                               ? run_on_tmpfs(options, Tmpfs{.size = "1m"}, mounts)
                               : e2e::run_job(options);

  EXPECT_NE(result.exit_code, 0) << result.errors << result.console;
  // A directory opens for reading, so no process reports a file it could
  // not open: both reports are exactly those of a normal run.
  e2e::expect_complete_run(e2e::split_lines(result.console), directory, kProcesses, host);

  const std::string fill = filled(testing::kSmallPlan.file_length);
  const std::map<std::string, std::string> expected = {
      {"data64-windows-cluster.tmp", "<dir>"},
      {"data64-windows-cluster", "<dir>"},
      {worker_file(1, host), "<dir>"},
      {worker_copy(1, host), "<dir>"},
      {worker_file(2, host), "<dir>"},
      {worker_copy(2, host), kEmptyFile},  // copied from a directory: empty
      {worker_file(3, host), fill},
      {worker_copy(3, host), fill},
  };
  EXPECT_EQ(scratch_entries(directory), expected);

  // Each test names the directory it met; worker 2's block write met none,
  // but what it copied from a directory left its copy empty.
  const auto directories_met = [&](int rank, const std::string& file, const std::string& copy) {
    Lines lines;
    for (const char* test : {"stream handling", "descriptor handling", "byte-wise write",
                             "byte-wise read", "block read", "block write"}) {
      const bool copying = std::string(test) == "block write";
      lines.push_back(failure_line(rank, host, test, copying ? copy : file,
                                   rank == 2 && copying ? holds(0) : "Is a directory"));
    }
    return lines;
  };
  const std::map<int, Lines> failures = {
      {0, directories_met(0, "data64-windows-cluster.tmp", "data64-windows-cluster")},
      {1, directories_met(1, worker_file(1, host), worker_copy(1, host))},
      {2, directories_met(2, worker_file(2, host), worker_copy(2, host))},
  };
  EXPECT_EQ(failures_by_rank(result.errors), failures) << result.errors;
  for (const auto& [name, contents] : expected) {
    if (contents == "<dir>") {
      EXPECT_EQ(e2e::read_file(directory / name / "keep"), "kept") << name;
    }
  }
}

// Only worker 1's block copy is taken: the collector meets no failure, yet
// the job's status is not zero, for the worker's own.
TEST(WorkerOnlyFailureTest, AFailureOnlyAWorkerMeetsStillFailsTheJob) {
  TemporaryFolder folder;
  const std::string host = e2e::host_name();
  occupy(folder.path() / worker_copy(1, host));
  const JobResult result = e2e::run_job({.processes = 3, .directory = folder.path()});
  EXPECT_NE(result.exit_code, 0) << result.errors;
  const std::map<int, Lines> said = {
      {1, {failure_line(1, host, "block write", worker_copy(1, host), "Is a directory")}}};
  EXPECT_EQ(failures_by_rank(result.errors), said) << result.errors;
}

// Another user's files in a sticky folder, where only their owner (who owns
// the folder too) may remove them, and the benchmark runs as a third user.
// The collector's name holds a file anyone may write: every handling cycle
// opens it and fails to remove it. Worker 1's holds one nobody may read: its
// byte-wise write fills it, and neither read can open it.
TEST(ForeignFilesTest, RemovesThatFailAndAnInputThatCannotBeReadAreNamed) {
  if (::geteuid() != 0) QUENDA_SCENE_UNAVAILABLE("only root can give files to other users");
  constexpr unsigned kOwner = 65534;  // nobody
  TemporaryFolder folder;
  const std::filesystem::path directory = folder.path() / "sticky";
  const std::string host = e2e::host_name();
  std::filesystem::create_directory(directory);
  for (const auto& [name, mode] : {std::pair{std::string("data64-windows-cluster.tmp"), 0666},
                                   std::pair{worker_file(1, host), 0222}}) {
    testing::write_file(directory / name, "");
    ASSERT_EQ(::chmod((directory / name).c_str(), mode), 0);
    ASSERT_EQ(::chown((directory / name).c_str(), kOwner, kOwner), 0);
  }
  ASSERT_EQ(::chown(directory.c_str(), kOwner, kOwner), 0);
  ASSERT_EQ(::chmod(directory.c_str(), 01777), 0);
  ASSERT_EQ(::chmod(folder.path().c_str(), 0755), 0);
  const JobOptions options{.processes = 3, .directory = directory};
  const JobResult result =
      e2e::run_command("setpriv --reuid=4242 --regid=4242 --clear-groups env HOME=/tmp sh -c " +
                           quoted(e2e::launcher_command(options)),
                       directory);

  EXPECT_NE(result.exit_code, 0);
  const std::string collector = "data64-windows-cluster.tmp";
  const std::string not_permitted = "Operation not permitted";
  const std::string denied = "Permission denied";
  const std::map<int, Lines> said = {
      {0,
       {failure_line(0, host, "stream handling", collector, not_permitted),
        failure_line(0, host, "descriptor handling", collector, not_permitted)}},
      {1,
       {failure_line(1, host, "stream handling", worker_file(1, host), not_permitted),
        failure_line(1, host, "descriptor handling", worker_file(1, host), denied),
        failure_line(1, host, "byte-wise read", worker_file(1, host), denied),
        failure_line(1, host, "block read", worker_file(1, host), denied),
        failure_line(1, host, "block write", worker_copy(1, host), holds(0))}}};
  EXPECT_EQ(failures_by_rank(result.errors), said) << result.errors;
}

INSTANTIATE_TEST_SUITE_P(Places, OccupiedNamesTest,
                         ::testing::Values(Place::kTestDirectory, Place::kTmpfs),
                         [](const ::testing::TestParamInfo<Place>& info) {
                           return std::string(name_of(info.param));
                         });

}  // namespace
}  // namespace quenda::hostile
