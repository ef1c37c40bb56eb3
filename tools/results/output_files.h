// Writing a run's outputs so that a reader never sees a half-written one.
#ifndef QUENDA_TOOLS_RESULTS_OUTPUT_FILES_H_
#define QUENDA_TOOLS_RESULTS_OUTPUT_FILES_H_

#include <filesystem>
#include <string>
#include <vector>

namespace quenda::results {

struct OutputFile {
  std::filesystem::path path;
  std::string content;
};

// Writes each file under a temporary name in its own folder and renames
// them only once all are written; on failure removes whatever it wrote and
// returns the reason, else returns an empty string.
std::string write_all_or_nothing(const std::vector<OutputFile>& files);

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_OUTPUT_FILES_H_
