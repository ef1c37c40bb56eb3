#include "commands/trend.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>
#include <system_error>
#include <tuple>

#include "analyse/judgement.h"
#include "analyse/rates.h"
#include "write/figure_text.h"
#include "write/replace_file.h"
#include "write/text_escape.h"
#include "write/trend_chart.h"

namespace quenda::results {
namespace {

namespace fs = std::filesystem;

// What a history keeps of `run`.
TrendPoint trend_point(const RunResults& run, const NameMetadata& when) {
  TrendPoint point{.when = when, .workers = run.worker_count(), .tests = {}};
  for (const TestResults& test : run.tests) {
    const Measure measure = measure_of(test.id);
    point.tests[static_cast<int>(test.id)] = {headline_rate(test.single, measure),
                                              headline_rate(test.total, measure),
                                              headline_rate(test.mean, measure), test.significant};
  }
  return point;
}

// The judgement of the newest run for standard output, a line per test.
std::string departures_summary(const Departures& departures, double alpha) {
  const bool judged = std::any_of(departures.tests.begin(), departures.tests.end(),
                                  [](const Departure& test) { return test.share.has_value(); });
  if (!judged) {
    return "newest run not judged against its history: " + std::to_string(kMinHistory) +
           " earlier runs with a mean per worker are needed, " +
           std::to_string(departures.history) + " given\n";
  }
  std::string text = "newest run against the " + std::to_string(departures.history) +
                     " before it: flagged where its mean per worker is more than " +
                     report_text(kHistoryMargin * 100.0) +
                     "% below their typical one and significantly so (family level " +
                     report_text(alpha) + " over the six tests)\n";
  for (int t = 0; t < kTestCount; ++t) {
    const Departure& departure = departures.tests[t];
    text += "  " + std::string(test_key(kTests[t].id)) + ": ";
    if (!departure.share) {
      text += "not judged\n";
      continue;
    }
    text += report_text(*departure.share * 100.0, 3) + "% of its history, adjusted p " +
            report_text(*departure.p_adjusted, 2) + (departure.flagged ? ": departs\n" : "\n");
  }
  return text;
}

// --- The command -----------------------------------------------------------

struct Entry {
  fs::path path;
  NameMetadata when;
};

class Trend {
 public:
  Trend(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

  int run(const std::vector<std::string>& paths, const fs::path& folder, double alpha,
          bool fail_on_flag) {
    for (const std::string& path : paths) take(path);
    // Time order; runs of the same second by collector, then by path.
    std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
      return std::tie(a.when.local_date, a.when.local_time, a.when.processor_name, a.path) <
             std::tie(b.when.local_date, b.when.local_time, b.when.processor_name, b.path);
    });

    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
      err_ << printable(folder.string())
           << ": error: cannot create the output folder: " << error.message() << '\n';
      return kExitSkipped;
    }
    std::vector<OutputFile> outputs{{folder / "trend.csv", trend_csv_header()},
                                    {folder / "trend.svg", ""}};
    std::vector<TrendPoint> points;
    std::string text;  // one file at a time, its room reused
    for (const Entry& entry : entries_) {
      const auto run = read_run(entry.path, ParseOptions{}, text);
      if (const auto* message = std::get_if<std::string>(&run)) {
        err_ << *message << "; skipped\n";
        skipped_ = true;
        continue;
      }
      points.push_back(trend_point(std::get<RunResults>(run), entry.when));
      outputs[0].content += trend_csv_rows(points.back());
    }
    if (points.empty()) {
      err_ << "quenda-lite-results: error: no run to chart\n";
      return kExitSkipped;
    }
    const Departures departures = judge_newest(points, alpha);
    outputs[1].content = trend_svg(points, departures);
    const std::string write_error = write_outputs(outputs);
    if (!write_error.empty()) {
      err_ << "quenda-lite-results: error: " << write_error << '\n';
      return kExitSkipped;
    }
    out_ << points.size() << (points.size() == 1 ? " run" : " runs") << ", "
         << points.front().when.local_date << ' ' << points.front().when.local_time << " to "
         << points.back().when.local_date << ' ' << points.back().when.local_time << " -> "
         << printable((folder / "trend.csv").string()) << ", .svg\n"
         << departures_summary(departures, alpha);
    out_.flush();
    return skipped_ || !out_ || (fail_on_flag && departures.any()) ? kExitSkipped : 0;
  }

 private:
  static constexpr int kExitSkipped = 1;

  void skip(const fs::path& path, std::string_view reason) {
    err_ << printable(path.string()) << ": error: " << reason << "; skipped\n";
    skipped_ = true;
  }

  void add(const fs::path& path) {
    std::error_code error;
    const fs::path identity = fs::weakly_canonical(path, error);
    if (!seen_.insert(error ? path : identity).second) return;  // named twice
    auto when = parse_results_file_name(path.filename().string());
    if (!when) {
      return skip(path,
                  "its name gives no date and time (the collector's names do: "
                  "'results_quenda_lite_windows_clusters @ <node> @ local date "
                  "YYYY.MM.DD time HH.MM.SS.txt')");
    }
    entries_.push_back(Entry{path, std::move(*when)});
  }

  void take(const fs::path& path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error) return skip(path, "cannot open: " + error.message());
    if (!fs::is_directory(status)) return add(path);
    const auto files = results_files_in(path);
    if (files.index() == 1) return skip(path, std::get<1>(files));
    for (const fs::path& file : std::get<0>(files)) add(file);
  }

  std::ostream& out_;
  std::ostream& err_;
  std::vector<Entry> entries_;
  std::set<fs::path> seen_;
  bool skipped_ = false;
};

}  // namespace

const Command& trend_command() {
  static const Command command{
      "trend",
      "PATH...",
      "a results file, or a folder: all results files in it",
      "charts the history of many runs: trend.csv (one row per run and test) and trend.svg (a "
      "panel per test, total and mean per worker over time), in time order from the date and "
      "time in each results file's name, and judges the newest run's mean per worker against "
      "the runs before it.",
      {
          {"-o, --output-dir", "DIR", "write into DIR (created if needed), not the current folder",
           false, several_outputs},
          {"--alpha", "A",
           "the chance of any false flag among the newest run's six tests, above 0 and below 1: "
           "0.05 (the default) or 5%",
           false, alpha_level},
          {"--fail-on-flag", "", "end with status 1 where the newest run departs from its history"},
      },
      "Exit status: 0 every file charted, 1 a file skipped (named on standard error) or, with "
      "--fail-on-flag, a departure flagged, 2 a wrong command line."};
  return command;
}

int run_trend(const Arguments& arguments, std::ostream& out, std::ostream& err) {
  if (arguments.operands.empty()) return usage_error(err, "no results file or folder given");
  const double alpha =
      arguments.has("--alpha") ? *percent_of(*arguments.value("--alpha")) / 100 : kDefaultAlpha;
  return Trend(out, err).run(arguments.operands, arguments.value("--output-dir").value_or("."),
                             alpha, arguments.has("--fail-on-flag"));
}

}  // namespace quenda::results
