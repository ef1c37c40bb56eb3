// Report lines shared by the byte-wise and block tests, whose figures are
// accesses (bytes) per second shown in millions and in MB.
#ifndef QUENDA_TESTS_ACCESS_LINES_H_
#define QUENDA_TESTS_ACCESS_LINES_H_

#include <string>

#include "cluster/exchange.h"
#include "plan.h"
#include "report_texts.h"
#include "run/report.h"
#include "test_table.h"

namespace quenda {

inline double in_millions(double rate) { return rate / kMillion; }
inline double in_megabytes(double rate) { return rate * kMegabyteFactor * kMegabyteFactor; }

// A collector's own result: time, millions and MB lines to the console, then
// to the results file, each group closed by an empty line when asked.
void write_access_single(Report& report, const Timing& timing, const char* time_unit,
                         bool closing_blank);

// One worker's three lines to the console, then to the results file. Only
// the millions line differs: "Access/sec." on the console, "Accesses/sec."
// in the file.
void write_access_worker(Report& report, const char* collector_name, int rank, double elapsed,
                         double rate, const char* time_unit);

// The summary lines that follow the per-worker lines of a write test and a
// read test, as texts that each summary writes in its own order.
struct AccessSummary {
  // The totals over all workers, each in millions and in MB, with its
  // improvement over the collector's own rate: write, then read.
  std::string write_millions, write_megabytes, write_improvement;
  std::string read_millions, read_megabytes, read_improvement;
};

AccessSummary access_summary(const TestRecord& write, const TestRecord& read);

// The verdict line on a test's workers, for the kind of access ("low
// writing", ...): significant when their standard deviation, in millions of
// accesses per second, exceeds the test's threshold (or is not a number).
inline std::string verdict(const TestRecord& record, TestId test, const char* kind) {
  return texts::verdict_text(
      kind, significant(record.statistics.deviation / kMillion, threshold_of(test)));
}

// The mean per worker in MB, for the kind of access and with its unit.
std::string mean_line(const char* kind, double mean_rate, const char* unit);

}  // namespace quenda

#endif  // QUENDA_TESTS_ACCESS_LINES_H_
