#include "read/results_file.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <tuple>
#include <utility>

#include "file_names.h"
#include "report_texts.h"
#include "write/text_escape.h"

namespace quenda::results {
namespace {

namespace t = quenda::texts;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Far longer than any line of a results file (the longest holds a processor
// name, which MPI caps at a few hundred bytes).
constexpr std::size_t kLongestLine = 64 * 1024;

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
// (the other tests), then " ", `marker` and the rest, which ends in
// `suffix`. The processor name may hold anything, so the marker is searched
// from the end.
struct ThreadLine {
  std::uint64_t rank = 0;
  std::string_view from_marker;
};

std::optional<ThreadLine> split_thread_line(std::string_view line, bool named,
                                            std::string_view marker, std::string_view suffix) {
  if (!line.starts_with(t::kThread)) return std::nullopt;
  line.remove_prefix(std::string_view(t::kThread).size());
  const std::size_t digits = std::min(line.find_first_not_of("0123456789"), line.size());
  const auto rank = parse_number<std::uint64_t>(line.substr(0, digits));
  if (!rank) return std::nullopt;
  const std::string_view rest = line.substr(digits);
  std::string spaced(1, ' ');  // not " " + marker, of which GCC 12 warns falsely (-Wrestrict)
  spaced += marker;
  const std::size_t at = named ? rest.rfind(spaced) : 0;
  if (named ? !rest.starts_with('@') || at == std::string_view::npos || at == 0
            : !rest.starts_with(spaced)) {
    return std::nullopt;
  }
  const ThreadLine thread{*rank, rest.substr(at + 1)};
  if (!thread.from_marker.ends_with(suffix)) return std::nullopt;
  return thread;
}

// The file ended before the report did: a run that was stopped.
struct EndOfFile : ParseError {
  using ParseError::ParseError;
};

// A few facts of the two access-test sections, byte-wise and block, that
// the report lays out alike.
struct AccessSection {
  std::string_view name;
  std::string_view heading;
  TestId first;  // the test listed first; the summary lists writing first
  TestId second;
  int blanks_before_totals;
  std::string_view write_kind;
  std::string_view write_mean_suffix;
  std::string_view read_kind;
};

constexpr AccessSection kBytewise{
    "byte-wise", t::kBytewiseHeading, TestId::kBytewiseWrite, TestId::kBytewiseRead,
    2,           t::kLowWriting,      t::kMbPerSec,           t::kLowReading};
constexpr AccessSection kBlock{"block", t::kBlockHeading, TestId::kBlockRead, TestId::kBlockWrite,
                               1,       t::kHighWriting,  t::kMbPerSecWide,   t::kHighReading};

bool writes(TestId id) { return id == TestId::kBytewiseWrite || id == TestId::kBlockWrite; }

// Walks the report from top to bottom, a line at a time, filling `run` as it
// goes, so that a file that ends early leaves everything read so far in
// place.
class Parser {
 public:
  Parser(std::istream& in, RunResults& run) : in_(in), buffer_(kLongestLine + 1, '\0'), run_(run) {}

  void parse() {
    // The first line is checked before anything else is read, so that a
    // file of some other kind is called that rather than "cut short", and a
    // huge one is refused after its first line.
    const State state = read();
    if (state == State::kEnd) throw ParseError(1, "the file is empty; not a results file");
    const std::string_view title = line_;
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
    if (state == State::kCut && (title.starts_with(start) || start.starts_with(title))) {
      throw ParseError(1, "the title line is cut short (the file ends before its line end)");
    }
    if (!title.starts_with(start)) {
      throw ParseError(1, "not a Quenda Lite results file: the first line is " + quoted(title) +
                              ", not the benchmark's title");
    }
    run_.benchmark = std::string(title);
    section_ = "the header";
    blank();
    const std::string_view line = next("'Thread(s): <count>'");
    const std::string_view threads = t::kThreads;
    const auto count =
        line.starts_with(threads) ? parse_number<int>(line.substr(threads.size())) : std::nullopt;
    if (!count || *count < 1) {
      throw ParseError(number_,
                       "expected 'Thread(s): <count of at least 1>', found " + quoted(line));
    }
    run_.threads = *count;
    threads_line_ = number_;

    blank();
    exact(t::kSingleSection);
    blank();
    handling_single(TestId::kStreamHandling, t::kStreamHeading);
    handling_single(TestId::kDescriptorHandling, t::kDescriptorHeading);
    access_single(kBytewise);
    access_single(kBlock);
    blank();

    section_ = "the cluster file-handling tests";
    exact(t::kClusterSection);
    handling_cluster(TestId::kStreamHandling, t::kStreamHeading);
    handling_cluster(TestId::kDescriptorHandling, t::kDescriptorHeading);
    access_cluster(kBytewise);
    access_cluster(kBlock);

    // Blank lines after the report are harmless, anything else is not the
    // benchmark's.
    for (State state; (state = read()) != State::kEnd;) {
      if (!line_.empty() || state == State::kTooLong) {
        throw ParseError(number_, "unexpected text after the end of the report");
      }
    }
  }

 private:
  enum class State { kLine, kEnd, kCut, kTooLong };  // kCut: no line end

  // Reads the next line into `line_` (or the same one again after
  // `again_` was set). What a line longer than kLongestLine holds past
  // that is skipped unread into memory.
  State read() {
    if (again_) {
      again_ = false;
      return state_;
    }
    in_.getline(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    const auto count = static_cast<std::size_t>(in_.gcount());
    line_ = {};
    if (count == 0) return state_ = State::kEnd;
    ++number_;
    if (in_.fail() && !in_.eof()) {
      in_.clear();
      in_.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
      return state_ = State::kTooLong;
    }
    const bool cut = in_.eof();
    line_ = std::string_view(buffer_.data(), cut ? count : count - 1);
    // Results files written on Windows end their lines in CR LF.
    if (!cut && line_.ends_with('\r')) line_.remove_suffix(1);
    return state_ = cut ? State::kCut : State::kLine;
  }

  TestResults& test(TestId id) { return run_.tests[static_cast<int>(id)]; }
  int workers() const { return run_.worker_count(); }

  // The next line; at the end of the file, or where the line is cut short,
  // says what was expected there.
  std::string_view next(std::string_view expected) {
    const std::string where = ", in " + section_ + "; expected " + std::string(expected);
    switch (read()) {
      case State::kEnd:
        throw EndOfFile(std::max(number_, 1), "the file ends after this line" + where);
      case State::kCut:
        throw EndOfFile(number_, "the line is cut short (it has no line end)" + where);
      case State::kTooLong:
        throw ParseError(number_, "the line is longer than " + std::to_string(kLongestLine) +
                                      " bytes, which no line of a results file is");
      case State::kLine:
        break;
    }
    return line_;
  }

  // The last line read is not `expected`.
  [[noreturn]] void mismatch(std::string_view expected, std::string_view found) const {
    throw ParseError(number_, "expected " + std::string(expected) + " in " + section_ + ", found " +
                                  quoted(found));
  }

  void exact(std::string_view expected) {
    const std::string whole = quoted(expected, std::string_view::npos);
    const std::string_view line = next(whole);
    if (line != expected) mismatch(whole, line);
  }

  void blank() { exact(""); }

  double number_line(std::string_view prefix, std::string_view suffix) {
    const std::string expected =
        quoted(std::string(prefix) + "<number>" + std::string(suffix), std::string_view::npos);
    const std::string_view line = next(expected);
    const auto value = number_between(line, prefix, suffix);
    if (!value) mismatch(expected, line);
    return *value;
  }

  bool verdict(std::string_view kind) {
    const std::string_view expected = "a verdict on the differences between threads";
    const std::string_view line = next(expected);
    const bool significant = line == t::verdict_text(kind, true);
    if (!significant && line != t::verdict_text(kind, false)) mismatch(expected, line);
    return significant;
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

  void access_single(const AccessSection& section) {
    section_ = "the single-process " + std::string(section.name) + " tests";
    exact(section.heading);
    blank();
    for (const TestId id : {section.first, section.second}) {
      Figures& single = test(id).single;
      single.seconds = number_line(t::kSpent, writes(id) ? t::kSecsToWrite : t::kSecsToReadSingle);
      single.million_accesses_per_sec = number_line(t::kItWas, t::kAccessesPerSec);
      single.mb_per_sec = number_line(t::kConventionally, t::kMbPerSec);
    }
    blank();
  }

  std::string threads_said() const {
    return "line " + std::to_string(threads_line_) +
           " says 'Thread(s): " + std::to_string(run_.threads) + "', which means " +
           std::to_string(workers()) + " worker(s)";
  }

  // The number after `marker` on worker `rank`'s line. On the worker's first
  // line (`first`), a line that starts the part after the list means the
  // file lists fewer workers than its thread count says: "Overall, ..."
  // after file handling's list, a blank line or the next test's first time
  // line (`next_suffix`) after an access test's.
  double worker_number(std::uint64_t rank, bool named, std::string_view marker,
                       std::string_view suffix, bool first = false,
                       std::string_view next_suffix = {}) {
    const std::string expected =
        quoted(t::kThread + std::to_string(rank) + (named ? "@... " : " ") + std::string(marker) +
                   "<number>" + std::string(suffix),
               std::string_view::npos);
    const std::string_view line = next(expected);
    const auto thread = split_thread_line(line, named, marker, suffix);
    const bool ends_list =
        named ? line.empty() || split_thread_line(line, true, t::kSpent, next_suffix)
              : line.starts_with("Overall, ");
    if (first && !thread && ends_list) {
      throw ParseError(number_, "this section lists " + std::to_string(rank - 1) +
                                    " worker(s), but " + threads_said());
    }
    if (first && thread && thread->rank != rank) {
      throw ParseError(number_, "expected thread " + std::to_string(rank) + " in " + section_ +
                                    ", found thread " + std::to_string(thread->rank));
    }
    const auto value = thread && thread->rank == rank
                           ? number_between(thread->from_marker, marker, suffix)
                           : std::nullopt;
    if (!value) mismatch(expected, line);
    return *value;
  }

  // One test's workers: a time line and a rate line each (the access tests'
  // `named` and followed by an MB/sec line). One more time line of the same
  // kind after the last worker means more workers than the thread count says.
  void worker_list(TestId id, bool named, std::string_view time_suffix,
                   std::string_view next_suffix = {}) {
    for (std::uint64_t rank = 1; rank <= static_cast<std::uint64_t>(workers()); ++rank) {
      // A worker is listed from its first line on, not before.
      const double seconds = worker_number(rank, named, t::kSpent, time_suffix, true, next_suffix);
      WorkerFigures& worker = test(id).workers.emplace_back();
      worker.rank = rank;
      Figures& figures = worker.figures;
      figures.seconds = seconds;
      if (!named) {
        figures.files_per_sec = worker_number(rank, false, t::kProcess, t::kFilesPerSec);
        continue;
      }
      figures.million_accesses_per_sec = worker_number(rank, true, t::kItWas, t::kAccessesPerSec);
      figures.mb_per_sec = number_line(t::kConventionally, t::kMbPerSec);
    }
    const State state = read();
    again_ = true;
    const auto thread = state == State::kLine
                            ? split_thread_line(line_, named, t::kSpent, time_suffix)
                            : std::nullopt;
    if (thread) {
      throw ParseError(number_, "this section lists more than " + std::to_string(workers()) +
                                    " worker(s) (thread " + std::to_string(thread->rank) +
                                    " here), but " + threads_said());
    }
  }

  void handling_cluster(TestId id, std::string_view heading) {
    section_ = "the cluster " + std::string(test_key(id)) + " section";
    TestResults& results = test(id);
    exact(heading);
    blank();
    worker_list(id, false, t::kSecs);
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

  void access_cluster(const AccessSection& section) {
    section_ = "the cluster " + std::string(section.name) + " tests";
    exact(t::kClusterSection);
    exact(section.heading);
    blank();
    for (const auto& [id, other] :
         {std::pair{section.first, section.second}, std::pair{section.second, section.first}}) {
      worker_list(id, true, writes(id) ? t::kSecsToWrite : t::kSecsToReadWorker,
                  writes(other) ? t::kSecsToWrite : t::kSecsToReadWorker);
    }
    section_ = "the cluster " + std::string(section.name) + " summary";
    for (int i = 0; i < section.blanks_before_totals; ++i) blank();
    const TestId write = writes(section.first) ? section.first : section.second;
    const TestId read = writes(section.first) ? section.second : section.first;
    for (const auto& [id, direction, total_start] :
         {std::tuple{write, t::kToWrite, t::kTotalWriting},
          std::tuple{read, t::kToRead, t::kTotalReading}}) {
      TestResults& results = test(id);
      results.total.million_accesses_per_sec =
          number_line(t::kOverallAccesses, t::kAccessesPerSec + std::string(direction));
      results.total.mb_per_sec = number_line(total_start, t::kMbPerSec);
      results.improvement = number_line(t::kImprovements, t::kTimes);
    }
    blank();
    for (const auto& [id, kind, suffix] :
         {std::tuple{write, section.write_kind, section.write_mean_suffix},
          std::tuple{read, section.read_kind, std::string_view(t::kMbPerSecWide)}}) {
      blank();
      test(id).mean.mb_per_sec = number_line(t::mean_start(kind), suffix);
      test(id).significant = verdict(kind);
    }
    blank();
  }

  std::istream& in_;
  std::string buffer_;
  std::string_view line_;  // the line read last, number_ in the file
  int number_ = 0;
  State state_ = State::kEnd;
  bool again_ = false;
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

  try {
    Parser(in, run).parse();
  } catch (const EndOfFile& end) {
    // Without the thread count there is nothing worth converting.
    if (!options.allow_partial || run.threads == 0) throw;
    run.partial = true;
    run.partial_reason = "line " + std::to_string(end.line()) + ": " + end.reason();
  }
  return run;
}

std::string quoted(std::string_view text, std::size_t limit) {
  // Appended in place, as in split_thread_line.
  std::string shown = "'";
  shown += printable(text.substr(0, limit));
  return shown += text.size() > limit ? "...'" : "'";
}

std::optional<NameMetadata> parse_results_file_name(std::string_view file_name) {
  const auto name = read_results_file_name(file_name);
  if (!name) return std::nullopt;
  NameMetadata metadata{std::string(name->processor_name), std::string(name->date),
                        std::string(name->time)};
  std::replace(metadata.local_date.begin(), metadata.local_date.end(), '.', '-');
  std::replace(metadata.local_time.begin(), metadata.local_time.end(), '.', ':');
  return metadata;
}

bool is_results_file_name(std::string_view file_name) {
  return parse_results_file_name(file_name).has_value();
}

}  // namespace quenda::results
