#include "run/failures.h"

#include "plan.h"

namespace quenda {

void FailureLog::note(const char* test, const Outcome& outcome) {
  if (!outcome || !noted_.insert(test).second) return;
  line(test, outcome->file, outcome->reason, kNotMeasurements);
}

void FailureLog::note_results_file(const std::string& path, const std::string& reason,
                                   bool created) {
  line("results file", path, reason,
       created ? "the report in it is cut short" : "the report was not saved");
}

void FailureLog::note_special_file(const char* test, const std::string& file, const char* kind) {
  line(test, file, std::string("it is ") + kind + ", which the test would wait on for ever",
       "the job is ended");
}

void FailureLog::line(const char* what, const std::string& file, const std::string& reason,
                      const char* consequence) {
  any_ = true;
  // One write of the whole line, so that lines of processes sharing the
  // launcher's standard error stay whole.
  const std::string text = std::string(kProgramName) + ": rank " + std::to_string(rank_) + " on " +
                           node_ + ": " + what + ": " + file + ": " + reason + "; " + consequence +
                           "\n";
  errors_ << text << std::flush;
}

}  // namespace quenda
