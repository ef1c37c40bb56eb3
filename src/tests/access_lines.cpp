#include "tests/access_lines.h"

namespace quenda {
namespace {

void write_single_group(Report& report, Sink sink, const Timing& timing, const char* time_unit,
                        bool closing_blank) {
  report.to(sink, "The system spent: ", timing.elapsed, time_unit);
  report.to(sink, "It was: ", in_millions(timing.rate), " Millions Accesses/sec.");
  report.to(sink, "Conventionally, it was: ", in_megabytes(timing.rate), " MB/sec.");
  if (closing_blank) report.to(sink);
}

}  // namespace

void write_access_single(Report& report, const Timing& timing, const char* time_unit,
                         bool closing_blank) {
  write_single_group(report, Sink::kConsole, timing, time_unit, closing_blank);
  write_single_group(report, Sink::kFile, timing, time_unit, closing_blank);
}

void write_access_worker(Report& report, const char* collector_name, int rank, double elapsed,
                         double rate, const char* time_unit) {
  const auto thread = worker_label(rank);
  report.console("Thread:", thread, "@", collector_name, " ", "The system spent: ", elapsed,
                 time_unit);
  report.console("Thread:", thread, "@", collector_name, " ", "It was: ", in_millions(rate),
                 " Millions Access/sec.");
  report.console("Conventionally, it was: ", in_megabytes(rate), " MB/sec.");
  report.file("Thread:", thread, "@", collector_name, " ", "The system spent: ", elapsed,
              time_unit);
  report.file("Thread:", thread, "@", collector_name, " ", "It was: ", in_millions(rate),
              " Millions Accesses/sec.");
  report.file("Conventionally, it was: ", in_megabytes(rate), " MB/sec.");
}

AccessSummary access_summary(const TestRecord& write, const TestRecord& read) {
  const double write_total = write.statistics.total;
  const double read_total = read.statistics.total;
  return AccessSummary{
      Report::text("Overall, It was: ", in_millions(write_total),
                   " Millions Accesses/sec.to Write"),
      Report::text("Conventionally, total writing speed was: ", in_megabytes(write_total),
                   " MB/sec."),
      Report::text("Multi-Thread Improvements: ", improvement(write_total, write.single.rate),
                   " times."),
      Report::text("Overall, It was: ", in_millions(read_total), " Millions Accesses/sec.to Read"),
      Report::text("Conventionally, total reading speed was: ", in_megabytes(read_total),
                   " MB/sec."),
      Report::text("Multi-Thread Improvements: ", improvement(read_total, read.single.rate),
                   " times."),
  };
}

std::string mean_line(const char* mean_label, double mean_rate, const char* unit) {
  return Report::text(mean_label, in_megabytes(mean_rate), unit);
}

}  // namespace quenda
