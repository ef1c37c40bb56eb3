#include "write/replace_file.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <system_error>

#include "reason.h"
#include "write/text_escape.h"

namespace quenda::results {
namespace {

namespace fs = std::filesystem;

// The longest file name, in bytes, of the file systems the outputs go to.
constexpr std::size_t kLongestName = 255;

// The temporary file that becomes `output`: a short name beside it, the same
// on every run, so that a run killed midway leaves at most one per output,
// which the next run overwrites.
fs::path temporary_for(const fs::path& output) {
  std::uint64_t hash = 14695981039346656037u;  // FNV-1a of the output's name
  for (const char c : output.filename().string()) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211u;
  }
  std::array<char, 40> name{};
  std::snprintf(name.data(), name.size(), ".quenda-results-%016llx.tmp",
                static_cast<unsigned long long>(hash));
  return output.parent_path() / name.data();
}

}  // namespace

std::string write_outputs(const std::vector<OutputFile>& outputs) {
  for (const OutputFile& output : outputs) {
    const std::size_t length = output.path.filename().string().size();
    if (length > kLongestName) {
      return "the output name " + printable(output.path.filename().string()) + " would be " +
             std::to_string(length) + " bytes long, more than the " + std::to_string(kLongestName) +
             " the file system allows";
    }
    // A folder in an output's place is left alone, before any output moves.
    std::error_code ignored;
    if (fs::is_directory(output.path, ignored)) {
      return "cannot rename a finished output to " + printable(output.path.string()) + ": " +
             std::make_error_code(std::errc::is_a_directory).message();
    }
  }
  std::string error;
  for (const OutputFile& output : outputs) {
    errno = 0;
    std::ofstream file(temporary_for(output.path), std::ios::binary | std::ios::trunc);
    file.write(output.content.data(), static_cast<std::streamsize>(output.content.size()));
    file.close();
    if (!file) {
      error = "cannot write " + printable(temporary_for(output.path).string()) + ": " +
              reason_for(errno, "the stream failed");
      break;
    }
  }
  for (std::size_t i = 0; error.empty() && i < outputs.size(); ++i) {
    std::error_code failure;
    fs::rename(temporary_for(outputs[i].path), outputs[i].path, failure);
    if (failure) {
      error = "cannot rename a finished output to " + printable(outputs[i].path.string()) + ": " +
              failure.message();
    }
  }
  for (const OutputFile& output : outputs) {
    std::error_code ignored;
    fs::remove(temporary_for(output.path), ignored);
  }
  return error;
}

}  // namespace quenda::results
