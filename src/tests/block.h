// Whole-file throughput: the block read takes the byte-wise write's file in
// one read request, the block write copies that buffer to a second file in
// one write request. Both are credited file_length bytes, whatever the file
// actually held.
#ifndef QUENDA_TESTS_BLOCK_H_
#define QUENDA_TESTS_BLOCK_H_

#include "cluster/exchange.h"
#include "plan.h"
#include "run/failures.h"
#include "run/report.h"
#include "tests/scratch_files.h"

namespace quenda {

// Single-process forms on the collector's files. The read leaves files.in
// open and the buffer filled; the write leaves files.block_out open.
Timing run_block_read(const Plan& plan, ScratchFiles& files);
Timing run_block_write(const Plan& plan, ScratchFiles& files);

// What the closes of the collector's three scratch streams came to.
struct SingleProcessCloses {
  Outcome input;            // the block read's
  Outcome block_output;     // the block write's
  Outcome bytewise_output;  // the byte-wise write's
};

// Closes the collector's three scratch streams once its tests are done: the
// shared input, the block output, then the byte-wise output.
SingleProcessCloses close_single_process_files(ScratchFiles& files);

// Worker forms on the worker's own files; the read opens files.input_name as
// the byte-wise write formatted it.
Timing run_block_read_worker(const Plan& plan, const Identity& worker, ScratchFiles& files);
Timing run_block_write_worker(const Plan& plan, const Identity& worker, ScratchFiles& files);

// The collector's single-process lines.
void write_block_heading(Report& report);
void write_block_read_single(Report& report, const Timing& timing);
void write_block_write_single(Report& report, const Timing& timing);

// The collector's cluster lines after all workers of both tests.
void write_block_summary(Report& report, const TestRecord& read, const TestRecord& write);

// The collector's cluster section: heading, every worker's block read, every
// worker's block write, summary and verdicts.
void collect_block(Report& report, TestRecord& read, TestRecord& write, const Identity& collector);

}  // namespace quenda

#endif  // QUENDA_TESTS_BLOCK_H_
