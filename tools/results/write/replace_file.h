// Reading a results file and replacing the tool's outputs: a file is read
// only when its size is that of a results file, and an output is written
// under a temporary name and renamed over its place, so that a reader finds
// it whole, old or new.
#ifndef QUENDA_TOOLS_RESULTS_WRITE_REPLACE_FILE_H_
#define QUENDA_TOOLS_RESULTS_WRITE_REPLACE_FILE_H_

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace quenda::results {

// Far above any real results file (some hundred bytes per worker and test),
// low enough that a wrong argument does not fill the memory.
inline constexpr std::uintmax_t kLargestResultsFile = 64u * 1024u * 1024u;

// Opens a results file once its size is known to be that of one; returns
// the reason it cannot, or an empty string.
std::string open_results(const std::filesystem::path& path, std::ifstream& in);

// The whole results file in `text` (its room reused); the reason it cannot
// be read, or an empty string.
std::string read_results(const std::filesystem::path& path, std::string& text);

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
