#include "tests/bytewise.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "file_names.h"
#include "test_support.h"
#include "tests/access_lines.h"
#include "tests/block.h"

namespace quenda {
namespace {

using testing::kCalm;
using BytewiseRunTest = testing::InFolder<ScratchFiles>;

constexpr Plan kPlan{4, 8, 64};

TEST(BytewiseCountTest, SecondPassCountShrinksWithRank) {
  EXPECT_EQ(worker_second_pass(kFullPlan, 1), 4194304);
  EXPECT_EQ(worker_second_pass(kFullPlan, 2), 2796202);
  EXPECT_EQ(worker_second_pass(kFullPlan, 3), 2097152);
  EXPECT_EQ(worker_second_pass(kFullPlan, 4), 1677721);
  EXPECT_EQ(worker_second_pass(kFullPlan, 7), 1048576);
  EXPECT_EQ(worker_second_pass(kFullPlan, 511), 16384);
}

TEST_F(BytewiseRunTest, SingleProcessWriteLeavesTheFileOpenAndFullOfFillBytes) {
  const Timing timing = run_bytewise_write(kPlan, files);
  EXPECT_TRUE(testing::credited(timing, 64 + 32));
  EXPECT_TRUE(files.bytewise_out.is_open());
  // The second pass rewrote bytes 32 to 63 and stopped at the end.
  EXPECT_EQ(static_cast<std::int64_t>(files.bytewise_out.tellp()), 64);
  EXPECT_EQ(testing::read_file(kCollectorFile), std::string(64, kFillByte));
}

// A worker's second pass takes bytes M to 2M, M the file length over its
// rank + 1; the read is checked on bytes that tell their offsets apart.
TEST_F(BytewiseRunTest, WorkerSecondPassesRewriteAndRereadBytesMToTwoM) {
  const std::string bytes = testing::numbered_bytes(64);
  for (int rank : {1, 2, 3}) {
    SCOPED_TRACE(rank);
    files = ScratchFiles{};  // afresh for each worker
    const Identity worker{rank, 4, "node"};
    const std::int64_t m = 64 / (rank + 1);
    const Timing written = run_bytewise_write_worker(kPlan, worker, files);
    EXPECT_TRUE(testing::credited(written, static_cast<double>(64 + m)));
    EXPECT_EQ(files.count, m);
    EXPECT_EQ(static_cast<std::int64_t>(files.bytewise_out.tellp()), 2 * m);
    const std::string name = "data64-windows-" + std::to_string(rank) + "@node.tmp";
    EXPECT_EQ(std::string(files.input_name), name);
    EXPECT_EQ(testing::read_file(name), std::string(64, kFillByte));

    files.bytewise_out.close();
    testing::write_file(name, bytes);
    std::ostringstream console;
    const Timing read = run_bytewise_read_worker(kPlan, worker, files, console);
    EXPECT_TRUE(testing::credited(read, static_cast<double>(64 + m)));
    EXPECT_EQ(files.byte, bytes[2 * m - 1]);  // the byte just before offset 2M
    EXPECT_EQ(console.str(), "");
    EXPECT_FALSE(files.in.is_open());
  }
}

TEST_F(BytewiseRunTest, ReadsWhileTheWriterStillHoldsTheFile) {
  std::ostringstream console;
  run_bytewise_write(kPlan, files);
  const Timing timing = run_bytewise_read(kPlan, files, console);
  EXPECT_TRUE(testing::credited(timing, 64 + 32));
  EXPECT_EQ(console.str(), "");
  EXPECT_EQ(files.byte, kFillByte);
  EXPECT_TRUE(files.in.is_open());  // closed by the caller, after the report lines
  EXPECT_TRUE(files.bytewise_out.is_open());
}

TEST_F(BytewiseRunTest, UnopenableFileIsReportedOnTheConsoleOnlyAndStillTimed) {
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

TEST_F(BytewiseRunTest, ShortFileEndsTheFirstPassAndKeepsTheCounts) {
  testing::write_file(kCollectorFile, testing::numbered_bytes(10));
  std::ostringstream console;
  const Timing timing = run_bytewise_read(kPlan, files, console);
  EXPECT_TRUE(testing::credited(timing, 64 + 32));
  EXPECT_EQ(files.byte, static_cast<char>(9));
}

TEST_F(BytewiseRunTest, DirectoryInThePlaceOfTheFileDoesNotHang) {
  std::filesystem::create_directory(kCollectorFile);
  std::ostringstream console;
  EXPECT_TRUE(testing::credited(run_bytewise_write(kPlan, files), 64 + 32));
  EXPECT_TRUE(testing::credited(run_bytewise_read(kPlan, files, console), 64 + 32));
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
  EXPECT_EQ(testing::split_lines(bytewise.log),
            interleaved(bytewise_lines.file_lines(), {4, 1, 2, 1, 1, 2, 1, 2, 1, 1}));

  testing::OrderedReport block;
  write_block_summary(block.report, read, write);
  testing::CapturedReport block_lines;
  write_block_summary(block_lines.report, read, write);
  EXPECT_EQ(testing::split_lines(block.log),
            interleaved(block_lines.file_lines(), std::vector<std::size_t>(15, 1)));
}

TEST(AccessSummaryTest, VerdictsFlipJustAboveTheirThresholds) {
  using Summary = void (*)(Report&, const TestRecord& write, const TestRecord& read);
  struct Phase {
    Summary summary;
    std::string level;
    double write_threshold;  // deviations in accesses/sec
    double read_threshold;
  };
  const Summary block = [](Report& report, const TestRecord& write, const TestRecord& read) {
    write_block_summary(report, read, write);
  };
  for (const Phase& phase :
       {Phase{write_bytewise_summary, "low", 10000, 1000000}, Phase{block, "high", 350e6, 150e6}}) {
    for (const bool above : {false, true}) {
      SCOPED_TRACE(phase.level + (above ? ", above" : ", at the thresholds"));
      TestRecord write;
      TestRecord read;
      write.statistics.deviation =
          above ? std::nextafter(phase.write_threshold, 1e12) : phase.write_threshold;
      read.statistics.deviation =
          above ? std::nextafter(phase.read_threshold, 1e12) : phase.read_threshold;
      CapturedReport captured;
      phase.summary(captured.report, write, read);
      const std::string verdict = above ? testing::kUneven : kCalm;
      const Lines lines = captured.lines_on_both();
      const std::size_t at = phase.level == "low" ? 11 : 10;  // byte-wise starts with two blanks
      EXPECT_EQ(lines[at], "Among all nodes, " + phase.level + " writing " + verdict);
      EXPECT_EQ(lines[at + 3], "Among all nodes, " + phase.level + " reading " + verdict);
    }
  }
}

}  // namespace
}  // namespace quenda
