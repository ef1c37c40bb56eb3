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

// Writes each file (all in one folder) into a work folder of the
// conversion's own beside them, under its own name, and renames them into
// place only once all are written. A file already in an output's place (an
// earlier conversion's) is kept in the work folder meanwhile, by a hard
// link where the file system has them. No name made is longer than the
// longest output's; an output name longer than the file system allows is
// refused before anything is written. On failure removes whatever it wrote,
// puts every earlier file back as it was, and returns the reason with the
// system's; else removes the work folder and returns an empty string. A
// folder in an output's place is left alone, and the conversion fails.
std::string write_all_or_nothing(const std::vector<OutputFile>& files,
                                 const FileSteps& steps = system_file_steps());

// Finishes what conversions into `folder` left when they were interrupted
// (by a signal, a crash, a power cut): where a conversion had not put all
// its new outputs in place, the earlier ones go back and new ones of names
// that had none go; its work folder is removed. Work folders of
// conversions still running are left alone. Returns what could not be put
// back, or an empty string.
std::string recover_interrupted(const std::filesystem::path& folder,
                                const FileSteps& steps = system_file_steps());

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_OUTPUT_FILES_H_
