#include "results_file.h"

#include <charconv>
#include <istream>
#include <regex>
#include <streambuf>
#include <utility>

#include "text_escape.h"

namespace quenda::results {
namespace {

// The collector writes its title first; later versions of the benchmark
// change only the date at its end.
constexpr std::string_view kTitlePrefix =
    "Torvane :: Lumicrest Benchmark Quenda Lite for Windows Clusters";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kFileNamePrefix = "results_quenda_lite_windows_clusters @ ";

constexpr std::string_view kClusterSection = "Multi-Thread Enabled:";
constexpr std::string_view kStreamHeading = "Power of Handling Files -- Lower";
constexpr std::string_view kDescriptorHeading = "Power of Handling Files -- Higher";
constexpr std::string_view kBytewiseHeading = "Low writing and reading speeds:";
constexpr std::string_view kBlockHeading = "High writing and reading speeds:";

// Time-line endings: the single-process read lines end in a colon, the
// workers' in a full stop.
constexpr std::string_view kSecs = " Secs.";
constexpr std::string_view kSecsToWrite = " Secs. to Write.";
constexpr std::string_view kSecsToReadSingle = " Secs. to Read:";
constexpr std::string_view kSecsToReadWorker = " Secs. to Read.";

constexpr std::string_view kSpent = " The system spent: ";
constexpr std::string_view kProcess = " The system could process ";
constexpr std::string_view kItWas = " It was: ";

// Longest quotation of a file's line in an error message; what was expected
// there is quoted whole.
constexpr std::size_t kQuoteLength = 80;

std::string quote(std::string_view text, std::size_t limit = kQuoteLength) {
  std::string quoted = "'" + printable(text.substr(0, limit));
  if (text.size() > limit) quoted += "...";
  quoted += "'";
  return quoted;
}

std::string quote_whole(std::string_view text) { return quote(text, std::string_view::npos); }

// A number as the report's streams print it: general notation, or "inf",
// "nan" and their negative forms.
std::optional<double> parse_number(std::string_view token) {
  if (token.empty()) return std::nullopt;
  double value = 0.0;
  const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
  if (error != std::errc() || end != token.data() + token.size()) return std::nullopt;
  return value;
}

// A count as "Thread(s): " shows it.
std::optional<int> parse_count(std::string_view token) {
  int value = 0;
  const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
  if (token.empty() || error != std::errc() || end != token.data() + token.size()) {
    return std::nullopt;
  }
  return value;
}

// The number between `prefix` and `suffix` when the line is exactly that.
std::optional<double> number_between(std::string_view line, std::string_view prefix,
                                     std::string_view suffix) {
  if (line.size() < prefix.size() + suffix.size()) return std::nullopt;
  if (!line.starts_with(prefix) || !line.ends_with(suffix)) return std::nullopt;
  return parse_number(line.substr(prefix.size(), line.size() - prefix.size() - suffix.size()));
}

// A worker's line: "Thread:<rank>" (file handling) or "Thread:<rank>@<name>"
// (the other tests), then `marker` and the rest. The processor name may hold
// anything, so the marker is searched from the end.
struct ThreadLine {
  std::uint64_t rank = 0;
  std::string_view from_marker;
};

std::optional<ThreadLine> split_thread_line(std::string_view line, bool named,
                                            std::string_view marker) {
  constexpr std::string_view kThread = "Thread:";
  if (!line.starts_with(kThread)) return std::nullopt;
  const char* digits = line.data() + kThread.size();
  const char* end = line.data() + line.size();
  ThreadLine thread;
  const auto [after, error] = std::from_chars(digits, end, thread.rank);
  if (error != std::errc() || after == digits) return std::nullopt;
  const std::string_view rest(after, static_cast<std::size_t>(end - after));
  if (named) {
    if (!rest.starts_with('@')) return std::nullopt;
    const std::size_t at = rest.rfind(marker);
    if (at == std::string_view::npos || at == 0) return std::nullopt;
    thread.from_marker = rest.substr(at);
  } else {
    if (!rest.starts_with(marker)) return std::nullopt;
    thread.from_marker = rest;
  }
  return thread;
}

// The file ended before the report did: a run that was stopped.
struct EndOfFile {
  int line;
  std::string reason;
};

// Far longer than any line of a results file (the longest holds a
// processor name, which MPI caps at a few hundred bytes); what a longer line
// holds past this is skipped unread into memory.
constexpr std::size_t kLongestLine = 64 * 1024;

// One line as read: its text without the line end, whether the file ended
// before its line end, and whether it was longer than kLongestLine.
struct Line {
  std::string text;
  bool cut = false;
  bool too_long = false;
};

// The file's complete lines, one at a time, read as they are needed: the
// parser never holds more than the line it looks at and the one after, so
// that a file of millions of lines costs no more memory than a short one.
// A last line without its line end was cut while being written and is never
// handed out.
class LineReader {
 public:
  explicit LineReader(std::istream& in) : in_(*in.rdbuf()) { ahead_ = read(); }

  // The first line, complete or not, before anything is taken; nothing for
  // an empty file.
  const std::optional<Line>& first_line() const { return ahead_; }

  // The number of the line that take() hands out next.
  int next_number() const { return taken_ + 1; }

  std::optional<std::string_view> peek() const {
    if (!ahead_ || ahead_->cut) return std::nullopt;
    return std::string_view(ahead_->text);
  }

  // The next line, valid until the next call; at the end of the file, says
  // what was expected there.
  std::string_view take(std::string_view section, std::string_view expected) {
    if (ahead_ && !ahead_->cut) {
      if (ahead_->too_long) {
        throw ParseError(next_number(), "the line is longer than " + std::to_string(kLongestLine) +
                                            " bytes, which no line of a results file is");
      }
      current_ = std::move(ahead_->text);
      ++taken_;
      ahead_ = read();
      return current_;
    }
    if (ahead_) {
      throw EndOfFile{next_number(), "the line is cut short (it has no line end), in " +
                                         std::string(section) + "; expected " +
                                         std::string(expected)};
    }
    throw EndOfFile{std::max(next_number() - 1, 1), "the file ends after this line, in " +
                                                        std::string(section) + "; expected " +
                                                        std::string(expected)};
  }

  // Lines left after the report: blank ones are harmless, anything else is
  // not the benchmark's. Reads to the end of the file.
  std::optional<int> first_trailing_text() {
    for (int number = next_number(); ahead_; ++number, ahead_ = read()) {
      if (!ahead_->text.empty() || ahead_->too_long) return number;
    }
    return std::nullopt;
  }

 private:
  std::optional<Line> read() {
    Line line;
    bool any = false;
    for (;;) {
      const int c = in_.sbumpc();
      if (c == std::char_traits<char>::eof()) {
        line.cut = true;
        break;
      }
      any = true;
      if (c == '\n') break;
      if (line.text.size() < kLongestLine) {
        line.text += static_cast<char>(c);
      } else {
        line.too_long = true;
      }
    }
    if (!any) return std::nullopt;
    // Results files written on Windows end their lines in CR LF.
    if (!line.cut && !line.too_long && line.text.ends_with('\r')) line.text.pop_back();
    return line;
  }

  std::streambuf& in_;
  std::optional<Line> ahead_;  // read, not yet taken
  std::string current_;        // the line take() handed out last
  int taken_ = 0;
};

// Which verdict wording a test uses: the file-handling tests say nothing
// about the kind of access, the others name it ("low writing", ...).
std::string significant_verdict(std::string_view kind) {
  if (kind.empty()) {
    return "Among all nodes, the performance differences of threads tend to be significant.";
  }
  return "Among all nodes, " + std::string(kind) +
         " the performance differences of threads tend to be significant.";
}

std::string not_significant_verdict(std::string_view kind) {
  if (kind.empty()) {
    return "Among all nodes, the performance differences of threads tend to be not significant.";
  }
  return "Among all nodes, " + std::string(kind) +
         " performance differences of threads tend to be not significant.";
}

// Walks the report from top to bottom, filling `run` as it goes, so that a
// file that ends early leaves everything read so far in place.
class Parser {
 public:
  Parser(std::istream& in, RunResults& run) : reader_(in), run_(run) {}

  void parse_header() {
    section_ = "the header";
    // Checked before anything else is read, so that a file of some other
    // kind is called that rather than "cut short", and a huge one is
    // refused after its first line.
    const std::optional<Line>& first = reader_.first_line();
    if (!first) throw ParseError(1, "the file is empty; not a results file");
    std::string_view title = first->text;
    if (title.starts_with(kByteOrderMark)) {
      throw ParseError(1,
                       "the file starts with a byte-order mark (EF BB BF), which the benchmark "
                       "never writes; remove it and convert again");
    }
    if (title.starts_with(kTitlePrefix)) {
      // A complete line has lost its CR LF's CR already.
      if (title.find('\r') != std::string_view::npos) {
        throw ParseError(1,
                         "the lines end in a carriage return alone (CR, as on classic Mac OS); "
                         "the benchmark ends them in LF or CR LF");
      }
    }
    if (first->cut && !first->too_long &&
        (title.starts_with(kTitlePrefix) || kTitlePrefix.starts_with(title))) {
      throw ParseError(1, "the title line is cut short (the file ends before its line end)");
    }
    if (!title.starts_with(kTitlePrefix)) {
      throw ParseError(1, "not a Quenda Lite results file: the first line is " + quote(title) +
                              ", not the benchmark's title");
    }
    run_.benchmark = std::string(reader_.take(section_, "the benchmark's title"));
    blank();
    threads_line_ = reader_.next_number();
    const std::string_view line = reader_.take(section_, "'Thread(s): <count>'");
    constexpr std::string_view kThreads = "Thread(s): ";
    const auto count =
        line.starts_with(kThreads) ? parse_count(line.substr(kThreads.size())) : std::nullopt;
    if (!count || *count < 1) {
      throw ParseError(threads_line_,
                       "expected 'Thread(s): <count of at least 1>', found " + quote(line));
    }
    run_.threads = *count;
  }

  void parse_report() {
    blank();
    exact("Force to be single thread.");
    blank();

    handling_single(TestId::kStreamHandling, kStreamHeading);
    handling_single(TestId::kDescriptorHandling, kDescriptorHeading);

    section_ = "the single-process byte-wise tests";
    exact(kBytewiseHeading);
    blank();
    access_single(TestId::kBytewiseWrite, kSecsToWrite);
    access_single(TestId::kBytewiseRead, kSecsToReadSingle);
    blank();
    section_ = "the single-process block tests";
    exact(kBlockHeading);
    blank();
    access_single(TestId::kBlockRead, kSecsToReadSingle);
    access_single(TestId::kBlockWrite, kSecsToWrite);
    blank();
    blank();

    section_ = "the cluster file-handling tests";
    exact(kClusterSection);
    handling_cluster(TestId::kStreamHandling, kStreamHeading);
    handling_cluster(TestId::kDescriptorHandling, kDescriptorHeading);

    section_ = "the cluster byte-wise tests";
    exact(kClusterSection);
    exact(kBytewiseHeading);
    blank();
    access_workers(TestId::kBytewiseWrite, kSecsToWrite, kSecsToReadWorker);
    access_workers(TestId::kBytewiseRead, kSecsToReadWorker, kSecsToWrite);
    section_ = "the cluster byte-wise summary";
    blank();
    blank();
    access_totals(TestId::kBytewiseWrite, "to Write", "writing");
    access_totals(TestId::kBytewiseRead, "to Read", "reading");
    blank();
    blank();
    access_mean(TestId::kBytewiseWrite, "low writing", " MB/sec.");
    blank();
    access_mean(TestId::kBytewiseRead, "low reading", "  MB/sec.");
    blank();

    section_ = "the cluster block tests";
    exact(kClusterSection);
    exact(kBlockHeading);
    blank();
    access_workers(TestId::kBlockRead, kSecsToReadWorker, kSecsToWrite);
    access_workers(TestId::kBlockWrite, kSecsToWrite, kSecsToReadWorker);
    section_ = "the cluster block summary";
    blank();
    access_totals(TestId::kBlockWrite, "to Write", "writing");
    access_totals(TestId::kBlockRead, "to Read", "reading");
    blank();
    blank();
    access_mean(TestId::kBlockWrite, "high writing", "  MB/sec.");
    blank();
    access_mean(TestId::kBlockRead, "high reading", "  MB/sec.");
    blank();

    if (const auto line = reader_.first_trailing_text()) {
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

  void exact(std::string_view expected) {
    const int number = reader_.next_number();
    const std::string expected_quoted = quote_whole(expected);
    const std::string_view line = reader_.take(section_, expected_quoted);
    if (line != expected) mismatch(number, expected_quoted, line);
  }

  void blank() { exact(""); }

  double number_line(std::string_view prefix, std::string_view suffix) {
    const int number = reader_.next_number();
    const std::string expected =
        quote_whole(std::string(prefix) + "<number>" + std::string(suffix));
    const std::string_view line = reader_.take(section_, expected);
    const auto value = number_between(line, prefix, suffix);
    if (!value) mismatch(number, expected, line);
    return *value;
  }

  bool verdict(std::string_view kind) {
    const int number = reader_.next_number();
    const std::string expected = "a verdict on the differences between threads";
    const std::string_view line = reader_.take(section_, expected);
    if (line == significant_verdict(kind)) return true;
    if (line == not_significant_verdict(kind)) return false;
    mismatch(number, expected, line);
  }

  void handling_single(TestId id, std::string_view heading) {
    section_ = "the single-process " + std::string(test_key(id)) + " test";
    TestResults& results = test(id);
    exact(heading);
    blank();
    results.single.seconds = number_line("The system spent: ", kSecs);
    results.single.files_per_sec = number_line("The system could process  ", " Files/sec.");
    blank();
  }

  void access_single(TestId id, std::string_view time_suffix) {
    Figures& single = test(id).single;
    single.seconds = number_line("The system spent: ", time_suffix);
    single.million_accesses_per_sec = number_line("It was: ", " Millions Accesses/sec.");
    single.mb_per_sec = number_line("Conventionally, it was: ", " MB/sec.");
  }

  std::string threads_said() const {
    return "line " + std::to_string(threads_line_) +
           " says 'Thread(s): " + std::to_string(run_.threads) + "', which means " +
           std::to_string(workers()) + " worker(s)";
  }

  // The time of worker `rank`, from its first line. A line that ends the
  // list instead (`ends_list`) means the file lists fewer workers than its
  // thread count says.
  template <typename EndsList>
  double worker_seconds(std::uint64_t rank, bool named, std::string_view suffix,
                        EndsList&& ends_list) {
    const int number = reader_.next_number();
    const std::string expected =
        quote_whole("Thread:" + std::to_string(rank) + (named ? "@..." : "") + std::string(kSpent) +
                    "<number>" + std::string(suffix));
    const std::string_view line = reader_.take(section_, expected);
    const auto thread = split_thread_line(line, named, kSpent);
    if (!thread || !thread->from_marker.ends_with(suffix)) {
      if (ends_list(line)) {
        throw ParseError(number, "this section lists " + std::to_string(rank - 1) +
                                     " worker(s), but " + threads_said());
      }
      mismatch(number, expected, line);
    }
    if (thread->rank != rank) {
      throw ParseError(number, "expected thread " + std::to_string(rank) + " in " + section_ +
                                   ", found thread " + std::to_string(thread->rank));
    }
    const auto seconds = number_between(thread->from_marker, kSpent, suffix);
    if (!seconds) mismatch(number, expected, line);
    return *seconds;
  }

  // After the last worker, one more time line of the same kind means the
  // file lists more workers than its thread count says.
  void no_further_worker(bool named, std::string_view suffix) {
    const auto line = reader_.peek();
    if (!line) return;
    const auto thread = split_thread_line(*line, named, kSpent);
    if (thread && thread->from_marker.ends_with(suffix)) {
      throw ParseError(reader_.next_number(),
                       "this section lists more than " + std::to_string(workers()) +
                           " worker(s) (thread " + std::to_string(thread->rank) + " here), but " +
                           threads_said());
    }
  }

  // The rest of a worker line after its thread prefix, as a number.
  double worker_number(std::uint64_t rank, bool named, std::string_view marker,
                       std::string_view suffix) {
    const int number = reader_.next_number();
    const std::string expected =
        quote_whole("Thread:" + std::to_string(rank) + (named ? "@..." : "") + std::string(marker) +
                    "<number>" + std::string(suffix));
    const std::string_view line = reader_.take(section_, expected);
    const auto thread = split_thread_line(line, named, marker);
    if (!thread || thread->rank != rank) mismatch(number, expected, line);
    const auto value = number_between(thread->from_marker, marker, suffix);
    if (!value) mismatch(number, expected, line);
    return *value;
  }

  void handling_cluster(TestId id, std::string_view heading) {
    section_ = "the cluster " + std::string(test_key(id)) + " section";
    TestResults& results = test(id);
    exact(heading);
    blank();
    const auto ends_list = [](std::string_view line) { return line.starts_with("Overall, "); };
    for (int i = 1; i <= workers(); ++i) {
      const auto rank = static_cast<std::uint64_t>(i);
      const double seconds = worker_seconds(rank, false, kSecs, ends_list);
      results.workers.push_back(WorkerFigures{.rank = rank, .figures = {}});
      results.workers.back().figures.seconds = seconds;
      results.workers.back().figures.files_per_sec =
          worker_number(rank, false, kProcess, " Files/sec.");
    }
    no_further_worker(false, kSecs);
    results.total.files_per_sec = number_line("Overall, The system could process: ", " Files/sec.");
    results.improvement = number_line("Multi-Thread Improvements: ", " times.");
    blank();
    if (workers() > 0) {
      blank();
      results.mean.files_per_sec =
          number_line("Among all nodes, the average process per thread was: ", " Files/sec.");
      results.significant = verdict("");
    }
    blank();
  }

  // One access test's worker triples. The list ends at a blank line or at
  // the first worker line of the test that follows (`next_suffix`).
  void access_workers(TestId id, std::string_view suffix, std::string_view next_suffix) {
    TestResults& results = test(id);
    const auto ends_list = [next_suffix](std::string_view line) {
      const auto thread = split_thread_line(line, true, kSpent);
      return line.empty() || (thread && thread->from_marker.ends_with(next_suffix));
    };
    for (int i = 1; i <= workers(); ++i) {
      const auto rank = static_cast<std::uint64_t>(i);
      const double seconds = worker_seconds(rank, true, suffix, ends_list);
      results.workers.push_back(WorkerFigures{.rank = rank, .figures = {}});
      results.workers.back().figures.seconds = seconds;
      Figures& figures = results.workers.back().figures;
      figures.million_accesses_per_sec =
          worker_number(rank, true, kItWas, " Millions Accesses/sec.");
      figures.mb_per_sec = number_line("Conventionally, it was: ", " MB/sec.");
    }
    no_further_worker(true, suffix);
  }

  void access_totals(TestId id, std::string_view direction, std::string_view activity) {
    TestResults& results = test(id);
    results.total.million_accesses_per_sec =
        number_line("Overall, It was: ", " Millions Accesses/sec." + std::string(direction));
    results.total.mb_per_sec =
        number_line("Conventionally, total " + std::string(activity) + " speed was: ", " MB/sec.");
    results.improvement = number_line("Multi-Thread Improvements: ", " times.");
  }

  void access_mean(TestId id, std::string_view kind, std::string_view suffix) {
    TestResults& results = test(id);
    results.mean.mb_per_sec = number_line(
        "Among all nodes, the average " + std::string(kind) + " process per thread was: ", suffix);
    results.significant = verdict(kind);
  }

  LineReader reader_;
  RunResults& run_;
  std::string section_;
  int threads_line_ = 0;
};

struct TestInfo {
  std::string_view key;
  std::string_view label;
  Measure measure;
};

constexpr std::array<TestInfo, kTestCount> kTestInfo{{
    {"stream_handling", "Handling files: streams (Lower)", Measure::kFiles},
    {"descriptor_handling", "Handling files: descriptors (Higher)", Measure::kFiles},
    {"bytewise_write", "Low speed: byte-wise writing", Measure::kAccesses},
    {"bytewise_read", "Low speed: byte-wise reading", Measure::kAccesses},
    {"block_read", "High speed: block reading", Measure::kAccesses},
    {"block_write", "High speed: block writing", Measure::kAccesses},
}};

}  // namespace

Measure measure_of(TestId test) { return kTestInfo[static_cast<int>(test)].measure; }
std::string_view test_key(TestId test) { return kTestInfo[static_cast<int>(test)].key; }
std::string_view test_label(TestId test) { return kTestInfo[static_cast<int>(test)].label; }

RunResults parse_results(std::istream& in, std::string_view file_name,
                         const ParseOptions& options) {
  RunResults run;
  run.source_file = std::string(file_name);
  run.metadata = parse_results_file_name(file_name);
  for (int i = 0; i < kTestCount; ++i) run.tests[i].id = kAllTests[i];

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

RunResults parse_results(std::string_view text, std::string_view file_name,
                         const ParseOptions& options) {
  // Reads the text where it is, without a copy.
  struct ViewBuffer : std::streambuf {
    explicit ViewBuffer(std::string_view view) {
      char* begin = const_cast<char*>(view.data());
      setg(begin, begin, begin + view.size());
    }
  } buffer(text);
  std::istream in(&buffer);
  return parse_results(in, file_name, options);
}

std::optional<NameMetadata> parse_results_file_name(std::string_view file_name) {
  if (!file_name.starts_with(kFileNamePrefix)) return std::nullopt;
  static const std::regex kDateAndTime(
      R"( @ local date (\d+)\.(\d\d)\.(\d\d) time (\d\d)\.(\d\d)\.(\d\d)\.txt$)");
  const std::string name(file_name);
  std::smatch match;
  if (!std::regex_search(name, match, kDateAndTime)) return std::nullopt;
  const auto name_end = static_cast<std::size_t>(match.position(0));
  if (name_end < kFileNamePrefix.size()) return std::nullopt;
  NameMetadata metadata;
  metadata.processor_name = name.substr(kFileNamePrefix.size(), name_end - kFileNamePrefix.size());
  metadata.local_date = match[1].str() + "-" + match[2].str() + "-" + match[3].str();
  metadata.local_time = match[4].str() + ":" + match[5].str() + ":" + match[6].str();
  return metadata;
}

bool is_results_file_name(std::string_view file_name) {
  return parse_results_file_name(file_name).has_value();
}

}  // namespace quenda::results
