#include "support/files.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace quenda::testing {

namespace fs = std::filesystem;

TemporaryFolder::TemporaryFolder(Mode mode) {
  // A new name on every run: what a failed run left never meets the next.
  std::random_device random;
  fs::path path;
  do {
    path = fs::temp_directory_path() / ("quenda-test-" + std::to_string(random()));
  } while (!fs::create_directory(path));
  path_ = fs::canonical(path);
  if (mode == kEnter) {
    previous_ = fs::current_path();
    fs::current_path(path_);
  }
}

TemporaryFolder::~TemporaryFolder() {
  std::error_code ignored;
  if (!previous_.empty()) fs::current_path(previous_, ignored);
  // Tests leave read-only folders (and, on Windows, read-only files) behind,
  // which could not be emptied or removed as they are.
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  for (auto it = fs::recursive_directory_iterator(path_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (!it->is_symlink(ignored))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(path_, ignored);
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::vector<std::string> file_names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

Lines split_lines(const std::string& text) {
  Lines lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

int count_occurrences(const std::string& text, const std::string& piece) {
  int count = 0;
  for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) {
    ++count;
  }
  return count;
}

}  // namespace quenda::testing
