#include "tests/file_handling.h"

#include <mpi.h>

#include <cstdio>

#include "file_names.h"
#include "platform/platform.h"
#include "report_texts.h"
#include "test_table.h"

namespace quenda {
namespace {

using namespace texts;
constexpr const char* kLower = kStreamHeading;
constexpr const char* kHigher = kDescriptorHeading;

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
  report.console(test == Handling::kStream ? kLower : kDescriptorHeadingSingleConsole);
  report.console();
  report.file(test == Handling::kStream ? kLower : kHigher);
  report.file();
}

void write_handling_result_single(Report& report, const Timing& timing) {
  report.console(kSpent, timing.elapsed, kSecs);
  report.console(kProcess, timing.rate, kFilesPerSec);
  report.console();
  report.file(kSpent, timing.elapsed, kSecs);
  report.file(kProcessSingleFile, timing.rate, kFilesPerSec);
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
  report.console(kThread, thread, "@", collector_name, " ", kSpent, elapsed, kSecs);
  report.console(kThread, thread, "@", collector_name, " ", kProcess, rate, kFilesPerSec);
  report.file(kThread, thread, " ", kSpent, elapsed, kSecs);
  report.file(kThread, thread, " ", kProcess, rate, kFilesPerSec);
}

void write_handling_summary(Report& report, Handling test, const TestRecord& record,
                            int world_size) {
  const Statistics& statistics = record.statistics;
  report.both(kOverallFiles, statistics.total, kFilesPerSec);
  report.both(kImprovements, improvement(statistics.total, record.single.rate), kTimes);
  report.console();
  report.file();
  if (world_size != 1) {
    const double threshold = threshold_of(test == Handling::kStream ? TestId::kStreamHandling
                                                                    : TestId::kDescriptorHandling);
    const std::string verdict = verdict_text("", significant(statistics.deviation, threshold));
    report.console();
    report.console();
    report.console(mean_start(""), statistics.mean, kFilesPerSec);
    report.file();
    report.file(mean_start(""), statistics.mean, kFilesPerSec);
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
