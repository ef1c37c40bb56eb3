#include "run_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

namespace quenda::e2e {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quenda-e2e-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Tests may leave read-only directories behind; make them writable first.
  shell("chmod -R u+rwx '" + path_.string() + "' 2>/dev/null");
  std::filesystem::remove_all(path_, ignored);
}

int shell(const std::string& command) {
  const int status = std::system(command.c_str());
  if (status == -1) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + WTERMSIG(status);
}

std::string launcher_command(const JobOptions& options) {
  std::ostringstream command;
  const bool piped = !options.stdin_from.empty() && options.stdin_from.back() == '|';
  command << "cd '" << options.directory.string() << "' && ";
  if (piped) command << options.stdin_from << ' ';
  command << "timeout -k 10 " << options.timeout_seconds << ' ' << QUENDA_MPIRUN << ' '
          << QUENDA_MPIRUN_FLAGS << ' ' << options.launcher_extra << " -np " << options.processes
          << ' ' << options.binary;
  if (!piped) command << " < " << options.stdin_from;
  return command.str();
}

JobResult run_job(const JobOptions& options) {
  return run_command(launcher_command(options), options.directory);
}

JobResult run_command(const std::string& command, const std::filesystem::path& directory) {
  const std::filesystem::path out =
      directory.parent_path() / (directory.filename().string() + ".console");
  const std::filesystem::path err =
      directory.parent_path() / (directory.filename().string() + ".errors");
  const std::string captured =
      "( " + command + " ) > '" + out.string() + "' 2> '" + err.string() + "'";
  JobResult result;
  const auto start = std::chrono::steady_clock::now();
  result.exit_code = shell(captured);
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.console = read_file(out);
  result.errors = read_file(err);
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return result;
}

Lines split_lines(const std::string& text) {
  Lines lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::filesystem::path> results_files(const std::filesystem::path& directory) {
  std::vector<std::filesystem::path> found;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("results_quenda_lite_windows_clusters @ ", 0) == 0)
      found.push_back(entry.path());
  }
  return found;
}

std::string host_name() {
  char name[256] = {};
  ::gethostname(name, sizeof name - 1);
  return name;
}

namespace {

std::string escape(const std::string& literal) {
  static const std::string special = R"(\^$.|?*+()[]{})";
  std::string escaped;
  for (char c : literal) {
    if (special.find(c) != std::string::npos) escaped += '\\';
    escaped += c;
  }
  return escaped;
}

}  // namespace

LineBuilder& LineBuilder::text(const std::string& literal) {
  pattern_.regex += escape(literal);
  return *this;
}

LineBuilder& LineBuilder::number(const std::string& name) {
  pattern_.regex += "(-?(?:inf|nan|[0-9]+(?:\\.[0-9]+)?(?:e[-+][0-9]+)?))";
  pattern_.names.push_back(name);
  return *this;
}

LineBuilder& LineBuilder::one_of(const std::vector<std::string>& literals) {
  pattern_.regex += "(?:";
  for (std::size_t i = 0; i < literals.size(); ++i) {
    if (i > 0) pattern_.regex += '|';
    pattern_.regex += escape(literals[i]);
  }
  pattern_.regex += ')';
  return *this;
}

LineBuilder& LineBuilder::rest() {
  pattern_.regex += ".*";
  return *this;
}

std::string match_lines(const Lines& actual, const std::vector<Pattern>& expected,
                        std::map<std::string, double>& numbers) {
  const std::size_t common = std::min(actual.size(), expected.size());
  for (std::size_t i = 0; i < common; ++i) {
    std::smatch match;
    if (!std::regex_match(actual[i], match, std::regex(expected[i].regex))) {
      return "line " + std::to_string(i + 1) + ": got \"" + actual[i] + "\", expected /" +
             expected[i].regex + "/";
    }
    for (std::size_t k = 0; k < expected[i].names.size(); ++k) {
      const std::string text = match[k + 1].str();
      const double value = std::strtod(text.c_str(), nullptr);
      // The pattern takes any decimal; only what a stream in its default
      // state prints (six significant digits, no trailing zeros) is right.
      std::ostringstream reprinted;
      reprinted << value;
      if (reprinted.str() != text) {
        return "line " + std::to_string(i + 1) + ": \"" + text + "\" in \"" + actual[i] +
               "\" is not in default stream notation (\"" + reprinted.str() + "\")";
      }
      if (!expected[i].names[k].empty()) numbers[expected[i].names[k]] = value;
    }
  }
  if (actual.size() != expected.size()) {
    return "got " + std::to_string(actual.size()) + " lines, expected " +
           std::to_string(expected.size()) +
           (actual.size() > common ? "; first extra: \"" + actual[common] + "\""
                                   : "; first missing: /" + expected[common].regex + "/");
  }
  return "";
}

}  // namespace quenda::e2e
