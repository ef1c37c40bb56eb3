#include "results_file.h"

#include <charconv>
#include <limits>
#include <regex>

#include "report_texts.h"
#include "text_escape.h"

namespace quenda::results {
namespace {

namespace t = quenda::texts;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Longest quotation of a file's line in an error message; what was expected
// there is quoted whole.
constexpr std::size_t kQuoteLength = 80;

// Far longer than any line of a results file (the longest holds a processor
// name, which MPI caps at a few hundred bytes); what a longer line holds past
// this is skipped unread into memory.
constexpr std::size_t kLongestLine = 64 * 1024;

std::string quote(std::string_view text, std::size_t limit = kQuoteLength) {
  return "'" + printable(text.substr(0, limit)) + (text.size() > limit ? "...'" : "'");
}

std::string quote_whole(std::string_view text) { return quote(text, std::string_view::npos); }

// A whole token as a number: a figure as the report's streams print it
// (general notation, "inf", "nan"), or a count.
template <typename Number>
std::optional<Number> parse_number(std::string_view token) {
  Number value{};
  const char* end = token.data() + token.size();
  const auto [after, error] = std::from_chars(token.data(), end, value);
  if (token.empty() || error != std::errc() || after != end) return std::nullopt;
  return value;
}

// The number between `prefix` and `suffix` when the line is exactly that.
std::optional<double> number_between(std::string_view line, std::string_view prefix,
                                     std::string_view suffix) {
  if (line.size() < prefix.size() + suffix.size()) return std::nullopt;
  if (!line.starts_with(prefix) || !line.ends_with(suffix)) return std::nullopt;
  return parse_number<double>(
      line.substr(prefix.size(), line.size() - prefix.size() - suffix.size()));
}

// A worker's line: "Thread:<rank>" (file handling) or "Thread:<rank>@<name>"
// (the other tests), then " ", `marker` and the rest. The processor name may
// hold anything, so the marker is searched from the end.
struct ThreadLine {
  std::uint64_t rank = 0;
  std::string_view from_marker;
};

std::optional<ThreadLine> split_thread_line(std::string_view line, bool named,
                                            std::string_view marker) {
  if (!line.starts_with(t::kThread)) return std::nullopt;
  line.remove_prefix(std::string_view(t::kThread).size());
  const std::size_t digits = std::min(line.find_first_not_of("0123456789"), line.size());
  const auto rank = parse_number<std::uint64_t>(line.substr(0, digits));
  if (!rank) return std::nullopt;
  const std::string_view rest = line.substr(digits);
  const std::string spaced = " " + std::string(marker);
  const std::size_t at = named ? rest.rfind(spaced) : 0;
  if (named ? !rest.starts_with('@') || at == std::string_view::npos || at == 0
            : !rest.starts_with(spaced)) {
    return std::nullopt;
  }
  return ThreadLine{*rank, rest.substr(at + 1)};
}

// The file ended before the report did: a run that was stopped.
struct EndOfFile {
  int line;
  std::string reason;
};

// One line as read: its text without the line end, whether the file ended
// before its line end, and whether it was longer than kLongestLine.
struct Line {
  std::string text;
  bool cut = false;
  bool too_long = false;
};

// The file's lines, read as they are needed, one ahead of the parser. A last
// line without its line end was cut while being written and is never handed
// out.
class Lines {
 public:
  explicit Lines(std::istream& in) : in_(in), buffer_(kLongestLine + 1, '\0') { ahead_ = read(); }

  // The first line, complete or not, before anything is taken.
  const std::optional<Line>& first() const { return ahead_; }
  int next_number() const { return taken_ + 1; }

  std::optional<std::string_view> peek() const {
    if (!ahead_ || ahead_->cut) return std::nullopt;
    return std::string_view(ahead_->text);
  }

  // The next line, valid until the next call; at the end of the file, says
  // what was expected there.
  std::string_view take(std::string_view section, std::string_view expected) {
    const std::string where =
        ", in " + std::string(section) + "; expected " + std::string(expected);
    if (!ahead_) throw EndOfFile{std::max(taken_, 1), "the file ends after this line" + where};
    if (ahead_->cut)
      throw EndOfFile{next_number(), "the line is cut short (it has no line end)" + where};
    if (ahead_->too_long) {
      throw ParseError(next_number(), "the line is longer than " + std::to_string(kLongestLine) +
                                          " bytes, which no line of a results file is");
    }
    current_ = std::move(ahead_->text);
    ++taken_;
    ahead_ = read();
    return current_;
  }

  // Lines left after the report: blank ones are harmless, anything else is
  // not the benchmark's.
  std::optional<int> first_trailing_text() {
    for (int number = next_number(); ahead_; ++number, ahead_ = read()) {
      if (!ahead_->text.empty() || ahead_->too_long) return number;
    }
    return std::nullopt;
  }

 private:
  std::optional<Line> read() {
    in_.getline(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    const auto count = static_cast<std::size_t>(in_.gcount());
    if (count == 0) return std::nullopt;  // the end of the file
    Line line;
    if (in_.fail() && !in_.eof()) {
      line.too_long = true;
      in_.clear();
      in_.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
      return line;
    }
    line.cut = in_.eof();
    line.text.assign(buffer_.data(), line.cut ? count : count - 1);
    // Results files written on Windows end their lines in CR LF.
    if (!line.cut && line.text.ends_with('\r')) line.text.pop_back();
    return line;
  }

  std::istream& in_;
  std::string buffer_;
  std::optional<Line> ahead_;  // read, not yet taken
  std::string current_;        // the line take() handed out last
  int taken_ = 0;
};

// Walks the report from top to bottom, filling `run` as it goes, so that a
// file that ends early leaves everything read so far in place.
class Parser {
 public:
  Parser(std::istream& in, RunResults& run) : lines_(in), run_(run) {}

  void parse_header() {
    section_ = "the header";
    // Checked before anything else is read, so that a file of some other
    // kind is called that rather than "cut short", and a huge one is
    // refused after its first line.
    const std::optional<Line>& first = lines_.first();
    if (!first) throw ParseError(1, "the file is empty; not a results file");
    const std::string_view title = first->text;
    const std::string_view start = t::kTitleStart;
    if (title.starts_with(kByteOrderMark)) {
      throw ParseError(1,
                       "the file starts with a byte-order mark (EF BB BF), which the benchmark "
                       "never writes; remove it and convert again");
    }
    // A complete line has lost its CR LF's CR already.
    if (title.starts_with(start) && title.find('\r') != std::string_view::npos) {
      throw ParseError(1,
                       "the lines end in a carriage return alone (CR, as on classic Mac OS); "
                       "the benchmark ends them in LF or CR LF");
    }
    if (first->cut && (title.starts_with(start) || start.starts_with(title))) {
      throw ParseError(1, "the title line is cut short (the file ends before its line end)");
    }
    if (!title.starts_with(start)) {
      throw ParseError(1, "not a Quenda Lite results file: the first line is " + quote(title) +
                              ", not the benchmark's title");
    }
    run_.benchmark = std::string(lines_.take(section_, "the benchmark's title"));
    blank();
    threads_line_ = lines_.next_number();
    const std::string_view line = lines_.take(section_, "'Thread(s): <count>'");
    const std::string_view threads = t::kThreads;
    const auto count =
        line.starts_with(threads) ? parse_number<int>(line.substr(threads.size())) : std::nullopt;
    if (!count || *count < 1) {
      throw ParseError(threads_line_,
                       "expected 'Thread(s): <count of at least 1>', found " + quote(line));
    }
    run_.threads = *count;
  }

  void parse_report() {
    blank();
    exact(t::kSingleSection);
    blank();
    handling_single(TestId::kStreamHandling, t::kStreamHeading);
    handling_single(TestId::kDescriptorHandling, t::kDescriptorHeading);

    section_ = "the single-process byte-wise tests";
    exact(t::kBytewiseHeading);
    blank();
    access_single(TestId::kBytewiseWrite, t::kSecsToWrite);
    access_single(TestId::kBytewiseRead, t::kSecsToReadSingle);
    blank();
    section_ = "the single-process block tests";
    exact(t::kBlockHeading);
    blank();
    access_single(TestId::kBlockRead, t::kSecsToReadSingle);
    access_single(TestId::kBlockWrite, t::kSecsToWrite);
    blank();
    blank();

    section_ = "the cluster file-handling tests";
    exact(t::kClusterSection);
    handling_cluster(TestId::kStreamHandling, t::kStreamHeading);
    handling_cluster(TestId::kDescriptorHandling, t::kDescriptorHeading);

    section_ = "the cluster byte-wise tests";
    exact(t::kClusterSection);
    exact(t::kBytewiseHeading);
    blank();
    access_workers(TestId::kBytewiseWrite, t::kSecsToWrite, t::kSecsToReadWorker);
    access_workers(TestId::kBytewiseRead, t::kSecsToReadWorker, t::kSecsToWrite);
    section_ = "the cluster byte-wise summary";
    blank();
    blank();
    access_totals(TestId::kBytewiseWrite, t::kToWrite, t::kTotalWriting);
    access_totals(TestId::kBytewiseRead, t::kToRead, t::kTotalReading);
    blank();
    blank();
    access_mean(TestId::kBytewiseWrite, t::kLowWriting, t::kMbPerSec);
    blank();
    access_mean(TestId::kBytewiseRead, t::kLowReading, t::kMbPerSecWide);
    blank();

    section_ = "the cluster block tests";
    exact(t::kClusterSection);
    exact(t::kBlockHeading);
    blank();
    access_workers(TestId::kBlockRead, t::kSecsToReadWorker, t::kSecsToWrite);
    access_workers(TestId::kBlockWrite, t::kSecsToWrite, t::kSecsToReadWorker);
    section_ = "the cluster block summary";
    blank();
    access_totals(TestId::kBlockWrite, t::kToWrite, t::kTotalWriting);
    access_totals(TestId::kBlockRead, t::kToRead, t::kTotalReading);
    blank();
    blank();
    access_mean(TestId::kBlockWrite, t::kHighWriting, t::kMbPerSecWide);
    blank();
    access_mean(TestId::kBlockRead, t::kHighReading, t::kMbPerSecWide);
    blank();

    if (const auto line = lines_.first_trailing_text()) {
      throw ParseError(*line, "unexpected text after the end of the report");
    }
  }

 private:
  TestResults& test(TestId id) { return run_.tests[static_cast<int>(id)]; }
  int workers() const { return run_.worker_count(); }

  [[noreturn]] void mismatch(int line, std::string_view expected, std::string_view found) const {
    throw ParseError(
        line, "expected " + std::string(expected) + " in " + section_ + ", found " + quote(found));
  }

  // The next line, its number and what was expected there.
  std::string_view next(std::string_view expected, int& number) {
    number = lines_.next_number();
    return lines_.take(section_, expected);
  }

  void exact(std::string_view expected) {
    int number = 0;
    const std::string quoted = quote_whole(expected);
    const std::string_view line = next(quoted, number);
    if (line != expected) mismatch(number, quoted, line);
  }

  void blank() { exact(""); }

  double number_line(std::string_view prefix, std::string_view suffix) {
    int number = 0;
    const std::string expected =
        quote_whole(std::string(prefix) + "<number>" + std::string(suffix));
    const std::string_view line = next(expected, number);
    const auto value = number_between(line, prefix, suffix);
    if (!value) mismatch(number, expected, line);
    return *value;
  }

  bool verdict(std::string_view kind) {
    int number = 0;
    const std::string expected = "a verdict on the differences between threads";
    const std::string_view line = next(expected, number);
    if (line == t::verdict_text(kind, true)) return true;
    if (line != t::verdict_text(kind, false)) mismatch(number, expected, line);
    return false;
  }

  void handling_single(TestId id, std::string_view heading) {
    section_ = "the single-process " + std::string(test_key(id)) + " test";
    Figures& single = test(id).single;
    exact(heading);
    blank();
    single.seconds = number_line(t::kSpent, t::kSecs);
    single.files_per_sec = number_line(t::kProcessSingleFile, t::kFilesPerSec);
    blank();
  }

  void access_single(TestId id, std::string_view time_suffix) {
    Figures& single = test(id).single;
    single.seconds = number_line(t::kSpent, time_suffix);
    single.million_accesses_per_sec = number_line(t::kItWas, t::kAccessesPerSec);
    single.mb_per_sec = number_line(t::kConventionally, t::kMbPerSec);
  }

  std::string threads_said() const {
    return "line " + std::to_string(threads_line_) +
           " says 'Thread(s): " + std::to_string(run_.threads) + "', which means " +
           std::to_string(workers()) + " worker(s)";
  }

  // The number after `marker` on worker `rank`'s line. On the worker's first
  // line (`first`), a line that ends the list instead (`ends_list`) means
  // the file lists fewer workers than its thread count says.
  template <typename EndsList>
  double worker_number(std::uint64_t rank, bool named, std::string_view marker,
                       std::string_view suffix, bool first, EndsList&& ends_list) {
    int number = 0;
    const std::string expected =
        quote_whole(t::kThread + std::to_string(rank) + (named ? "@... " : " ") +
                    std::string(marker) + "<number>" + std::string(suffix));
    const std::string_view line = next(expected, number);
    const auto thread = split_thread_line(line, named, marker);
    const bool matches = thread && thread->from_marker.ends_with(suffix);
    if (first && !matches && ends_list(line)) {
      throw ParseError(number, "this section lists " + std::to_string(rank - 1) +
                                   " worker(s), but " + threads_said());
    }
    if (first && matches && thread->rank != rank) {
      throw ParseError(number, "expected thread " + std::to_string(rank) + " in " + section_ +
                                   ", found thread " + std::to_string(thread->rank));
    }
    const auto value = thread && thread->rank == rank
                           ? number_between(thread->from_marker, marker, suffix)
                           : std::nullopt;
    if (!value) mismatch(number, expected, line);
    return *value;
  }

  // After the last worker, one more time line of the same kind means the
  // file lists more workers than its thread count says.
  void no_further_worker(bool named, std::string_view suffix) {
    const auto line = lines_.peek();
    const auto thread = line ? split_thread_line(*line, named, t::kSpent) : std::nullopt;
    if (thread && thread->from_marker.ends_with(suffix)) {
      throw ParseError(lines_.next_number(), "this section lists more than " +
                                                 std::to_string(workers()) + " worker(s) (thread " +
                                                 std::to_string(thread->rank) + " here), but " +
                                                 threads_said());
    }
  }

  void handling_cluster(TestId id, std::string_view heading) {
    section_ = "the cluster " + std::string(test_key(id)) + " section";
    TestResults& results = test(id);
    exact(heading);
    blank();
    worker_list(id, false, t::kSecs,
                [](std::string_view line) { return line.starts_with("Overall, "); });
    results.total.files_per_sec = number_line(t::kOverallFiles, t::kFilesPerSec);
    results.improvement = number_line(t::kImprovements, t::kTimes);
    blank();
    if (workers() > 0) {
      blank();
      results.mean.files_per_sec = number_line(t::mean_start(""), t::kFilesPerSec);
      results.significant = verdict("");
    }
    blank();
  }

  // One test's workers: a time line and a rate line each (the access tests'
  // `named` and followed by an MB/sec line). The list ends early at a line
  // that `ends_list` says is the next part's.
  template <typename EndsList>
  void worker_list(TestId id, bool named, std::string_view time_suffix, EndsList&& ends_list) {
    TestResults& results = test(id);
    const auto never = [](std::string_view) { return false; };
    for (std::uint64_t rank = 1; rank <= static_cast<std::uint64_t>(workers()); ++rank) {
      // A worker is listed from its first line on, not before.
      const double seconds = worker_number(rank, named, t::kSpent, time_suffix, true, ends_list);
      Figures& figures = results.workers.emplace_back(WorkerFigures{rank, {}}).figures;
      figures.seconds = seconds;
      if (!named) {
        figures.files_per_sec =
            worker_number(rank, false, t::kProcess, t::kFilesPerSec, false, never);
        continue;
      }
      figures.million_accesses_per_sec =
          worker_number(rank, true, t::kItWas, t::kAccessesPerSec, false, never);
      figures.mb_per_sec = number_line(t::kConventionally, t::kMbPerSec);
    }
    no_further_worker(named, time_suffix);
  }

  // One access test's worker triples. The list ends at a blank line or at
  // the first worker line of the test that follows (`next_suffix`).
  void access_workers(TestId id, std::string_view suffix, std::string_view next_suffix) {
    worker_list(id, true, suffix, [next_suffix](std::string_view line) {
      const auto thread = split_thread_line(line, true, t::kSpent);
      return line.empty() || (thread && thread->from_marker.ends_with(next_suffix));
    });
  }

  void access_totals(TestId id, std::string_view direction, std::string_view total_start) {
    TestResults& results = test(id);
    results.total.million_accesses_per_sec =
        number_line(t::kOverallAccesses, t::kAccessesPerSec + std::string(direction));
    results.total.mb_per_sec = number_line(total_start, t::kMbPerSec);
    results.improvement = number_line(t::kImprovements, t::kTimes);
  }

  void access_mean(TestId id, std::string_view kind, std::string_view suffix) {
    TestResults& results = test(id);
    results.mean.mb_per_sec = number_line(t::mean_start(kind), suffix);
    results.significant = verdict(kind);
  }

  Lines lines_;
  RunResults& run_;
  std::string section_;
  int threads_line_ = 0;
};

}  // namespace

RunResults parse_results(std::istream& in, std::string_view file_name,
                         const ParseOptions& options) {
  RunResults run;
  run.source_file = std::string(file_name);
  run.metadata = parse_results_file_name(file_name);
  for (int i = 0; i < kTestCount; ++i) run.tests[i].id = quenda::kTests[i].id;

  Parser parser(in, run);
  try {
    parser.parse_header();
  } catch (const EndOfFile& end) {
    // Without the thread count there is nothing worth converting.
    throw ParseError(end.line, end.reason);
  }
  try {
    parser.parse_report();
  } catch (const EndOfFile& end) {
    if (!options.allow_partial) throw ParseError(end.line, end.reason);
    run.partial = true;
    run.partial_reason = "line " + std::to_string(end.line) + ": " + end.reason;
  }
  return run;
}

std::optional<NameMetadata> parse_results_file_name(std::string_view file_name) {
  const std::string_view prefix = t::kResultsFilePrefix;
  if (!file_name.starts_with(prefix)) return std::nullopt;
  static const std::regex kDateAndTime(
      R"( @ local date (\d+)\.(\d\d)\.(\d\d) time (\d\d)\.(\d\d)\.(\d\d)\.txt$)");
  const std::string name(file_name);
  std::smatch match;
  if (!std::regex_search(name, match, kDateAndTime)) return std::nullopt;
  const auto name_end = static_cast<std::size_t>(match.position(0));
  if (name_end < prefix.size()) return std::nullopt;
  return NameMetadata{name.substr(prefix.size(), name_end - prefix.size()),
                      match[1].str() + "-" + match[2].str() + "-" + match[3].str(),
                      match[4].str() + ":" + match[5].str() + ":" + match[6].str()};
}

bool is_results_file_name(std::string_view file_name) {
  return parse_results_file_name(file_name).has_value();
}

}  // namespace quenda::results
