#include "tests/block.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"
#include "tests/worker_names.h"

namespace quenda {
namespace {

using Lines = std::vector<std::string>;
using testing::CapturedReport;
using testing::TemporaryFolder;

constexpr Plan kPlan{4, 8, 4096};

// Every block test is credited the plan's file length, whatever it moved.
bool credited(const Timing& timing) {
  return testing::credited(timing, static_cast<double>(kPlan.file_length));
}

TEST(BlockRunTest, SingleProcessCopyIsExactAndStreamsCloseInTurn) {
  const TemporaryFolder directory(TemporaryFolder::kEnter);
  ScratchFiles files;
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

TEST(BlockRunTest, WorkerCopiesItsOwnFileUnderItsOwnName) {
  const TemporaryFolder directory(TemporaryFolder::kEnter);
  ScratchFiles files;
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

TEST(BlockRunTest, EmptyInputGivesEmptyOutputAndStillARate) {
  const TemporaryFolder directory(TemporaryFolder::kEnter);
  ScratchFiles files;
  testing::write_file(kCollectorFile, "");
  EXPECT_TRUE(credited(run_block_read(kPlan, files)));
  EXPECT_EQ(files.count, 0);
  EXPECT_TRUE(credited(run_block_write(kPlan, files)));
  ASSERT_TRUE(std::filesystem::exists(kCollectorBlockFile));
  EXPECT_EQ(std::filesystem::file_size(kCollectorBlockFile), 0u);
}

TEST(BlockRunTest, UnopenableInputCountsAsEmpty) {
  const TemporaryFolder directory(TemporaryFolder::kEnter);
  ScratchFiles files;
  EXPECT_TRUE(credited(run_block_read(kPlan, files)));
  EXPECT_EQ(files.count, 0);
  EXPECT_TRUE(credited(run_block_write(kPlan, files)));
  EXPECT_EQ(std::filesystem::file_size(kCollectorBlockFile), 0u);

  ScratchFiles worker_files;
  const Identity worker{2, 3, "n"};
  format_worker_file_name(worker_files.input_name, worker.rank, worker.processor_name);
  EXPECT_TRUE(credited(run_block_read_worker(kPlan, worker, worker_files)));
  EXPECT_EQ(worker_files.count, 0);
  EXPECT_TRUE(credited(run_block_write_worker(kPlan, worker, worker_files)));
  EXPECT_EQ(std::filesystem::file_size("data64-windows-2@n"), 0u);
}

TEST(BlockRunTest, DirectoryInThePlaceOfTheInputDoesNotCrash) {
  const TemporaryFolder directory(TemporaryFolder::kEnter);
  std::filesystem::create_directory(kCollectorFile);
  ScratchFiles files;
  EXPECT_TRUE(credited(run_block_read(kPlan, files)));
  EXPECT_TRUE(credited(run_block_write(kPlan, files)));
}

TEST(BlockReportTest, SingleProcessLines) {
  CapturedReport captured;
  write_block_heading(captured.report);
  write_block_read_single(captured.report, Timing{0.5, 16777216});
  write_block_write_single(captured.report, Timing{0.25, 33554432});
  const Lines expected = {"High writing and reading speeds:",
                          "",
                          "The system spent: 0.5 Secs. to Read:",
                          "It was: 16.7772 Millions Accesses/sec.",
                          "Conventionally, it was: 16 MB/sec.",
                          "The system spent: 0.25 Secs. to Write.",
                          "It was: 33.5544 Millions Accesses/sec.",
                          "Conventionally, it was: 32 MB/sec.",
                          "",
                          ""};
  EXPECT_EQ(captured.console_lines(), expected);
  EXPECT_EQ(captured.file_lines(), expected);
}

Lines summary_lines(const std::string& write_total, const std::string& write_mb,
                    const std::string& write_gain, const std::string& read_total,
                    const std::string& read_mb, const std::string& read_gain,
                    const std::string& write_mean, const std::string& write_verdict,
                    const std::string& read_mean, const std::string& read_verdict) {
  return {"",
          "Overall, It was: " + write_total + " Millions Accesses/sec.to Write",
          "Conventionally, total writing speed was: " + write_mb + " MB/sec.",
          "Multi-Thread Improvements: " + write_gain + " times.",
          "Overall, It was: " + read_total + " Millions Accesses/sec.to Read",
          "Conventionally, total reading speed was: " + read_mb + " MB/sec.",
          "Multi-Thread Improvements: " + read_gain + " times.",
          "",
          "",
          "Among all nodes, the average high writing process per thread was: " + write_mean +
              "  MB/sec.",
          "Among all nodes, high writing " + write_verdict,
          "",
          "Among all nodes, the average high reading process per thread was: " + read_mean +
              "  MB/sec.",
          "Among all nodes, high reading " + read_verdict,
          ""};
}

const std::string kCalm = "performance differences of threads tend to be not significant.";
const std::string kUneven = "the performance differences of threads tend to be significant.";

TEST(BlockReportTest, NoWorkerWritesAllFifteenSummaryLinesWithZeros) {
  CapturedReport captured;
  TestRecord read;
  TestRecord write;
  read.single = Timing{0.1, 8e7};
  write.single = Timing{0.1, 8e7};
  write_block_summary(captured.report, read, write);
  const Lines expected = summary_lines("0", "0", "0", "0", "0", "0", "0", kCalm, "0", kCalm);
  EXPECT_EQ(captured.console_lines(), expected);
  EXPECT_EQ(captured.file_lines(), expected);
}

TEST(BlockReportTest, OneWorkerAndTheThresholdsHitExactly) {
  TestRecord read;
  TestRecord write;
  read.single = Timing{1, 1048576};
  write.single = Timing{1, 2097152};
  accumulate(read.statistics, 1, 4194304);
  accumulate(write.statistics, 1, 8388608);
  summarise(read.statistics, 2);
  summarise(write.statistics, 2);
  {
    CapturedReport captured;
    write_block_summary(captured.report, read, write);
    EXPECT_EQ(captured.file_lines(),
              summary_lines("8.38861", "8", "4", "4.1943", "4", "4", "8", kCalm, "4", kCalm));
  }
  write.statistics.deviation = 350e6;
  read.statistics.deviation = 150e6;
  {
    CapturedReport captured;
    write_block_summary(captured.report, read, write);
    const Lines lines = captured.console_lines();
    EXPECT_EQ(lines[10], "Among all nodes, high writing " + kCalm);
    EXPECT_EQ(lines[13], "Among all nodes, high reading " + kCalm);
  }
  write.statistics.deviation = std::nextafter(350e6, 1e12);
  read.statistics.deviation = std::nextafter(150e6, 1e12);
  CapturedReport captured;
  write_block_summary(captured.report, read, write);
  const Lines lines = captured.console_lines();
  EXPECT_EQ(lines[10], "Among all nodes, high writing " + kUneven);
  EXPECT_EQ(lines[13], "Among all nodes, high reading " + kUneven);
}

}  // namespace
}  // namespace quenda
