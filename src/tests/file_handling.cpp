#include "tests/file_handling.h"

#include <mpi.h>

#include <cstdio>

#include "platform/platform.h"
#include "tests/worker_names.h"

namespace quenda {
namespace {

constexpr const char kLower[] = "Power of Handling Files -- Lower";
constexpr const char kHigher[] = "Power of Handling Files -- Higher";
// The console's single-process heading of the descriptor test has always
// carried this spelling; result parsers match it.
constexpr const char kHigherSingleConsole[] = "Power of Handling Files -- Hihger";

constexpr std::ios::openmode kWriteMode = std::ios::binary | std::ios::out;
constexpr std::ios::openmode kReadMode = std::ios::binary | std::ios::in;

// One stream cycle. Results are deliberately not examined: a failed open
// leaves its stream failed until the next successful open clears it, and
// the loop runs its full count whatever the file system does.
inline void stream_cycle(const char* name, HandlingFiles& files) {
  files.out.open(name, kWriteMode);
  files.in.open(name, kReadMode);
  files.in.close();
  files.out.close();
  (void)std::remove(name);
}

// One descriptor cycle; a failed open gives -1, which is closed all the same.
inline void descriptor_cycle(const char* name) {
  const int descriptor = platform::open_descriptor(name);
  platform::close_descriptor(descriptor);
  (void)std::remove(name);
}

}  // namespace

Timing run_stream_handling(const char* file_name, int cycles, HandlingFiles& files) {
  const double start = MPI_Wtime();
  for (int i = 0; i < cycles; ++i) stream_cycle(file_name, files);
  const double end = MPI_Wtime();
  return timed(cycles, start, end);
}

Timing run_descriptor_handling(const char* file_name, int cycles) {
  const double start = MPI_Wtime();
  for (int i = 0; i < cycles; ++i) descriptor_cycle(file_name);
  const double end = MPI_Wtime();
  return timed(cycles, start, end);
}

Timing run_stream_handling_worker(const Identity& worker, int cycles, HandlingFiles& files) {
  const double start = MPI_Wtime();
  for (int i = 0; i < cycles; ++i) {
    format_worker_file_name(files.name, worker.rank, worker.processor_name);
    stream_cycle(files.name, files);
  }
  const double end = MPI_Wtime();
  return timed(cycles, start, end);
}

Timing run_descriptor_handling_worker(const Identity& worker, int cycles, HandlingFiles& files) {
  const double start = MPI_Wtime();
  for (int i = 0; i < cycles; ++i) {
    format_worker_file_name(files.name, worker.rank, worker.processor_name);
    descriptor_cycle(files.name);
  }
  const double end = MPI_Wtime();
  return timed(cycles, start, end);
}

void write_handling_heading_single(Report& report, Handling test) {
  report.console(test == Handling::kStream ? kLower : kHigherSingleConsole);
  report.console();
  report.file(test == Handling::kStream ? kLower : kHigher);
  report.file();
}

void write_handling_result_single(Report& report, const Timing& timing) {
  report.console("The system spent: ", timing.elapsed, " Secs.");
  report.console("The system could process ", timing.rate, " Files/sec.");
  report.console();
  report.file("The system spent: ", timing.elapsed, " Secs.");
  report.file("The system could process  ", timing.rate, " Files/sec.");
  report.file();
}

void write_handling_heading_cluster(Report& report, Handling test) {
  const char* heading = test == Handling::kStream ? kLower : kHigher;
  report.console(heading);
  report.console();
  report.file(heading);
  report.file();
}

void write_handling_worker(Report& report, const char* collector_name, int rank, double elapsed,
                           double rate) {
  const auto thread = worker_label(rank);
  report.console("Thread:", thread, "@", collector_name, " The system spent: ", elapsed, " Secs.");
  report.console("Thread:", thread, "@", collector_name, " The system could process ", rate,
                 " Files/sec.");
  report.file("Thread:", thread, " ", "The system spent: ", elapsed, " Secs.");
  report.file("Thread:", thread, " ", "The system could process ", rate, " Files/sec.");
}

void write_handling_summary(Report& report, Handling test, const TestRecord& record,
                            int world_size) {
  const Statistics& statistics = record.statistics;
  report.both("Overall, The system could process: ", statistics.total, " Files/sec.");
  report.both("Multi-Thread Improvements: ", improvement(statistics.total, record.single.rate),
              " times.");
  report.console();
  report.file();
  if (world_size != 1) {
    const double threshold =
        test == Handling::kStream ? kStreamHandlingThreshold : kDescriptorHandlingThreshold;
    const char* verdict =
        significant(statistics.deviation, threshold)
            ? "Among all nodes, the performance differences of threads tend to be significant."
            : "Among all nodes, the performance differences of threads tend to be not "
              "significant.";
    report.console();
    report.console();
    report.console("Among all nodes, the average process per thread was: ", statistics.mean,
                   " Files/sec.");
    report.file();
    report.file("Among all nodes, the average process per thread was: ", statistics.mean,
                " Files/sec.");
    report.both(verdict);
  }
  report.console();
  report.file();
}

void collect_handling(Report& report, Handling test, TestRecord& record,
                      const Identity& collector) {
  write_handling_heading_cluster(report, test);
  collect_results(record, collector.world_size, [&](int rank, double elapsed, double rate) {
    write_handling_worker(report, collector.processor_name, rank, elapsed, rate);
  });
  summarise(record.statistics, collector.world_size);
  write_handling_summary(report, test, record, collector.world_size);
}

}  // namespace quenda
