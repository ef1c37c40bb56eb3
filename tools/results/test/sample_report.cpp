#include "sample_report.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <iomanip>
#include <memory>
#include <sstream>
#include <utility>

#include "cluster/exchange.h"
#include "cluster/statistics.h"
#include "file_names.h"
#include "plan.h"
#include "run/report.h"
#include "tests/access_lines.h"
#include "tests/block.h"
#include "tests/bytewise.h"
#include "tests/file_handling.h"

namespace quenda::results::samples {
namespace {

// A record as the collector holds it after the cluster phase. Records are
// large (whole rank tables), so they live on the heap.
std::unique_ptr<TestRecord> record_of(const SampleRun& run, TestId test) {
  auto record = std::make_unique<TestRecord>();
  const SampleTest& sample = run.tests[static_cast<int>(test)];
  record->single = Timing{sample.single.seconds, sample.single.rate};
  for (std::size_t i = 0; i < sample.workers.size(); ++i) {
    const int rank = static_cast<int>(i) + 1;
    record->received.time[rank] = sample.workers[i].seconds;
    record->received.rate[rank] = sample.workers[i].rate;
    accumulate(record->statistics, rank, sample.workers[i].rate);
  }
  summarise(record->statistics, run.world_size);
  return record;
}

Timing single_of(const SampleRun& run, TestId test) {
  const SampleTiming& single = run.tests[static_cast<int>(test)].single;
  return Timing{single.seconds, single.rate};
}

// The workers' lines of one test, ranks 1, 2, ...
void write_workers(Report& report, const SampleRun& run, const TestRecord& record, TestId test) {
  const bool writes = test == TestId::kBytewiseWrite || test == TestId::kBlockWrite;
  const char* name = run.processor_name.c_str();
  for (int rank = 1; rank < run.world_size; ++rank) {
    const double time = record.received.time[rank];
    const double rate = record.received.rate[rank];
    if (measure_of(test) == Measure::kFiles) {
      write_handling_worker(report, name, rank, time, rate);
    } else {
      write_access_worker(report, name, rank, time, rate,
                          writes ? " Secs. to Write." : " Secs. to Read.");
    }
  }
}

}  // namespace

SampleRun sample_run(int world_size) {
  SampleRun run;
  run.world_size = world_size;
  // Rates per test: files/sec for file handling, accesses/sec otherwise.
  constexpr std::array<double, kTestCount> kBase{12643.4567, 11885.1234,  876575.5,
                                                 38083210.0, 190512345.0, 23662210.0};
  // Per-rank spread: wide for the tests meant to differ, none for the others.
  constexpr std::array<double, kTestCount> kSpread{733.25, 0.0, 81234.5, 0.0, 401234567.0, 0.0};
  for (int t = 0; t < kTestCount; ++t) {
    SampleTest& test = run.tests[t];
    test.single = SampleTiming{0.00506187 * (t + 1), kBase[t] * 1.125};
    for (int rank = 1; rank < world_size; ++rank) {
      test.workers.push_back(
          SampleTiming{0.000123456 * (t + 1) + 0.0101 * rank, kBase[t] + kSpread[t] * rank});
    }
  }
  return run;
}

std::string results_text(const SampleRun& run) {
  std::ostringstream console;
  std::ostringstream file;
  Report report(console, file);

  write_banner(report, run.world_size);
  write_handling_heading_single(report, Handling::kStream);
  write_handling_result_single(report, single_of(run, TestId::kStreamHandling));
  write_handling_heading_single(report, Handling::kDescriptor);
  write_handling_result_single(report, single_of(run, TestId::kDescriptorHandling));
  write_bytewise_heading(report);
  write_bytewise_write_single(report, single_of(run, TestId::kBytewiseWrite));
  write_bytewise_read_single(report, single_of(run, TestId::kBytewiseRead));
  write_block_heading(report);
  write_block_read_single(report, single_of(run, TestId::kBlockRead));
  write_block_write_single(report, single_of(run, TestId::kBlockWrite));

  // The cluster phases in the driver's order.
  write_cluster_section(report);
  for (const auto& [handling, id] :
       {std::pair{Handling::kStream, TestId::kStreamHandling},
        std::pair{Handling::kDescriptor, TestId::kDescriptorHandling}}) {
    const auto record = record_of(run, id);
    write_handling_heading_cluster(report, handling);
    write_workers(report, run, *record, id);
    write_handling_summary(report, handling, *record, run.world_size);
  }

  // An access phase: the workers of its two tests in the order run, then its summary.
  const auto access_phase = [&](auto heading, auto summary, TestId first, TestId second) {
    write_cluster_section(report);
    const auto records = std::array{record_of(run, first), record_of(run, second)};
    heading(report);
    write_workers(report, run, *records[0], first);
    write_workers(report, run, *records[1], second);
    summary(report, *records[0], *records[1]);
  };
  access_phase(write_bytewise_heading, write_bytewise_summary, TestId::kBytewiseWrite,
               TestId::kBytewiseRead);
  access_phase(write_block_heading, write_block_summary, TestId::kBlockRead, TestId::kBlockWrite);
  return file.str();
}

nlohmann::json sample_record(const std::string& job_id, const std::string& results_file) {
  const auto node = [](const char* name) {
    return nlohmann::json{{"name", name},
                          {"fstype", "ext4"},
                          {"mount_options", "rw,relatime"},
                          {"kernel", "6.1.0-28-amd64"}};
  };
  return {{"record_version", 1},
          {"job_id", job_id},
          {"cluster", "tiny"},
          {"start_utc", "2026-03-04T04:06:00Z"},
          {"end_utc", "2026-03-04T04:07:10Z"},
          {"workdir", "/scratch/bench"},
          {"results_file", results_file},
          {"program_version", "quenda-lite 1.0.0"},
          {"mpi_library", "mpirun (Open MPI) 4.1.4"},
          {"nodes", {node("node-a"), node("node-b")}}};
}

std::string sample_file_name(const std::string& processor_name) {
  std::tm time{};
  std::istringstream("2026-03-04 05:06:07") >> std::get_time(&time, "%Y-%m-%d %H:%M:%S");
  return results_file_name(processor_name.c_str(), time);
}

double printed(double value) {
  std::ostringstream text;
  text << value;
  return std::strtod(text.str().c_str(), nullptr);
}

ExpectedSummary expected_summary(const SampleRun& run, TestId test) {
  const auto record = record_of(run, test);
  const double total = record->statistics.total;
  return ExpectedSummary{total, improvement(total, record->single.rate)};
}

double in_megabytes(double rate) { return quenda::in_megabytes(rate); }

std::vector<int> line_numbers(const std::string& text, const std::string& line) {
  std::vector<int> numbers;
  std::istringstream lines(text);
  std::string current;
  for (int number = 1; std::getline(lines, current); ++number) {
    if (current == line) numbers.push_back(number);
  }
  return numbers;
}

int nth_line_starting(const std::string& text, const std::string& prefix, int nth) {
  std::istringstream lines(text);
  std::string current;
  for (int number = 1; std::getline(lines, current); ++number) {
    if (current.starts_with(prefix) && --nth == 0) return number;
  }
  return 0;
}

std::string replace_first(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

std::string first_lines(const std::string& text, int count) {
  std::size_t end = 0;
  for (int i = 0; i < count; ++i) {
    const std::size_t next = text.find('\n', end);
    if (next == std::string::npos) return text;
    end = next + 1;
  }
  return text.substr(0, end);
}

}  // namespace quenda::results::samples
