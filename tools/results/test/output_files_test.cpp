// Writing a conversion's three outputs, over an earlier conversion's or not,
// with one step made to fail where the system's would not.
#include "output_files.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "support/files.h"
#include "support/process.h"

namespace quenda::results {
namespace {

namespace fs = std::filesystem;
using testing::file_names;
using testing::read_file;

// Every rename the writer asked for, in order, and whether the one chosen
// to fail was reached.
struct RenameLog {
  std::vector<std::pair<fs::path, fs::path>> renames;
  bool failed = false;
};

// The system's steps, but the first rename that `fails` picks returns an
// error and leaves both names alone; without hard links, every link fails
// the way it does on a file system that has none.
FileSteps steps_failing(const std::function<bool(const fs::path& from, const fs::path& to)>& fails,
                        bool hard_links, const std::shared_ptr<RenameLog>& log) {
  FileSteps steps = system_file_steps();
  steps.rename = [fails, log, rename = steps.rename](const fs::path& from, const fs::path& to,
                                                     std::error_code& error) {
    log->renames.emplace_back(from, to);
    if (!log->failed && fails(from, to)) {
      log->failed = true;
      error = std::make_error_code(std::errc::io_error);
      return;
    }
    rename(from, to, error);
  };
  if (!hard_links) {
    steps.create_hard_link = [](const fs::path&, const fs::path&, std::error_code& error) {
      error = std::make_error_code(std::errc::operation_not_supported);
    };
  }
  return steps;
}

// Picks the rename that puts the finished output `target` in its place,
// from the work folder, where it has its own name.
std::function<bool(const fs::path&, const fs::path&)> finished_onto(const fs::path& target) {
  return [target](const fs::path& from, const fs::path& to) {
    return to == target && from.filename() == target.filename() &&
           from.parent_path().parent_path() == target.parent_path();
  };
}

class OutputFiles : public ::testing::TestWithParam<bool> {
 protected:
  bool hard_links() const { return GetParam(); }
  fs::path output(const std::string& extension) const {
    return folder_.path() / ("run" + extension);
  }

  std::vector<OutputFile> conversion(const std::string& which) const {
    return {{output(".json"), which + " json\n"},
            {output(".csv"), which + " csv\n"},
            {output(".svg"), which + " svg\n"}};
  }

  void write_earlier_conversion() const {
    for (const OutputFile& file : conversion("earlier"))
      testing::write_file(file.path, file.content);
  }

  // The folder holds exactly the three outputs, with `which` conversion's
  // content.
  void expect_conversion(const std::string& which) const {
    EXPECT_EQ(file_names(folder_.path()),
              (std::vector<std::string>{"run.csv", "run.json", "run.svg"}));
    for (const OutputFile& file : conversion(which)) {
      EXPECT_EQ(read_file(file.path), file.content) << file.path;
    }
  }

  testing::TemporaryFolder folder_;
};

TEST_P(OutputFiles, ReplacesAnEarlierConversionAndLeavesNoOtherName) {
  write_earlier_conversion();
  const auto log = std::make_shared<RenameLog>();
  const auto never = [](const fs::path&, const fs::path&) { return false; };
  EXPECT_EQ(write_all_or_nothing(conversion("later"), steps_failing(never, hard_links(), log)), "");
  expect_conversion("later");
  // Three renames into place, and without hard links three aside first.
  EXPECT_EQ(log->renames.size(), hard_links() ? 3u : 6u);
}

TEST_P(OutputFiles, PutsAnEarlierConversionBackWhenTheSecondRenameFails) {
  write_earlier_conversion();
  const auto log = std::make_shared<RenameLog>();
  const fs::path csv = output(".csv");
  // The finished .csv cannot take its place; the .json already has.
  const std::string error = write_all_or_nothing(
      conversion("later"), steps_failing(finished_onto(csv), hard_links(), log));
  ASSERT_TRUE(log->failed);
  EXPECT_EQ(error.rfind("cannot rename a finished output to " + csv.string() + ": ", 0), 0u)
      << error;
  // The .json was renamed into place before the failure.
  std::vector<fs::path> targets;
  for (const auto& [from, to] : log->renames) targets.push_back(to);
  const auto json_at = std::find(targets.begin(), targets.end(), output(".json"));
  const auto csv_at = std::find(targets.begin(), targets.end(), csv);
  EXPECT_LT(json_at, csv_at);
  expect_conversion("earlier");
}

TEST_P(OutputFiles, PutsAnEarlierConversionBackWhenTheLastRenameFails) {
  write_earlier_conversion();
  const auto log = std::make_shared<RenameLog>();
  EXPECT_NE(write_all_or_nothing(conversion("later"),
                                 steps_failing(finished_onto(output(".svg")), hard_links(), log)),
            "");
  ASSERT_TRUE(log->failed);
  expect_conversion("earlier");
}

TEST_P(OutputFiles, LeavesNothingBehindWhenThereWasNoEarlierConversion) {
  const auto log = std::make_shared<RenameLog>();
  const fs::path csv = output(".csv");
  const auto onto_csv = [&csv](const fs::path&, const fs::path& to) { return to == csv; };
  EXPECT_NE(write_all_or_nothing(conversion("later"), steps_failing(onto_csv, hard_links(), log)),
            "");
  ASSERT_TRUE(log->failed);
  EXPECT_EQ(file_names(folder_.path()), std::vector<std::string>{});
}

TEST_P(OutputFiles, ANextRunUndoesAConversionKilledAtAnyStep) {
  for (const bool earlier : {true, false}) {
    // Three renames into place; over an earlier conversion three links
    // before, or without hard links three failed links and three renames.
    const int steps = !earlier ? 3 : hard_links() ? 6 : 9;
    for (int stop_at = 0; stop_at < steps; ++stop_at) {
      SCOPED_TRACE("earlier: " + std::to_string(earlier) + ", step " + std::to_string(stop_at));
      if (earlier) write_earlier_conversion();
      int ready[2];
      ASSERT_EQ(pipe(ready), 0);
      const pid_t child = fork();
      if (child == 0) {
        // The conversion stops at the chosen step until a signal ends it.
        const auto never = [](const fs::path&, const fs::path&) { return false; };
        FileSteps steps_until = steps_failing(never, hard_links(), std::make_shared<RenameLog>());
        int count = 0;
        const auto stop = [&count, &ready, stop_at](FileSteps::Step step) {
          return [&count, &ready, stop_at, step](const fs::path& from, const fs::path& to,
                                                 std::error_code& error) {
            if (count++ == stop_at && write(ready[1], "r", 1) == 1) pause();
            step(from, to, error);
          };
        };
        steps_until.rename = stop(steps_until.rename);
        steps_until.create_hard_link = stop(steps_until.create_hard_link);
        write_all_or_nothing(conversion("later"), steps_until);
        _exit(1);
      }
      char byte = 0;
      ASSERT_EQ(read(ready[0], &byte, 1), 1);
      close(ready[0]);
      close(ready[1]);
      // While it runs, its work folder is left alone.
      EXPECT_EQ(recover_interrupted(folder_.path()), "");
      EXPECT_EQ(file_names(folder_.path()).front().rfind(".quenda-results-", 0), 0u);
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);

      EXPECT_EQ(recover_interrupted(folder_.path()), "");
      if (earlier) {
        expect_conversion("earlier");
      } else {
        EXPECT_TRUE(fs::is_empty(folder_.path()));
      }
      EXPECT_EQ(write_all_or_nothing(conversion("later")), "");
      expect_conversion("later");
      for (const OutputFile& file : conversion("")) fs::remove(file.path);
    }
  }
}

TEST(OutputFilesWithoutHardLinks, PutsBackWhatItSetAsideWhenTheNextCannotBe) {
  testing::TemporaryFolder folder;
  std::vector<OutputFile> files;
  for (const std::string extension : {".json", ".csv", ".svg"}) {
    const fs::path path = folder.path() / ("run" + extension);
    testing::write_file(path, "earlier" + extension);
    files.push_back({path, "later" + extension});
  }
  const auto log = std::make_shared<RenameLog>();
  const fs::path svg = files[2].path;
  const auto svg_aside = [&svg](const fs::path& from, const fs::path&) { return from == svg; };
  const std::string error = write_all_or_nothing(files, steps_failing(svg_aside, false, log));
  ASSERT_TRUE(log->failed);
  EXPECT_EQ(error.rfind("cannot set the earlier " + svg.string() + " aside: ", 0), 0u) << error;
  EXPECT_EQ(file_names(folder.path()),
            (std::vector<std::string>{"run.csv", "run.json", "run.svg"}));
  for (const std::string extension : {".json", ".csv", ".svg"}) {
    EXPECT_EQ(read_file(folder.path() / ("run" + extension)), "earlier" + extension);
  }
}

INSTANTIATE_TEST_SUITE_P(Links, OutputFiles, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("HardLinks")
                                             : std::string("NoHardLinks");
                         });

}  // namespace
}  // namespace quenda::results
