// The unit tests' own helpers: report sinks captured in memory. Folders and
// files come from the tests' shared library (support/files.h).
#ifndef QUENDA_TEST_UNIT_TEST_SUPPORT_H_
#define QUENDA_TEST_UNIT_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "cluster/exchange.h"
#include "run/report.h"
#include "support/files.h"

namespace quenda::testing {

// Bytes whose value tells their offset apart, to see which byte went where.
inline std::string numbered_bytes(std::size_t length) {
  std::string bytes(length, '\0');
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>(i % 251);
  return bytes;
}

// A timing with a positive time and a rate that is `accesses` over it.
inline bool credited(const Timing& timing, double accesses) {
  return timing.elapsed > 0 && std::isfinite(timing.rate) &&
         std::abs(timing.rate * timing.elapsed - accesses) < 1e-6;
}

// A report whose two sinks are kept in memory.
struct CapturedReport {
  std::ostringstream console_text;
  std::ostringstream file_text;
  Report report{console_text, file_text};

  Lines file_lines() const { return split_lines(file_text.str()); }
  // The lines, where both sinks must hold the same ones.
  Lines lines_on_both() const {
    EXPECT_EQ(console_text.str(), file_text.str()) << "the sinks differ";
    return file_lines();
  }
};

// A test run in a fresh folder of its own, with the files a run holds.
template <typename Files>
class InFolder : public ::testing::Test {
 protected:
  const TemporaryFolder directory{TemporaryFolder::kEnter};
  Files files;
};

inline const std::string kCalm = "performance differences of threads tend to be not significant.";
inline const std::string kUneven = "the performance differences of threads tend to be significant.";

// A report whose two sinks write into one log, each line marked with its
// sink ("console: " or "file: "), in the order the lines were written.
struct OrderedReport {
  struct MarkedLines : std::streambuf {
    MarkedLines(std::string& log, const char* mark) : log(log), mark(mark) {}
    int overflow(int c) override {
      if (c == traits_type::eof()) return c;
      if (line_start) log += mark;
      log += static_cast<char>(c);
      line_start = c == '\n';
      return c;
    }
    std::string& log;
    const char* mark;
    bool line_start = true;
  };
  std::string log;
  MarkedLines console_lines{log, "console: "};
  MarkedLines file_lines{log, "file: "};
  std::ostream console{&console_lines};
  std::ostream file{&file_lines};
  Report report{console, file};
};

}  // namespace quenda::testing

namespace quenda {
using testing::CapturedReport;
using testing::Lines;
}  // namespace quenda

#endif  // QUENDA_TEST_UNIT_TEST_SUPPORT_H_
