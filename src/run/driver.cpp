#include "run/driver.h"

#include <mpi.h>

#include <cerrno>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>

#include "file_names.h"
#include "platform/platform.h"
#include "run/failures.h"
#include "run/report.h"
#include "test_table.h"
#include "tests/block.h"
#include "tests/bytewise.h"
#include "tests/outcome.h"

namespace quenda {
namespace {

// Runs one timed test with errno cleared before it; returns the errno it
// left, read once the test has taken its closing clock reading.
template <typename Test>
int errno_left_by(Test&& test) {
  errno = 0;
  test();
  return errno;
}

// A scratch name taken by a named pipe, a socket or a device would hold the
// test in its open for ever (a pipe waits for a reader), and with it every
// other process at the next barrier. The process that meets one says so and
// ends the whole job; it looks before the test's start clock.
void end_job_at_special_file(const char* test, const char* name, FailureLog& failures) {
  const char* kind = special_file_kind(name);
  if (kind == nullptr) return;
  failures.note_special_file(test, name, kind);
  MPI_Abort(MPI_COMM_WORLD, 1);
}

// The collector's part before the first barrier: banner and the six tests
// run alone. Each test's outcome is found out after its figures are taken.
void run_single_process_tests(Report& report, const Plan& plan, ProcessState& state,
                              const Identity& collector, FailureLog& failures) {
  TestRecords& records = state.records;
  ScratchFiles& scratch = state.scratch;
  write_banner(report, collector.world_size);

  write_handling_heading_single(report, Handling::kStream);
  end_job_at_special_file(test_name(TestId::kStreamHandling), kCollectorFile, failures);
  records.stream_handling.single =
      run_stream_handling(kCollectorFile, plan.handling_cycles, state.handling);
  write_handling_result_single(report, records.stream_handling.single);
  failures.note(test_name(TestId::kStreamHandling),
                stream_handling_outcome(kCollectorFile, state.handling));

  write_handling_heading_single(report, Handling::kDescriptor);
  end_job_at_special_file(test_name(TestId::kDescriptorHandling), kCollectorFile, failures);
  int error = errno_left_by([&] {
    records.descriptor_handling.single =
        run_descriptor_handling(kCollectorFile, plan.handling_cycles);
  });
  write_handling_result_single(report, records.descriptor_handling.single);
  failures.note(test_name(TestId::kDescriptorHandling),
                descriptor_handling_outcome(kCollectorFile, error));

  write_bytewise_heading(report);
  end_job_at_special_file(test_name(TestId::kBytewiseWrite), kCollectorFile, failures);
  error = errno_left_by([&] { records.bytewise_write.single = run_bytewise_write(plan, scratch); });
  write_bytewise_write_single(report, records.bytewise_write.single);
  failures.note(test_name(TestId::kBytewiseWrite),
                written_outcome(kCollectorFile, scratch.bytewise_out, error, plan.file_length));
  end_job_at_special_file(test_name(TestId::kBytewiseRead), kCollectorFile, failures);
  error = errno_left_by(
      [&] { records.bytewise_read.single = run_bytewise_read(plan, scratch, std::cout); });
  write_bytewise_read_single(report, records.bytewise_read.single);
  failures.note(test_name(TestId::kBytewiseRead),
                read_outcome(kCollectorFile, scratch.in, error, plan.file_length));
  // Closed once its lines are on both sinks; the block read opens it again.
  failures.note(test_name(TestId::kBytewiseRead), close_outcome(kCollectorFile, scratch.in));

  write_block_heading(report);
  end_job_at_special_file(test_name(TestId::kBlockRead), kCollectorFile, failures);
  error = errno_left_by([&] { records.block_read.single = run_block_read(plan, scratch); });
  write_block_read_single(report, records.block_read.single);
  failures.note(test_name(TestId::kBlockRead),
                read_outcome(kCollectorFile, scratch.in, error, plan.file_length));
  end_job_at_special_file(test_name(TestId::kBlockWrite), kCollectorBlockFile, failures);
  error = errno_left_by([&] { records.block_write.single = run_block_write(plan, scratch); });
  write_block_write_single(report, records.block_write.single);
  failures.note(test_name(TestId::kBlockWrite),
                written_outcome(kCollectorBlockFile, scratch.block_out, error, plan.file_length));

  // A close that fails is put on the test whose stream it was.
  const SingleProcessCloses closes = close_single_process_files(scratch);
  failures.note(test_name(TestId::kBlockRead), closes.input);
  failures.note(test_name(TestId::kBlockWrite), closes.block_output);
  failures.note(test_name(TestId::kBytewiseWrite), closes.bytewise_output);
}

// A worker's phase A: the stream handling test, sent as soon as it ends.
void run_phase_a_worker(const Plan& plan, ProcessState& state, const Identity& worker,
                        FailureLog& failures) {
  HandlingFiles& files = state.handling;
  char name[kNameBufferSize];
  format_worker_file_name(name, worker.rank, worker.processor_name);
  end_job_at_special_file(test_name(TestId::kStreamHandling), name, failures);
  send_results(state.records.stream_handling, worker,
               run_stream_handling_worker(worker, plan.handling_cycles, files));
  failures.note(test_name(TestId::kStreamHandling), stream_handling_outcome(files.name, files));
}

// A worker's phase B: the descriptor handling test, sent as soon as it ends.
void run_phase_b_worker(const Plan& plan, ProcessState& state, const Identity& worker,
                        FailureLog& failures) {
  HandlingFiles& files = state.handling;
  char name[kNameBufferSize];
  format_worker_file_name(name, worker.rank, worker.processor_name);
  end_job_at_special_file(test_name(TestId::kDescriptorHandling), name, failures);
  Timing timing;
  const int error = errno_left_by(
      [&] { timing = run_descriptor_handling_worker(worker, plan.handling_cycles, files); });
  send_results(state.records.descriptor_handling, worker, timing);
  failures.note(test_name(TestId::kDescriptorHandling),
                descriptor_handling_outcome(files.name, error));
}

// A worker's phase C: four tests back to back, each sent as soon as it ends.
void run_phase_c_worker(const Plan& plan, ProcessState& state, const Identity& worker,
                        FailureLog& failures) {
  TestRecords& records = state.records;
  ScratchFiles& files = state.scratch;
  // The tests format these names inside their timed stretches; the look
  // for special files needs them before.
  char input[kNameBufferSize];
  char output[kNameBufferSize];
  format_worker_file_name(input, worker.rank, worker.processor_name);
  format_worker_output_name(output, worker.rank, worker.processor_name);
  Timing timing;
  end_job_at_special_file(test_name(TestId::kBytewiseWrite), input, failures);
  int error = errno_left_by([&] { timing = run_bytewise_write_worker(plan, worker, files); });
  send_results(records.bytewise_write, worker, timing);
  failures.note(test_name(TestId::kBytewiseWrite),
                written_outcome(files.input_name, files.bytewise_out, error, plan.file_length));

  end_job_at_special_file(test_name(TestId::kBytewiseRead), input, failures);
  error = errno_left_by([&] { timing = run_bytewise_read_worker(plan, worker, files, std::cout); });
  send_results(records.bytewise_read, worker, timing);
  failures.note(test_name(TestId::kBytewiseRead),
                read_outcome(files.input_name, files.in, error, plan.file_length));

  end_job_at_special_file(test_name(TestId::kBlockRead), input, failures);
  error = errno_left_by([&] { timing = run_block_read_worker(plan, worker, files); });
  send_results(records.block_read, worker, timing);
  failures.note(test_name(TestId::kBlockRead),
                read_outcome(files.input_name, files.in, error, plan.file_length));

  end_job_at_special_file(test_name(TestId::kBlockWrite), output, failures);
  error = errno_left_by([&] { timing = run_block_write_worker(plan, worker, files); });
  send_results(records.block_write, worker, timing);
  failures.note(test_name(TestId::kBlockWrite),
                written_outcome(files.output_name, files.block_out, error, plan.file_length));
}

// Closes the results file and says on standard error when it was never
// created, lost lines (a full disk fails a flush, and the stream stays
// failed from then on), or is no longer where the closing line says: removed
// or replaced during the run, its report is nowhere.
void close_results_file(std::ofstream& results, const std::string& name,
                        const std::optional<platform::FileId>& created_as, const std::string& path,
                        int open_error, FailureLog& failures) {
  if (!results.is_open()) {
    failures.note_results_file(path, reason_for(open_error, "cannot be created"), false);
    return;
  }
  const bool lost_lines = results.fail();
  errno = 0;
  results.close();
  const int close_error = errno;
  errno = 0;
  const auto now = platform::identify_file(name.c_str());
  if (!now || (created_as && *now != *created_as)) {
    failures.note_results_file(
        path, now ? "another file has taken its name" : reason_for(errno, "it is gone"), false);
  } else if (lost_lines || results.fail()) {
    failures.note_results_file(path, reason_for(close_error, "a write failed"), true);
  }
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
  FailureLog failures(std::cerr, rank, processor_name);
  std::string results_name;
  int results_open_error = 0;
  std::optional<platform::FileId> results_created_as;
  if (collector) {
    results_name = results_file_name_now(processor_name);
    // A results file that cannot be created leaves the stream failed; the
    // console report goes on, and standard error says so at the end.
    errno = 0;
    results.open(results_name, std::ios::out);
    results_open_error = errno;
    results_created_as = platform::identify_file(results_name.c_str());
    run_single_process_tests(report, plan, state, self, failures);
  }

  MPI_Barrier(MPI_COMM_WORLD);
  if (collector) {
    write_cluster_section(report);
    collect_handling(report, Handling::kStream, state.records.stream_handling, self);
  } else if (worker) {
    run_phase_a_worker(plan, state, self, failures);
  }

  MPI_Barrier(MPI_COMM_WORLD);
  if (collector) {
    collect_handling(report, Handling::kDescriptor, state.records.descriptor_handling, self);
  } else if (worker) {
    run_phase_b_worker(plan, state, self, failures);
  }

  MPI_Barrier(MPI_COMM_WORLD);
  if (collector) {
    write_cluster_section(report);
    collect_bytewise(report, state.records.bytewise_write, state.records.bytewise_read, self);
    write_cluster_section(report);
    collect_block(report, state.records.block_read, state.records.block_write, self);

    const std::string path = saved_path(state.working_directory, results_name);
    write_closing(report, path);
    close_results_file(results, results_name, results_created_as, path, results_open_error,
                       failures);
    platform::discard_console_input();
    (void)std::cin.get();
  } else if (worker) {
    run_phase_c_worker(plan, state, self, failures);
  }

  MPI_Finalize();
  // Status 0 means that every figure this process took is a measurement.
  return failures.any() ? 1 : 0;
}

}  // namespace quenda
