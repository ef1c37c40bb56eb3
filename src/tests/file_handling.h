// Files created, opened, closed and removed per second: through file streams
// ("Lower") and through descriptors ("Higher"). No byte is written or read.
#ifndef QUENDA_TESTS_FILE_HANDLING_H_
#define QUENDA_TESTS_FILE_HANDLING_H_

#include <fstream>

#include "cluster/exchange.h"
#include "plan.h"
#include "run/report.h"

namespace quenda {

enum class Handling { kStream, kDescriptor };

// The stream test's pair, reused by every cycle, and the worker's file name.
struct HandlingFiles {
  std::ofstream out;
  std::ifstream in;
  char name[kNameBufferSize] = {};
};

// Single-process forms: `cycles` cycles on `file_name`, timed as a whole.
Timing run_stream_handling(const char* file_name, int cycles, HandlingFiles& files);
Timing run_descriptor_handling(const char* file_name, int cycles);

// Worker forms: the same cycles on the worker's own file, whose name is
// formatted afresh in every cycle.
Timing run_stream_handling_worker(const Identity& worker, int cycles, HandlingFiles& files);
Timing run_descriptor_handling_worker(const Identity& worker, int cycles, HandlingFiles& files);

// The collector's single-process lines. The heading comes before the test
// runs, the result lines after it.
void write_handling_heading_single(Report& report, Handling test);
void write_handling_result_single(Report& report, const Timing& timing);

// The collector's cluster lines: heading, one group per worker, and the
// summary (total, improvement, and with workers the mean and verdict).
void write_handling_heading_cluster(Report& report, Handling test);
void write_handling_worker(Report& report, const char* collector_name, int rank, double elapsed,
                           double rate);
void write_handling_summary(Report& report, Handling test, const TestRecord& record,
                            int world_size);

// Cluster phase of one test on the collector: receives every worker's figures
// and writes the whole section.
void collect_handling(Report& report, Handling test, TestRecord& record, const Identity& collector);

}  // namespace quenda

#endif  // QUENDA_TESTS_FILE_HANDLING_H_
