#include "commands/trend.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <locale>
#include <set>
#include <sstream>
#include <system_error>
#include <tuple>

#include "report_texts.h"
#include "write/replace_file.h"
#include "write/text_escape.h"
#include "write/trend_chart.h"

namespace quenda::results {
namespace {

namespace fs = std::filesystem;

// --- Reading the run-level lines -------------------------------------------

// A malformed or missing line: the reason, for the skipped file's message.
struct Unreadable {
  std::string reason;
};

// The first place of `needle` in `haystack`. memchr runs over the needle's
// byte that is rarest in the text ahead (the workers' lines hold few of
// the letters of a summary line), and only its hits are compared whole.
std::size_t find_led_by_rarest(std::string_view haystack, std::string_view needle) {
  if (needle.empty() || needle.size() > haystack.size()) return std::string_view::npos;
  std::array<std::uint32_t, 256> counts{};
  for (const char c : haystack.substr(0, 512)) ++counts[static_cast<unsigned char>(c)];
  std::size_t lead = 0;
  for (std::size_t i = 1; i < needle.size(); ++i) {
    if (counts[static_cast<unsigned char>(needle[i])] <
        counts[static_cast<unsigned char>(needle[lead])]) {
      lead = i;
    }
  }
  const char* data = haystack.data();
  const std::size_t last = haystack.size() - needle.size() + lead;  // the lead byte's last place
  for (std::size_t from = lead; from <= last;) {
    const void* hit = std::memchr(data + from, needle[lead], last - from + 1);
    if (hit == nullptr) break;
    const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - data);
    if (haystack.substr(at - lead, needle.size()) == needle) return at - lead;
    from = at + 1;
  }
  return std::string_view::npos;
}

// Finds the report's run-level lines in order. The workers' lines between
// them are stepped over by a substring search, which is what lets a
// history of a thousand large runs be read about as fast as the disk
// hands it over.
class SummaryReader {
 public:
  explicit SummaryReader(std::string_view text) : text_(text), limit_(text.size()) {}

  // Limits the searches to the text before the first line `line`.
  void end_at_line(std::string_view line) {
    limit_ = start_of(line, std::string("\n").append(line));
  }
  void end_at_text_end() { limit_ = text_.size(); }

  // The number on the next line of the form prefix<number>suffix; blanks
  // before the suffix are allowed, as the report prints some means with two.
  double number_line(std::string_view prefix, std::string_view suffix) {
    const std::string_view line = next_line_starting(prefix);
    std::string_view token = line.substr(prefix.size());
    if (!token.ends_with(suffix)) malformed(line);
    token.remove_suffix(suffix.size());
    while (token.ends_with(' ')) token.remove_suffix(1);
    double value = 0.0;
    const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
    if (token.empty() || error != std::errc() || end != token.data() + token.size()) {
      malformed(line);
    }
    return value;
  }

  // The line right after the last one found: a verdict about `kind`.
  bool verdict(std::string_view kind) {
    const std::string_view line = take_line_at(cursor_);
    if (line == texts::verdict_text(kind, false)) return false;
    if (line == texts::verdict_text(kind, true)) return true;
    malformed(line);
  }

 private:
  [[noreturn]] void malformed(std::string_view line) const {
    throw Unreadable{"a line not of the benchmark's making: " + quoted(line)};
  }

  std::size_t start_of(std::string_view what, const std::string& needle) const {
    const std::size_t found = find_led_by_rarest(text_.substr(cursor_, limit_ - cursor_), needle);
    if (found == std::string_view::npos) {
      throw Unreadable{"the file ends before the line '" + std::string(what) +
                       "...', as a run that was stopped does"};
    }
    return cursor_ + found + 1;
  }

  // The line at `at`; the cursor moves past its line end.
  std::string_view take_line_at(std::size_t at) {
    const std::size_t end = text_.find('\n', at);
    if (end == std::string_view::npos || end >= limit_) {
      throw Unreadable{"the file ends within its report, as a run that was stopped does"};
    }
    cursor_ = end + 1;
    std::string_view line = text_.substr(at, end - at);
    if (line.ends_with('\r')) line.remove_suffix(1);  // written on Windows
    return line;
  }

  std::string_view next_line_starting(std::string_view prefix) {
    const std::size_t at = start_of(prefix, std::string("\n").append(prefix));
    return take_line_at(at);
  }

  std::string_view text_;
  std::size_t cursor_ = 0;
  std::size_t limit_ = 0;
};

void read_summary(std::string_view text, TrendPoint& point) {
  if (!text.starts_with(texts::kTitleStart)) {
    throw Unreadable{"not a results file: the first line is not the benchmark's title"};
  }
  const auto test = [&point](TestId id) -> TrendPoint::Test& {
    return point.tests[static_cast<int>(id)];
  };
  SummaryReader reader(text);
  reader.end_at_line(texts::kClusterSection);
  const double threads = reader.number_line(texts::kThreads, "");
  if (!(threads >= 1 && threads <= 1e6) || threads != std::floor(threads)) {
    throw Unreadable{"the thread count is not a count of at least 1"};
  }
  point.workers = static_cast<int>(threads) - 1;
  for (const TestId id : {TestId::kStreamHandling, TestId::kDescriptorHandling}) {
    test(id).single = reader.number_line(texts::kProcessSingleFile, texts::kFilesPerSec);
  }
  for (const TestId id :
       {TestId::kBytewiseWrite, TestId::kBytewiseRead, TestId::kBlockRead, TestId::kBlockWrite}) {
    test(id).single = reader.number_line(texts::kConventionally, texts::kMbPerSec);
  }

  reader.end_at_text_end();
  for (const TestId id : {TestId::kStreamHandling, TestId::kDescriptorHandling}) {
    test(id).total = reader.number_line(texts::kOverallFiles, texts::kFilesPerSec);
    if (point.workers == 0) continue;  // the report prints no mean and no verdict
    test(id).mean = reader.number_line(texts::mean_start(""), texts::kFilesPerSec);
    test(id).significant = reader.verdict("");
  }
  // Both access sections print their totals and means writing first.
  for (const auto& [write, read, write_kind, read_kind] :
       {std::tuple{TestId::kBytewiseWrite, TestId::kBytewiseRead, texts::kLowWriting,
                   texts::kLowReading},
        std::tuple{TestId::kBlockWrite, TestId::kBlockRead, texts::kHighWriting,
                   texts::kHighReading}}) {
    test(write).total = reader.number_line(texts::kTotalWriting, texts::kMbPerSec);
    test(read).total = reader.number_line(texts::kTotalReading, texts::kMbPerSec);
    for (const auto& [id, kind] : {std::pair{write, write_kind}, std::pair{read, read_kind}}) {
      test(id).mean = reader.number_line(texts::mean_start(kind), texts::kMbPerSec);
      test(id).significant = reader.verdict(kind);
    }
  }
}

// --- The command -----------------------------------------------------------

struct Entry {
  fs::path path;
  NameMetadata when;
};

class Trend {
 public:
  Trend(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

  int run(const std::vector<std::string>& paths, const fs::path& folder) {
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
      const std::string problem = read_results(entry.path, text);
      const auto point = problem.empty() ? read_trend_point(text, entry.when)
                                         : std::variant<TrendPoint, std::string>(problem);
      if (const auto* reason = std::get_if<std::string>(&point)) {
        skip(entry.path, *reason);
        continue;
      }
      points.push_back(std::get<TrendPoint>(point));
      outputs[0].content += trend_csv_rows(points.back());
    }
    if (points.empty()) {
      err_ << "quenda-lite-results: error: no run to chart\n";
      return kExitSkipped;
    }
    outputs[1].content = trend_svg(points);
    const std::string write_error = write_outputs(outputs);
    if (!write_error.empty()) {
      err_ << "quenda-lite-results: error: " << write_error << '\n';
      return kExitSkipped;
    }
    out_ << points.size() << (points.size() == 1 ? " run" : " runs") << ", "
         << points.front().when.local_date << ' ' << points.front().when.local_time << " to "
         << points.back().when.local_date << ' ' << points.back().when.local_time << " -> "
         << printable((folder / "trend.csv").string()) << ", .svg\n";
    out_.flush();
    return skipped_ || !out_ ? kExitSkipped : 0;
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

std::variant<TrendPoint, std::string> read_trend_point(std::string_view text,
                                                       const NameMetadata& when) {
  TrendPoint point;
  point.when = when;
  try {
    read_summary(text, point);
  } catch (const Unreadable& unreadable) {
    return unreadable.reason;
  }
  return point;
}

const Command& trend_command() {
  static const Command command{
      "trend",
      "PATH...",
      "a results file, or a folder: all results files in it",
      "charts the history of many runs: trend.csv (one row per run and test) and trend.svg (a "
      "panel per test, total and mean per worker over time), in time order from the date and "
      "time in each results file's name.",
      {{"-o, --output-dir", "DIR", "write into DIR (created if needed), not the current folder",
        false, several_outputs}},
      "Exit status: 0 every file charted, 1 a file skipped (named on standard error), 2 a wrong "
      "command line."};
  return command;
}

int run_trend(const Arguments& arguments, std::ostream& out, std::ostream& err) {
  if (arguments.operands.empty()) return usage_error(err, "no results file or folder given");
  return Trend(out, err).run(arguments.operands, arguments.value("--output-dir").value_or("."));
}

}  // namespace quenda::results
