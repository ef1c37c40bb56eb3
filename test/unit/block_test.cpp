#include "tests/block.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "file_names.h"
#include "test_support.h"

namespace quenda {
namespace {

using BlockRunTest = testing::InFolder<ScratchFiles>;

constexpr Plan kPlan{4, 8, 4096};

// Every block test is credited the plan's file length, whatever it moved.
bool credited(const Timing& timing) {
  return testing::credited(timing, static_cast<double>(kPlan.file_length));
}

TEST_F(BlockRunTest, SingleProcessCopyIsExactAndStreamsCloseInTurn) {
  const std::string bytes = testing::numbered_bytes(3000);
  testing::write_file(kCollectorFile, bytes);
  EXPECT_TRUE(credited(run_block_read(kPlan, files)));
  EXPECT_EQ(files.count, 3000);
  EXPECT_TRUE(files.in.is_open());
  EXPECT_TRUE(credited(run_block_write(kPlan, files)));
  EXPECT_EQ(testing::read_file(kCollectorBlockFile), bytes);
  files.bytewise_out.open("other", kBinaryWrite);
  close_single_process_files(files);
  EXPECT_FALSE(files.in.is_open());
  EXPECT_FALSE(files.block_out.is_open());
  EXPECT_FALSE(files.bytewise_out.is_open());
}

TEST_F(BlockRunTest, WorkerCopiesItsOwnFileUnderItsOwnName) {
  const Identity worker{5, 8, "node3"};
  const std::string bytes = testing::numbered_bytes(4096);
  format_worker_file_name(files.input_name, worker.rank, worker.processor_name);
  testing::write_file(files.input_name, bytes);
  EXPECT_TRUE(credited(run_block_read_worker(kPlan, worker, files)));
  EXPECT_TRUE(credited(run_block_write_worker(kPlan, worker, files)));
  EXPECT_EQ(std::string(files.output_name), "data64-windows-5@node3");
  EXPECT_EQ(testing::read_file("data64-windows-5@node3"), bytes);
  // The worker's streams stay open until the process ends.
  EXPECT_TRUE(files.in.is_open());
  EXPECT_TRUE(files.block_out.is_open());
}

// An empty input, none at all, or a directory in its place: nothing read, an
// empty copy, and still a rate, for the collector and a worker alike.
TEST_F(BlockRunTest, InputWithNothingToReadGivesAnEmptyCopyAndStillARate) {
  const Identity worker{2, 3, "n"};
  for (const std::string input : {"empty", "missing", "directory"}) {
    SCOPED_TRACE(input);
    files = ScratchFiles{};
    ScratchFiles worker_files;
    format_worker_file_name(worker_files.input_name, worker.rank, worker.processor_name);
    for (const char* name : {kCollectorFile, static_cast<const char*>(worker_files.input_name)}) {
      std::filesystem::remove_all(name);
      if (input == "empty") testing::write_file(name, "");
      if (input == "directory") std::filesystem::create_directory(name);
    }
    EXPECT_TRUE(credited(run_block_read(kPlan, files)));
    EXPECT_EQ(files.count, 0);
    EXPECT_TRUE(credited(run_block_write(kPlan, files)));
    EXPECT_EQ(std::filesystem::file_size(kCollectorBlockFile), 0u);
    EXPECT_TRUE(credited(run_block_read_worker(kPlan, worker, worker_files)));
    EXPECT_EQ(worker_files.count, 0);
    EXPECT_TRUE(credited(run_block_write_worker(kPlan, worker, worker_files)));
    EXPECT_EQ(std::filesystem::file_size("data64-windows-2@n"), 0u);
  }
}

}  // namespace
}  // namespace quenda
