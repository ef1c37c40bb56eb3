// The program takes no arguments. --help and --version answer before MPI
// starts; anything else is refused with one line and status 2. Either way
// the process opens no file to write, makes no folder and no socket (MPI's
// start-up makes both), so that a typo never starts a load.
#include <gtest/gtest.h>

#include <regex>

#include "hostile_support.h"
#include "support/process.h"

namespace quenda::hostile {
namespace {

struct ArgumentsCase {
  std::vector<std::string> args;
  int status;
  std::string out;  // a regular expression for the whole of standard output
  std::string err;  // likewise for standard error
};

// A call in an strace log that writes to the file system or starts MPI.
const std::regex kTouches(
    R"((open|openat|creat)\(.*(O_WRONLY|O_RDWR|O_CREAT)|(mkdir|unlink|rename|socket)\w*\()");

TEST(ArgumentsTest, AnswerOrRefuseAndTouchNothing) {
  const std::string refused = "quenda-lite: unexpected argument '";
  const std::string only = "': the program takes none but --help or --version\n";
  const std::vector<ArgumentsCase> cases = {
      {{"--help"}, 0, "usage: mpirun -np N quenda-lite\n(.*\n)+", ""},
      {{"--version"}, 0, "quenda-lite " QUENDA_LITE_VERSION "\n", ""},
      {{"--helpp"}, 2, "", refused + "--helpp" + only},
      {{"--help", "--version"}, 2, "", refused + "--help" + only},
      {{"a\nb\\"}, 2, "", refused + R"(a\\x0Ab\\x5C)" + only},
  };
  for (const auto& row : cases) {
    TemporaryFolder folder;
    std::vector<std::string> argv = {"strace", "-f", "-qq", "-o", "trace", QUENDA_FULL_BINARY};
    argv.insert(argv.end(), row.args.begin(), row.args.end());
    const auto ended = testing::run_process(argv, folder.path(), {.time_limit_seconds = 30});
    const std::string name = row.args[0];
    EXPECT_EQ(ended.exit_code, row.status) << name << ": " << ended.err;
    EXPECT_TRUE(std::regex_match(ended.out, std::regex(row.out))) << name << ": " << ended.out;
    EXPECT_TRUE(std::regex_match(ended.err, std::regex(row.err))) << name << ": " << ended.err;
    EXPECT_EQ(testing::file_names(folder.path()), std::vector<std::string>{"trace"}) << name;
    for (const std::string& call :
         testing::split_lines(testing::read_file(folder.path() / "trace"))) {
      EXPECT_FALSE(std::regex_search(call, kTouches)) << name << ": " << call;
    }
  }
  // Under the launcher every rank refuses alike, and the job fails.
  TemporaryFolder directory;
  const JobResult job = e2e::run_job({.binary = std::string(QUENDA_FULL_BINARY) + " --typo",
                                      .processes = 2,
                                      .directory = directory.path(),
                                      .timeout_seconds = 60});
  EXPECT_NE(job.exit_code, 0);
  EXPECT_EQ(count_occurrences(job.errors, refused + "--typo" + only), 2) << job.errors;
  EXPECT_EQ(testing::file_names(directory.path()), std::vector<std::string>{});
}

}  // namespace
}  // namespace quenda::hostile
