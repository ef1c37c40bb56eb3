// One-byte accesses per second: every byte written is flushed on its own and
// every byte read is followed by a sync. The write leaves a file of
// file_length bytes of kFillByte, which the read and the block read use.
#ifndef QUENDA_TESTS_BYTEWISE_H_
#define QUENDA_TESTS_BYTEWISE_H_

#include <cstdint>
#include <ostream>

#include "cluster/exchange.h"
#include "plan.h"
#include "run/report.h"
#include "tests/scratch_files.h"

namespace quenda {

// Bytes rewritten and reread by a worker's second pass, which starts at the
// same offset: file_length / (rank + 1).
std::int64_t worker_second_pass(const Plan& plan, int rank);

// Single-process forms on the collector's file. The write leaves
// files.bytewise_out open; the read reports a file it cannot open to
// `console` and leaves files.in for the caller to close once the read's
// report lines are written.
Timing run_bytewise_write(const Plan& plan, ScratchFiles& files);
Timing run_bytewise_read(const Plan& plan, ScratchFiles& files, std::ostream& console);

// Worker forms on the worker's own file; the write formats its name into
// files.input_name, the read uses it as it stands and closes it before its
// closing clock reading.
Timing run_bytewise_write_worker(const Plan& plan, const Identity& worker, ScratchFiles& files);
Timing run_bytewise_read_worker(const Plan& plan, const Identity& worker, ScratchFiles& files,
                                std::ostream& console);

// The collector's single-process lines.
void write_bytewise_heading(Report& report);
void write_bytewise_write_single(Report& report, const Timing& timing);
void write_bytewise_read_single(Report& report, const Timing& timing);

// The collector's cluster lines after all workers of both tests.
void write_bytewise_summary(Report& report, const TestRecord& write, const TestRecord& read);

// The collector's cluster section: heading, every worker's write, every
// worker's read, summary and verdicts.
void collect_bytewise(Report& report, TestRecord& write, TestRecord& read,
                      const Identity& collector);

}  // namespace quenda

#endif  // QUENDA_TESTS_BYTEWISE_H_
