#include "output_files.h"

#include <fstream>
#include <random>
#include <system_error>

namespace quenda::results {
namespace {

namespace fs = std::filesystem;

// A name beside `path` that no other conversion uses at the same time.
fs::path temporary_name(const fs::path& path) {
  static std::mt19937_64 generator{std::random_device{}()};
  fs::path temporary = path;
  temporary += ".tmp-" + std::to_string(generator() % 1000000000u);
  return temporary;
}

bool write_file(const fs::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  return !out.fail();
}

void remove_quietly(const fs::path& path) {
  std::error_code ignored;
  fs::remove(path, ignored);
}

}  // namespace

std::string write_all_or_nothing(const std::vector<OutputFile>& files) {
  std::vector<fs::path> temporaries;
  const auto discard = [&temporaries] {
    for (const fs::path& temporary : temporaries) remove_quietly(temporary);
  };
  for (const OutputFile& file : files) {
    temporaries.push_back(temporary_name(file.path));
    if (!write_file(temporaries.back(), file.content)) {
      discard();
      return "cannot write " + file.path.string();
    }
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::error_code error;
    fs::rename(temporaries[i], files[i].path, error);
    if (error) {
      // The outputs renamed so far belong to a conversion that failed.
      for (std::size_t j = 0; j < i; ++j) remove_quietly(files[j].path);
      discard();
      return "cannot rename a finished output to " + files[i].path.string() + ": " +
             error.message();
    }
  }
  return {};
}

}  // namespace quenda::results
