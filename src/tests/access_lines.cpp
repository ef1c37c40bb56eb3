#include "tests/access_lines.h"

namespace quenda {
namespace {

void write_single_group(Report& report, Sink sink, const Timing& timing, const char* time_unit,
                        bool closing_blank) {
  report.to(sink, texts::kSpent, timing.elapsed, time_unit);
  report.to(sink, texts::kItWas, in_millions(timing.rate), texts::kAccessesPerSec);
  report.to(sink, texts::kConventionally, in_megabytes(timing.rate), texts::kMbPerSec);
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
  using namespace texts;
  const auto thread = worker_label(rank);
  report.console(kThread, thread, "@", collector_name, " ", kSpent, elapsed, time_unit);
  report.console(kThread, thread, "@", collector_name, " ", kItWas, in_millions(rate),
                 kAccessesPerSecWorkerConsole);
  report.console(kConventionally, in_megabytes(rate), kMbPerSec);
  report.file(kThread, thread, "@", collector_name, " ", kSpent, elapsed, time_unit);
  report.file(kThread, thread, "@", collector_name, " ", kItWas, in_millions(rate),
              kAccessesPerSec);
  report.file(kConventionally, in_megabytes(rate), kMbPerSec);
}

AccessSummary access_summary(const TestRecord& write, const TestRecord& read) {
  using namespace texts;
  const double write_total = write.statistics.total;
  const double read_total = read.statistics.total;
  const std::string to_write = std::string(kAccessesPerSec) + kToWrite;
  const std::string to_read = std::string(kAccessesPerSec) + kToRead;
  return AccessSummary{
      Report::text(kOverallAccesses, in_millions(write_total), to_write),
      Report::text(kTotalWriting, in_megabytes(write_total), kMbPerSec),
      Report::text(kImprovements, improvement(write_total, write.single.rate), kTimes),
      Report::text(kOverallAccesses, in_millions(read_total), to_read),
      Report::text(kTotalReading, in_megabytes(read_total), kMbPerSec),
      Report::text(kImprovements, improvement(read_total, read.single.rate), kTimes),
  };
}

std::string mean_line(const char* kind, double mean_rate, const char* unit) {
  return Report::text(texts::mean_start(kind), in_megabytes(mean_rate), unit);
}

}  // namespace quenda
