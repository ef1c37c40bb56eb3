#include "run/report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "file_names.h"
#include "test_support.h"

namespace quenda {
namespace {

TEST(ReportTest, NumbersUseDefaultSixDigitGeneralNotation) {
  CapturedReport captured;
  captured.report.both(131072 / 0.5);
  captured.report.both(8388608 / 0.5);
  captured.report.both(1234567.89);
  captured.report.both(0.00001234);
  captured.report.both(0.253127);
  captured.report.both(1e-05);
  const Lines expected = {"262144", "1.67772e+07", "1.23457e+06", "1.234e-05", "0.253127", "1e-05"};
  EXPECT_EQ(captured.lines_on_both(), expected);
}

TEST(ReportTest, EveryLineEndsWithNewlineAndEmptyLinesAreBare) {
  CapturedReport captured;
  captured.report.console("a", 1, "b");
  captured.report.console();
  captured.report.file();
  captured.report.to(Sink::kFile, "x");
  EXPECT_EQ(captured.console_text.str(), "a1b\n\n");
  EXPECT_EQ(captured.file_text.str(), "\nx\n");
}

TEST(ReportTest, WorkerRanksPrintAsPlainDecimals) {
  CapturedReport captured;
  captured.report.console("Thread:", worker_label(511), "@");
  EXPECT_EQ(captured.console_text.str(), "Thread:511@\n");
}

TEST(ResultsFileTest, NameCarriesProcessorNameAndLocalStartTime) {
  const auto local = [](int year, int month, int day, int hour, int minute, int second) {
    std::tm time{};
    time.tm_year = year - 1900;
    time.tm_mon = month - 1;
    time.tm_mday = day;
    time.tm_hour = hour;
    time.tm_min = minute;
    time.tm_sec = second;
    return time;
  };
  EXPECT_EQ(results_file_name("NODE01", local(2026, 12, 6, 20, 53, 46)),
            "results_quenda_lite_windows_clusters @ NODE01 @ local date 2026.12.06 time "
            "20.53.46.txt");
  EXPECT_EQ(results_file_name("n", local(1999, 1, 2, 3, 4, 5)),
            "results_quenda_lite_windows_clusters @ n @ local date 1999.01.02 time 03.04.05.txt");
}

TEST(ResultsFileTest, SavedPathJoinsDirectoryAndNameWithSlash) {
  EXPECT_EQ(saved_path("/home/run", "r.txt"), "/home/run/r.txt");
  EXPECT_EQ(saved_path("C:\\runs", "r.txt"), "C:\\runs/r.txt");
  EXPECT_EQ(saved_path(nullptr, "r.txt"), "(null)/r.txt");
  // Longer than any fixed buffer would hold: the whole path is kept.
  const std::string deep(5000, 'd');
  EXPECT_EQ(saved_path(deep.c_str(), "r.txt"), deep + "/r.txt");
}

}  // namespace
}  // namespace quenda
