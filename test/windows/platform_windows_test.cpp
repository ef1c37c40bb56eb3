// Facts about the Windows platform layer that the benchmark's tests rely on.
// Each positive fact comes with the control that shows the system under test
// (Windows, or wine) would have caught it being false.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <share.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/platform.h"
#include "support/files.h"

namespace {

namespace fs = std::filesystem;

int g_invalid_parameter_calls = 0;

void count_invalid_parameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int,
                             uintptr_t) {
  ++g_invalid_parameter_calls;
}

using quenda::testing::read_file;
using quenda::testing::TemporaryFolder;

TEST(PlatformWindows, DescriptorAndStreamsShareOneFile) {
  const TemporaryFolder directory(TemporaryFolder::kEnter);
  const int descriptor = quenda::platform::open_descriptor("shared.tmp");
  ASSERT_GE(descriptor, 0);
  {
    // While the descriptor is open, a write stream and a read stream open
    // the same file, as the benchmark's tests do one after the other.
    std::ofstream out("shared.tmp", std::ios::binary);
    EXPECT_TRUE(out.is_open());
    out << "ab";
    out.flush();
    std::ifstream in("shared.tmp", std::ios::binary);
    EXPECT_TRUE(in.is_open());
    std::string read;
    in >> read;
    EXPECT_EQ(read, "ab");
  }
  quenda::platform::close_descriptor(descriptor);

  // Control: a descriptor that denies sharing does keep the streams out
  // here, so the opens above succeeded because nothing was denied.
  int exclusive = -1;
  ASSERT_EQ(
      _sopen_s(&exclusive, "shared.tmp", _O_RDWR | _O_BINARY, _SH_DENYRW, _S_IREAD | _S_IWRITE), 0);
  std::ifstream denied("shared.tmp", std::ios::binary);
  EXPECT_FALSE(denied.is_open());
  _close(exclusive);
}

TEST(PlatformWindows, DescriptorOpenCreatesRemovableFilesAndNeverTruncates) {
  const TemporaryFolder directory(TemporaryFolder::kEnter);
  // Every descriptor cycle removes the file it created; Windows refuses to
  // remove a file that was created read-only.
  const int created = quenda::platform::open_descriptor("new.tmp");
  ASSERT_GE(created, 0);
  quenda::platform::close_descriptor(created);
  EXPECT_EQ(std::remove("new.tmp"), 0);

  {
    std::ofstream out("old.tmp", std::ios::binary);
    out << "kept";
  }
  const int reopened = quenda::platform::open_descriptor("old.tmp");
  ASSERT_GE(reopened, 0);
  quenda::platform::close_descriptor(reopened);
  EXPECT_EQ(read_file("old.tmp"), "kept");

  // The open adds no translation mode of its own: the runtime's default,
  // text, is what _setmode reports as the one it replaces. Control: an open
  // that asks for binary mode is reported as binary.
  const int text = quenda::platform::open_descriptor("mode.tmp");
  ASSERT_GE(text, 0);
  EXPECT_EQ(_setmode(text, _O_BINARY), _O_TEXT);
  quenda::platform::close_descriptor(text);
  int binary = -1;
  ASSERT_EQ(_sopen_s(&binary, "mode.tmp", _O_RDWR | _O_BINARY, _SH_DENYNO, _S_IREAD | _S_IWRITE),
            0);
  EXPECT_EQ(_setmode(binary, _O_TEXT), _O_BINARY);
  _close(binary);

  // A directory in the file's place makes the open fail with -1.
  fs::create_directory("taken.tmp");
  EXPECT_EQ(quenda::platform::open_descriptor("taken.tmp"), -1);
}

TEST(PlatformWindows, ClosingMinusOneIsABadDescriptorAndNothingElse) {
  // With a handler of our own, the C runtime reports an invalid parameter to
  // it instead of ending the process, so a close(-1) reaching the runtime is
  // counted here rather than killing the test.
  const _invalid_parameter_handler previous =
      _set_invalid_parameter_handler(count_invalid_parameter);
  g_invalid_parameter_calls = 0;
  errno = 0;
  quenda::platform::close_descriptor(-1);
  const int error = errno;
  _set_invalid_parameter_handler(previous);
  EXPECT_EQ(error, EBADF);
  EXPECT_EQ(g_invalid_parameter_calls, 0);
}

TEST(PlatformWindows, WorkingDirectoryIsTheDrivePath) {
  const TemporaryFolder directory(TemporaryFolder::kEnter);
  const char* path = quenda::platform::current_directory();
  ASSERT_NE(path, nullptr);
  const std::string text = path;
  ASSERT_GE(text.size(), 3u);
  EXPECT_TRUE(std::isalpha(static_cast<unsigned char>(text[0])) && text[1] == ':' &&
              text[2] == '\\')
      << text;
  EXPECT_EQ(fs::path(text), fs::current_path());
}

}  // namespace
