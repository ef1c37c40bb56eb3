// Writing a run's outputs so that a reader never sees a half-written one,
// and a failed conversion never costs the outputs of an earlier one.
#ifndef QUENDA_TOOLS_RESULTS_OUTPUT_FILES_H_
#define QUENDA_TOOLS_RESULTS_OUTPUT_FILES_H_

#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

namespace quenda::results {

struct OutputFile {
  std::filesystem::path path;
  std::string content;
};

// The two steps that put an output in place, as std::filesystem names them.
// The tool uses the system's; a test swaps one for a step that fails.
struct FileSteps {
  using Step = std::function<void(const std::filesystem::path& from,
                                  const std::filesystem::path& to, std::error_code& error)>;
  Step rename;
  Step create_hard_link;
};

// std::filesystem::rename and std::filesystem::create_hard_link.
FileSteps system_file_steps();

// Writes each file under a temporary name in its own folder and renames
// them only once all are written. A file already in an output's place (an
// earlier conversion's) is kept under a second name meanwhile, by a hard
// link where the file system has them. On failure removes whatever it
// wrote, puts every earlier file back as it was, and returns the reason;
// else removes the earlier files' second names and returns an empty string.
// A folder in an output's place is left alone, and the conversion fails.
std::string write_all_or_nothing(const std::vector<OutputFile>& files,
                                 const FileSteps& steps = system_file_steps());

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_OUTPUT_FILES_H_
