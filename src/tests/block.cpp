#include "tests/block.h"

#include <mpi.h>

#include <new>

#include "file_names.h"
#include "tests/access_lines.h"
#include "tests/outcome.h"

namespace quenda {
namespace {

constexpr const char* kHeading = texts::kBlockHeading;

// The file length as the stream reports it. A stream that failed to open
// reports -1; it counts as an empty file rather than a size to allocate.
inline std::int64_t length_at_end(std::ifstream& in) {
  in.seekg(0, std::ios::end);
  const std::int64_t position = static_cast<std::int64_t>(in.tellg());
  return position < 0 ? 0 : position;
}

// The buffer for the whole file. A size no allocation can serve (a
// directory in the file's place reports a huge one) is treated like an empty
// file as well.
inline void allocate_buffer(ScratchFiles& files) {
  files.buffer.reset(new (std::nothrow) char[static_cast<std::size_t>(files.count)]);
  if (!files.buffer) files.count = 0;
}

inline void read_whole(ScratchFiles& files) {
  files.in.read(files.buffer.get(), static_cast<std::streamsize>(files.count));
  files.in.sync();
}

inline void write_whole(ScratchFiles& files) {
  files.block_out.write(files.buffer.get(), static_cast<std::streamsize>(files.count));
  files.block_out.flush();
}

}  // namespace

Timing run_block_read(const Plan& plan, ScratchFiles& files) {
  const double start = MPI_Wtime();
  files.in.open(kCollectorFile, kBinaryRead);
  files.count = length_at_end(files.in);
  files.in.seekg(0, std::ios::beg);
  allocate_buffer(files);
  read_whole(files);
  const double end = MPI_Wtime();
  return timed(static_cast<double>(plan.file_length), start, end);
}

Timing run_block_write(const Plan& plan, ScratchFiles& files) {
  const double start = MPI_Wtime();
  files.block_out.open(kCollectorBlockFile, kBinaryWrite);
  write_whole(files);
  const double end = MPI_Wtime();
  return timed(static_cast<double>(plan.file_length), start, end);
}

SingleProcessCloses close_single_process_files(ScratchFiles& files) {
  SingleProcessCloses closes;
  closes.input = close_outcome(kCollectorFile, files.in);
  closes.block_output = close_outcome(kCollectorBlockFile, files.block_out);
  closes.bytewise_output = close_outcome(kCollectorFile, files.bytewise_out);
  return closes;
}

// Differs from the collector's form on purpose: the buffer is allocated
// before the stream is positioned back at the start, the order the workers'
// figures have always been taken in.
Timing run_block_read_worker(const Plan& plan, const Identity&, ScratchFiles& files) {
  const double start = MPI_Wtime();
  files.in.open(files.input_name, kBinaryRead);
  files.count = length_at_end(files.in);
  allocate_buffer(files);
  files.in.seekg(0, std::ios::beg);
  read_whole(files);
  const double end = MPI_Wtime();
  return timed(static_cast<double>(plan.file_length), start, end);
}

Timing run_block_write_worker(const Plan& plan, const Identity& worker, ScratchFiles& files) {
  const double start = MPI_Wtime();
  format_worker_output_name(files.output_name, worker.rank, worker.processor_name);
  files.block_out.open(files.output_name, kBinaryWrite);
  write_whole(files);
  const double end = MPI_Wtime();
  return timed(static_cast<double>(plan.file_length), start, end);
}

void write_block_heading(Report& report) {
  report.console(kHeading);
  report.console();
  report.file(kHeading);
  report.file();
}

void write_block_read_single(Report& report, const Timing& timing) {
  write_access_single(report, timing, texts::kSecsToReadSingle, false);
}

void write_block_write_single(Report& report, const Timing& timing) {
  write_access_single(report, timing, texts::kSecsToWrite, true);
  report.console();
  report.file();
}

void write_block_summary(Report& report, const TestRecord& read, const TestRecord& write) {
  const AccessSummary totals = access_summary(write, read);
  const std::string write_verdict = verdict(write, TestId::kBlockWrite, texts::kHighWriting);
  const std::string read_verdict = verdict(read, TestId::kBlockRead, texts::kHighReading);
  // Line by line: each line goes to the console, then to the results file.
  for (const std::string& line :
       {std::string(), totals.write_millions, totals.write_megabytes, totals.write_improvement,
        totals.read_millions, totals.read_megabytes, totals.read_improvement, std::string(),
        std::string(), mean_line(texts::kHighWriting, write.statistics.mean, texts::kMbPerSecWide),
        write_verdict, std::string(),
        mean_line(texts::kHighReading, read.statistics.mean, texts::kMbPerSecWide), read_verdict,
        std::string()}) {
    report.both(line);
  }
}

void collect_block(Report& report, TestRecord& read, TestRecord& write, const Identity& collector) {
  write_block_heading(report);
  collect_results(read, collector.world_size, [&](int rank, double elapsed, double rate) {
    write_access_worker(report, collector.processor_name, rank, elapsed, rate,
                        texts::kSecsToReadWorker);
  });
  summarise(read.statistics, collector.world_size);
  collect_results(write, collector.world_size, [&](int rank, double elapsed, double rate) {
    write_access_worker(report, collector.processor_name, rank, elapsed, rate, texts::kSecsToWrite);
  });
  summarise(write.statistics, collector.world_size);
  write_block_summary(report, read, write);
}

}  // namespace quenda
