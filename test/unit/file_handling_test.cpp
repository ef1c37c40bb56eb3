#include "tests/file_handling.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "test_support.h"

namespace quenda {
namespace {

using FileHandlingRunTest = testing::InFolder<HandlingFiles>;

constexpr int kCycles = 50;

bool usable(const Timing& timing) { return testing::credited(timing, kCycles); }

TEST_F(FileHandlingRunTest, EveryFormLeavesNoFileBehind) {
  const Identity worker{3, 4, "node7"};
  EXPECT_TRUE(usable(run_stream_handling(kCollectorFile, kCycles, files)));
  EXPECT_TRUE(usable(run_descriptor_handling(kCollectorFile, kCycles)));
  EXPECT_TRUE(usable(run_stream_handling_worker(worker, kCycles, files)));
  EXPECT_TRUE(usable(run_descriptor_handling_worker(worker, kCycles, files)));
  EXPECT_EQ(std::string(files.name), "data64-windows-3@node7.tmp");
  EXPECT_TRUE(directory.entries().empty());
  // The streams are closed between and after cycles, ready for reuse.
  EXPECT_FALSE(files.out.is_open());
  EXPECT_FALSE(files.in.is_open());
}

TEST_F(FileHandlingRunTest, AnEarlierFileOfTheSameNameIsGone) {
  testing::write_file(kCollectorFile, "left over");
  run_stream_handling(kCollectorFile, 1, files);
  EXPECT_TRUE(directory.entries().empty());

  testing::write_file(kCollectorFile, "left over");
  run_descriptor_handling(kCollectorFile, 1);
  EXPECT_TRUE(directory.entries().empty());
}

TEST_F(FileHandlingRunTest, NothingCreatableStillRunsEveryCycleAndGivesARate) {
  // Names inside a directory that does not exist: every create fails, even
  // for root. The worker's name takes the directory from its processor name.
  const Identity worker{1, 2, "no-such-directory/node"};
  EXPECT_TRUE(usable(run_stream_handling("no-such-directory/file.tmp", kCycles, files)));
  EXPECT_TRUE(usable(run_descriptor_handling("no-such-directory/file.tmp", kCycles)));
  EXPECT_TRUE(usable(run_stream_handling_worker(worker, kCycles, files)));
  EXPECT_TRUE(usable(run_descriptor_handling_worker(worker, kCycles, files)));
  EXPECT_TRUE(directory.entries().empty());
  // Failed cycles do not poison the stream objects: once creation works
  // again, the same objects handle the file.
  files.out.open("probe", std::ios::binary | std::ios::out);
  files.in.open("probe", std::ios::binary | std::ios::in);
  EXPECT_TRUE(files.out.good() && files.in.good());
}

TEST(PlatformCloseTest, AFailedOpensMinusOneNeverReachesTheRuntime) {
  std::vector<int> closed;
  auto close_call = [&](int descriptor) {
    closed.push_back(descriptor);
    return 0;
  };
  errno = 0;
  platform::close_unless_failed(-1, close_call);
  EXPECT_EQ(errno, EBADF);
  EXPECT_TRUE(closed.empty());
  platform::close_unless_failed(0, close_call);
  platform::close_unless_failed(7, close_call);
  EXPECT_EQ(closed, (std::vector<int>{0, 7}));
}

TEST(FileHandlingReportTest, NoWorkerGivesZeroTotalsAndNoMeanOrVerdict) {
  CapturedReport captured;
  TestRecord record;
  record.single = Timing{1, 5000};
  summarise(record.statistics, 1);
  write_handling_heading_cluster(captured.report, Handling::kDescriptor);
  write_handling_summary(captured.report, Handling::kDescriptor, record, 1);
  const Lines expected = {
      "Power of Handling Files -- Higher",   "", "Overall, The system could process: 0 Files/sec.",
      "Multi-Thread Improvements: 0 times.", "", ""};
  EXPECT_EQ(captured.lines_on_both(), expected);
}

// The lines of a phase whose workers had the given rates, each having spent
// 0.25 s, against a single-process rate of 50.
CapturedReport phase_with(std::initializer_list<double> rates) {
  CapturedReport captured;
  TestRecord record;
  record.single = Timing{1, 50};
  int rank = 1;
  for (double rate : rates) {
    accumulate(record.statistics, rank, rate);
    write_handling_worker(captured.report, "HEAD", rank, 0.25, rate);
    ++rank;
  }
  summarise(record.statistics, rank);
  write_handling_summary(captured.report, Handling::kStream, record, rank);
  return captured;
}

TEST(FileHandlingReportTest, WorkersAndVerdicts) {
  const CapturedReport close = phase_with({100, 102});
  const Lines console{"Thread:1@HEAD The system spent: 0.25 Secs.",
                      "Thread:1@HEAD The system could process 100 Files/sec.",
                      "Thread:2@HEAD The system spent: 0.25 Secs.",
                      "Thread:2@HEAD The system could process 102 Files/sec.",
                      "Overall, The system could process: 202 Files/sec.",
                      "Multi-Thread Improvements: 4.04 times.",
                      "",
                      "",
                      "",
                      "Among all nodes, the average process per thread was: 101 Files/sec.",
                      "Among all nodes, the " + testing::kCalm,
                      ""};
  EXPECT_EQ(close.console_lines(), console);
  // The file names no host and has one blank line fewer.
  Lines file = console;
  for (int i = 0; i < 4; ++i) file[i].erase(8, 5);  // "@HEAD"
  file.erase(file.begin() + 8);
  EXPECT_EQ(close.file_lines(), file);

  const Lines apart = phase_with({100, 104}).file_lines();
  EXPECT_EQ(apart[8], "Among all nodes, the average process per thread was: 102 Files/sec.");
  EXPECT_EQ(apart[9], "Among all nodes, " + testing::kUneven);

  const Lines one = phase_with({77}).console_lines();
  EXPECT_EQ(one[7], "Among all nodes, the average process per thread was: 77 Files/sec.");
  EXPECT_EQ(one[8], "Among all nodes, the " + testing::kCalm);
}

}  // namespace
}  // namespace quenda
