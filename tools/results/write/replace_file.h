// Replacing the tool's outputs: an output is written under a temporary name
// and renamed over its place, so that a reader finds it whole, old or new.
#ifndef QUENDA_TOOLS_RESULTS_WRITE_REPLACE_FILE_H_
#define QUENDA_TOOLS_RESULTS_WRITE_REPLACE_FILE_H_

#include <filesystem>
#include <string>
#include <vector>

namespace quenda::results {

struct OutputFile {
  std::filesystem::path path;
  std::string content;
};

// Writes every output into its temporary file, then renames each over the
// output. Nothing is renamed unless all were written and no output's place
// holds a folder. Returns the reason, or an empty string.
std::string write_outputs(const std::vector<OutputFile>& outputs);

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_WRITE_REPLACE_FILE_H_
