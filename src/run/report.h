// The report channel: every line the collector writes goes to the console and
// to the results file through this class. The two sinks are fed the same
// figures; where their wording differs, the caller writes each sink's line.
//
// Every line ends with std::endl, so both sinks are flushed line by line and
// the results file on disk is always current. Numbers use the streams'
// default formatting (six significant digits, general notation), which is
// never changed.
#ifndef QUENDA_RUN_REPORT_H_
#define QUENDA_RUN_REPORT_H_

#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <sstream>
#include <string>

namespace quenda {

enum class Sink { kConsole, kFile };

class Report {
 public:
  Report(std::ostream& console, std::ostream& file) : console_(console), file_(file) {}

  // Writes one line made of the given pieces to the console; no pieces make
  // an empty line.
  template <typename... Pieces>
  void console(const Pieces&... pieces) {
    write_line(console_, pieces...);
  }

  // Writes one line to the results file.
  template <typename... Pieces>
  void file(const Pieces&... pieces) {
    write_line(file_, pieces...);
  }

  // Writes one line to the given sink, for groups that each sink receives
  // in turn.
  template <typename... Pieces>
  void to(Sink sink, const Pieces&... pieces) {
    write_line(sink == Sink::kConsole ? console_ : file_, pieces...);
  }

  // Writes the same line to the console, then to the results file.
  template <typename... Pieces>
  void both(const Pieces&... pieces) {
    console(pieces...);
    file(pieces...);
  }

  // Writes a group of lines to the console, then the same group to the
  // results file.
  void group(std::initializer_list<std::string> lines) {
    for (const std::string& line : lines) console(line);
    for (const std::string& line : lines) file(line);
  }

  // The text of one line made of the given pieces, numbers formatted as the
  // sinks format them, for lines written more than once.
  template <typename... Pieces>
  static std::string text(const Pieces&... pieces) {
    std::ostringstream line;
    (line << ... << pieces);
    return line.str();
  }

 private:
  template <typename... Pieces>
  static void write_line(std::ostream& sink, const Pieces&... pieces) {
    (sink << ... << pieces) << std::endl;
  }

  std::ostream& console_;
  std::ostream& file_;
};

// A worker's rank as the per-worker lines show it: an unsigned decimal.
inline std::uint64_t worker_label(int rank) { return static_cast<std::uint64_t>(rank); }

// The working directory, "/" and the results-file name, for the closing line.
// A directory that could not be determined shows as "(null)".
std::string saved_path(const char* working_directory, const std::string& results_file_name);

// The banner, the thread count and the single-process section line.
void write_banner(Report& report, int world_size);

// "Multi-Thread Enabled:", which opens a cluster section.
void write_cluster_section(Report& report);

// The console's closing lines, naming where the results file was saved.
void write_closing(Report& report, const std::string& saved_path);

}  // namespace quenda

#endif  // QUENDA_RUN_REPORT_H_
