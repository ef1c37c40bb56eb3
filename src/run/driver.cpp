#include "run/driver.h"

#include <mpi.h>

#include <cerrno>
#include <cstdint>
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

// This process's timed tests, each in the same steps: the look for a special
// file at the name it opens, the test with errno cleared before it, its
// figures handed on, and what its files say, judged from the errno it left,
// which is read once the test has taken its closing clock reading.
//
// A scratch name taken by a named pipe, a socket or a device would hold the
// test in its open for ever (a pipe waits for a reader), and with it every
// other process at the next barrier: the process that meets one says so and
// ends the whole job, before the test's start clock.
class TimedTests {
 public:
  TimedTests(const Plan& plan, ProcessState& state, const Identity& self, FailureLog& failures)
      : state_(state), self_(self), length_(plan.file_length), failures_(failures) {
    if (self.rank == 0) return;
    format_worker_file_name(worker_input_, self.rank, self.processor_name);
    format_worker_output_name(worker_output_, self.rank, self.processor_name);
  }

  // A test of the collector alone: its figures are kept for the gains and
  // written as its lines on both sinks.
  template <typename Test>
  void single(TestId id, Report& report, void (*write)(Report&, const Timing&), Test&& test) {
    run(id, test,
        [&](const Timing& timing) { write(report, state_.records.of(id).single = timing); });
  }

  // A worker's test: its figures go to the collector as soon as it ends.
  template <typename Test>
  void worker(TestId id, Test&& test) {
    run(id, test,
        [&](const Timing& timing) { send_results(state_.records.of(id), self_, timing); });
  }

 private:
  template <typename Test, typename Deliver>
  void run(TestId id, Test& test, Deliver&& deliver) {
    const char* name = name_of(id);
    if (const char* kind = special_file_kind(name)) {
      failures_.note_special_file(test_name(id), name, kind);
      MPI_Abort(MPI_COMM_WORLD, 1);
    }
    errno = 0;
    const Timing timing = test();
    const int error = errno;
    deliver(timing);
    failures_.note(test_name(id), outcome(id, name, error));
  }

  // The name a test opens first; the tests format their names inside their
  // timed stretches, and the look for special files needs them before.
  const char* name_of(TestId id) const {
    if (id == TestId::kBlockWrite) return self_.rank == 0 ? kCollectorBlockFile : worker_output_;
    return self_.rank == 0 ? kCollectorFile : worker_input_;
  }

  // What a test's files say once it has ended.
  Outcome outcome(TestId id, const char* name, int error) const {
    ScratchFiles& files = state_.scratch;
    switch (id) {
      case TestId::kStreamHandling:
        return stream_handling_outcome(name, state_.handling);
      case TestId::kDescriptorHandling:
        return descriptor_handling_outcome(name, error);
      case TestId::kBytewiseWrite:
        return written_outcome(name, files.bytewise_out, error, length_);
      case TestId::kBytewiseRead:
      case TestId::kBlockRead:
        return read_outcome(name, files.in, error, length_);
      case TestId::kBlockWrite:
        return written_outcome(name, files.block_out, error, length_);
    }
    return {};
  }

  ProcessState& state_;
  const Identity& self_;
  std::int64_t length_;
  FailureLog& failures_;
  char worker_input_[kNameBufferSize];
  char worker_output_[kNameBufferSize];
};

// The collector's part before the first barrier: banner and the six tests
// run alone.
void run_single_process_tests(Report& report, const Plan& plan, ProcessState& state,
                              const Identity& collector, TimedTests& tests, FailureLog& failures) {
  ScratchFiles& files = state.scratch;
  write_banner(report, collector.world_size);
  write_handling_heading_single(report, Handling::kStream);
  tests.single(TestId::kStreamHandling, report, write_handling_result_single, [&] {
    return run_stream_handling(kCollectorFile, plan.handling_cycles, state.handling);
  });
  write_handling_heading_single(report, Handling::kDescriptor);
  tests.single(TestId::kDescriptorHandling, report, write_handling_result_single,
               [&] { return run_descriptor_handling(kCollectorFile, plan.handling_cycles); });
  write_bytewise_heading(report);
  tests.single(TestId::kBytewiseWrite, report, write_bytewise_write_single,
               [&] { return run_bytewise_write(plan, files); });
  tests.single(TestId::kBytewiseRead, report, write_bytewise_read_single,
               [&] { return run_bytewise_read(plan, files, std::cout); });
  // Closed once its lines are on both sinks; the block read opens it again.
  failures.note(test_name(TestId::kBytewiseRead), close_outcome(kCollectorFile, files.in));
  write_block_heading(report);
  tests.single(TestId::kBlockRead, report, write_block_read_single,
               [&] { return run_block_read(plan, files); });
  tests.single(TestId::kBlockWrite, report, write_block_write_single,
               [&] { return run_block_write(plan, files); });

  // A close that fails is put on the test whose stream it was.
  const SingleProcessCloses closes = close_single_process_files(files);
  failures.note(test_name(TestId::kBlockRead), closes.input);
  failures.note(test_name(TestId::kBlockWrite), closes.block_output);
  failures.note(test_name(TestId::kBytewiseWrite), closes.bytewise_output);
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

TestRecord& TestRecords::of(TestId test) {
  TestRecord* const in_id_order[] = {&stream_handling, &descriptor_handling, &bytewise_write,
                                     &bytewise_read,   &block_read,          &block_write};
  return *in_id_order[static_cast<int>(test)];
}

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
  TimedTests tests(plan, state, self, failures);
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
    run_single_process_tests(report, plan, state, self, tests, failures);
  }

  MPI_Barrier(MPI_COMM_WORLD);
  if (collector) {
    write_cluster_section(report);
    collect_handling(report, Handling::kStream, state.records.stream_handling, self);
  } else if (worker) {
    tests.worker(TestId::kStreamHandling, [&] {
      return run_stream_handling_worker(self, plan.handling_cycles, state.handling);
    });
  }

  MPI_Barrier(MPI_COMM_WORLD);
  if (collector) {
    collect_handling(report, Handling::kDescriptor, state.records.descriptor_handling, self);
  } else if (worker) {
    tests.worker(TestId::kDescriptorHandling, [&] {
      return run_descriptor_handling_worker(self, plan.handling_cycles, state.handling);
    });
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
    ScratchFiles& files = state.scratch;
    tests.worker(TestId::kBytewiseWrite,
                 [&] { return run_bytewise_write_worker(plan, self, files); });
    tests.worker(TestId::kBytewiseRead,
                 [&] { return run_bytewise_read_worker(plan, self, files, std::cout); });
    tests.worker(TestId::kBlockRead, [&] { return run_block_read_worker(plan, self, files); });
    tests.worker(TestId::kBlockWrite, [&] { return run_block_write_worker(plan, self, files); });
  }

  MPI_Finalize();
  // Status 0 means that every figure this process took is a measurement.
  return failures.any() ? 1 : 0;
}

}  // namespace quenda
