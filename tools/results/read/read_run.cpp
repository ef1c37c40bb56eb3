#include "read/read_run.h"

#include <fstream>
#include <system_error>

#include "write/replace_file.h"
#include "write/text_escape.h"

namespace quenda::results {

std::variant<RunResults, std::string> read_run(const std::filesystem::path& path) {
  const std::string name = printable(path.string());
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    if (error == std::errc::no_such_file_or_directory) return name + ": error: no such file";
    if (error) return name + ": error: cannot read: " + error.message();
    return name + ": error: not a regular file";
  }
  std::ifstream in;
  const std::string problem = open_results(path, in);
  if (!problem.empty()) return name + ": error: " + problem;
  try {
    return parse_results(in, path.filename().string(), ParseOptions{});
  } catch (const ParseError& parse_error) {
    return name + ":" + std::to_string(parse_error.line()) + ": error: " + parse_error.reason();
  }
}

}  // namespace quenda::results
