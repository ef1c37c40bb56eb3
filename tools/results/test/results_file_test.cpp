#include "read/results_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "read/in_order.h"
#include "read/run_record.h"
#include "report_figures.h"
#include "sample_report.h"
#include "support/files.h"
#include "write/json_output.h"

namespace quenda::results {
namespace {

using samples::first_lines;
using samples::line_numbers;
using samples::nth_line_starting;
using samples::replace_first;

const std::string kSampleName = samples::sample_file_name("node-a");

RunResults parse(const std::string& text, bool allow_partial = false,
                 const std::string& name = kSampleName, bool keep_workers = true) {
  return parse_results(text, name,
                       ParseOptions{.allow_partial = allow_partial, .keep_workers = keep_workers});
}

// The error a text gives: its line and reason. Fails the test when the text
// parses.
ParseError error_of(const std::string& text, bool allow_partial = false, bool keep_workers = true) {
  try {
    parse(text, allow_partial, kSampleName, keep_workers);
  } catch (const ParseError& error) {
    return error;
  }
  ADD_FAILURE() << "parsed without error";
  return ParseError(0, "");
}

TEST(ResultsFile, ReadsEveryFigureThatTheReportPrints) {
  for (const int world_size : {1, 2, 3, 5}) {
    SCOPED_TRACE("world size " + std::to_string(world_size));
    const std::string text = samples::results_text(samples::sample_run(world_size));
    const RunResults run = parse(text);
    EXPECT_FALSE(run.partial);
    EXPECT_EQ(run.threads, world_size);
    EXPECT_EQ(run.worker_count(), world_size - 1);
    EXPECT_EQ(run.benchmark,
              "Torvane :: Lumicrest Benchmark Quenda Lite for Windows Clusters on x86 64bit "
              "system 2019.12.06.");
    // Each figure and verdict in its place: the JSON's, in the report's
    // order, are those the text prints.
    const auto json = nlohmann::json::parse(to_json(run));
    EXPECT_EQ(samples::json_figures_in_report_order(json), samples::printed_figures(text));
    const std::vector<bool> verdicts = samples::printed_verdicts(text);
    EXPECT_EQ(samples::json_verdicts_in_report_order(json), verdicts);
    // The sample has both wordings wherever it has two workers.
    EXPECT_EQ(std::set<bool>(verdicts.begin(), verdicts.end()).size(), world_size > 2 ? 2u : 1u);
    // Written on Windows, with CR LF line ends.
    EXPECT_EQ(to_json(parse(std::regex_replace(text, std::regex("\n"), "\r\n"))), to_json(run));
    // Read without the workers' figures, the run keeps all the rest.
    RunResults without_workers = run;
    for (TestResults& test : without_workers.tests) test.workers.clear();
    EXPECT_EQ(to_json(parse(text, false, kSampleName, false)), to_json(without_workers));
  }
}

TEST(ResultsFile, ReadsInfiniteAndUndefinedFigures) {
  samples::SampleRun sample = samples::sample_run(3);
  // A timer that saw no time pass gives an infinite rate; a collector rate
  // of 0 gives an infinite or undefined improvement.
  sample.tests[0].single.rate = 0.0;
  sample.tests[0].workers[0].rate = INFINITY;
  sample.tests[1].single.rate = 0.0;
  sample.tests[1].workers[0].rate = 0.0;
  sample.tests[1].workers[1].rate = 0.0;
  sample.tests[4].workers[1].rate = INFINITY;
  const RunResults run = parse(samples::results_text(sample));

  const TestResults& stream = run.test(TestId::kStreamHandling);
  EXPECT_EQ(stream.workers[0].figures.files_per_sec, INFINITY);
  EXPECT_EQ(stream.total.files_per_sec, INFINITY);
  EXPECT_EQ(stream.improvement, INFINITY);
  EXPECT_EQ(stream.mean.files_per_sec, INFINITY);
  EXPECT_EQ(stream.significant, true);  // an undefined deviation counts as significant
  const TestResults& descriptor = run.test(TestId::kDescriptorHandling);
  ASSERT_TRUE(descriptor.improvement);
  EXPECT_TRUE(std::isnan(*descriptor.improvement));
  const TestResults& block_read = run.test(TestId::kBlockRead);
  EXPECT_EQ(block_read.workers[1].figures.million_accesses_per_sec, INFINITY);
  EXPECT_EQ(block_read.workers[1].figures.mb_per_sec, INFINITY);
}

TEST(ResultsFile, TakesTheMetadataFromTheFileName) {
  const std::string prefix = "results_quenda_lite_windows_clusters @ ";
  for (const auto& [name, processor, date, time] :
       {std::tuple{"node-a @ local date 2026.03.04 time 05.06.07.txt", "node-a", "2026-03-04",
                   "05:06:07"},
        std::tuple{"rack 2 @ node 7 @ local date 1900.01.00 time 00.00.00.txt", "rack 2 @ node 7",
                   "1900-01-00", "00:00:00"},
        std::tuple{" @ local date 2026.03.04 time 05.06.07.txt", "", "2026-03-04", "05:06:07"}}) {
    const auto metadata = parse_results_file_name(prefix + name);
    ASSERT_TRUE(metadata) << name;
    EXPECT_EQ(metadata->processor_name + "|" + metadata->local_date + "|" + metadata->local_time,
              std::string(processor) + "|" + date + "|" + time);
  }
  for (const char* other :
       {"results.txt",
        "results_quenda_lite_windows_clusters @ node-a @ local date 2026.03.04 time 05.06.07",
        "results_quenda_lite_windows_clusters @ node-a @ local date 2026.3.04 time 05.06.07.txt",
        "results_quenda_lite_windows_clusters @ node-a @ local date 2026.03.04 time 05.06.07.t"
        "xt.json",
        // A date that reaches back into the prefix, a year without a digit.
        "results_quenda_lite_windows_clusters @ local date 2026.03.04 time 05.06.07.txt",
        "results_quenda_lite_windows_clusters @ n @ local date .03.04 time 05.06.07.txt"}) {
    EXPECT_FALSE(is_results_file_name(other)) << other;
  }
  EXPECT_TRUE(is_results_file_name(kSampleName));

  const RunResults renamed =
      parse(samples::results_text(samples::sample_run(2)), false, "run-1.txt");
  EXPECT_FALSE(renamed.metadata);
  EXPECT_EQ(renamed.source_file, "run-1.txt");
  EXPECT_EQ(renamed.test(TestId::kBlockWrite).workers.size(), 1u);
}

TEST(ResultsFile, NamesTheLineThatDepartsFromTheReportAndWhy) {
  const std::string text = samples::results_text(samples::sample_run(3));
  std::string cr_only = text;
  std::replace(cr_only.begin(), cr_only.end(), '\n', '\r');
  const std::string title_cut = "the title line is cut short (the file ends before its line end)";
  const std::string time = "The system spent: 0.00506187 Secs.";
  const std::string verdict =
      "Among all nodes, high writing performance differences of threads tend to be not "
      "significant.";
  ASSERT_EQ(line_numbers(text, time).size(), 1u);
  ASSERT_EQ(line_numbers(text, verdict).size(), 1u);
  const std::string first_worker = "Thread:1 The system spent: ";
  const std::string second_worker = "Thread:2@node-a The system spent: ";
  const auto threads = [&text](const std::string& count) {
    return replace_first(text, "Thread(s): 3", "Thread(s): " + count);
  };
  // A worker missing from the byte-wise writes: its three lines gone, the
  // list runs into the reads.
  const int missing = nth_line_starting(text, second_worker);
  const std::string without_worker =
      first_lines(text, missing - 1) + text.substr(first_lines(text, missing + 2).size());
  const std::string more = "this section lists more than ";
  const std::string says = " worker(s), but line 3 says 'Thread(s): ";

  struct Case {
    std::string text;
    int line;
    std::string reason;
  };
  const std::vector<Case> cases{
      {"", 1, "the file is empty; not a results file"},
      {"hello world\nsecond line\n", 1,
       "not a Quenda Lite results file: the first line is 'hello world', not the benchmark's "
       "title"},
      {"hello", 1,
       "not a Quenda Lite results file: the first line is 'hello', not the benchmark's title"},
      // Files that are nearly results files are called what they are.
      {"\xEF\xBB\xBF" + text, 1,
       "the file starts with a byte-order mark (EF BB BF), which the benchmark never writes; "
       "remove it and convert again"},
      {cr_only, 1,
       "the lines end in a carriage return alone (CR, as on classic Mac OS); the benchmark ends "
       "them in LF or CR LF"},
      {text.substr(0, 30), 1, title_cut},
      {text.substr(0, text.find('\n')), 1, title_cut},
      {text.substr(0, text.find('\n') + 1) + std::string(70'000, 'T') + "\n", 2,
       "the line is longer than 65536 bytes, which no line of a results file is"},
      {threads("three"), 3,
       "expected 'Thread(s): <count of at least 1>', found 'Thread(s): three'"},
      {threads("0"), 3, "expected 'Thread(s): <count of at least 1>', found 'Thread(s): 0'"},
      {replace_first(text, time, "The system spent: fast Secs."), line_numbers(text, time)[0],
       "expected 'The system spent: <number> Secs.' in the single-process stream_handling test, "
       "found 'The system spent: fast Secs.'"},
      // Workers out of rank order; then a lower number than expected, in a
      // section with the processor name.
      {replace_first(text, first_worker, "Thread:2 The system spent: "),
       nth_line_starting(text, first_worker),
       "expected thread 1 in the cluster stream_handling section, found thread 2"},
      {replace_first(text, second_worker, "Thread:1@node-a The system spent: "),
       nth_line_starting(text, second_worker),
       "expected thread 2 in the cluster byte-wise tests, found thread 1"},
      // A rank past 64 bits that wraps round to the expected one; a line of
      // a list with processor names that has none.
      {replace_first(text, first_worker, "Thread:18446744073709551617 The system spent: "),
       nth_line_starting(text, first_worker),
       "expected 'Thread:1 The system spent: <number> Secs.' in the cluster stream_handling "
       "section, found 'Thread:18446744073709551617 The system spent: 0.0102235 Secs.'"},
      {replace_first(text, second_worker, "Thread:2 The system spent: "),
       nth_line_starting(text, second_worker),
       "expected 'Thread:2@... The system spent: <number> Secs. to Write.' in the cluster "
       "byte-wise tests, found 'Thread:2 The system spent: 0.0205704 Secs. to Write.'"},
      {replace_first(text, verdict, "Among all nodes, all is well."),
       line_numbers(text, verdict)[0],
       "expected a verdict on the differences between threads in the cluster block summary, "
       "found 'Among all nodes, all is well.'"},
      {text + "\nsomething else\n", static_cast<int>(testing::split_lines(text).size()) + 2,
       "unexpected text after the end of the report"},
      // Fewer workers than the thread count means: the list ends at "Overall".
      {threads("4"), nth_line_starting(text, "Overall, The system could process: "),
       "this section lists 2" + says + "4', which means 3 worker(s)"},
      {threads("2"), nth_line_starting(text, "Thread:2 The system spent: "),
       more + "1 worker(s) (thread 2 here), but line 3 says 'Thread(s): 2', which means 1 "
              "worker(s)"},
      {threads("1"), nth_line_starting(text, first_worker),
       more + "0 worker(s) (thread 1 here), but line 3 says 'Thread(s): 1', which means 0 "
              "worker(s)"},
      {without_worker, missing, "this section lists 1" + says + "3', which means 2 worker(s)"},
  };
  for (const Case& c : cases) {
    // A file that says something else than the report fails with --partial
    // too, and when the workers' figures are not kept.
    for (const auto& [allow_partial, keep_workers] :
         {std::pair{false, true}, std::pair{true, true}, std::pair{false, false}}) {
      SCOPED_TRACE(c.reason + (allow_partial ? " (--partial)" : "") +
                   (keep_workers ? "" : " (workers not kept)"));
      const ParseError error = error_of(c.text, allow_partial, keep_workers);
      EXPECT_EQ(error.line(), c.line);
      EXPECT_EQ(error.reason(), c.reason);
    }
  }
  // Blank lines after the report are harmless.
  EXPECT_FALSE(parse(text + "\n\n").partial);
}

TEST(ResultsFile, AFileCutAfterOrWithinAnyLineIsPartial) {
  const std::string text = samples::results_text(samples::sample_run(3));
  const int total = static_cast<int>(testing::split_lines(text).size());
  ASSERT_GT(total, 100);
  for (int kept = 1; kept < total; ++kept) {
    const std::string after = first_lines(text, kept);
    // One character before the next line's end: "...Secs" instead of "...Secs.".
    const std::string whole = first_lines(text, kept + 1);
    const std::string within = whole.substr(0, whole.size() - 2);
    for (const bool in_line : {false, true}) {
      // An empty line cannot be cut; the title and the thread count have
      // tests of their own.
      if (in_line && (kept < 3 || within.size() <= after.size())) continue;
      const int line = in_line ? kept + 1 : kept;
      SCOPED_TRACE((in_line ? "cut within line " : "lines kept: ") + std::to_string(line));
      const ParseError error = error_of(in_line ? within : after);
      EXPECT_EQ(error.line(), line);
      EXPECT_TRUE(error.reason().starts_with(in_line
                                                 ? "the line is cut short (it has no line end), in "
                                                 : "the file ends after this line, in "))
          << error.reason();
      if (line < 3) {
        // Without the thread count there is nothing to convert.
        EXPECT_EQ(error_of(after, true).line(), line);
        continue;
      }
      const RunResults run = parse(in_line ? within : after, true);
      EXPECT_TRUE(run.partial);
      EXPECT_EQ(run.partial_reason, "line " + std::to_string(line) + ": " + error.reason());
      EXPECT_EQ(run.threads, 3);
      // What the whole lines before the cut print, and nothing else: a worker
      // cut after its time keeps its time alone, later sections stay empty.
      const auto json = nlohmann::json::parse(to_json(run));
      EXPECT_EQ(samples::json_figures_in_report_order(json), samples::printed_figures(after));
      EXPECT_EQ(samples::json_verdicts_in_report_order(json), samples::printed_verdicts(after));
    }
  }
  EXPECT_FALSE(parse(text, true).partial);
}

TEST(RunRecord, IsFoundBesideTheResultsFileItNamesOrRefusedWithTheReason) {
  testing::TemporaryFolder folder;
  const auto write = [&folder](const std::string& name, const nlohmann::json& record) {
    testing::write_file(folder.path() / name, record.dump());
  };
  nlohmann::json record = samples::sample_record("41", kSampleName);
  write("quenda-lite-41.json", record);
  // A later job that names the same results file is the one found.
  record["job_id"] = "42";
  record["end_utc"] = "2026-03-04T04:07:11Z";
  write("quenda-lite-42.json", record);
  write("quenda-lite-43.json", samples::sample_record("43", "other.txt"));
  testing::write_file(folder.path() / "quenda-lite-44.json", "{\"record_version\": 1,");
  const std::optional<RunRecord> found = record_beside(folder.path() / kSampleName);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->job_id, "42");
  EXPECT_EQ(found->path, folder.path() / "quenda-lite-42.json");
  ASSERT_EQ(found->nodes.size(), 2u);
  EXPECT_EQ(found->nodes[1].name + " " + found->nodes[1].fstype + " " +
                found->nodes[1].mount_options + " " + found->nodes[1].kernel,
            "node-b ext4 rw,relatime 6.1.0-28-amd64");
  EXPECT_FALSE(record_beside(folder.path() / "unrecorded.txt"));
  RefusedRecords refused;
  const auto records = records_in(folder.path(), &refused);
  EXPECT_EQ(records.size(), 2u);
  EXPECT_EQ(records.at("other.txt").job_id, "43");
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0].first, folder.path() / "quenda-lite-44.json");
  EXPECT_EQ(refused[0].second,
            "not JSON: parse error at line 1, column 22: syntax error while "
            "parsing object key - unexpected end of input; expected string literal");

  const nlohmann::json good = samples::sample_record("7", "r.txt");
  const auto with = [&good](const char* key, const nlohmann::json& value) {
    nlohmann::json changed = good;
    changed[key] = value;
    return changed.dump();
  };
  nlohmann::json kernelless = good;
  kernelless["nodes"][1].erase("kernel");
  nlohmann::json twice = good;
  twice["nodes"][1]["name"] = "node-a";
  const std::vector<std::pair<std::string, std::string>> cases{
      {"[1]", "not a record: the JSON is not an object"},
      {"{}", "no \"record_version\"; not a run's record"},
      {with("record_version", 2), "record_version 2, where this tool reads 1"},
      {with("job_id", 41), "\"job_id\" is not a string"},
      {with("start_utc", "2026-03-04 04:06:00"),
       "\"start_utc\" is '2026-03-04 04:06:00', not a UTC time such as 2026-12-09T00:41:02Z"},
      {with("nodes", "node-a"), "\"nodes\" is not a list"},
      {kernelless.dump(), "no \"kernel\" in node 2"},
      {twice.dump(), "node node-a is named twice"},
  };
  for (const auto& [text, reason] : cases) {
    testing::write_file(folder.path() / "r.json", text);
    try {
      read_record(folder.path() / "r.json");
      ADD_FAILURE() << "read without error: " << text;
    } catch (const RecordError& error) {
      EXPECT_EQ(error.what(), reason);
    }
  }
}

// Files read on several threads are used in the order given, the later
// ones finishing first; a use that throws ends the threads instead of
// leaving them waiting for room.
TEST(InOrder, UsesResultsInTheirOrderAndStopsWhenAUseThrows) {
  std::vector<std::size_t> used;
  in_order(
      40,
      [](std::size_t i) {
        std::this_thread::sleep_for(std::chrono::microseconds(50 * (40 - i)));
        return i * i;
      },
      [&](std::size_t i, std::size_t square) {
        EXPECT_EQ(square, i * i);
        used.push_back(i);
      });
  std::vector<std::size_t> expected(40);
  std::iota(expected.begin(), expected.end(), 0);
  EXPECT_EQ(used, expected);
  const auto throw_at_3 = [](std::size_t i, std::size_t) {
    if (i == 3) throw std::runtime_error("full disk");
  };
  EXPECT_THROW(in_order(
                   40, [](std::size_t i) { return i; }, throw_at_3),
               std::runtime_error);
}

}  // namespace
}  // namespace quenda::results
