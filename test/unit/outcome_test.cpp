#include "tests/outcome.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "test_support.h"

namespace quenda {
namespace {

// What the system says when a directory is opened as a file.
#ifdef _WIN32
constexpr const char kDirectoryOpened[] = "Permission denied";
#else
constexpr const char kDirectoryOpened[] = "Is a directory";
#endif

std::string reason_of(const Outcome& outcome) { return outcome ? outcome->reason : "(worked)"; }

TEST(OutcomeTest, HandlingFailsWhenItsNameCannotBeCreatedAgain) {
  const testing::TemporaryFolder scratch(testing::TemporaryFolder::kEnter);
  HandlingFiles files;
  EXPECT_EQ(reason_of(stream_handling_outcome("f.tmp", files)), "(worked)");
  // An error number left by a call that worked is no failure; the fresh
  // create and remove that tells leaves nothing behind.
  EXPECT_EQ(reason_of(descriptor_handling_outcome("f.tmp", ENOENT)), "(worked)");
  EXPECT_TRUE(testing::file_names(scratch.path()).empty());
  testing::write_file("f.tmp", "left by a remove that failed");
  EXPECT_EQ(reason_of(stream_handling_outcome("f.tmp", files)), "the last cycle's remove failed");
  // A clean run makes no probe: one made now would meet a directory.
  errno = 0;
  run_descriptor_handling("f.tmp", 3);
  const int left = errno;
  std::filesystem::create_directory("f.tmp");
  EXPECT_EQ(reason_of(descriptor_handling_outcome("f.tmp", left)), "(worked)");
#ifdef _WIN32
  // What the Visual C++ runtime's text-mode open of an empty file leaves (wine's leaves 0).
  EXPECT_EQ(reason_of(descriptor_handling_outcome("f.tmp", EINVAL)), "(worked)");
#endif

  files.out.open("f.tmp", std::ios::binary | std::ios::out);
  ASSERT_TRUE(files.out.fail());
  EXPECT_EQ(reason_of(stream_handling_outcome("f.tmp", files)), kDirectoryOpened);
  EXPECT_EQ(reason_of(descriptor_handling_outcome("f.tmp", EISDIR)), kDirectoryOpened);
  EXPECT_EQ(reason_of(descriptor_handling_outcome("f.tmp", 0)), "(worked)");
  // The last cycle failed, though the name works again by now.
  std::filesystem::remove("f.tmp");
  EXPECT_EQ(reason_of(stream_handling_outcome("f.tmp", files)),
            "the last cycle's open or close failed");
}

TEST(OutcomeTest, WrittenAndReadFilesMustBeWholeRegularFiles) {
  const testing::TemporaryFolder scratch(testing::TemporaryFolder::kEnter);
  testing::write_file("three", "abc");
  std::filesystem::create_directory("folder");
  const std::ofstream written;
  const std::ifstream written_read;
  std::ofstream failed_write;
  failed_write.setstate(std::ios::badbit);
  std::ifstream failed_read;
  failed_read.setstate(std::ios::failbit);

  EXPECT_EQ(reason_of(written_outcome("three", written, EINVAL, 3)), "(worked)");
  EXPECT_EQ(reason_of(written_outcome("three", written, 0, 4)), "the file holds 3 bytes, not 4");
  EXPECT_EQ(reason_of(written_outcome("folder", written, 0, 3)), "Is a directory");
  EXPECT_EQ(reason_of(written_outcome("three", failed_write, ENOSPC, 3)),
            "No space left on device");
  EXPECT_EQ(reason_of(written_outcome("three", failed_write, 0, 3)), "a write failed");
  EXPECT_EQ(reason_of(read_outcome("three", written_read, 0, 2)), "(worked)");
  EXPECT_EQ(reason_of(read_outcome("missing", written_read, 0, 1)), "No such file or directory");
  EXPECT_EQ(reason_of(read_outcome("three", failed_read, 0, 3)), "a read failed");
  EXPECT_EQ(reason_of(read_outcome("three", failed_read, EACCES, 3)), "Permission denied");
  EXPECT_EQ(reason_of(read_outcome("missing", failed_read, 0, 3)), "No such file or directory");
#ifndef _WIN32
  std::ofstream full("/dev/full");
  full << 'x';  // still buffered: only the close meets the full device
  EXPECT_EQ(reason_of(close_outcome("/dev/full", full)), "No space left on device");
#endif
  EXPECT_EQ(written_outcome("three", failed_write, EIO, 3)->file, "three");
}

}  // namespace
}  // namespace quenda
