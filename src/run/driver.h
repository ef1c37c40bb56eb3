// The benchmark's whole control flow, run by every process of the MPI job:
// the collector's single-process tests, three cluster phases opened by
// barriers, and the collector's closing lines.
#ifndef QUENDA_RUN_DRIVER_H_
#define QUENDA_RUN_DRIVER_H_

#include <fstream>

#include "cluster/exchange.h"
#include "plan.h"
#include "test_table.h"
#include "tests/file_handling.h"
#include "tests/scratch_files.h"

namespace quenda {

// The six tests' records: 4,096-slot tables of which a run touches only the
// first world-size slots.
struct TestRecords {
  TestRecord stream_handling;
  TestRecord descriptor_handling;
  TestRecord bytewise_write;
  TestRecord bytewise_read;
  TestRecord block_read;
  TestRecord block_write;

  TestRecord& of(TestId test);
};

// Everything a process keeps from start to end. It is created before the
// entry point runs, so the working directory is the one the job started in,
// and its streams are reused by the tests rather than created per phase.
//
// The records are not a member but a reference to one zero-initialised
// object of static storage: a constructor that zeroed them itself would
// write, and so make resident, all 960 KiB of tables in every process.
struct ProcessState {
  const char* working_directory;
  HandlingFiles handling;
  ScratchFiles scratch;
  std::ofstream results;  // the collector's results file; no test uses it
  TestRecords& records;

  // Binds the records of the process; a process has one ProcessState.
  ProcessState();
  ProcessState(const ProcessState&) = delete;
  ProcessState& operator=(const ProcessState&) = delete;
};

// Runs the benchmark from MPI start-up to finalisation. Returns 0 when every
// file operation worked, 1 when any failed (standard error says which).
int run_benchmark(int* argc, char*** argv, const Plan& plan, ProcessState& state);

// The world size the run works with: at most the plan's cap.
int capped_world_size(int world_size, const Plan& plan);

}  // namespace quenda

#endif  // QUENDA_RUN_DRIVER_H_
