// A working directory on a small tmpfs that fills up during the run: writes
// fail part way, the run goes on to the end, the console report is complete,
// and the results file holds as much of the report as fitted. A tmpfs counts
// whole pages, so with 4096-byte scratch files the sizes below are counted in
// files: the results file takes one page until the report outgrows it, which
// happens only in the last section. Standard error names every test that
// ran out of room and every test left without a whole file to work on, and
// the job ends with a non-zero status.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "hostile_support.h"
#include "small_plan.h"

namespace quenda::hostile {
namespace {

constexpr int kProcesses = 3;

// The host name of these runs. It is part of many report lines, so it sets
// where the report outgrows the results file's first page; this one keeps
// that in the last section.
constexpr const char kHost[] = "quenda-disk";

// What a process says on standard error, read off the two files it left: a
// byte-wise file left empty had no room for its first byte and leaves the
// read tests and the block copy nothing; a copy left empty of a whole file
// had no room itself.
Lines failures_of(int rank, const std::string& file, const std::string& copy,
                  std::map<std::string, std::string> files) {
  const std::string no_room = "No space left on device";
  if (files[file] == kEmptyFile) {
    return {failure_line(rank, kHost, "byte-wise write", file, no_room),
            failure_line(rank, kHost, "byte-wise read", file, holds(0)),
            failure_line(rank, kHost, "block read", file, holds(0)),
            failure_line(rank, kHost, "block write", copy, holds(0))};
  }
  if (files[copy] == kEmptyFile) return {failure_line(rank, kHost, "block write", copy, no_room)};
  return {};
}

// Runs three processes on a tmpfs of the given size, checks what every full
// disk must leave (a non-zero status, the whole console report, the results
// file a correct but cut-short report, each process's failures on standard
// error) and returns the scratch files left.
std::map<std::string, std::string> run_on_full_disk(const std::string& size,
                                                    const std::string& mounts) {
  TemporaryFolder folder;
  const std::filesystem::path& directory = folder.path();
  const JobResult result = run_on_tmpfs({.processes = kProcesses, .directory = directory},
                                        Tmpfs{.size = size, .host_name = kHost}, mounts);

  EXPECT_NE(result.exit_code, 0) << result.errors << result.console;
  const auto results = e2e::results_files(directory);
  if (results.size() != 1) {
    ADD_FAILURE() << results.size() << " results files";
    return {};
  }
  const ReportShape shape{kProcesses, kHost,
                          directory.string() + "/" + results[0].filename().string()};
  EXPECT_EQ(
      match_report(e2e::split_lines(result.console), e2e::expected_report(shape, Sink::kConsole)),
      "");

  // The results file: every whole line as in a normal run, but fewer of them.
  std::string text = e2e::read_file(results[0]);
  text.erase(text.rfind('\n') + 1);
  const Lines lines = e2e::split_lines(text);
  std::vector<Pattern> expected = e2e::expected_report(shape, Sink::kFile);
  EXPECT_LT(lines.size(), expected.size()) << "the results file is not cut short";
  expected.resize(std::min(lines.size(), expected.size()));
  EXPECT_EQ(match_report(lines, expected), "");

  const auto files = scratch_entries(directory);
  std::map<int, Lines> failures;
  failures[0] = failures_of(0, "data64-windows-cluster.tmp", "data64-windows-cluster", files);
  failures[0].push_back(
      results_file_failure(kHost, shape.saved_path, "No space left on device", true));
  for (int rank = 1; rank < kProcesses; ++rank) {
    Lines lines_of_rank =
        failures_of(rank, worker_file(rank, kHost), worker_copy(rank, kHost), files);
    if (!lines_of_rank.empty()) failures[rank] = lines_of_rank;
  }
  EXPECT_EQ(failures_by_rank(result.errors), failures) << result.errors;
  return files;
}

class FullDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The sizes below count pages of one scratch file each.
    ASSERT_EQ(::sysconf(_SC_PAGESIZE), testing::kSmallPlan.file_length);
    if (mounts_.empty()) QUENDA_SCENE_UNAVAILABLE(kNoNamespaces);
  }
  const std::string mounts_ = namespace_prefix("--mount --propagation private --uts");
  const std::string fill_ = filled(testing::kSmallPlan.file_length);
};

TEST_F(FullDiskTest, FullOnceTheResultsFileHasItsFirstPageOrWhenTheCollectorsBlockWriteStarts) {
  // Full at 4k, every scratch file stays empty, from the collector's
  // byte-wise write on; at 8k that one file is filled.
  for (const auto& [size, bytewise] : {std::pair<std::string, std::string>{"4k", kEmptyFile},
                                       std::pair<std::string, std::string>{"8k", fill_}}) {
    const std::map<std::string, std::string> expected = {
        {"data64-windows-cluster.tmp", bytewise}, {"data64-windows-cluster", kEmptyFile},
        {worker_file(1, kHost), kEmptyFile},      {worker_copy(1, kHost), kEmptyFile},
        {worker_file(2, kHost), kEmptyFile},      {worker_copy(2, kHost), kEmptyFile},
    };
    EXPECT_EQ(run_on_full_disk(size, mounts_), expected) << size;
  }
}

TEST_F(FullDiskTest, FullWhileTheWorkersWriteTheirFiles) {
  // Room for the collector's files, the results file's first page and two
  // worker files. The workers run the last phase side by side, so which two
  // get the room varies: both byte-wise files, or one worker's byte-wise file
  // and its copy. A copy is made from its worker's byte-wise file, so it is
  // never filled when that file stays empty.
  auto files = run_on_full_disk("20k", mounts_);
  std::vector<std::string> names;
  for (const auto& entry : files) names.push_back(entry.first);
  std::vector<std::string> expected_names = scratch_names(kProcesses, kHost);
  std::sort(expected_names.begin(), expected_names.end());
  ASSERT_EQ(names, expected_names);
  EXPECT_EQ(files["data64-windows-cluster.tmp"], fill_);
  EXPECT_EQ(files["data64-windows-cluster"], fill_);
  int full = 0;
  for (int rank = 1; rank < kProcesses; ++rank) {
    const std::string& file = files[worker_file(rank, kHost)];
    const std::string& copy = files[worker_copy(rank, kHost)];
    for (const std::string* contents : {&file, &copy}) {
      EXPECT_TRUE(*contents == fill_ || *contents == kEmptyFile) << *contents;
      full += *contents == fill_ ? 1 : 0;
    }
    if (copy == fill_) {
      EXPECT_EQ(file, fill_) << "worker " << rank;
    }
  }
  EXPECT_EQ(full, 2);
}

}  // namespace
}  // namespace quenda::hostile
