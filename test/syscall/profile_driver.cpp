// Runs the collector's six single-process tests exactly as the driver does,
// then the six worker forms as worker 2 of node "node", with the plan given
// on the command line, and brackets each call with a marker: a write of
// "quenda-mark begin <test>" / "quenda-mark end <test>" to /dev/null. A
// system-call trace of this process then shows, between each pair of
// markers, the calls that one test makes and nothing else. The byte-wise
// read's report lines and the close after them have a bracket of their own.
//
// Every reading of the MPI clock writes "quenda-mark clock" as well (the
// MPI_Wtime below takes the place of the library's), so the trace shows
// where each timed stretch starts and ends among the calls.
//
// Usage: syscall_profile_driver <cycles> <file_length> [--stray | --unmarked-clock]
// --stray adds one call of its own (a one-byte write to /dev/null) inside
// every bracket, so that the profile check can be shown to notice it.
// --unmarked-clock leaves the clock's marks out, for counting the tests'
// instructions without the marks' own.
#include <fcntl.h>
#include <mpi.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "plan.h"
#include "run/driver.h"
#include "tests/block.h"
#include "tests/bytewise.h"
#include "tests/file_handling.h"
#include "tests/outcome.h"

namespace {

quenda::ProcessState g_state;
int g_marker = -1;
bool g_stray = false;
bool g_clock_marks = true;

void mark(const char* edge, const char* test) {
  const std::string text = std::string("quenda-mark ") + edge + " " + test;
  (void)!::write(g_marker, text.data(), text.size());
}

template <typename Test>
void bracket(const char* name, Test&& test) {
  mark("begin", name);
  test();
  if (g_stray) (void)!::write(g_marker, &quenda::kFillByte, 1);
  mark("end", name);
}

}  // namespace

extern "C" double MPI_Wtime() {
  constexpr char kClock[] = "quenda-mark clock";
  if (g_marker >= 0 && g_clock_marks) (void)!::write(g_marker, kClock, sizeof kClock - 1);
  return PMPI_Wtime();
}

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr
        << "usage: syscall_profile_driver <cycles> <file_length> [--stray | --unmarked-clock]\n";
    return 2;
  }
  // The tests read the MPI clock, so MPI runs as in the program.
  MPI_Init(&argc, &argv);
  const quenda::Plan plan{quenda::kFullPlan.world_size_cap, std::atoi(argv[1]),
                          std::atoll(argv[2])};
  g_stray = argc > 3 && std::strcmp(argv[3], "--stray") == 0;
  g_clock_marks = !(argc > 3 && std::strcmp(argv[3], "--unmarked-clock") == 0);
  g_marker = ::open("/dev/null", O_WRONLY);
  // The console has had a line before, as the banner gives it in the program.
  std::cout << std::endl;

  quenda::ProcessState& state = g_state;
  bracket("stream_handling", [&] {
    state.records.stream_handling.single =
        quenda::run_stream_handling(quenda::kCollectorFile, plan.handling_cycles, state.handling);
  });
  bracket("descriptor_handling", [&] {
    state.records.descriptor_handling.single =
        quenda::run_descriptor_handling(quenda::kCollectorFile, plan.handling_cycles);
  });
  bracket("bytewise_write", [&] {
    state.records.bytewise_write.single = quenda::run_bytewise_write(plan, state.scratch);
  });
  bracket("bytewise_read", [&] {
    state.records.bytewise_read.single = quenda::run_bytewise_read(plan, state.scratch, std::cout);
  });
  std::ofstream results("results.txt");
  quenda::Report report(std::cout, results);
  bracket("bytewise_read_lines", [&] {
    quenda::write_bytewise_read_single(report, state.records.bytewise_read.single);
    (void)quenda::close_outcome(quenda::kCollectorFile, state.scratch.in);
  });
  bracket("block_read",
          [&] { state.records.block_read.single = quenda::run_block_read(plan, state.scratch); });
  bracket("block_write",
          [&] { state.records.block_write.single = quenda::run_block_write(plan, state.scratch); });
  quenda::close_single_process_files(state.scratch);

  const quenda::Identity worker{2, 4, "node"};
  quenda::HandlingFiles& handling = state.handling;
  quenda::ScratchFiles& files = state.scratch;
  bracket("worker_stream_handling",
          [&] { quenda::run_stream_handling_worker(worker, plan.handling_cycles, handling); });
  bracket("worker_descriptor_handling",
          [&] { quenda::run_descriptor_handling_worker(worker, plan.handling_cycles, handling); });
  bracket("worker_bytewise_write", [&] { quenda::run_bytewise_write_worker(plan, worker, files); });
  bracket("worker_bytewise_read",
          [&] { quenda::run_bytewise_read_worker(plan, worker, files, std::cout); });
  bracket("worker_block_read", [&] { quenda::run_block_read_worker(plan, worker, files); });
  bracket("worker_block_write", [&] { quenda::run_block_write_worker(plan, worker, files); });

  (void)::close(g_marker);
  MPI_Finalize();
  return 0;
}
