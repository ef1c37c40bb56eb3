#include "read_run.h"

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <system_error>

#include "text_escape.h"

namespace quenda::results {
namespace {

// As for a conversion: far above any results file, low enough that a wrong
// argument does not fill the memory.
constexpr std::uintmax_t kLargestResultsFile = 64u * 1024u * 1024u;

}  // namespace

std::variant<RunResults, std::string> read_run(const std::filesystem::path& path) {
  const std::string name = printable(path.string());
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    if (error == std::errc::no_such_file_or_directory) return name + ": error: no such file";
    if (error) return name + ": error: cannot read: " + error.message();
    return name + ": error: not a regular file";
  }
  const auto size = std::filesystem::file_size(path, error);
  if (error) return name + ": error: cannot read: " + error.message();
  if (size > kLargestResultsFile) {
    return name + ": error: too large for a results file (" + std::to_string(size) + " bytes)";
  }
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return name + ": error: cannot open: " +
           (errno != 0 ? std::generic_category().message(errno) : "the library gives no reason");
  }
  try {
    return parse_results(in, path.filename().string(), ParseOptions{});
  } catch (const ParseError& parse_error) {
    return name + ":" + std::to_string(parse_error.line()) + ": error: " + parse_error.reason();
  }
}

}  // namespace quenda::results
