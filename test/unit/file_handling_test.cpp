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
  EXPECT_TRUE(testing::file_names(directory.path()).empty());
  // The streams are closed between and after cycles, ready for reuse.
  EXPECT_FALSE(files.out.is_open());
  EXPECT_FALSE(files.in.is_open());
}

TEST_F(FileHandlingRunTest, AnEarlierFileOfTheSameNameIsGone) {
  testing::write_file(kCollectorFile, "left over");
  run_stream_handling(kCollectorFile, 1, files);
  EXPECT_TRUE(testing::file_names(directory.path()).empty());

  testing::write_file(kCollectorFile, "left over");
  run_descriptor_handling(kCollectorFile, 1);
  EXPECT_TRUE(testing::file_names(directory.path()).empty());
}

TEST_F(FileHandlingRunTest, NothingCreatableStillRunsEveryCycleAndGivesARate) {
  // Names inside a directory that does not exist: every create fails, even
  // for root. The worker's name takes the directory from its processor name.
  const Identity worker{1, 2, "no-such-directory/node"};
  EXPECT_TRUE(usable(run_stream_handling("no-such-directory/file.tmp", kCycles, files)));
  EXPECT_TRUE(usable(run_descriptor_handling("no-such-directory/file.tmp", kCycles)));
  EXPECT_TRUE(usable(run_stream_handling_worker(worker, kCycles, files)));
  EXPECT_TRUE(usable(run_descriptor_handling_worker(worker, kCycles, files)));
  EXPECT_TRUE(testing::file_names(directory.path()).empty());
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

}  // namespace
}  // namespace quenda
