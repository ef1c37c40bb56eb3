// Report lines shared by the byte-wise and block tests, whose figures are
// accesses (bytes) per second shown in millions and in MB.
#ifndef QUENDA_TESTS_ACCESS_LINES_H_
#define QUENDA_TESTS_ACCESS_LINES_H_

#include "cluster/exchange.h"
#include "plan.h"
#include "run/report.h"

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

// The totals of a write test and a read test over all workers, each in
// millions and in MB, with its improvement over the collector's own rate.
void write_access_totals(Report& report, const TestRecord& write, const TestRecord& read);

// An empty line, the mean per worker in MB (label and unit given) and the
// verdict line chosen by `differs`.
void write_mean_and_verdict(Report& report, const char* mean_label, double mean_rate,
                            const char* unit, bool differs, const char* calm_verdict,
                            const char* uneven_verdict);

}  // namespace quenda

#endif  // QUENDA_TESTS_ACCESS_LINES_H_
