// One results file read for a comparison or a history: the run, or the
// line that tells why the file is refused.
#ifndef QUENDA_TOOLS_RESULTS_READ_READ_RUN_H_
#define QUENDA_TOOLS_RESULTS_READ_READ_RUN_H_

#include <filesystem>
#include <string>
#include <variant>

#include "read/results_file.h"

namespace quenda::results {

// The whole run in `path`, or a message "<path>[:<line>]: error: <reason>"
// (without a line end). A run that was stopped is refused.
std::variant<RunResults, std::string> read_run(const std::filesystem::path& path);

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_READ_READ_RUN_H_
