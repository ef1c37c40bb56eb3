#include "tests/bytewise.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"
#include "tests/access_lines.h"
#include "tests/block.h"
#include "tests/worker_names.h"

namespace quenda {
namespace {

using Lines = std::vector<std::string>;
using testing::CapturedReport;
using testing::TemporaryFolder;

constexpr Plan kPlan{4, 8, 64};

TEST(BytewiseRunTest, SecondPassCountShrinksWithRank) {
  EXPECT_EQ(worker_second_pass(kFullPlan, 1), 4194304);
  EXPECT_EQ(worker_second_pass(kFullPlan, 2), 2796202);
  EXPECT_EQ(worker_second_pass(kFullPlan, 3), 2097152);
  EXPECT_EQ(worker_second_pass(kFullPlan, 4), 1677721);
  EXPECT_EQ(worker_second_pass(kFullPlan, 7), 1048576);
  EXPECT_EQ(worker_second_pass(kFullPlan, 511), 16384);
}

TEST(BytewiseRunTest, SingleProcessWriteLeavesTheFileOpenAndFullOfFillBytes) {
  const TemporaryFolder directory(TemporaryFolder::kEnter);
  ScratchFiles files;
  const Timing timing = run_bytewise_write(kPlan, files);
  EXPECT_TRUE(testing::credited(timing, 64 + 32));
  EXPECT_TRUE(files.bytewise_out.is_open());
  // The second pass rewrote bytes 32 to 63 and stopped at the end.
  EXPECT_EQ(static_cast<std::int64_t>(files.bytewise_out.tellp()), 64);
  EXPECT_EQ(testing::read_file(kCollectorFile), std::string(64, kFillByte));
}

TEST(BytewiseRunTest, WorkerSecondPassRewritesBytesMToTwoM) {
  const TemporaryFolder directory(TemporaryFolder::kEnter);
  for (int rank : {1, 2, 3}) {
    ScratchFiles files;
    const Identity worker{rank, 4, "node"};
    const std::int64_t m = 64 / (rank + 1);
    const Timing timing = run_bytewise_write_worker(kPlan, worker, files);
    EXPECT_TRUE(testing::credited(timing, static_cast<double>(64 + m))) << rank;
    EXPECT_EQ(files.count, m);
    EXPECT_EQ(static_cast<std::int64_t>(files.bytewise_out.tellp()), 2 * m) << rank;
    const std::string name = "data64-windows-" + std::to_string(rank) + "@node.tmp";
    EXPECT_EQ(std::string(files.input_name), name);
    EXPECT_EQ(testing::read_file(name), std::string(64, kFillByte)) << rank;
  }
}

TEST(BytewiseRunTest, ReadsWhileTheWriterStillHoldsTheFile) {
  const TemporaryFolder directory(TemporaryFolder::kEnter);
  ScratchFiles files;
  std::ostringstream console;
  run_bytewise_write(kPlan, files);
  const Timing timing = run_bytewise_read(kPlan, files, console);
  EXPECT_TRUE(testing::credited(timing, 64 + 32));
  EXPECT_EQ(console.str(), "");
  EXPECT_EQ(files.byte, kFillByte);
  EXPECT_TRUE(files.in.is_open());  // closed by the caller, after the report lines
  EXPECT_TRUE(files.bytewise_out.is_open());
}

TEST(BytewiseRunTest, WorkerSecondPassRereadsExactlyItsStretch) {
  const TemporaryFolder directory(TemporaryFolder::kEnter);
  const std::string bytes = testing::numbered_bytes(64);
  for (int rank : {1, 2, 3}) {
    ScratchFiles files;
    const Identity worker{rank, 4, "node"};
    format_worker_file_name(files.input_name, worker.rank, worker.processor_name);
    testing::write_file(files.input_name, bytes);
    std::ostringstream console;
    const std::int64_t m = 64 / (rank + 1);
    const Timing timing = run_bytewise_read_worker(kPlan, worker, files, console);
    EXPECT_TRUE(testing::credited(timing, static_cast<double>(64 + m)));
    // The last byte read is the one just before offset 2M.
    EXPECT_EQ(files.byte, bytes[2 * m - 1]) << rank;
    EXPECT_EQ(console.str(), "");
    EXPECT_FALSE(files.in.is_open());
  }
}

TEST(BytewiseRunTest, UnopenableFileIsReportedOnTheConsoleOnlyAndStillTimed) {
  const TemporaryFolder directory(TemporaryFolder::kEnter);
  ScratchFiles files;
  std::ostringstream console;
  const Timing single = run_bytewise_read(kPlan, files, console);
  EXPECT_EQ(console.str(), "Unable to open file\n");
  EXPECT_TRUE(testing::credited(single, 64 + 32));

  std::ostringstream worker_console;
  const Identity worker{2, 3, "node"};
  std::snprintf(files.input_name, sizeof files.input_name, "%s", "missing.tmp");
  const Timing timing = run_bytewise_read_worker(kPlan, worker, files, worker_console);
  EXPECT_EQ(worker_console.str(), "Unable to open file\n");
  EXPECT_TRUE(testing::credited(timing, 64 + 21));
}

TEST(BytewiseRunTest, ShortFileEndsTheFirstPassAndKeepsTheCounts) {
  const TemporaryFolder directory(TemporaryFolder::kEnter);
  ScratchFiles files;
  testing::write_file(kCollectorFile, testing::numbered_bytes(10));
  std::ostringstream console;
  const Timing timing = run_bytewise_read(kPlan, files, console);
  EXPECT_TRUE(testing::credited(timing, 64 + 32));
  EXPECT_EQ(files.byte, static_cast<char>(9));
}

TEST(BytewiseRunTest, DirectoryInThePlaceOfTheFileDoesNotHang) {
  const TemporaryFolder directory(TemporaryFolder::kEnter);
  std::filesystem::create_directory(kCollectorFile);
  ScratchFiles files;
  std::ostringstream console;
  EXPECT_TRUE(testing::credited(run_bytewise_write(kPlan, files), 64 + 32));
  EXPECT_TRUE(testing::credited(run_bytewise_read(kPlan, files, console), 64 + 32));
}

TEST(BytewiseReportTest, SingleProcessLinesAreTheSameOnBothSinks) {
  CapturedReport captured;
  write_bytewise_heading(captured.report);
  write_bytewise_write_single(captured.report, Timing{0.5, 8388608 / 0.5});
  write_bytewise_read_single(captured.report, Timing{0.25, 2097152});
  const Lines expected = {"Low writing and reading speeds:",
                          "",
                          "The system spent: 0.5 Secs. to Write.",
                          "It was: 16.7772 Millions Accesses/sec.",
                          "Conventionally, it was: 16 MB/sec.",
                          "The system spent: 0.25 Secs. to Read:",
                          "It was: 2.09715 Millions Accesses/sec.",
                          "Conventionally, it was: 2 MB/sec.",
                          ""};
  EXPECT_EQ(captured.console_lines(), expected);
  EXPECT_EQ(captured.file_lines(), expected);
}

TEST(BytewiseReportTest, NoWorkerWritesZerosAndNotSignificantVerdicts) {
  CapturedReport captured;
  TestRecord write;
  TestRecord read;
  write.single = Timing{1, 1e6};
  read.single = Timing{1, 2e6};
  write_bytewise_summary(captured.report, write, read);
  const Lines expected = {
      "",
      "",
      "Overall, It was: 0 Millions Accesses/sec.to Write",
      "Conventionally, total writing speed was: 0 MB/sec.",
      "Multi-Thread Improvements: 0 times.",
      "Overall, It was: 0 Millions Accesses/sec.to Read",
      "Conventionally, total reading speed was: 0 MB/sec.",
      "Multi-Thread Improvements: 0 times.",
      "",
      "",
      "Among all nodes, the average low writing process per thread was: 0 MB/sec.",
      "Among all nodes, low writing performance differences of threads tend to be not "
      "significant.",
      "",
      "Among all nodes, the average low reading process per thread was: 0  MB/sec.",
      "Among all nodes, low reading performance differences of threads tend to be not "
      "significant.",
      ""};
  EXPECT_EQ(captured.console_lines(), expected);
  EXPECT_EQ(captured.file_lines(), expected);
}

TEST(AccessSummaryTest, ByteWiseGoesToTheSinksGroupByGroupAndBlockLineByLine) {
  TestRecord write;
  TestRecord read;
  // Both sinks get the same lines; what differs is how they take turns.
  const auto interleaved = [](const Lines& lines, const std::vector<std::size_t>& groups) {
    Lines log;
    std::size_t first = 0;
    for (const std::size_t size : groups) {
      for (const char* sink : {"console: ", "file: "}) {
        for (std::size_t i = first; i < first + size; ++i) log.push_back(sink + lines[i]);
      }
      first += size;
    }
    return log;
  };
  testing::OrderedReport bytewise;
  write_bytewise_summary(bytewise.report, write, read);
  testing::CapturedReport bytewise_lines;
  write_bytewise_summary(bytewise_lines.report, write, read);
  EXPECT_EQ(bytewise.log, interleaved(bytewise_lines.file_lines(), {4, 1, 2, 1, 1, 2, 1, 2, 1, 1}));

  testing::OrderedReport block;
  write_block_summary(block.report, read, write);
  testing::CapturedReport block_lines;
  write_block_summary(block_lines.report, read, write);
  EXPECT_EQ(block.log, interleaved(block_lines.file_lines(), std::vector<std::size_t>(15, 1)));
}

TEST(BytewiseReportTest, VerdictsFlipJustAboveTheirThresholds) {
  TestRecord write;
  TestRecord read;
  write.single = Timing{1, 1048576};
  read.single = Timing{1, 1048576};
  write.statistics.total = 2097152;
  write.statistics.mean = 1048576;
  write.statistics.deviation = 10000;  // 0.01 million accesses per second
  read.statistics.deviation = 1000000;
  {
    CapturedReport captured;
    write_bytewise_summary(captured.report, write, read);
    const Lines lines = captured.file_lines();
    EXPECT_EQ(lines[2], "Overall, It was: 2.09715 Millions Accesses/sec.to Write");
    EXPECT_EQ(lines[3], "Conventionally, total writing speed was: 2 MB/sec.");
    EXPECT_EQ(lines[4], "Multi-Thread Improvements: 2 times.");
    EXPECT_EQ(lines[10],
              "Among all nodes, the average low writing process per thread was: 1 MB/sec.");
    EXPECT_EQ(lines[11],
              "Among all nodes, low writing performance differences of threads tend to be not "
              "significant.");
    EXPECT_EQ(lines[14],
              "Among all nodes, low reading performance differences of threads tend to be not "
              "significant.");
  }
  write.statistics.deviation = std::nextafter(10000.0, 1e9);
  read.statistics.deviation = std::nextafter(1000000.0, 1e9);
  CapturedReport captured;
  write_bytewise_summary(captured.report, write, read);
  const Lines lines = captured.console_lines();
  EXPECT_EQ(lines[11],
            "Among all nodes, low writing the performance differences of threads tend to be "
            "significant.");
  EXPECT_EQ(lines[14],
            "Among all nodes, low reading the performance differences of threads tend to be "
            "significant.");
}

TEST(BytewiseReportTest, WorkerLinesSayAccessOnTheConsoleAndAccessesInTheFile) {
  CapturedReport captured;
  write_access_worker(captured.report, "HEAD", 3, 0.5, 25165824, " Secs. to Read.");
  EXPECT_EQ(captured.console_lines(), (Lines{"Thread:3@HEAD The system spent: 0.5 Secs. to Read.",
                                             "Thread:3@HEAD It was: 25.1658 Millions Access/sec.",
                                             "Conventionally, it was: 24 MB/sec."}));
  EXPECT_EQ(captured.file_lines(), (Lines{"Thread:3@HEAD The system spent: 0.5 Secs. to Read.",
                                          "Thread:3@HEAD It was: 25.1658 Millions Accesses/sec.",
                                          "Conventionally, it was: 24 MB/sec."}));
}

}  // namespace
}  // namespace quenda
