#include "run/driver.h"

#include <mpi.h>

#include <fstream>
#include <iostream>
#include <string>

#include "platform/platform.h"
#include "run/report.h"
#include "tests/block.h"
#include "tests/bytewise.h"

namespace quenda {
namespace {

// The collector's part before the first barrier: banner and the six tests
// run alone.
void run_single_process_tests(Report& report, const Plan& plan, ProcessState& state,
                              const Identity& collector) {
  write_banner(report, collector.world_size);

  write_handling_heading_single(report, Handling::kStream);
  state.records.stream_handling.single =
      run_stream_handling(kCollectorFile, plan.handling_cycles, state.handling);
  write_handling_result_single(report, state.records.stream_handling.single);

  write_handling_heading_single(report, Handling::kDescriptor);
  state.records.descriptor_handling.single =
      run_descriptor_handling(kCollectorFile, plan.handling_cycles);
  write_handling_result_single(report, state.records.descriptor_handling.single);

  write_bytewise_heading(report);
  state.records.bytewise_write.single = run_bytewise_write(plan, state.scratch);
  write_bytewise_write_single(report, state.records.bytewise_write.single);
  state.records.bytewise_read.single = run_bytewise_read(plan, state.scratch, std::cout);
  write_bytewise_read_single(report, state.records.bytewise_read.single);

  write_block_heading(report);
  state.records.block_read.single = run_block_read(plan, state.scratch);
  write_block_read_single(report, state.records.block_read.single);
  state.records.block_write.single = run_block_write(plan, state.scratch);
  write_block_write_single(report, state.records.block_write.single);

  close_single_process_files(state.scratch);
}

// A worker's phase C: four tests back to back, each sent as soon as it ends.
void run_phase_c_worker(const Plan& plan, ProcessState& state, const Identity& worker) {
  send_results(state.records.bytewise_write, worker,
               run_bytewise_write_worker(plan, worker, state.scratch));
  send_results(state.records.bytewise_read, worker,
               run_bytewise_read_worker(plan, worker, state.scratch, std::cout));
  send_results(state.records.block_read, worker,
               run_block_read_worker(plan, worker, state.scratch));
  send_results(state.records.block_write, worker,
               run_block_write_worker(plan, worker, state.scratch));
}

}  // namespace

namespace {
// Constant-initialised, so it lies in zero-filled pages that stay untouched
// until a table slot is written.
constinit TestRecords g_records{};
}  // namespace

ProcessState::ProcessState()
    : working_directory(platform::current_directory()), records(g_records) {}

int capped_world_size(int world_size, const Plan& plan) {
  return world_size > plan.world_size_cap ? plan.world_size_cap : world_size;
}

int run_benchmark(int* argc, char*** argv, const Plan& plan, ProcessState& state) {
  MPI_Init(argc, argv);
  int world_size = 0;
  int rank = 0;
  char processor_name[MPI_MAX_PROCESSOR_NAME] = {};
  int name_length = 0;
  MPI_Comm_size(MPI_COMM_WORLD, &world_size);
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Get_processor_name(processor_name, &name_length);
  world_size = capped_world_size(world_size, plan);

  const Identity self{rank, world_size, processor_name};
  const bool collector = rank == 0;
  // Ranks beyond the cap take no part; they still enter every barrier,
  // which involves the whole job.
  const bool worker = rank > 0 && rank < world_size;

  std::ofstream& results = state.results;
  Report report(std::cout, results);
  std::string results_name;
  if (collector) {
    results_name = results_file_name_now(processor_name);
    // A directory without write permission leaves the stream failed; the
    // console report goes on and nothing is said about it.
    results.open(results_name, std::ios::out);
    run_single_process_tests(report, plan, state, self);
  }

  MPI_Barrier(MPI_COMM_WORLD);
  if (collector) {
    write_cluster_section(report);
    collect_handling(report, Handling::kStream, state.records.stream_handling, self);
  } else if (worker) {
    send_results(state.records.stream_handling, self,
                 run_stream_handling_worker(self, plan.handling_cycles, state.handling));
  }

  MPI_Barrier(MPI_COMM_WORLD);
  if (collector) {
    collect_handling(report, Handling::kDescriptor, state.records.descriptor_handling, self);
  } else if (worker) {
    send_results(state.records.descriptor_handling, self,
                 run_descriptor_handling_worker(self, plan.handling_cycles, state.handling));
  }

  MPI_Barrier(MPI_COMM_WORLD);
  if (collector) {
    write_cluster_section(report);
    collect_bytewise(report, state.records.bytewise_write, state.records.bytewise_read, self);
    write_cluster_section(report);
    collect_block(report, state.records.block_read, state.records.block_write, self);

    write_closing(report, saved_path(state.working_directory, results_name));
    results.close();
    platform::discard_console_input();
    (void)std::cin.get();
  } else if (worker) {
    run_phase_c_worker(plan, state, self);
  }

  MPI_Finalize();
  return 0;
}

}  // namespace quenda
