#include "tests/bytewise.h"

#include <mpi.h>

#include "file_names.h"
#include "tests/access_lines.h"

namespace quenda {
namespace {

constexpr const char* kHeading = texts::kBytewiseHeading;

// put + flush per byte: one write request per byte reaches the system.
inline void write_bytes(std::ofstream& out, std::int64_t count) {
  for (std::int64_t i = 0; i < count; ++i) {
    out.put(kFillByte);
    out.flush();
  }
}

inline void seek_write(std::ofstream& out, std::int64_t offset) {
  out.seekp(static_cast<std::streamoff>(offset), std::ios::beg);
}

inline void seek_read(std::ifstream& in, std::int64_t offset) {
  in.seekg(static_cast<std::streamoff>(offset), std::ios::beg);
}

}  // namespace

std::int64_t worker_second_pass(const Plan& plan, int rank) {
  return plan.file_length / (static_cast<std::int64_t>(rank) + 1);
}

Timing run_bytewise_write(const Plan& plan, ScratchFiles& files) {
  const std::int64_t second = plan.file_length / 2;
  const double start = MPI_Wtime();
  files.bytewise_out.open(kCollectorFile, kBinaryWrite);
  write_bytes(files.bytewise_out, plan.file_length);
  seek_write(files.bytewise_out, 0);
  seek_write(files.bytewise_out, second);
  write_bytes(files.bytewise_out, second);
  const double end = MPI_Wtime();
  return timed(static_cast<double>(plan.file_length + second), start, end);
}

Timing run_bytewise_read(const Plan& plan, ScratchFiles& files, std::ostream& console) {
  const std::int64_t second = plan.file_length / 2;
  std::ifstream& in = files.in;
  const double start = MPI_Wtime();
  in.open(kCollectorFile, kBinaryRead);
  seek_read(in, 0);
  if (in.is_open()) {
    // Ends at the get that meets the end of the file, one past the last byte.
    // A read error (a directory in the file's place) ends it as well, where
    // waiting for the end-of-file flag would loop for ever.
    while (in.good()) {
      const auto c = in.get();
      if (c != std::ifstream::traits_type::eof()) files.byte = static_cast<char>(c);
      in.sync();
    }
  } else {
    console << "Unable to open file" << std::endl;
  }
  in.clear();
  seek_read(in, 0);
  seek_read(in, second);
  for (std::int64_t i = 0; i < second; ++i) {
    const auto c = in.get();
    if (c != std::ifstream::traits_type::eof()) files.byte = static_cast<char>(c);
    in.sync();
  }
  const double end = MPI_Wtime();
  return timed(static_cast<double>(plan.file_length + second), start, end);
}

Timing run_bytewise_write_worker(const Plan& plan, const Identity& worker, ScratchFiles& files) {
  const double start = MPI_Wtime();
  format_worker_file_name(files.input_name, worker.rank, worker.processor_name);
  files.bytewise_out.open(files.input_name, kBinaryWrite);
  write_bytes(files.bytewise_out, plan.file_length);
  seek_write(files.bytewise_out, 0);
  files.count = worker_second_pass(plan, worker.rank);
  seek_write(files.bytewise_out, files.count);
  write_bytes(files.bytewise_out, files.count);
  const double end = MPI_Wtime();
  return timed(static_cast<double>(plan.file_length + files.count), start, end);
}

// Differs from the collector's form on purpose: the close lies inside the
// timed stretch (the collector closes after its report lines) and get(c)
// reads into the byte slot where the collector's get() keeps only a
// character that came. Workers' figures have always been taken this way and
// stay comparable with earlier runs only while they are.
Timing run_bytewise_read_worker(const Plan& plan, const Identity& worker, ScratchFiles& files,
                                std::ostream& console) {
  std::ifstream& in = files.in;
  const double start = MPI_Wtime();
  in.open(files.input_name, kBinaryRead);
  seek_read(in, 0);
  if (in.is_open()) {
    while (in.good()) {  // see run_bytewise_read
      in.get(files.byte);
      in.sync();
    }
  } else {
    console << "Unable to open file" << std::endl;
  }
  in.clear();
  seek_read(in, 0);
  files.count = worker_second_pass(plan, worker.rank);
  seek_read(in, files.count);
  for (std::int64_t i = 0; i < files.count; ++i) {
    in.get(files.byte);
    in.sync();
  }
  in.close();
  const double end = MPI_Wtime();
  return timed(static_cast<double>(plan.file_length + files.count), start, end);
}

void write_bytewise_heading(Report& report) {
  report.console(kHeading);
  report.console();
  report.file(kHeading);
  report.file();
}

void write_bytewise_write_single(Report& report, const Timing& timing) {
  write_access_single(report, timing, texts::kSecsToWrite, false);
}

void write_bytewise_read_single(Report& report, const Timing& timing) {
  write_access_single(report, timing, texts::kSecsToReadSingle, true);
}

void write_bytewise_summary(Report& report, const TestRecord& write, const TestRecord& read) {
  const AccessSummary totals = access_summary(write, read);
  const std::string write_verdict = verdict(write, TestId::kBytewiseWrite, texts::kLowWriting);
  const std::string read_verdict = verdict(read, TestId::kBytewiseRead, texts::kLowReading);
  // Each group goes to the console and then to the results file before the
  // next group starts.
  report.group({"", "", totals.write_millions, totals.write_megabytes});
  report.group({totals.write_improvement});
  report.group({totals.read_millions, totals.read_megabytes});
  report.group({totals.read_improvement});
  report.group({""});
  report.group({"", mean_line(texts::kLowWriting, write.statistics.mean, texts::kMbPerSec)});
  report.group({write_verdict});
  report.group({"", mean_line(texts::kLowReading, read.statistics.mean, texts::kMbPerSecWide)});
  report.group({read_verdict});
  report.group({""});
}

void collect_bytewise(Report& report, TestRecord& write, TestRecord& read,
                      const Identity& collector) {
  write_bytewise_heading(report);
  collect_results(write, collector.world_size, [&](int rank, double elapsed, double rate) {
    write_access_worker(report, collector.processor_name, rank, elapsed, rate, texts::kSecsToWrite);
  });
  summarise(write.statistics, collector.world_size);
  collect_results(read, collector.world_size, [&](int rank, double elapsed, double rate) {
    write_access_worker(report, collector.processor_name, rank, elapsed, rate,
                        texts::kSecsToReadWorker);
  });
  summarise(read.statistics, collector.world_size);
  write_bytewise_summary(report, write, read);
}

}  // namespace quenda
