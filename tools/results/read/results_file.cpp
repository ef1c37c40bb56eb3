#include "read/results_file.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <system_error>
#include <tuple>
#include <utility>

#include "file_names.h"
#include "reason.h"
#include "report_texts.h"
#include "write/text_escape.h"

namespace quenda::results {
namespace {

namespace fs = std::filesystem;
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

constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                              1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// A figure read forward from `from` into `figure`, in a text ending in a line end: up to 15
// digits, with or without a point, and no exponent, its digits divided by an exact power of
// ten, which rounds as from_chars does. False for any other figure, which the exact reading
// takes.
bool figure_at(const char*& from, double& figure) {
  const char* at = from;
  const char* point = nullptr;
  std::uint64_t digits = 0;
  for (;; ++at) {
    const unsigned digit = static_cast<unsigned char>(*at) - 48u;
    if (digit >= 10 && (*at != '.' || point != nullptr)) break;
    digits = digit < 10 ? digits * 10 + digit : digits;
    point = digit < 10 ? point : at;
  }
  const auto count = at - from - (point ? 1 : 0);
  if (count == 0 || count > 15 || *at == 'e' || *at == 'E') return false;
  from = at;
  figure = static_cast<double>(digits) / kPowers[point ? at - point - 1 : 0];
  return true;
}

// A worker's line: "Thread:<rank>" (file handling) or "Thread:<rank>@<name>"
// (the other tests), then " ", `marker`, a number and `suffix`. The
// processor name may hold anything, the marker too, so the marker is found
// from the end: a number holds no blank, and every marker ends in one.
struct ThreadLine {
  std::uint64_t rank = 0;
  std::string_view number;  // not yet known to be one
};

std::optional<ThreadLine> split_thread_line(std::string_view line, bool named,
                                            std::string_view marker, std::string_view suffix) {
  const std::string_view thread = t::kThread;
  if (line.size() < thread.size() + suffix.size() || !line.starts_with(thread) ||
      !line.ends_with(suffix)) {
    return std::nullopt;
  }
  const char* from = line.data() + thread.size();
  const std::size_t size = line.size() - thread.size() - suffix.size();
  std::size_t digits = 0;
  while (digits < size && from[digits] >= '0' && from[digits] <= '9') ++digits;
  const auto rank = parse_number<std::uint64_t>(std::string_view(from, digits));
  const std::string_view rest(from + digits, size - digits);
  const std::size_t number = rest.rfind(' ') + 1;  // 0 where there is no blank
  if (!rank || number < marker.size() + 1) return std::nullopt;
  const std::size_t at = number - marker.size() - 1;  // the blank before the marker
  if (rest[at] != ' ' || std::string_view(rest.data() + at + 1, marker.size()) != marker ||
      (named ? at == 0 || rest[0] != '@' : at != 0)) {
    return std::nullopt;
  }
  return ThreadLine{*rank, std::string_view(rest.data() + number, rest.size() - number)};
}

// Text of a results file in single quotes for a message: printable, and cut
// after `limit` bytes with "...".
std::string quoted(std::string_view text, std::size_t limit = 80) {
  return "'" + printable(text.substr(0, limit)) + (text.size() > limit ? "...'" : "'");
}

// What the parser looks for on a line, put into words only when the line
// is something else, so that a line that is as expected costs no text.
struct Expected {
  enum class Kind { kExact, kNumber, kWorker, kWords };
  Kind kind;
  std::string_view text;  // the line, its prefix, its marker, or the words
  std::string_view suffix = {};
  std::uint64_t rank = 0;
  bool named = false;

  std::string words() const {
    if (kind == Kind::kWords) return std::string(text);
    std::string line = std::string(text) + "<number>" + std::string(suffix);
    if (kind == Kind::kExact) line = text;
    if (kind == Kind::kWorker)
      line = t::kThread + std::to_string(rank) + (named ? "@... " : " ") + line;
    return quoted(line, std::string_view::npos);
  }
};

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
  Parser(std::string_view text, RunResults& run, bool keep_workers)
      : text_(text), run_(run), keep_workers_(keep_workers) {}

  void parse() {
    // The first line is checked before anything else, so that a file of
    // some other kind is called that rather than "cut short".
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
    const std::string_view line = next({Expected::Kind::kWords, "'Thread(s): <count>'"});
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

  // Takes the next line into `line_` (or the same one again after
  // `again_` was set).
  State read() {
    if (again_) {
      again_ = false;
      return state_;
    }
    line_ = {};
    if (at_ == text_.size()) return state_ = State::kEnd;
    ++number_;
    const char* start = text_.data() + at_;
    const std::size_t left = text_.size() - at_;
    const auto* end = static_cast<const char*>(std::memchr(start, '\n', left));
    const bool cut = end == nullptr;
    const std::size_t length = cut ? left : static_cast<std::size_t>(end - start);
    at_ += cut ? length : length + 1;
    if (length > kLongestLine) return state_ = State::kTooLong;
    line_ = std::string_view(start, length);
    // Results files written on Windows end their lines in CR LF.
    if (!cut && line_.ends_with('\r')) line_.remove_suffix(1);
    return state_ = cut ? State::kCut : State::kLine;
  }

  TestResults& test(TestId id) { return run_.tests[static_cast<int>(id)]; }
  int workers() const { return run_.worker_count(); }

  // The next line; at the end of the file, or where the line is cut short,
  // says what was expected there.
  std::string_view next(const Expected& expected) {
    const State state = read();
    if (state != State::kLine) unreadable(state, expected);
    return line_;
  }

  [[noreturn]] void unreadable(State state, const Expected& expected) const {
    const std::string where = ", in " + section_ + "; expected " + expected.words();
    if (state == State::kEnd) {
      throw EndOfFile(std::max(number_, 1), "the file ends after this line" + where);
    }
    if (state == State::kCut) {
      throw EndOfFile(number_, "the line is cut short (it has no line end)" + where);
    }
    throw ParseError(number_, "the line is longer than " + std::to_string(kLongestLine) +
                                  " bytes, which no line of a results file is");
  }

  // The last line read is not `expected`.
  [[noreturn]] void mismatch(const Expected& expected, std::string_view found) const {
    throw ParseError(
        number_, "expected " + expected.words() + " in " + section_ + ", found " + quoted(found));
  }

  void exact(std::string_view line) {
    const Expected expected{Expected::Kind::kExact, line};
    if (next(expected) != line) mismatch(expected, line_);
  }

  void blank() { exact(""); }

  // The happy paths of number_line and worker_number stay small: what a
  // refusal needs is made in the functions that refuse.
  double number_line(std::string_view prefix, std::string_view suffix) {
    if (read() == State::kLine && line_.size() >= prefix.size() + suffix.size() &&
        line_.starts_with(prefix) && line_.ends_with(suffix)) {
      const std::size_t size = line_.size() - prefix.size() - suffix.size();
      if (const auto value = parse_number<double>(line_.substr(prefix.size(), size))) return *value;
    }
    refuse(Expected{Expected::Kind::kNumber, prefix, suffix});
  }

  // The same for texts known when compiling, the line first read ahead.
  template <const char* kPrefix, const char* kSuffix>
  double number_line() {
    if (double figure; ahead<kPrefix, kSuffix>(figure)) return figure;
    return number_line(kPrefix, kSuffix);
  }

  // The figure of the next line into `figure`, read forward without first finding its end,
  // where it is as the benchmark writes it: for a `rank` above 0 "Thread:<rank>",
  // "@" and a blank-free name when `named`, and " " (kept in `start` to be
  // compared on the worker's next line); kPrefix, a figure, kSuffix, the line
  // end. Any other line is left to read() and the exact checks after it.
  template <const char* kPrefix, const char* kSuffix>
  bool ahead(double& figure, std::uint64_t rank = 0, bool named = false,
             std::string_view* start = nullptr) {
    // The text's last byte, a line end, bounds every scan that stops at one.
    if (again_ || !text_.ends_with('\n')) return false;
    const char* const line = text_.data() + at_;
    const char* const end = text_.data() + text_.size();
    const char* at = line;
    if (rank != 0 && !start->empty()) {
      if (!take(at, end, *start)) return false;
    } else if (rank != 0) {
      if (!take(at, end, t::kThread)) return false;
      const char* const digits = at;
      std::uint64_t value = 0;
      for (unsigned d; (d = static_cast<unsigned char>(*at) - 48u) < 10; ++at)
        value = value * 10 + d;
      if (value != rank || at - digits > 19 || *at != (named ? '@' : ' ')) return false;
      while (*at != ' ' && *at != '\n') ++at;
      if (*at++ != ' ') return false;
      *start = std::string_view(line, static_cast<std::size_t>(at - line));
    }
    if (!take(at, end, kPrefix)) return false;
    if (!figure_at(at, figure) || !take(at, end, kSuffix)) return false;
    const char* const line_end = at;
    at += *at == '\r' ? 1 : 0;
    if (*at++ != '\n' || static_cast<std::size_t>(at - line - 1) > kLongestLine) {
      return false;
    }
    ++number_;
    at_ = static_cast<std::size_t>(at - text_.data());
    line_ = std::string_view(line, static_cast<std::size_t>(line_end - line));
    state_ = State::kLine;
    return true;
  }

  // Takes `text` at `at`; a constant text is compared without a library call, once inlined.
  static bool take(const char*& at, const char* end, std::string_view text) {
    if (static_cast<std::size_t>(end - at) < text.size() ||
        std::memcmp(at, text.data(), text.size()) != 0) {
      return false;
    }
    at += text.size();
    return true;
  }

  // The line read last is not `expected`, or no whole line was read.
  [[noreturn]] void refuse(const Expected& expected) const {
    if (state_ != State::kLine) unreadable(state_, expected);
    mismatch(expected, line_);
  }

  bool verdict(std::string_view kind) {
    const Expected expected{Expected::Kind::kWords, "a verdict on the differences between threads"};
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
  template <const char* kMarker, const char* kSuffix>
  double worker_number(std::uint64_t rank, bool named, std::string_view& start, bool first = false,
                       std::string_view next_suffix = {}) {
    if (double figure; ahead<kMarker, kSuffix>(figure, rank, named, &start)) return figure;
    if (read() == State::kLine) {
      const auto thread = split_thread_line(line_, named, kMarker, kSuffix);
      if (thread && thread->rank == rank) {
        if (const auto value = parse_number<double>(thread->number)) return *value;
      }
    }
    refuse_worker(rank, named, kMarker, kSuffix, first, next_suffix);
  }

  [[noreturn]] void refuse_worker(std::uint64_t rank, bool named, std::string_view marker,
                                  std::string_view suffix, bool first,
                                  std::string_view next_suffix) const {
    const Expected expected{Expected::Kind::kWorker, marker, suffix, rank, named};
    if (state_ != State::kLine) unreadable(state_, expected);
    const std::string_view line = line_;
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
    mismatch(expected, line);
  }

  // One test's workers: a time line and a rate line each (the access tests'
  // `named` and followed by an MB/sec line). One more time line of the same
  // kind after the last worker means more workers than the thread count says.
  template <const char* kTimeSuffix>
  void worker_list(TestId id, bool named, std::string_view next_suffix = {}) {
    // A file claiming millions of workers is refused once its list falls
    // short, not before, so the room is reserved for real counts only.
    if (keep_workers_) test(id).workers.reserve(std::min<std::size_t>(workers(), 1024));
    WorkerFigures unkept;
    for (std::uint64_t rank = 1; rank <= static_cast<std::uint64_t>(workers()); ++rank) {
      // A worker is listed from its first line on, not before.
      std::string_view start;
      const double seconds =
          worker_number<t::kSpent, kTimeSuffix>(rank, named, start, true, next_suffix);
      WorkerFigures& worker = keep_workers_ ? test(id).workers.emplace_back() : unkept;
      worker.rank = rank;
      Figures& figures = worker.figures;
      figures.seconds = seconds;
      if (!named) {
        figures.files_per_sec = worker_number<t::kProcess, t::kFilesPerSec>(rank, false, start);
        continue;
      }
      figures.million_accesses_per_sec =
          worker_number<t::kItWas, t::kAccessesPerSec>(rank, true, start);
      figures.mb_per_sec = number_line<t::kConventionally, t::kMbPerSec>();
    }
    const auto thread = read() == State::kLine
                            ? split_thread_line(line_, named, t::kSpent, kTimeSuffix)
                            : std::nullopt;
    again_ = true;
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
    worker_list<t::kSecs>(id, false);
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
      const std::string_view next = writes(other) ? t::kSecsToWrite : t::kSecsToReadWorker;
      writes(id) ? worker_list<t::kSecsToWrite>(id, true, next)
                 : worker_list<t::kSecsToReadWorker>(id, true, next);
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

  std::string_view text_;
  std::size_t at_ = 0;     // where the next line starts
  std::string_view line_;  // the line read last, number_ in the file
  int number_ = 0;
  State state_ = State::kEnd;
  bool again_ = false;
  RunResults& run_;
  std::string section_;
  int threads_line_ = 0;
  bool keep_workers_;
};

}  // namespace

RunResults parse_results(std::string_view text, std::string_view file_name,
                         const ParseOptions& options) {
  RunResults run;
  run.source_file = std::string(file_name);
  run.metadata = parse_results_file_name(file_name);
  for (int i = 0; i < kTestCount; ++i) run.tests[i].id = quenda::kTests[i].id;

  try {
    Parser(text, run, options.keep_workers).parse();
  } catch (const EndOfFile& end) {
    // Without the thread count there is nothing worth converting.
    if (!options.allow_partial || run.threads == 0) throw;
    run.partial = true;
    run.partial_reason = "line " + std::to_string(end.line()) + ": " + end.reason();
  }
  return run;
}

RunRead read_run(const fs::path& path, const ParseOptions& options, std::string& text) {
  const std::string name = printable(path.string());
  std::error_code error;
  if (!fs::is_regular_file(path, error)) {
    if (error == std::errc::no_such_file_or_directory) return name + ": error: no such file";
    if (error) return name + ": error: cannot read: " + error.message();
    return name + ": error: not a regular file";
  }
  const auto size = fs::file_size(path, error);
  if (error) return name + ": error: cannot read: " + error.message();
  if (size > kLargestResultsFile) {
    return name + ": error: too large for a results file (" + std::to_string(size) +
           " bytes; at most " + std::to_string(kLargestResultsFile) + ")";
  }
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return name + ": error: cannot open: " + reason_for(errno, "the library gives no reason");
  text.resize(static_cast<std::size_t>(size));
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (in.bad()) return name + ": error: cannot read";
  try {
    return parse_results(text, path.filename().string(), options);
  } catch (const ParseError& parse_error) {
    return name + ":" + std::to_string(parse_error.line()) + ": error: " + parse_error.reason();
  }
}

std::optional<RunResults> run_in(const fs::path& path, std::ostream& err) {
  std::string text;
  auto read = read_run(path, ParseOptions{}, text);
  if (auto* run = std::get_if<RunResults>(&read)) return std::move(*run);
  err << std::get<std::string>(read) << '\n';
  return std::nullopt;
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
