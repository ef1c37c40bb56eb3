// Failures of file operations, told on a process's standard error. The timed
// tests never look at what their calls return; what they did is found out
// after each timed stretch, and a test whose operations failed gets one line
// here, so that its figures are never taken for a measurement. The report on
// the console and in the results file stays as it is.
#ifndef QUENDA_RUN_FAILURES_H_
#define QUENDA_RUN_FAILURES_H_

#include <optional>
#include <ostream>
#include <set>
#include <string>

#include "reason.h"

namespace quenda {

// Where and why a test's file operations failed.
struct Failure {
  std::string file;
  std::string reason;  // the system's words where it gave any
};

// A test's outcome: nothing when its operations worked.
using Outcome = std::optional<Failure>;

// How a test's failure line ends, after "; ": job logs are read back for it.
inline constexpr const char kNotMeasurements[] = "the figures of this test are not measurements";

class FailureLog {
 public:
  FailureLog(std::ostream& errors, int rank, const char* node)
      : errors_(errors), rank_(rank), node_(node) {}

  // One line for a test whose operations failed; nothing otherwise, and
  // nothing for a test that already has its line.
  void note(const char* test, const Outcome& outcome);

  // The results file could not be created or was gone at the end (`created`
  // false: the report was not saved), or not every line reached it.
  void note_results_file(const std::string& path, const std::string& reason, bool created);

  // A named pipe, a socket or a device (`kind`) stands where `test` would
  // open `file`; the caller then ends the job.
  void note_special_file(const char* test, const std::string& file, const char* kind);

  // Whether any failure was noted: the process then ends with a non-zero
  // status.
  bool any() const { return any_; }

 private:
  void line(const char* what, const std::string& file, const std::string& reason,
            const char* consequence);

  std::ostream& errors_;
  int rank_;
  const char* node_;
  bool any_ = false;
  std::set<std::string> noted_;
};

}  // namespace quenda

#endif  // QUENDA_RUN_FAILURES_H_
